// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/NotifyWindow.h"

#include "platform/ThreadMessages.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace platform::win {

namespace {

const QEvent::Type kSentMessage = static_cast<QEvent::Type>(QEvent::registerEventType());

// A message sent from another thread, queued for the window's thread.
class SentMessage {
public:
    SentMessage(UINT message, WPARAM wParam, LPARAM lParam, DWORD sender)
        : message(message), wParam(wParam), lParam(lParam), sender(sender)
    {
    }

    const UINT message;
    const WPARAM wParam;
    const LPARAM lParam;
    const DWORD sender;

    // Run (with its result), dropped (0) or no longer waited for (0).
    void Finish(LRESULT result)
    {
        {
            std::lock_guard lock(mutex_);
            result_ = result;
            finished_ = true;
        }
        changed_.notify_all();
    }

    void Release()
    {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
        }
        changed_.notify_all();
    }

    LRESULT Wait()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return finished_ || released_; });
        return finished_ ? result_ : 0;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool finished_ = false;
    bool released_ = false;
    LRESULT result_ = 0;
};

class Window;

struct WindowRegistry {
    std::mutex mutex;
    std::unordered_map<HWND, std::unique_ptr<Window>> windows;
    std::uintptr_t next = 1;
};

// Never destroyed: senders on other threads may still look windows up at exit.
WindowRegistry& registry()
{
    static WindowRegistry& r = *new WindowRegistry;
    return r;
}

// Everything but the QObject's own state is guarded by the registry's mutex.
class Window final : public QObject {
public:
    explicit Window(WNDPROC procedure)
        : procedure(std::make_shared<const WNDPROC>(std::move(procedure))),
          owner(std::this_thread::get_id())
    {
    }

    const std::shared_ptr<const WNDPROC> procedure;
    const std::thread::id owner;
    std::deque<std::shared_ptr<SentMessage>> pending;
    std::vector<DWORD> deferred;  // senders that do not wait, one entry per SendsDeferred

protected:
    // Only kSentMessage events are posted here; each runs the oldest pending message. The
    // event itself is not read: what it carries is in the queue, which the registry's lock
    // (taken by the sender around posting) hands over.
    void customEvent(QEvent*) override
    {
        std::shared_ptr<SentMessage> sent;
        {
            std::lock_guard lock(registry().mutex);
            if (pending.empty())
                return;
            sent = std::move(pending.front());
            pending.pop_front();
        }
        // The procedure may destroy this window; only locals are used from here on.
        const auto run = procedure;
        sent->Finish((*run)(sent->message, sent->wParam, sent->lParam));
    }
};

}  // namespace

HWND CreateNotifyWindow(WNDPROC procedure)
{
    auto window = std::make_unique<Window>(std::move(procedure));
    WindowRegistry& r = registry();
    std::lock_guard lock(r.mutex);
    const HWND handle{r.next++};
    r.windows.emplace(handle, std::move(window));
    return handle;
}

BOOL DestroyWindow(HWND window)
{
    std::unique_ptr<Window> destroyed;
    {
        WindowRegistry& r = registry();
        std::lock_guard lock(r.mutex);
        const auto it = r.windows.find(window);
        if (it == r.windows.end() || it->second->owner != std::this_thread::get_id()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        destroyed = std::move(it->second);
        r.windows.erase(it);
        for (const auto& sent : destroyed->pending)
            sent->Finish(0);
        destroyed->pending.clear();
    }
    // Deleting the QObject also discards its posted events.
    destroyed.reset();
    return TRUE;
}

BOOL IsWindow(HWND window)
{
    WindowRegistry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.windows.count(window) ? TRUE : FALSE;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::shared_ptr<const WNDPROC> direct;
    std::shared_ptr<SentMessage> sent;
    {
        WindowRegistry& r = registry();
        std::lock_guard lock(r.mutex);
        const auto it = r.windows.find(window);
        if (it == r.windows.end())
            return 0;
        Window& w = *it->second;
        if (w.owner == std::this_thread::get_id()) {
            direct = w.procedure;
        } else {
            sent = std::make_shared<SentMessage>(message, wParam, lParam, GetCurrentThreadId());
            w.pending.push_back(sent);
            if (std::find(w.deferred.begin(), w.deferred.end(), sent->sender) != w.deferred.end())
                sent->Release();
            // Under the registry's lock, so the window cannot be deleted meanwhile.
            QCoreApplication::postEvent(&w, new QEvent(kSentMessage));
        }
    }
    if (direct)
        return (*direct)(message, wParam, lParam);
    return sent->Wait();
}

LRESULT DefWindowProcA(HWND, UINT, WPARAM, LPARAM)
{
    return 0;
}

SendsDeferred::SendsDeferred(HWND window, DWORD sender) : window_(window), sender_(sender)
{
    WindowRegistry& r = registry();
    std::lock_guard lock(r.mutex);
    const auto it = r.windows.find(window_);
    if (it == r.windows.end())
        return;
    it->second->deferred.push_back(sender_);
    for (const auto& sent : it->second->pending)
        if (sent->sender == sender_)
            sent->Release();
}

SendsDeferred::~SendsDeferred()
{
    WindowRegistry& r = registry();
    std::lock_guard lock(r.mutex);
    const auto it = r.windows.find(window_);
    if (it == r.windows.end())
        return;
    auto& deferred = it->second->deferred;
    deferred.erase(std::find(deferred.begin(), deferred.end(), sender_));
}

}  // namespace platform::win
