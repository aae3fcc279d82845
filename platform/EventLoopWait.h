// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Waiting for another thread without stopping the window: on the thread of the application's
// event loop the wait handles its events in steps of 1 ms, so that the window goes on
// painting and answering; on any other thread it is a plain wait.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace platform {

// True on the thread that runs the application's event loop.
bool OnEventLoopThread();

// Waits, holding lock whenever done() is asked, until done() or until deadline; cv wakes
// it early. Events handled meanwhile run without the lock.
void WaitHandlingEvents(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                        const std::function<bool()>& done,
                        std::chrono::steady_clock::time_point deadline);

}  // namespace platform
