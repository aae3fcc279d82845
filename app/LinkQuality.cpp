// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/LinkQuality.h"

#include "core/Records.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

constexpr std::chrono::seconds kRateWindow{1};

}  // namespace

void LinkQuality::Restart()
{
    *this = {};
}

void LinkQuality::Add(const zub3::PollResult& poll)
{
    ++polls_;
    ++byFault_[static_cast<std::size_t>(poll.fault)];
    lastSecond_.push_back(poll.sent);
    while (poll.sent - lastSecond_.front() > kRateWindow)
        lastSecond_.pop_front();
}

int LinkQuality::Rejected() const
{
    using F = zub3::PollFault;
    return Count(F::Short) + Count(F::Header) + Count(F::Checksum);
}

int LinkQuality::PollsPerSecond(Clock::time_point now) const
{
    return static_cast<int>(std::count_if(lastSecond_.begin(), lastSecond_.end(),
                                          [&](Clock::time_point t) { return now - t <= kRateWindow; }));
}

QString LinkQuality::Describe(Clock::time_point now) const
{
    using F = zub3::PollFault;
    const auto share = [this](int n) {
        return QString::number(polls_ ? 100.0 * n / polls_ : 0.0, 'f', 1);
    };
    return QCoreApplication::translate(
               "LinkQuality",
               "ポーリング %2 回（毎秒 %1 回）\n受信 %3\n拒否 %4（%5 %）: 短い応答 %6、"
               "ヘッダ不一致 %7、チェックサム不一致 %8\n応答なし %9（%10 %）")
        .arg(PollsPerSecond(now))
        .arg(polls_)
        .arg(Count(F::None))
        .arg(Rejected())
        .arg(share(Rejected()))
        .arg(Count(F::Short))
        .arg(Count(F::Header))
        .arg(Count(F::Checksum))
        .arg(Count(F::Missed))
        .arg(share(Count(F::Missed)));
}
