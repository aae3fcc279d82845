// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Records.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <stdexcept>

namespace zub3 {
namespace {

constexpr const char* kChannelKeys[4] = {"pa1", "pa2", "pa3", "pa4"};

std::vector<std::string> splitCsv(const std::string& line)
{
    std::vector<std::string> out(1);
    for (const char c : line) {
        if (c == ',')
            out.emplace_back();
        else if (c != '\r')
            out.back() += c;
    }
    return out;
}

std::optional<double> number(std::string_view text)
{
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

// A whole number within limits, or nullopt.
std::optional<int> whole(std::optional<double> v, int max)
{
    if (!v || *v < 0 || *v > max || std::floor(*v) != *v)
        return std::nullopt;
    return static_cast<int>(*v);
}

struct Parsed {
    std::optional<double> t;
    std::optional<double> buttons;
    std::array<std::optional<double>, 4> channels;
};

RecordedPoll sample(const Parsed& p, const std::string& where)
{
    RecordedPoll s;
    if (!p.t || *p.t < 0)
        throw std::runtime_error(where + ": t_ms is missing or not a time");
    s.tMs = *p.t;
    const auto buttons = whole(p.buttons, 0xFFFF);
    if (!buttons)
        throw std::runtime_error(where + ": buttons is missing or not 0 to 65535");
    s.buttons = static_cast<std::uint16_t>(*buttons);
    for (int i = 0; i < 4; ++i) {
        const auto v = whole(p.channels[static_cast<std::size_t>(i)], 255);
        if (!v)
            throw std::runtime_error(where + ": " + kChannelKeys[i] +
                                     " is missing or not 0 to 255");
        s.channels[static_cast<std::size_t>(i)] = static_cast<Byte>(*v);
    }
    return s;
}

}  // namespace

std::string WallClock(std::int64_t msSinceEpoch)
{
    const std::int64_t s = msSinceEpoch / 1000 - (msSinceEpoch % 1000 < 0 ? 1 : 0);
    const auto t = static_cast<std::time_t>(s);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(msSinceEpoch - s * 1000));
    return text;
}

std::string Decimal(double value, int decimals)
{
    // Room for the largest double written out in full.
    char buf[400];
    const auto end =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals).ptr;
    return std::string(buf, end);
}

std::string Milliseconds(double ms)
{
    return Decimal(ms, 3);
}

std::string HeldNames(std::uint16_t buttons)
{
    std::string out;
    for (const ButtonName& b : kButtons)
        if (buttons & b.bit) {
            if (!out.empty())
                out += ' ';
            out += b.name;
        }
    return out;
}

PollResult StampPoll()
{
    return {std::chrono::steady_clock::now(), QDateTime::currentMSecsSinceEpoch(), {}};
}

Record MakeRecord(const PollResult& poll, std::chrono::steady_clock::time_point first)
{
    return {std::chrono::duration<double, std::milli>(poll.sent - first).count(),
            WallClock(poll.sentWallMs), poll.data.value_or(PollData{}), {}, {}, poll.sent};
}

QString HexDump(std::span<const Byte> data, int last)
{
    // Made for every poll, so without formatting machinery.
    static constexpr char digits[] = "0123456789ABCDEF";
    const int count = std::clamp(last + 1, 0, static_cast<int>(data.size()));
    QString text(3 * count, u' ');
    for (int i = 0; i < count; ++i) {
        const Byte b = data[static_cast<std::size_t>(i)];
        text[3 * i] = QLatin1Char(digits[b >> 4]);
        text[3 * i + 1] = QLatin1Char(digits[b & 0x0F]);
    }
    return text;
}

std::string Dump(std::span<const Byte> frame)
{
    return HexDump(frame, static_cast<int>(frame.size()) - 1).trimmed().toStdString();
}

std::string Header(Format format, bool hex)
{
    if (format != Format::Csv)
        return {};
    std::string out;
    for (const Field& f : kFields)
        if ((hex || !f.hexOnly) && !f.servedOnly)
            out += (out.empty() ? "" : ",") + std::string(f.name);
    return out + "\n";
}

std::string FormatRecord(Format format, bool hex, const Record& r)
{
    const std::string t = Milliseconds(r.tMs);
    const std::string held = HeldNames(r.data.buttons);
    const auto& pa = r.data.channels;
    std::string out;
    switch (format) {
    case Format::Csv:
        // No field holds a comma or a quote, so none needs quoting.
        out = t + "," + r.time + "," + std::to_string(r.data.buttons) + "," + held;
        for (Byte v : pa)
            out += "," + std::to_string(v);
        if (hex)
            out += "," + r.sent + "," + r.received;
        break;
    case Format::Jsonl:
        out = RecordJson(r, hex);
        break;
    case Format::Text:
        out = t + " ms  " + r.time + "  held: " + (held.empty() ? "-" : held);
        for (std::size_t i = 0; i < pa.size(); ++i)
            out += "  PA" + std::to_string(i + 1) + " " + std::to_string(pa[i]);
        if (hex)
            out += "  sent: " + r.sent + "  received: " + r.received;
        break;
    }
    return out + "\n";
}

