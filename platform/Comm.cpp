// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Comm.h"

#include "platform/CommDevice.h"
#include "platform/Events.h"
#include "platform/PortAccess.h"
#include "platform/SerialRegistry.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>

namespace platform::win {

namespace detail {

ssize_t CommDevice::ReadSome(void* buffer, std::size_t count)
{
    return ::read(Fd(), buffer, count);
}

ssize_t CommDevice::WriteSome(const void* buffer, std::size_t count)
{
    return ::write(Fd(), buffer, count);
}

void CommDevice::SetModemLines(const DCB& dcb)
{
    const DWORD dtr = dcb.Flags & fDtrControlMask;
    const DWORD rts = dcb.Flags & fRtsControlMask;
    SetModemLine(dtr == DTR_CONTROL_ENABLE ? SETDTR : CLRDTR);
    if (rts == RTS_CONTROL_ENABLE || rts == RTS_CONTROL_DISABLE)
        SetModemLine(rts == RTS_CONTROL_ENABLE ? SETRTS : CLRRTS);
}

std::size_t CommDevice::InQueue()
{
    int n = 0;
    return ::ioctl(Fd(), FIONREAD, &n) == 0 && n > 0 ? static_cast<std::size_t>(n) : 0;
}

bool SettingsValid(const DCB& d)
{
    const DWORD dtr = d.Flags & fDtrControlMask;
    const DWORD rts = d.Flags & fRtsControlMask;
    // One and a half stop bits exist only with 5 data bits, two only with more.
    const bool stopBitsValid = d.StopBits == ONESTOPBIT ||
                               (d.StopBits == ONE5STOPBITS && d.ByteSize == 5) ||
                               (d.StopBits == TWOSTOPBITS && d.ByteSize != 5);
    // Linux has no DSR flow control and no RTS toggling.
    return d.BaudRate != 0 && d.ByteSize >= 5 && d.ByteSize <= 8 && d.Parity <= SPACEPARITY &&
           stopBitsValid && dtr != DTR_CONTROL_HANDSHAKE && !(d.Flags & fOutxDsrFlow) &&
           rts != RTS_CONTROL_TOGGLE && d.XonChar != d.XoffChar;
}

bool RateTaken(std::uint32_t asked, std::uint32_t got)
{
    const long long diff = static_cast<long long>(got) - static_cast<long long>(asked);
    return std::llabs(diff) * 100 <= static_cast<long long>(asked);
}

namespace {
std::atomic<DeviceOpener> testDeviceOpener{nullptr};
}

void RegisterTestDeviceOpener(DeviceOpener opener)
{
    testDeviceOpener.store(opener);
}

}  // namespace detail

namespace {

using Clock = std::chrono::steady_clock;
using detail::CommDevice;
using detail::LineCounters;

BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

// The state of an overlapped operation. It is set under the port's lock but read without
// it once the operation has ended: a waiter woken by the event must not then wait for the
// thread that ended the operation to let go of the lock.
std::atomic_ref<ULONG_PTR> state(OVERLAPPED* overlapped)
{
    return std::atomic_ref<ULONG_PTR>(overlapped->Internal);
}

// Ends an overlapped operation: its byte count, its state, and its event.
void complete(OVERLAPPED* overlapped, DWORD error, DWORD bytes)
{
    overlapped->InternalHigh = bytes;
    state(overlapped).store(error, std::memory_order_release);
    if (overlapped->hEvent)
        SetEvent(overlapped->hEvent);
}

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

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

// An open port: pending operations are completed by a thread of its own that waits, with
// epoll, for the device (edge-triggered, so bytes are noticed without being consumed; room
// for output only while a write waits for it), for a timer set to the nearest time-out, and
// for a wake-up on close. Callers never wake it themselves: a poll's read costs it no wake
// of its own.
class CommPort final : public KernelObject {
public:
    CommPort(std::unique_ptr<CommDevice> device, std::string path, int epollFd, int wakeFd,
             int timerFd)
        : path_(std::move(path)), device_(std::move(device)), epollFd_(epollFd), wakeFd_(wakeFd),
          timerFd_(timerFd)
    {
        counters_ = device_->Counters();
        io_ = std::thread([this] { IoLoop(); });
    }

