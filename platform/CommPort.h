// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Inside the serial communications unit: the port engine behind the calls of Comm.h. It does
// the overlapped I/O, time-outs, event waits and error flags over a device (CommDevice.h).

#include "platform/Comm.h"
#include "platform/CommDevice.h"
#include "platform/UniqueFd.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace platform::win::detail {

// Sets the calling thread's last error and gives the failure every call returns.
inline BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

// An open port: pending operations are completed by a thread of its own that waits, with
// epoll, for the device (edge-triggered, so bytes are noticed without being consumed; room
// for output only while a write waits for it), for a timer set to the nearest time-out, and
// for a wake-up on close. Callers never wake it themselves: a poll's read costs it no wake
// of its own.
class CommPort final : public KernelObject {
public:
    // Null when the descriptors the engine waits on cannot be had.
    static std::shared_ptr<CommPort> Make(std::unique_ptr<CommDevice> device, std::string path);

    CommPort(std::unique_ptr<CommDevice> device, std::string path, int epollFd, int wakeFd,
             int timerFd);
    ~CommPort() override { Shutdown(); }

    void Closed() override { Shutdown(); }

    const std::string& Path() const { return path_; }

    BOOL Setup(DWORD inQueue, DWORD outQueue);
    BOOL GetState(DCB* dcb);
    BOOL SetState(const DCB& dcb);
    BOOL GetTimeouts(COMMTIMEOUTS* timeouts);
    BOOL SetTimeouts(const COMMTIMEOUTS& timeouts);
    BOOL SetMask(DWORD mask);
    BOOL WaitEvent(DWORD* eventMask, OVERLAPPED* overlapped);
    BOOL Read(void* buffer, DWORD count, DWORD* bytesRead, OVERLAPPED* overlapped);
    BOOL Write(const void* buffer, DWORD count, DWORD* bytesWritten, OVERLAPPED* overlapped);
    static BOOL Result(OVERLAPPED* overlapped, DWORD* bytesTransferred, BOOL wait);
    BOOL Purge(DWORD flags);
    BOOL Flush();
    BOOL ClearError(DWORD* errors, COMSTAT* stat);
    BOOL Escape(DWORD function);

private:
    using Clock = std::chrono::steady_clock;

    struct PendingRead {
        OVERLAPPED* overlapped = nullptr;
        std::uint8_t* buffer = nullptr;
        DWORD count = 0;
        DWORD done = 0;
        std::optional<Clock::time_point> totalDeadline;
        DWORD interval = 0;  // ms allowed between two bytes once the first came; 0: none
        Clock::time_point lastByte{};
    };

    struct PendingWrite {
        OVERLAPPED* overlapped = nullptr;
        const std::uint8_t* buffer = nullptr;
        DWORD count = 0;
        DWORD done = 0;
        std::optional<Clock::time_point> deadline;
    };

    struct PendingWait {
        OVERLAPPED* overlapped;
        DWORD* eventMask;
    };

    // Runs call (which takes the port's lock itself); on the window's thread, for a device
    // that waits for its peer, on a thread of its own while the window's events go on.
    template <typename Call>
    BOOL offEventLoop(Call call);
    DWORD unusable() const;
    void wake() const;
    void armTimer(Clock::time_point deadline);
    void watchOutput(bool on);
    bool readAvailable(PendingRead& r);
    bool writeAvailable(PendingWrite& w);
    DWORD noteCounters();
    void noteEvents(DWORD events);
    void endAll(DWORD error);
    void hangUp();
    std::optional<Clock::time_point> nextDeadline() const;
    void serviceRead(Clock::time_point now);
    void serviceWrite(Clock::time_point now);
    void IoLoop();
    void Shutdown();

    std::mutex mutex_;
    const std::string path_;
    std::shared_ptr<CommDevice> device_;
    const bool waitsForPeer_;
    UniqueFd epollFd_;
    UniqueFd wakeFd_;
    UniqueFd timerFd_;
    std::thread io_;
    bool closed_ = false;
    bool hungUp_ = false;
    COMMTIMEOUTS timeouts_{};
    DWORD mask_ = 0;
    DWORD history_ = 0;  // selected events since the last wait or mask change
    DWORD errors_ = 0;   // CE_ flags since the last ClearCommError
    std::optional<LineCounters> counters_;
    std::optional<PendingRead> read_;
    std::optional<PendingWrite> write_;
    std::optional<PendingWait> wait_;
    std::optional<Clock::time_point> armed_;  // when the timer fires, until the I/O thread saw it
    bool watchingOutput_ = false;
};

}  // namespace platform::win::detail
