// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The toolkit's thread class: an operating-system thread that is created suspended, runs
// Execute once resumed, and can free its own object when Execute returns.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class TThread {
public:
    // Makes the thread at once (its ThreadID is valid from here on) but keeps it waiting
    // until Resume or Start. Throws std::system_error when no thread can be made.
    TThread();
    // A thread that was never resumed ends without running Execute. A running one is told
    // to terminate and waited for, which is only safe once Execute no longer needs the
    // derived object: call WaitFor in the derived destructor, or let the thread free itself.
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    void Resume();
    void Start() { Resume(); }

    void Terminate() { terminated_.store(true); }
    bool Terminated() const { return terminated_.load(); }

    // When set as Execute returns, the thread deletes its own object; nobody may touch the
    // object after that. The object must then have been made with new (std::make_unique
    // and release).
    bool FreeOnTerminate() const { return freeOnTerminate_.load(); }
    void SetFreeOnTerminate(bool Value) { freeOnTerminate_.store(Value); }

    // The kernel's id of the thread, as platform::win::GetCurrentThreadId returns it there.
    std::uint32_t ThreadID() const { return threadId_; }

    // Waits until Execute has returned (resuming a suspended thread first). Not for a thread
    // that frees itself.
    void WaitFor();

protected:
    virtual void Execute() = 0;

private:
    void Run();

    std::mutex mutex_;
    std::condition_variable changed_;
    bool started_ = false;     // Run has recorded the thread id
    bool resumed_ = false;
    bool cancelled_ = false;   // destroyed before it was resumed
    bool finished_ = false;    // Execute has returned
    std::uint32_t threadId_ = 0;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> freeOnTerminate_{false};
    std::thread thread_;
};