    ~CommPort() override { Shutdown(); }

    void Closed() override { Shutdown(); }

    const std::string& Path() const { return path_; }

    BOOL Setup(DWORD inQueue, DWORD outQueue)
    {
        std::lock_guard lock(mutex_);
        if (const DWORD e = unusable())
            return fail(e);
        return device_->SetQueues(inQueue, outQueue) ? TRUE : fail(ERROR_INVALID_PARAMETER);
    }

    BOOL GetState(DCB* dcb)
    {
        std::lock_guard lock(mutex_);
        if (closed_)
            return fail(ERROR_INVALID_HANDLE);
        *dcb = device_->State();
        return TRUE;
    }

    BOOL SetState(const DCB& dcb)
    {
        std::lock_guard lock(mutex_);
        if (const DWORD e = unusable())
            return fail(e);
        return device_->SetState(dcb) ? TRUE : fail(ERROR_INVALID_PARAMETER);
    }

    BOOL GetTimeouts(COMMTIMEOUTS* timeouts)
    {
        std::lock_guard lock(mutex_);
        if (closed_)
            return fail(ERROR_INVALID_HANDLE);
        *timeouts = timeouts_;
        return TRUE;
    }

    BOOL SetTimeouts(const COMMTIMEOUTS& timeouts)
    {
        std::lock_guard lock(mutex_);
        if (closed_)
            return fail(ERROR_INVALID_HANDLE);
        if (!device_->AcceptTimeouts(timeouts))
            return fail(ERROR_INVALID_PARAMETER);
        timeouts_ = timeouts;
        return TRUE;
    }

    BOOL SetMask(DWORD mask)
    {
        std::lock_guard lock(mutex_);
        if (closed_)
            return fail(ERROR_INVALID_HANDLE);
        mask_ = mask;
        history_ = 0;
        if (wait_) {
            *wait_->eventMask = 0;
            complete(wait_->overlapped, ERROR_SUCCESS, 0);
            wait_.reset();
        }
        return TRUE;
    }

    BOOL WaitEvent(DWORD* eventMask, OVERLAPPED* overlapped)
    {
        std::lock_guard lock(mutex_);
        if (const DWORD e = unusable())
            return fail(e);
        if (wait_ || mask_ == 0)
            return fail(ERROR_INVALID_PARAMETER);
        if (overlapped->hEvent)
            ResetEvent(overlapped->hEvent);
        if (history_) {
            *eventMask = history_;
            history_ = 0;
            complete(overlapped, ERROR_SUCCESS, 0);
            return TRUE;
        }
        overlapped->InternalHigh = 0;
        state(overlapped).store(ERROR_IO_PENDING, std::memory_order_relaxed);
        wait_ = PendingWait{overlapped, eventMask};
        return fail(ERROR_IO_PENDING);
    }

