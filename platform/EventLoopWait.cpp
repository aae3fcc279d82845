// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/EventLoopWait.h"

#include <QCoreApplication>
#include <QThread>

namespace platform {

bool OnEventLoopThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void WaitHandlingEvents(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                        const std::function<bool()>& done,
                        std::chrono::steady_clock::time_point deadline)
{
    const bool pump = OnEventLoopThread();
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        if (!pump) {
            cv.wait_until(lock, deadline);
            continue;
        }
        lock.unlock();
        QCoreApplication::processEvents();
        lock.lock();
        cv.wait_for(lock, std::chrono::milliseconds(1));
    }
}

}  // namespace platform
