// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ControllerCheck.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace zub3 {
namespace {

// A rest is judged over the last second of polls, and no fewer than this many of them: at a
// long interval a second holds too few to tell noise.
constexpr double kRestMs = 1000;
constexpr std::size_t kRestPolls = 5;
// Far more than the noise of a released stick and far less than a stick being moved: a
// channel whose last second spans more is still moving, and its noise cannot be told.
constexpr int kSettleSpread = 16;
// However fast the polls, the rest window stays this short.
constexpr std::size_t kMaxRecent = 4096;
// The plots keep at most this many polls, thinned evenly as a long check goes on.
constexpr std::size_t kMaxSamples = 4000;

const char* const kChannelNames[4] = {"PA1", "PA2", "PA3", "PA4"};
const char* const kFaultKeys[5] = {"accepted", "missed", "short", "header", "checksum"};

std::string number(double value, int decimals)
{
    std::string text = Decimal(value, decimals);
    return text == "-" + Decimal(0, decimals) ? text.substr(1) : text;
}

std::string escape(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

double rounded(double value, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

}  // namespace

std::string CheckLimitsFault(const CheckLimits& l)
{
    if (l.endTolerance < 0 || l.endTolerance > 63)
        return "the end tolerance must be 0 to 63 counts";
    if (l.centreTolerance < 0 || l.centreTolerance > 63)
        return "the centre tolerance must be 0 to 63 counts";
    if (!std::isfinite(l.noiseSd) || l.noiseSd < 0 || l.noiseSd > 64)
        return "the noise's standard deviation must be 0 to 64 counts";
    if (l.noisePeakToPeak < 0 || l.noisePeakToPeak > kSettleSpread)
        return "the noise's peak to peak must be 0 to " + std::to_string(kSettleSpread) + " counts";
    return {};
}

std::uint16_t IndicatorMask(int indicator)
{
    return indicator < static_cast<int>(kButtons.size())
               ? kButtons[static_cast<std::size_t>(indicator)].bit
               : kDiagonals[static_cast<std::size_t>(indicator) - kButtons.size()];
}

std::string IndicatorName(int indicator)
{
    std::string out;
    for (const ButtonName& b : kButtons)
        if (IndicatorMask(indicator) & b.bit)
            out += (out.empty() ? "" : "+") + std::string(b.name);
    return out;
}

std::string_view ReasonCode(CheckReason::Kind kind)
{
    using K = CheckReason::Kind;
    switch (kind) {
    case K::NoAnswer: return "no-answer";
    case K::NotSeen: return "not-seen";
    case K::HeldAtEnd: return "held-at-end";
    case K::LowEnd: return "low-end";
    case K::HighEnd: return "high-end";
    case K::AboveRange: return "above-range";
    case K::NotSettled: return "not-settled";
    case K::OffCentre: return "off-centre";
    case K::NoisySd: return "noisy-sd";
    case K::NoisyPeakToPeak: return "noisy-peak-to-peak";
    }
    return "";
}

std::string DescribeReason(const CheckReason& r)
{
    using K = CheckReason::Kind;
    const std::string& s = r.subject;
    const std::string limit = number(r.limit, r.kind == K::NoisySd ? 2 : 0);
    switch (r.kind) {
    case K::NoAnswer: return "the receiver answered no poll";
    case K::NotSeen: return s + " was never seen pressed";
    case K::HeldAtEnd: return s + " was still held when the controller was let go";
    case K::LowEnd:
        return s + " went down to " + number(r.value, 0) + " only (0 within " + limit + ")";
    case K::HighEnd:
        return s + " went up to " + number(r.value, 0) + " only (127 within " + limit + ")";
    case K::AboveRange: return s + " reached " + number(r.value, 0) + ", above 127";
    case K::NotSettled:
        return r.value < 0 ? s + " did not come to rest: less than a second of polls at the end"
                           : s + " did not come to rest: it moved " + number(r.value, 0) +
                                 " counts in the last second";
    case K::OffCentre:
        return s + " rests at " + number(r.value, 1) + ", not within " + limit + " of 63.5";
    case K::NoisySd:
        return s + " is noisy at rest: standard deviation " + number(r.value, 2) + " (at most " +
               limit + ")";
    case K::NoisyPeakToPeak:
        return s + " is noisy at rest: " + number(r.value, 0) + " counts peak to peak (at most " +
               limit + ")";
    }
    return {};
}

ControllerCheck::ControllerCheck(CheckLimits limits) : limits_(limits)
{
}

void ControllerCheck::Add(const PollResult& poll)
{
    if (!first_) {
        first_ = poll.sent;
        firstWallMs_ = poll.sentWallMs;
    }
    const double tMs = std::chrono::duration<double, std::milli>(poll.sent - *first_).count();
    lastMs_ = std::max(lastMs_, tMs);
    ++polls_;
    ++byFault_[static_cast<std::size_t>(poll.fault)];
    if (!poll.data)
        return;
    const PollData& d = *poll.data;
    for (std::size_t i = 0; i < indicators_.size(); ++i) {
        const std::uint16_t mask = IndicatorMask(static_cast<int>(i));
        if ((d.buttons & mask) == mask) {
            if (heldFor_[i]++ == 0)
                ++indicators_[i].presses;
        } else {
            // Between two polls that both missed it, a press this short could have gone
            // unseen: one seen in a single poll is counted apart.
            if (heldFor_[i] == 1)
                ++indicators_[i].onePollPresses;
            heldFor_[i] = 0;
        }
    }
    for (std::size_t c = 0; c < 4; ++c) {
        const int v = d.channels[c];
        lowest_[c] = answered_ == 0 ? v : std::min(lowest_[c], v);
        highest_[c] = answered_ == 0 ? v : std::max(highest_[c], v);
    }
    keep(tMs, d);
    ++answered_;
}

void ControllerCheck::keep(double tMs, const PollData& data)
{
    recent_.push_back({tMs, data});
    // The shortest run of newest polls that still spans the rest window.
    while (recent_.size() > kMaxRecent ||
           (recent_.size() > kRestPolls && recent_.back().tMs - recent_[1].tMs >= kRestMs))
        recent_.pop_front();
    if (answered_ % sampleStride_ == 0) {
        samples_.push_back({tMs, data.channels});
        if (samples_.size() >= kMaxSamples) {
            std::size_t kept = 0;
            for (std::size_t i = 0; i < samples_.size(); i += 2)
                samples_[kept++] = samples_[i];
            samples_.resize(kept);
            sampleStride_ *= 2;
        }
    }
}

int ControllerCheck::SeenCount() const
{
    return static_cast<int>(std::count_if(indicators_.begin(), indicators_.end(),
                                          [](const IndicatorResult& r) { return r.Seen(); }));
}

bool ControllerCheck::LowReached(int channel) const
{
    return answered_ > 0 && lowest_[static_cast<std::size_t>(channel)] <= limits_.endTolerance;
}

bool ControllerCheck::HighReached(int channel) const
{
    return answered_ > 0 &&
           highest_[static_cast<std::size_t>(channel)] >= kChannelTop - limits_.endTolerance;
}

bool ControllerCheck::restWindowFull() const
{
    return recent_.size() >= kRestPolls && recent_.back().tMs - recent_.front().tMs >= kRestMs;
}

ControllerCheck::Spread ControllerCheck::spread(int channel) const
{
    Spread s;
    if (recent_.empty())
        return s;
    const auto c = static_cast<std::size_t>(channel);
    s.lowest = s.highest = recent_.front().data.channels[c];
    double sum = 0;
    for (const Recent& r : recent_) {
        const int v = r.data.channels[c];
        s.lowest = std::min(s.lowest, v);
        s.highest = std::max(s.highest, v);
        sum += v;
    }
    s.mean = sum / static_cast<double>(recent_.size());
    double squares = 0;
    for (const Recent& r : recent_)
        squares += (r.data.channels[c] - s.mean) * (r.data.channels[c] - s.mean);
    s.sd = std::sqrt(squares / static_cast<double>(recent_.size()));
    return s;
}

bool ControllerCheck::Resting() const
{
    if (!restWindowFull())
        return false;
    if (std::any_of(recent_.begin(), recent_.end(),
                    [](const Recent& r) { return r.data.buttons != 0; }))
        return false;
    // A stick held still at an end is not let go.
    for (int c = 0; c < 4; ++c) {
        const Spread s = spread(c);
        if (s.highest - s.lowest > kSettleSpread || s.lowest <= limits_.endTolerance ||
            s.highest >= kChannelTop - limits_.endTolerance)
            return false;
    }
    return true;
}

bool ControllerCheck::Complete() const
{
    if (SeenCount() < kIndicatorCount)
        return false;
    for (int c = 0; c < 4; ++c)
        if (!LowReached(c) || !HighReached(c))
            return false;
    return Resting();
}

CheckReport ControllerCheck::Report() const
{
    using K = CheckReason::Kind;
    CheckReport r;
    r.limits = limits_;
    r.polls = polls_;
    r.byFault = byFault_;
    r.startWallMs = firstWallMs_;
    r.durationMs = lastMs_;
    r.samples = samples_;
    r.indicators = indicators_;
    if (answered_ == 0) {
        r.reasons.push_back({K::NoAnswer, {}});
        return r;
    }
    for (std::size_t i = 0; i < indicators_.size(); ++i) {
        r.indicators[i].heldAtEnd = heldFor_[i] > 0;
        if (!indicators_[i].Seen())
            r.reasons.push_back({K::NotSeen, IndicatorName(static_cast<int>(i))});
    }
    for (std::size_t i = 0; i < kButtons.size(); ++i)
        if (heldFor_[i] > 0)
            r.reasons.push_back({K::HeldAtEnd, IndicatorName(static_cast<int>(i))});
    const bool windowFull = restWindowFull();
    for (int c = 0; c < 4; ++c) {
        const auto i = static_cast<std::size_t>(c);
        const std::string name = kChannelNames[i];
        ChannelResult& ch = r.channels[i];
        ch.lowest = lowest_[i];
        ch.highest = highest_[i];
        ch.lowReached = LowReached(c);
        ch.highReached = HighReached(c) && ch.highest <= kChannelTop;
        if (!ch.lowReached)
            r.reasons.push_back({K::LowEnd, name, double(ch.lowest), double(limits_.endTolerance)});
        if (ch.highest > kChannelTop)
            r.reasons.push_back({K::AboveRange, name, double(ch.highest), kChannelTop});
        else if (!ch.highReached)
            r.reasons.push_back({K::HighEnd, name, double(ch.highest), double(limits_.endTolerance)});

        const Spread s = spread(c);
        ch.peakToPeak = s.highest - s.lowest;
        ch.rest = rounded(s.mean, 1);
        ch.sd = rounded(s.sd, 2);
        ch.settled = windowFull && ch.peakToPeak <= kSettleSpread;
        if (!ch.settled) {
            r.reasons.push_back({K::NotSettled, name, windowFull ? double(ch.peakToPeak) : -1,
                                 double(kSettleSpread)});
            continue;
        }
        if (std::abs(s.mean - kChannelCentre) > limits_.centreTolerance)
            r.reasons.push_back({K::OffCentre, name, ch.rest, double(limits_.centreTolerance)});
        if (s.sd > limits_.noiseSd)
            r.reasons.push_back({K::NoisySd, name, ch.sd, limits_.noiseSd});
        if (ch.peakToPeak > limits_.noisePeakToPeak)
            r.reasons.push_back({K::NoisyPeakToPeak, name, double(ch.peakToPeak),
                                 double(limits_.noisePeakToPeak)});
    }
    r.pass = r.reasons.empty();
    return r;
}

std::string CheckReportJson(const CheckReport& r, const CheckContext& context)
{
    QJsonArray reasons;
    for (const CheckReason& reason : r.reasons)
        reasons.append(QJsonObject{{"code", q(std::string(ReasonCode(reason.kind)))},
                                   {"subject", q(reason.subject)},
                                   {"text", q(DescribeReason(reason))}});
    QJsonArray indicators;
    for (int i = 0; i < kIndicatorCount; ++i) {
        const IndicatorResult& ind = r.indicators[static_cast<std::size_t>(i)];
        indicators.append(QJsonObject{
            {"name", q(IndicatorName(i))},
            {"kind", i < static_cast<int>(kButtons.size()) ? "button" : "diagonal"},
            {"seen", ind.Seen()},
            {"presses", ind.presses},
            {"one_poll_presses", ind.onePollPresses},
            {"held_at_end", ind.heldAtEnd}});
    }
    QJsonArray channels;
    for (std::size_t c = 0; c < 4; ++c) {
        const ChannelResult& ch = r.channels[c];
        channels.append(QJsonObject{
            {"name", kChannelNames[c]},
            {"lowest", ch.lowest},
            {"highest", ch.highest},
            {"low_reached", ch.lowReached},
            {"high_reached", ch.highReached},
            {"settled", ch.settled},
            {"rest", ch.rest},
            {"sd", ch.sd},
            {"peak_to_peak", ch.peakToPeak}});
    }
    QJsonObject link{{"polls", r.polls}};
    for (std::size_t f = 0; f < r.byFault.size(); ++f)
        link[kFaultKeys[f]] = r.byFault[f];
    QJsonObject receiver{{"id", context.id >= 0 ? QJsonValue(context.id) : QJsonValue()},
                         {"speed", context.bitRate > 0 ? QJsonValue(context.bitRate) : QJsonValue()}};
    const QJsonObject all{
        {"tool", q(context.tool)},
        {"version", q(context.version)},
        {"verdict", r.pass ? "PASS" : "FAIL"},
        {"reasons", reasons},
        {"port", q(context.port)},
        {"receiver", receiver},
        {"started", r.polls ? QJsonValue(q(WallClock(r.startWallMs))) : QJsonValue()},
        {"duration_s", rounded(r.durationMs / 1000, 3)},
        {"limits", QJsonObject{{"end_tolerance", r.limits.endTolerance},
                               {"centre_tolerance", r.limits.centreTolerance},
                               {"noise_sd", r.limits.noiseSd},
                               {"noise_peak_to_peak", r.limits.noisePeakToPeak}}},
        {"link", link},
        {"indicators", indicators},
        {"channels", channels},
    };
    return QJsonDocument(all).toJson(QJsonDocument::Indented).toStdString();
}

namespace {

// One channel over the check's time: its line, the ends' tolerance as dashed lines and the
// centre's band.
std::string channelPlot(const CheckReport& r, std::size_t channel)
{
    constexpr double kW = 640, kH = 120;
    const int top = r.channels[channel].highest > kChannelTop ? 255 : kChannelTop;
    const double span = std::max(r.durationMs, 1.0);
    const auto x = [&](double tMs) { return number(tMs / span * kW, 1); };
    const auto y = [&](double v) { return number(kH - v / top * kH, 1); };
    const CheckLimits& l = r.limits;
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + number(kW, 0) +
                      "\" height=\"" + number(kH, 0) + "\" viewBox=\"0 0 " + number(kW, 0) + " " +
                      number(kH, 0) + "\">";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"#fff\" stroke=\"#999\"/>";
    svg += "<rect class=\"centre\" x=\"0\" width=\"" + number(kW, 0) + "\" y=\"" +
           y(kChannelCentre + l.centreTolerance) + "\" height=\"" +
           number(2.0 * l.centreTolerance / top * kH, 1) + "\" fill=\"#dfd\"/>";
    for (const double end : {double(l.endTolerance), double(kChannelTop - l.endTolerance)})
        svg += "<line class=\"end\" x1=\"0\" x2=\"" + number(kW, 0) + "\" y1=\"" + y(end) +
               "\" y2=\"" + y(end) + "\" stroke=\"#c66\" stroke-dasharray=\"4 3\"/>";
    svg += "<polyline fill=\"none\" stroke=\"#248\" points=\"";
    for (const CheckSample& s : r.samples)
        svg += x(s.tMs) + "," + y(s.channels[channel]) + " ";
    svg += "\"/></svg>";
    return svg;
}

}  // namespace

std::string CheckReportHtml(const CheckReport& r, const CheckContext& context,
                            const CheckPageTexts& t)
{
    const auto cell = [](const std::string& text, const char* cls = "") {
        return std::string("<td") + (*cls ? std::string(" class=\"") + cls + "\"" : "") + ">" +
               escape(text) + "</td>";
    };
    const auto row = [&](const std::string& label, const std::string& value) {
        return "<tr><th>" + escape(label) + "</th>" + cell(value) + "</tr>\n";
    };
    std::string h = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" +
                    escape(t.title) + "</title>\n<style>"
                    "body{font-family:sans-serif;margin:2em}"
                    "table{border-collapse:collapse;margin:0.5em 0}"
                    "th,td{border:1px solid #ccc;padding:2px 8px;text-align:left}"
                    ".pass{color:#070;font-size:2em}.fail{color:#b00;font-size:2em}"
                    ".bad{color:#b00;font-weight:bold}"
                    "</style></head><body>\n<h1>" + escape(t.title) + "</h1>\n";
    h += r.pass ? "<p class=\"pass\" id=\"verdict\">" + escape(t.verdictPass) + "</p>\n"
                : "<p class=\"fail\" id=\"verdict\">" + escape(t.verdictFail) + "</p>\n";
    if (!r.reasons.empty()) {
        h += "<h2>" + escape(t.reasonsHeading) + "</h2>\n<ul id=\"reasons\">\n";
        for (std::size_t i = 0; i < r.reasons.size(); ++i)
            h += "<li>" + escape(i < t.reasons.size() ? t.reasons[i] : DescribeReason(r.reasons[i])) +
                 "</li>\n";
        h += "</ul>\n";
    }
    const CheckLimits& l = r.limits;
    h += "<table>\n" + row(t.tool, context.tool + " " + context.version) + row(t.port, context.port) +
         row(t.receiver, (context.id >= 0 ? "ID " + std::to_string(context.id) : "-") + ", " +
                             (context.bitRate > 0 ? std::to_string(context.bitRate) + " bit/s" : "-")) +
         row(t.started, r.polls ? WallClock(r.startWallMs) : "-") +
         row(t.duration, number(r.durationMs / 1000, 1) + " s") +
         row(t.limits, "±" + std::to_string(l.endTolerance) + " / ±" +
                           std::to_string(l.centreTolerance) + " / " + number(l.noiseSd, 2) +
                           " / " + std::to_string(l.noisePeakToPeak)) +
         "</table>\n";

    h += "<h2>" + escape(t.indicators) + "</h2>\n<table id=\"indicators\"><tr><th>" +
         escape(t.indicator) + "</th><th>" + escape(t.seen) + "</th><th>" + escape(t.presses) +
         "</th><th>" + escape(t.onePoll) + "</th></tr>\n";
    for (int i = 0; i < kIndicatorCount; ++i) {
        const IndicatorResult& ind = r.indicators[static_cast<std::size_t>(i)];
        h += "<tr><th>" + escape(IndicatorName(i)) + "</th>" +
             cell(ind.Seen() ? t.seen : t.notSeen, ind.Seen() ? "" : "bad") +
             cell(std::to_string(ind.presses)) + cell(std::to_string(ind.onePollPresses)) +
             "</tr>\n";
    }
    h += "</table>\n";

    h += "<h2>" + escape(t.channels) + "</h2>\n<table id=\"channels\"><tr><th>" +
         escape(t.channel) + "</th><th>" + escape(t.lowest) + "</th><th>" + escape(t.highest) +
         "</th><th>" + escape(t.rest) + "</th><th>" + escape(t.sd) + "</th><th>" +
         escape(t.peakToPeak) + "</th></tr>\n";
    for (std::size_t c = 0; c < 4; ++c) {
        const ChannelResult& ch = r.channels[c];
        const bool centred = std::abs(ch.rest - kChannelCentre) <= l.centreTolerance;
        h += "<tr><th>" + std::string(kChannelNames[c]) + "</th>" +
             cell(std::to_string(ch.lowest), ch.lowReached ? "" : "bad") +
             cell(std::to_string(ch.highest), ch.highReached ? "" : "bad");
        if (ch.settled)
            h += cell(number(ch.rest, 1), centred ? "" : "bad") +
                 cell(number(ch.sd, 2), ch.sd <= l.noiseSd ? "" : "bad") +
                 cell(std::to_string(ch.peakToPeak), ch.peakToPeak <= l.noisePeakToPeak ? "" : "bad");
        else
            h += "<td colspan=\"3\" class=\"bad\">" + escape(t.notSettled) + "</td>";
        h += "</tr>\n";
    }
    h += "</table>\n";

    h += "<h2>" + escape(t.link) + "</h2>\n<table id=\"link\">\n" +
         row(t.polls, std::to_string(r.polls)) + row(t.accepted, std::to_string(r.byFault[0])) +
         row(t.missed, std::to_string(r.byFault[1])) + row(t.shortReply, std::to_string(r.byFault[2])) +
         row(t.badHeader, std::to_string(r.byFault[3])) +
         row(t.badChecksum, std::to_string(r.byFault[4])) + "</table>\n";

    h += "<h2>" + escape(t.plots) + "</h2>\n";
    for (std::size_t c = 0; c < 4; ++c)
        h += "<h3>" + std::string(kChannelNames[c]) + "</h3>\n" + channelPlot(r, c) + "\n";
    return h + "</body></html>\n";
}

}  // namespace zub3