    BOOL Read(void* buffer, DWORD count, DWORD* bytesRead, OVERLAPPED* overlapped)
    {
        std::lock_guard lock(mutex_);
        if (const DWORD e = unusable())
            return fail(e);
        if (read_)
            return fail(ERROR_BUSY);
        if (overlapped->hEvent)
            ResetEvent(overlapped->hEvent);
        PendingRead r{};
        r.overlapped = overlapped;
        r.buffer = static_cast<std::uint8_t*>(buffer);
        r.count = count;
        if (!readAvailable(r)) {
            hangUp();
            return fail(ERROR_DEVICE_NOT_CONNECTED);
        }
        const COMMTIMEOUTS& t = timeouts_;
        const bool atOnce = t.ReadIntervalTimeout == MAXDWORD &&
                            t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0;
        if (r.done == count || atOnce) {
            if (bytesRead)
                *bytesRead = r.done;
            complete(overlapped, ERROR_SUCCESS, r.done);
            return TRUE;
        }
        const auto now = Clock::now();
        const std::uint64_t total =
            std::uint64_t{t.ReadTotalTimeoutMultiplier} * count + t.ReadTotalTimeoutConstant;
        if (total != 0) {
            r.totalDeadline = now + std::chrono::milliseconds(total);
            armTimer(*r.totalDeadline);
        }
        if (t.ReadIntervalTimeout != MAXDWORD)
            r.interval = t.ReadIntervalTimeout;
        r.lastByte = now;
        overlapped->InternalHigh = r.done;
        state(overlapped).store(ERROR_IO_PENDING, std::memory_order_relaxed);
        read_ = r;
        return fail(ERROR_IO_PENDING);
    }

    BOOL Write(const void* buffer, DWORD count, DWORD* bytesWritten, OVERLAPPED* overlapped)
    {
        std::lock_guard lock(mutex_);
        if (const DWORD e = unusable())
            return fail(e);
        if (write_)
            return fail(ERROR_BUSY);
        if (overlapped->hEvent)
            ResetEvent(overlapped->hEvent);
        PendingWrite w{};
        w.overlapped = overlapped;
        w.buffer = static_cast<const std::uint8_t*>(buffer);
        w.count = count;
        if (!writeAvailable(w)) {
            hangUp();
            return fail(ERROR_DEVICE_NOT_CONNECTED);
        }
        if (w.done == count) {
            if (bytesWritten)
                *bytesWritten = count;
            complete(overlapped, ERROR_SUCCESS, count);
            return TRUE;
        }
        const std::uint64_t total = std::uint64_t{timeouts_.WriteTotalTimeoutMultiplier} * count +
                                    timeouts_.WriteTotalTimeoutConstant;
        if (total != 0) {
            w.deadline = Clock::now() + std::chrono::milliseconds(total);
            armTimer(*w.deadline);
        }
        overlapped->InternalHigh = w.done;
        state(overlapped).store(ERROR_IO_PENDING, std::memory_order_relaxed);
        write_ = w;
        // Re-arming the edge also reports room that came since the bytes above went out.
        watchOutput(true);
        return fail(ERROR_IO_PENDING);
    }

    static BOOL Result(OVERLAPPED* overlapped, DWORD* bytesTransferred, BOOL wait)
    {
        DWORD error = 0;
        while ((error = static_cast<DWORD>(state(overlapped).load(std::memory_order_acquire))) ==
               ERROR_IO_PENDING) {
            if (!wait)
                return fail(ERROR_IO_INCOMPLETE);
            if (!overlapped->hEvent)
                return fail(ERROR_INVALID_PARAMETER);
            WaitForSingleObject(overlapped->hEvent, INFINITE);
        }
        if (bytesTransferred)
            *bytesTransferred = static_cast<DWORD>(overlapped->InternalHigh);
        return error == ERROR_SUCCESS ? TRUE : fail(error);
    }

