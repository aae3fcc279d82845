// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/Faults.h"

#include "core/CommandLine.h"

#include <charconv>
#include <cmath>

namespace zub3::sim {
namespace {

constexpr int kMaxBytes = 255;
constexpr int kMaxDelayMs = 60000;

// Reads the fault's count into out; missing values take fallback (none: required).
std::string readValue(std::optional<std::string_view> value, std::optional<int> fallback,
                      int min, int max, int& out)
{
    if (!value) {
        if (!fallback)
            return "needs a value";
        out = *fallback;
        return {};
    }
    const auto n = ParseInt(*value, min, max);
    if (!n)
        return "'" + std::string(*value) + "' is not a number from " + std::to_string(min) +
               " to " + std::to_string(max);
    out = *n;
    return {};
}

}  // namespace

std::optional<int> ParseInt(std::string_view text, int min, int max)
{
    int n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty() || n < min ||
        n > max)
        return std::nullopt;
    return n;
}

std::string SetFault(Faults& faults, std::string_view name, std::optional<std::string_view> value)
{
    bool* const flag = name == "no-reply"       ? &faults.noReply
                       : name == "bad-checksum" ? &faults.badChecksum
                       : name == "bad-header"   ? &faults.badHeader
                       : name == "any-speed"    ? &faults.anySpeed
                                                : nullptr;
    if (flag) {
        if (value)
            return "takes no value";
        *flag = true;
        return {};
    }
    int n = 0;
    if (name == "short") {
        auto error = readValue(value, std::nullopt, 0, kMaxBytes, n);
        if (error.empty())
            faults.shortReply = n;
        return error;
    }
    if (name == "noise") {
        auto error = readValue(value, kDefaultNoise, 1, kMaxBytes, n);
        if (error.empty())
            faults.noise = n;
        return error;
    }
    if (name == "delay") {
        // A time like every other: 700, 700ms or 0.7s.
        const auto ms = value ? cmdline::ReadDuration(*value, cmdline::BareUnit::Milliseconds)
                              : std::optional<double>(kDefaultFaultDelay.count());
        if (!ms || *ms > kMaxDelayMs)
            return "'" + std::string(*value) + "' is not a time from 0 to " +
                   std::to_string(kMaxDelayMs) + " ms, such as 700, 700ms or 0.7s";
        faults.delay = std::chrono::milliseconds(std::lround(*ms));
        return {};
    }
    return "no such fault";
}

std::string DescribeFaults(const Faults& faults)
{
    std::string out;
    const auto add = [&out](const std::string& s) { out += (out.empty() ? "" : ", ") + s; };
    if (faults.noReply)
        add("no-reply");
    if (faults.shortReply)
        add("short=" + std::to_string(*faults.shortReply));
    if (faults.badChecksum)
        add("bad-checksum");
    if (faults.badHeader)
        add("bad-header");
    if (faults.noise > 0)
        add("noise=" + std::to_string(faults.noise));
    if (faults.delay.count() > 0)
        add("delay=" + std::to_string(faults.delay.count()));
    if (faults.anySpeed)
        add("any-speed");
    return out.empty() ? "none" : out;
}

}  // namespace zub3::sim
