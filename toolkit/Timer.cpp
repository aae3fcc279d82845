// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolkit/Timer.h"

#include <QSocketNotifier>

#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace {

timespec toTimespec(std::chrono::nanoseconds t)
{
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(t);
    return {static_cast<time_t>(seconds.count()), static_cast<long>((t - seconds).count())};
}

}  // namespace

TTimer::TTimer(QObject* parent)
    : QObject(parent), fd_(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC))
{
    if (fd_ < 0)
        throw std::system_error(errno, std::generic_category(), "timerfd_create");
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TTimer::expired);
}

TTimer::~TTimer()
{
    delete notifier_;  // before its descriptor goes
    ::close(fd_);
}

void TTimer::setInterval(int milliseconds)
{
    interval_ = milliseconds < 0 ? 0 : milliseconds;
    if (active_)
        start();
}

void TTimer::start()
{
    active_ = true;
    // A zero interval ticks whenever the event loop looks, as Qt's timers do.
    const std::chrono::nanoseconds period =
        interval_ > 0 ? std::chrono::nanoseconds(std::chrono::milliseconds(interval_))
                      : std::chrono::nanoseconds(1);
    arm(period, period);
}

void TTimer::stop()
{
    // The descriptor stays armed: a tick that comes while stopped is dropped, and disarms it
    // then. The poll cycle stops and restarts its timer on every tick, one call fewer each.
    active_ = false;
}

void TTimer::arm(std::chrono::nanoseconds first, std::chrono::nanoseconds period)
{
    // Setting the time also drops a tick that came but was not read yet.
    const itimerspec setting{toTimespec(period), toTimespec(first)};
    timerfd_settime(fd_, 0, &setting, nullptr);
}

int TTimer::remainingTime() const
{
    if (!active_)
        return -1;
    itimerspec setting{};
    timerfd_gettime(fd_, &setting);
    const auto left = std::chrono::seconds(setting.it_value.tv_sec) +
                      std::chrono::nanoseconds(setting.it_value.tv_nsec);
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

void TTimer::expired()
{
    std::uint64_t expirations = 0;
    // Nothing to read: the timer was restarted after the event loop saw it due.
    if (::read(fd_, &expirations, sizeof expirations) != sizeof expirations)
        return;
    if (!active_) {
        arm(std::chrono::nanoseconds(0), std::chrono::nanoseconds(0));
        return;
    }
    emit timeout();
}