    BOOL Purge(DWORD flags)
    {
        std::lock_guard lock(mutex_);
        if (closed_)
            return fail(ERROR_INVALID_HANDLE);
        if (flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
            return fail(ERROR_INVALID_PARAMETER);
        // The I/O thread need not hear of an operation ended here: at worst its timer fires
        // once for nothing.
        if ((flags & PURGE_TXABORT) && write_) {
            complete(write_->overlapped, ERROR_OPERATION_ABORTED, write_->done);
            write_.reset();
        }
        if ((flags & PURGE_RXABORT) && read_) {
            complete(read_->overlapped, ERROR_OPERATION_ABORTED, read_->done);
            read_.reset();
        }
        if (!hungUp_) {
            if (flags & PURGE_TXCLEAR)
                device_->FlushOutput();
            if (flags & PURGE_RXCLEAR)
                device_->FlushInput();
        }
        return TRUE;
    }

    BOOL Flush()
    {
        std::shared_ptr<CommDevice> device;
        {
            std::lock_guard lock(mutex_);
            if (const DWORD e = unusable())
                return fail(e);
            device = device_;  // kept alive should the port close meanwhile
        }
        device->Drain();
        return TRUE;
    }

    BOOL ClearError(DWORD* errors, COMSTAT* stat)
    {
        std::lock_guard lock(mutex_);
        if (closed_)
            return fail(ERROR_INVALID_HANDLE);
        COMSTAT s{};
        DWORD e = 0;
        if (!hungUp_) {
            noteEvents(noteCounters());
            e = errors_;
            s.cbInQue = static_cast<DWORD>(device_->InQueue());
            int n = 0;
            if (::ioctl(device_->Fd(), TIOCOUTQ, &n) == 0 && n > 0)
                s.cbOutQue = static_cast<DWORD>(n);
        }
        errors_ = 0;
        if (errors)
            *errors = e;
        if (stat)
            *stat = s;
        return hungUp_ ? fail(ERROR_DEVICE_NOT_CONNECTED) : TRUE;
    }

    BOOL Escape(DWORD function)
    {
        std::lock_guard lock(mutex_);
        if (const DWORD e = unusable())
            return fail(e);
        if (function < SETRTS || function > CLRDTR)
            return fail(ERROR_INVALID_PARAMETER);
        return device_->SetModemLine(function) ? TRUE : fail(ERROR_GEN_FAILURE);
    }

private:
    DWORD unusable() const
    {
        if (closed_)
            return ERROR_INVALID_HANDLE;
        return hungUp_ ? ERROR_DEVICE_NOT_CONNECTED : ERROR_SUCCESS;
    }

    void wake() const
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(wakeFd_.get(), &one, sizeof one);
    }

    // Makes the timer fire by the deadline. A timer already set earlier is left alone: when
    // it fires, the I/O thread sets it to the nearest deadline then pending, so a read that
    // ends long before its time-out (every poll) costs no system call here.
    void armTimer(Clock::time_point deadline)
    {
        if (armed_ && *armed_ <= deadline)
            return;
        const auto since = deadline.time_since_epoch();
        const auto seconds = std::chrono::floor<std::chrono::seconds>(since);
        itimerspec when{};
        when.it_value.tv_sec = static_cast<time_t>(seconds.count());
        when.it_value.tv_nsec = static_cast<long>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count());
        if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0)
            when.it_value.tv_nsec = 1;  // zero would disarm it
        ::timerfd_settime(timerFd_.get(), TFD_TIMER_ABSTIME, &when, nullptr);
        armed_ = deadline;
    }

    // Room for output wakes the I/O thread only while a write waits for it: on a
    // pseudo-terminal every read by the far end would wake it otherwise.
    void watchOutput(bool on)
    {
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
        if (on)
            event.events |= EPOLLOUT;
        event.data.fd = device_->Fd();
        ::epoll_ctl(epollFd_.get(), EPOLL_CTL_MOD, device_->Fd(), &event);
        watchingOutput_ = on;
    }

    // False on a hang-up.
    bool readAvailable(PendingRead& r)
    {
        while (r.done < r.count) {
            const DWORD asked = r.count - r.done;
            const ssize_t n = device_->ReadSome(r.buffer + r.done, asked);
            if (n > 0) {
                r.done += static_cast<DWORD>(n);
                // A short read took all there was; what comes later raises a new edge.
                if (static_cast<DWORD>(n) < asked)
                    return true;
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
            }
        }
        return true;
    }

    bool writeAvailable(PendingWrite& w)
    {
        while (w.done < w.count) {
            const ssize_t n = device_->WriteSome(w.buffer + w.done, w.count - w.done);
            if (n > 0)
                w.done += static_cast<DWORD>(n);
            else if (n < 0 && errno == EINTR)
                continue;
            else
                return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        }
        return true;
    }

