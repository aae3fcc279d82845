// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ThreadMessages.h"

#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace platform::win {

namespace {

struct Queue {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<MSG> messages;
};

struct QueueRegistry {
    std::mutex mutex;
    std::unordered_map<DWORD, std::shared_ptr<Queue>> queues;
};

// Never destroyed: threads may still end (and drop their queue) while the process exits.
QueueRegistry& registry()
{
    static QueueRegistry& r = *new QueueRegistry;
    return r;
}

// The calling thread's queue, made on first use and dropped when the thread ends.
class OwnQueue {
public:
    ~OwnQueue()
    {
        if (!queue_)
            return;
        QueueRegistry& r = registry();
        std::lock_guard lock(r.mutex);
        r.queues.erase(id_);
    }

    Queue& Get()
    {
        if (!queue_) {
            queue_ = std::make_shared<Queue>();
            id_ = GetCurrentThreadId();
            QueueRegistry& r = registry();
            std::lock_guard lock(r.mutex);
            r.queues[id_] = queue_;
        }
        return *queue_;
    }

private:
    std::shared_ptr<Queue> queue_;
    DWORD id_ = 0;
};

thread_local OwnQueue t_queue;

}  // namespace

DWORD GetCurrentThreadId()
{
    return static_cast<DWORD>(::gettid());
}

BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam)
{
    QueueRegistry& r = registry();
    std::shared_ptr<Queue> queue;
    {
        std::lock_guard lock(r.mutex);
        const auto it = r.queues.find(threadId);
        if (it == r.queues.end()) {
            SetLastError(ERROR_INVALID_THREAD_ID);
            return FALSE;
        }
        queue = it->second;
    }
    {
        std::lock_guard lock(queue->mutex);
        queue->messages.push_back(MSG{HWND{}, message, wParam, lParam});
    }
    queue->arrived.notify_all();
    return TRUE;
}

BOOL WaitMessage()
{
    Queue& queue = t_queue.Get();
    std::unique_lock lock(queue.mutex);
    queue.arrived.wait(lock, [&] { return !queue.messages.empty(); });
    return TRUE;
}

BOOL PeekMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT removeMessage)
{
    Queue& queue = t_queue.Get();
    if (!msg || window != HWND{})
        return FALSE;
    std::lock_guard lock(queue.mutex);
    const bool any = filterMin == 0 && filterMax == 0;
    const auto it = std::find_if(queue.messages.begin(), queue.messages.end(), [&](const MSG& m) {
        return any || (m.message >= filterMin && m.message <= filterMax);
    });
    if (it == queue.messages.end())
        return FALSE;
    *msg = *it;
    if (removeMessage & PM_REMOVE)
        queue.messages.erase(it);
    return TRUE;
}

}  // namespace platform::win
