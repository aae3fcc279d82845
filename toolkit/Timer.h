// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The toolkit's timer: a repeating timer whose ticks come on time to the microsecond.
// Qt's own timers wake the event loop at whole milliseconds, rounded up from the time left,
// so a poll that is restarted after some painting ticks up to a millisecond late; a
// timerfd watched by the event loop wakes it when the interval is over.

#include <QObject>

#include <chrono>

class QSocketNotifier;

class TTimer : public QObject {
    Q_OBJECT

public:
    explicit TTimer(QObject* parent = nullptr);
    ~TTimer() override;

    int interval() const { return interval_; }
    // A running timer starts counting the new interval from now.
    void setInterval(int milliseconds);

    // Starts counting the interval from now, whether running or not.
    void start();
    void stop();
    bool isActive() const { return active_; }
    // Milliseconds until the next tick, rounded up; -1 when stopped.
    int remainingTime() const;

signals:
    void timeout();

private:
    void arm(std::chrono::nanoseconds first, std::chrono::nanoseconds period);
    void expired();

    int fd_;
    QSocketNotifier* notifier_;
    int interval_ = 0;
    bool active_ = false;
};