    // Error flags and events from what the driver's counters did since the last look.
    DWORD noteCounters()
    {
        if (!counters_)
            return 0;
        const std::optional<LineCounters> now = device_->Counters();
        if (!now)
            return 0;
        DWORD errors = 0;
        if (now->frame != counters_->frame)
            errors |= CE_FRAME;
        if (now->parity != counters_->parity)
            errors |= CE_RXPARITY;
        if (now->overrun != counters_->overrun)
            errors |= CE_OVERRUN;
        if (now->brk != counters_->brk)
            errors |= CE_BREAK;
        counters_ = now;
        errors_ |= errors;
        DWORD events = 0;
        if (errors & (CE_FRAME | CE_RXPARITY | CE_OVERRUN))
            events |= EV_ERR;
        if (errors & CE_BREAK)
            events |= EV_BREAK;
        return events;
    }

    void noteEvents(DWORD events)
    {
        history_ |= events & mask_;
        if (wait_ && history_) {
            *wait_->eventMask = history_;
            history_ = 0;
            complete(wait_->overlapped, ERROR_SUCCESS, 0);
            wait_.reset();
        }
    }

    void endAll(DWORD error)
    {
        if (read_)
            complete(read_->overlapped, error, read_->done);
        if (write_)
            complete(write_->overlapped, error, write_->done);
        if (wait_) {
            *wait_->eventMask = 0;
            complete(wait_->overlapped, error, 0);
        }
        read_.reset();
        write_.reset();
        wait_.reset();
    }

    void hangUp()
    {
        if (hungUp_)
            return;
        hungUp_ = true;
        ::epoll_ctl(epollFd_.get(), EPOLL_CTL_DEL, device_->Fd(), nullptr);
        endAll(ERROR_DEVICE_NOT_CONNECTED);
    }

    std::optional<Clock::time_point> nextDeadline() const
    {
        std::optional<Clock::time_point> next;
        const auto consider = [&next](Clock::time_point t) {
            if (!next || t < *next)
                next = t;
        };
        if (read_) {
            if (read_->totalDeadline)
                consider(*read_->totalDeadline);
            if (read_->interval && read_->done)
                consider(read_->lastByte + std::chrono::milliseconds(read_->interval));
        }
        if (write_ && write_->deadline)
            consider(*write_->deadline);
        return next;
    }

    void serviceRead(Clock::time_point now)
    {
        if (!read_)
            return;
        const DWORD before = read_->done;
        if (!readAvailable(*read_)) {
            hangUp();
            return;
        }
        if (read_->done > before)
            read_->lastByte = now;
        const bool intervalOver = read_->interval && read_->done &&
                                  now >= read_->lastByte + std::chrono::milliseconds(read_->interval);
        const bool totalOver = read_->totalDeadline && now >= *read_->totalDeadline;
        if (read_->done == read_->count || intervalOver || totalOver) {
            complete(read_->overlapped, ERROR_SUCCESS, read_->done);
            read_.reset();
        }
    }

    void serviceWrite(Clock::time_point now)
    {
        if (!write_)
            return;
        if (!writeAvailable(*write_)) {
            hangUp();
            return;
        }
        // A write that runs out of time ends without error, with the bytes it got out.
        if (write_->done == write_->count || (write_->deadline && now >= *write_->deadline)) {
            complete(write_->overlapped, ERROR_SUCCESS, write_->done);
            write_.reset();
        }
    }

