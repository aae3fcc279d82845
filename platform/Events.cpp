// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Events.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace platform::win {

namespace {

class Event final : public KernelObject {
public:
    Event(bool manualReset, bool signalled) : manualReset_(manualReset), signalled_(signalled) {}

    void Set()
    {
        {
            std::lock_guard lock(mutex_);
            signalled_ = true;
        }
        changed_.notify_all();
    }

    void Reset()
    {
        std::lock_guard lock(mutex_);
        signalled_ = false;
    }

    bool Wait(DWORD milliseconds)
    {
        std::unique_lock lock(mutex_);
        const auto isSignalled = [this] { return signalled_; };
        if (milliseconds == INFINITE)
            changed_.wait(lock, isSignalled);
        else if (!changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), isSignalled))
            return false;
        if (!manualReset_)
            signalled_ = false;
        return true;
    }

private:
    const bool manualReset_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool signalled_;
};

std::shared_ptr<Event> lookupEvent(HANDLE handle)
{
    auto event = LookupHandleAs<Event>(handle);
    if (!event)
        SetLastError(ERROR_INVALID_HANDLE);
    return event;
}

}  // namespace

HANDLE CreateEventA(const void* attributes, BOOL manualReset, BOOL initialState,
                    const char* name)
{
    if (attributes || name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return RegisterHandle(std::make_shared<Event>(manualReset != FALSE, initialState != FALSE));
}

BOOL SetEvent(HANDLE event)
{
    const auto e = lookupEvent(event);
    if (!e)
        return FALSE;
    e->Set();
    return TRUE;
}

BOOL ResetEvent(HANDLE event)
{
    const auto e = lookupEvent(event);
    if (!e)
        return FALSE;
    e->Reset();
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds)
{
    // The waiter keeps the event alive, so closing its handle meanwhile does not end the wait.
    const auto e = lookupEvent(object);
    if (!e)
        return WAIT_FAILED;
    return e->Wait(milliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

void Sleep(DWORD milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace platform::win
