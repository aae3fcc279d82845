// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Waiting for what another thread, another process or the event loop brings about.

#include <QCoreApplication>
#include <QEvent>

#include <chrono>
#include <thread>

// Handles this thread's Qt events, as the event loop would, until the condition holds;
// false when it still does not once the limit has passed.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// For waits that check that nothing more comes meanwhile: WaitUntil(Never, 100ms).
inline bool Never()
{
    return false;
}
