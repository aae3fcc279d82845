#include "sim/Replay.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>

namespace zub3::sim {
namespace {

constexpr const char* kChannelKeys[kChannelCount] = {"pa1", "pa2", "pa3", "pa4"};

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
    std::array<std::optional<double>, kChannelCount> channels;
};

Recording::Sample sample(const Parsed& p, const std::string& where)
{
    Recording::Sample s;
    if (!p.t || *p.t < 0)
        throw std::runtime_error(where + ": t_ms is missing or not a time");
    s.tMs = *p.t;
    const auto buttons = whole(p.buttons, 0xFFFF);
    if (!buttons)
        throw std::runtime_error(where + ": buttons is missing or not 0 to 65535");
    s.state.buttons = static_cast<std::uint16_t>(*buttons);
    for (int i = 0; i < kChannelCount; ++i) {
        const auto v = whole(p.channels[static_cast<std::size_t>(i)], 255);
        if (!v)
            throw std::runtime_error(where + ": " + kChannelKeys[i] +
                                     " is missing or not 0 to 255");
        s.state.channels[static_cast<std::size_t>(i)] = static_cast<Byte>(*v);
    }
    return s;
}

}  // namespace

Recording Recording::Load(const std::filesystem::path& file)
{
    std::ifstream in(file);
    if (!in)
        throw std::runtime_error("cannot read " + file.string());
    std::vector<Sample> samples;
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
        Sample s = sample(p, where);
        if (!samples.empty() && s.tMs < samples.back().tMs)
            throw std::runtime_error(where + ": t_ms goes backwards");
        samples.push_back(s);
    }
    // A read that failed (a directory, an I/O error) is not the end of the file.
    if (in.bad())
        throw std::runtime_error("cannot read " + file.string());
    if (samples.empty())
        throw std::runtime_error(file.string() + ": no records");
    return Recording(std::move(samples));
}

Recording::Recording(std::vector<Sample> samples) : samples_(std::move(samples))
{
    if (samples_.empty())
        throw std::invalid_argument("a recording needs at least one sample");
    const double span = samples_.back().tMs - samples_.front().tMs;
    const auto gaps = static_cast<double>(samples_.size() - 1);
    lengthMs_ = gaps > 0 ? span + span / gaps : 0;
}

ControllerState Recording::At(std::chrono::nanoseconds t, bool loop) const
{
    double ms = std::chrono::duration<double, std::milli>(t).count() + samples_.front().tMs;
    if (loop && lengthMs_ > 0)
        ms = samples_.front().tMs + std::fmod(ms - samples_.front().tMs, lengthMs_);
    const auto after = std::lower_bound(samples_.begin(), samples_.end(), ms,
                                        [](const Sample& s, double v) { return s.tMs < v; });
    if (after == samples_.begin())
        return after->state;
    if (after == samples_.end())
        return samples_.back().state;
    const auto before = std::prev(after);
    return (ms - before->tMs <= after->tMs - ms ? before : after)->state;
}

}  // namespace zub3::sim