    void IoLoop()
    {
        for (;;) {
            epoll_event events[4];
            const int n = ::epoll_wait(epollFd_.get(), events, 4, -1);
            std::lock_guard lock(mutex_);
            if (closed_)
                return;
            // The wake and timer counters are taken first, also on a hung-up port: left
            // set, they would make every wait return at once.
            std::uint32_t device = 0;
            for (int i = 0; i < n; ++i) {
                const int fd = events[i].data.fd;
                if (fd == wakeFd_.get() || fd == timerFd_.get()) {
                    std::uint64_t count = 0;
                    [[maybe_unused]] const auto r = ::read(fd, &count, sizeof count);
                    if (fd == timerFd_.get())
                        armed_.reset();
                } else {
                    device |= events[i].events;
                }
            }
            if (hungUp_)
                continue;
            if (device & EPOLLIN)
                noteEvents(EV_RXCHAR | noteCounters());
            const auto now = Clock::now();
            serviceRead(now);
            if (!hungUp_)
                serviceWrite(now);
            if (device & (EPOLLHUP | EPOLLRDHUP | EPOLLERR))
                hangUp();
            if (hungUp_)
                continue;
            if (const auto next = nextDeadline())
                armTimer(*next);
            if (watchingOutput_ && !write_)
                watchOutput(false);
        }
    }

    void Shutdown()
    {
        {
            std::lock_guard lock(mutex_);
            if (closed_)
                return;
            closed_ = true;
            endAll(ERROR_OPERATION_ABORTED);
        }
        wake();
        io_.join();
        // Descriptors go now, not when the last caller lets go of the object.
        std::lock_guard lock(mutex_);
        device_.reset();
        epollFd_.reset();
        wakeFd_.reset();
        timerFd_.reset();
    }

    std::mutex mutex_;
    const std::string path_;
    std::shared_ptr<CommDevice> device_;
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

std::shared_ptr<CommPort> lookupPort(HANDLE handle)
{
    auto port = LookupHandleAs<CommPort>(handle);
    if (!port)
        SetLastError(ERROR_INVALID_HANDLE);
    return port;
}

std::shared_ptr<CommPort> makePort(std::unique_ptr<CommDevice> device, std::string path)
{
    UniqueFd epollFd(::epoll_create1(EPOLL_CLOEXEC));
    UniqueFd wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    UniqueFd timerFd(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
    const auto watch = [&epollFd](int fd, std::uint32_t events) {
        epoll_event event{};
        event.events = events;
        event.data.fd = fd;
        return fd >= 0 && ::epoll_ctl(epollFd.get(), EPOLL_CTL_ADD, fd, &event) == 0;
    };
    if (epollFd.get() < 0 || !watch(wakeFd.get(), EPOLLIN) || !watch(timerFd.get(), EPOLLIN) ||
        !watch(device->Fd(), EPOLLIN | EPOLLRDHUP | EPOLLET))
        return nullptr;
    return std::make_shared<CommPort>(std::move(device), std::move(path), epollFd.release(),
                                      wakeFd.release(), timerFd.release());
}

// An adapter that was unplugged has left the registry; its port number still tells which
// device it was.
void noteUnplugged(const std::string& portName)
{
    const std::string path = registry::DevicePathOf(portName);
    if (!path.empty() && ::access(path.c_str(), F_OK) != 0)
        ports::SetLastOpenRefusal(ports::AccessFromError(path, ENOENT));
}

}  // namespace

HANDLE CreateFileA(const char* fileName, DWORD, DWORD shareMode, const void* securityAttributes,
                   DWORD creationDisposition, DWORD, HANDLE templateFile)
{
    if (!fileName || securityAttributes || templateFile || creationDisposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string name = fileName;
    if (name.rfind("\\\\.\\", 0) == 0)
        name.erase(0, 4);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });

    ports::SetLastOpenRefusal({});
    DWORD error = ERROR_SUCCESS;
    std::unique_ptr<CommDevice> device;
    std::string path;
    if (const detail::DeviceOpener opener = detail::testDeviceOpener.load())
        device = opener(name, error);
    if (!device && error == ERROR_SUCCESS) {
        if (const auto resolved = registry::ResolvePort(name)) {
            path = *resolved;
            device = registry::IsNetworkAddress(path)
                         ? detail::OpenNetworkDevice(path, error)
                         : detail::OpenTtyDevice(path, shareMode == 0, error);
        } else {
            error = ERROR_FILE_NOT_FOUND;
            noteUnplugged(name);
        }
    }
    if (!device) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    auto port = makePort(std::move(device), std::move(path));
    if (!port) {
        SetLastError(ERROR_GEN_FAILURE);
        return INVALID_HANDLE_VALUE;
    }
    return RegisterHandle(std::move(port));
}