std::string_view LinkName(Link link)
{
    switch (link) {
    case Link::Ok: return "ok";
    case Link::NoReply: return "no-reply";
    case Link::Away: return "away";
    }
    return "away";
}

std::string RecordJson(const Record& r, bool hex, const Served* served)
{
    // Every string is ASCII without quotes or backslashes: nothing to escape.
    std::string out = "{\"t_ms\": " + Milliseconds(r.tMs) + ", \"time\": \"" + r.time +
                      "\", \"buttons\": " + std::to_string(r.data.buttons) + ", \"held\": [";
    for (const ButtonName& b : kButtons)
        if (r.data.buttons & b.bit)
            out += (out.back() == '[' ? "\"" : ", \"") + std::string(b.name) + "\"";
    out += "]";
    for (std::size_t i = 0; i < r.data.channels.size(); ++i)
        out += ", \"pa" + std::to_string(i + 1) + "\": " + std::to_string(r.data.channels[i]);
    if (hex)
        out += ", \"sent\": \"" + r.sent + "\", \"received\": \"" + r.received + "\"";
    if (served) {
        out += ", \"seq\": " + std::to_string(served->seq) +
               ", \"failed\": " + std::to_string(served->failed) + ", \"link\": \"" +
               std::string(LinkName(served->link)) +
               "\", \"age_ms\": " + std::to_string(served->ageMs);
        if (served->dropped)
            out += ", \"dropped\": " + std::to_string(served->dropped);
    }
    return out + "}";
}

std::vector<RecordedPoll> ReadRecords(const std::filesystem::path& file, std::string* skipped)
{
    std::ifstream in(file);
    if (!in)
        throw std::runtime_error("cannot read " + file.string());
    std::vector<RecordedPoll> samples;
    std::map<std::string, std::size_t> columns;  // csv: field name to column
    bool csv = false;
    std::string line;
    for (int lineNo = 1; std::getline(in, line); ++lineNo) {
        const std::string where = file.string() + ":" + std::to_string(lineNo);
        if (line.empty() || line == "\r")
            continue;
        Parsed p;
        if (samples.empty() && columns.empty() && line.front() != '{') {
            csv = true;
            const auto names = splitCsv(line);
            for (std::size_t i = 0; i < names.size(); ++i)
                columns[names[i]] = i;
            for (const char* key : {"t_ms", "buttons", "pa1", "pa2", "pa3", "pa4"})
                if (!columns.contains(key))
                    throw std::runtime_error(where + ": the header has no " + key + " column");
            continue;
        }
        // Every row is written with its newline: a last line without one was cut off (a
        // full disk, a killed writer), perhaps inside a number. What came before is good.
        if (in.eof() && skipped) {
            *skipped = where + ": the last row is cut short; skipped";
            break;
        }
        if (csv) {
            const auto fields = splitCsv(line);
            auto field = [&](const char* key) -> std::optional<double> {
                const std::size_t i = columns.at(key);
                return i < fields.size() ? number(fields[i]) : std::nullopt;
            };
            p = {field("t_ms"), field("buttons"),
                 {field("pa1"), field("pa2"), field("pa3"), field("pa4")}};
        } else {
            const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line));
            if (!doc.isObject())
                throw std::runtime_error(where + ": not a JSON object");
            const QJsonObject o = doc.object();
            auto field = [&o](const char* key) -> std::optional<double> {
                const auto v = o.value(QLatin1String(key));
                return v.isDouble() ? std::optional<double>(v.toDouble()) : std::nullopt;
            };
            p = {field("t_ms"), field("buttons"),
                 {field("pa1"), field("pa2"), field("pa3"), field("pa4")}};
        }
        const RecordedPoll s = sample(p, where);
        if (!samples.empty() && s.tMs < samples.back().tMs)
            throw std::runtime_error(where + ": t_ms goes backwards");
        samples.push_back(s);
    }
    // A read that failed (a directory, an I/O error) is not the end of the file.
    if (in.bad())
        throw std::runtime_error("cannot read " + file.string());
    if (samples.empty())
        throw std::runtime_error(file.string() + ": no records");
    return samples;
}

}  // namespace zub3
