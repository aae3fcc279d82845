// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/Summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zub3::cli {
namespace {

constexpr int kBarWidth = 32;

}  // namespace

std::string LiveView(const Record& r, long long polls, long long failures, bool redraw)
{
    constexpr int kLines = 6;
    // Back to the top of the previous view; each line is cleared before it is written.
    std::string out = redraw ? "\x1b[" + std::to_string(kLines) + "F" : "";
    auto line = [&out](const std::string& text) { out += "\x1b[2K" + text + "\n"; };
    const std::string held = HeldNames(r.data.buttons);
    line(Milliseconds(r.tMs) + " ms   polls " + std::to_string(polls) + "   failed " +
         std::to_string(failures));
    line("held: " + (held.empty() ? std::string("-") : held));
    for (std::size_t i = 0; i < r.data.channels.size(); ++i) {
        const int v = r.data.channels[i];
        const int filled = (v * kBarWidth + 127) / 255;
        char value[8];
        std::snprintf(value, sizeof value, "%3d", v);
        line("PA" + std::to_string(i + 1) + " " + value + " [" + std::string(filled, '#') +
             std::string(kBarWidth - filled, ' ') + "]");
    }
    return out;
}

void Summary::Poll(double tMs)
{
    if (lastPoll_ >= 0) {
        ++periods_[std::llround((tMs - lastPoll_) * 1000)];
        ++periodCount_;
    }
    lastPoll_ = tMs;
    ++polls_;
}

void Summary::Accepted(const PollData& data)
{
    for (std::size_t i = 0; i < data.channels.size(); ++i) {
        const int v = data.channels[i];
        min_[i] = records_ == 0 ? v : std::min(min_[i], v);
        max_[i] = records_ == 0 ? v : std::max(max_[i], v);
        sum_[i] += v;
    }
    ++records_;
}

void Summary::Gap(double awayMs)
{
    ++gaps_;
    awayMs_ += awayMs;
    lastPoll_ = -1;
}

std::string RecordCount(long long count, std::string_view what)
{
    return std::to_string(count) + (count == 1 ? " record " : " records ") + std::string(what);
}

std::string Summary::Text(std::string_view records) const
{
    std::string out = std::to_string(polls_) + " polls, " + std::to_string(failures_) +
                      " without a reply, " + std::to_string(rejected_) + " rejected, " +
                      std::string(records) + "\n";
    if (gaps_ > 0)
        out += std::to_string(gaps_) + (gaps_ == 1 ? " gap" : " gaps") + " while the port was away, " +
               Decimal(awayMs_ / 1000, 1) + " s in all\n";
    if (periodCount_ > 0) {
        // Nearest rank: the smallest period that at least that share of periods reaches.
        auto rank = [this](double share) {
            const auto periods = static_cast<double>(periodCount_);
            const auto n = std::max(static_cast<long long>(std::ceil(share * periods)), 1LL);
            long long seen = 0;
            for (const auto& [us, count] : periods_)
                if ((seen += count) >= n)
                    return static_cast<double>(us) / 1000;
            return static_cast<double>(periods_.rbegin()->first) / 1000;
        };
        out += "period: median " + Milliseconds(rank(0.5)) + " ms, 95th percentile " +
               Milliseconds(rank(0.95)) + " ms\n";
    }
    for (std::size_t i = 0; records_ > 0 && i < min_.size(); ++i) {
        out += "PA" + std::to_string(i + 1) + ": min " + std::to_string(min_[i]) + ", max " +
               std::to_string(max_[i]) + ", mean " +
               Decimal(sum_[i] / static_cast<double>(records_), 2) + "\n";
    }
    return out;
}

}  // namespace zub3::cli