std::string CommDevicePath(HANDLE file)
{
    const auto port = LookupHandleAs<CommPort>(file);
    return port ? port->Path() : std::string();
}

BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue)
{
    const auto port = lookupPort(file);
    return port ? port->Setup(inQueue, outQueue) : FALSE;
}

BOOL GetCommState(HANDLE file, DCB* dcb)
{
    if (!dcb)
        return fail(ERROR_INVALID_PARAMETER);
    const auto port = lookupPort(file);
    return port ? port->GetState(dcb) : FALSE;
}

BOOL SetCommState(HANDLE file, const DCB* dcb)
{
    if (!dcb)
        return fail(ERROR_INVALID_PARAMETER);
    const auto port = lookupPort(file);
    return port ? port->SetState(*dcb) : FALSE;
}

BOOL GetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts)
{
    if (!timeouts)
        return fail(ERROR_INVALID_PARAMETER);
    const auto port = lookupPort(file);
    return port ? port->GetTimeouts(timeouts) : FALSE;
}

BOOL SetCommTimeouts(HANDLE file, const COMMTIMEOUTS* timeouts)
{
    if (!timeouts)
        return fail(ERROR_INVALID_PARAMETER);
    const auto port = lookupPort(file);
    return port ? port->SetTimeouts(*timeouts) : FALSE;
}

BOOL SetCommMask(HANDLE file, DWORD eventMask)
{
    const auto port = lookupPort(file);
    return port ? port->SetMask(eventMask) : FALSE;
}

BOOL WaitCommEvent(HANDLE file, DWORD* eventMask, OVERLAPPED* overlapped)
{
    if (!eventMask || !overlapped)
        return fail(ERROR_INVALID_PARAMETER);
    const auto port = lookupPort(file);
    return port ? port->WaitEvent(eventMask, overlapped) : FALSE;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD count, DWORD* bytesRead, OVERLAPPED* overlapped)
{
    if (!overlapped || (!buffer && count))
        return fail(ERROR_INVALID_PARAMETER);
    const auto port = lookupPort(file);
    return port ? port->Read(buffer, count, bytesRead, overlapped) : FALSE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* bytesWritten,
               OVERLAPPED* overlapped)
{
    if (!overlapped || (!buffer && count))
        return fail(ERROR_INVALID_PARAMETER);
    const auto port = lookupPort(file);
    return port ? port->Write(buffer, count, bytesWritten, overlapped) : FALSE;
}

BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* overlapped, DWORD* bytesTransferred, BOOL wait)
{
    if (!overlapped)
        return fail(ERROR_INVALID_PARAMETER);
    const auto port = lookupPort(file);
    return port ? port->Result(overlapped, bytesTransferred, wait) : FALSE;
}

BOOL FlushFileBuffers(HANDLE file)
{
    const auto port = lookupPort(file);
    return port ? port->Flush() : FALSE;
}

BOOL PurgeComm(HANDLE file, DWORD flags)
{
    const auto port = lookupPort(file);
    return port ? port->Purge(flags) : FALSE;
}

BOOL ClearCommError(HANDLE file, DWORD* errors, COMSTAT* stat)
{
    const auto port = lookupPort(file);
    if (!port) {
        if (errors)
            *errors = 0;
        if (stat)
            *stat = COMSTAT{};
        return FALSE;
    }
    return port->ClearError(errors, stat);
}

BOOL EscapeCommFunction(HANDLE file, DWORD function)
{
    const auto port = lookupPort(file);
    return port ? port->Escape(function) : FALSE;
}

}  // namespace platform::win
