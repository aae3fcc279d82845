// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/Thread.h"

#include <unistd.h>

#include <memory>

TThread::TThread()
{
    thread_ = std::thread([this] { Run(); });
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return started_; });
}

TThread::~TThread()
{
    if (!thread_.joinable())
        return;  // freed by its own thread, which let go of it first
    {
        std::lock_guard lock(mutex_);
        if (!resumed_)
            cancelled_ = true;
    }
    Terminate();
    changed_.notify_all();
    thread_.join();
}

void TThread::Resume()
{
    // Notified under the lock: once released, the thread may end and free this object.
    std::lock_guard lock(mutex_);
    resumed_ = true;
    changed_.notify_all();
}

void TThread::WaitFor()
{
    Resume();
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return finished_; });
}

void TThread::Run()
{
    {
        std::unique_lock lock(mutex_);
        threadId_ = static_cast<std::uint32_t>(::gettid());
        started_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return resumed_ || cancelled_; });
        if (cancelled_)
            return;
    }
    Execute();
    if (FreeOnTerminate()) {
        thread_.detach();
        const std::unique_ptr<TThread> self(this);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    changed_.notify_all();
}
