// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/CommPort.h"

#include "platform/EventLoopWait.h"
#include "platform/Events.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <condition_variable>
#include <utility>

namespace platform::win::detail {

namespace {

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

}  // namespace

std::shared_ptr<CommPort> CommPort::Make(std::unique_ptr<CommDevice> device, std::string path)
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

CommPort::CommPort(std::unique_ptr<CommDevice> device, std::string path, int epollFd, int wakeFd,
                   int timerFd)
    : path_(std::move(path)),
      device_(std::move(device)),
      waitsForPeer_(device_->WaitsForPeer()),
      epollFd_(epollFd),
      wakeFd_(wakeFd),
      timerFd_(timerFd)
{
    counters_ = device_->Counters();
    io_ = std::thread([this] { IoLoop(); });
}

BOOL CommPort::Setup(DWORD inQueue, DWORD outQueue)
{
    std::lock_guard lock(mutex_);
    if (const DWORD e = unusable())
        return Fail(e);
    return device_->SetQueues(inQueue, outQueue) ? TRUE : Fail(ERROR_INVALID_PARAMETER);
}

BOOL CommPort::GetState(DCB* dcb)
{
    std::lock_guard lock(mutex_);
    if (closed_)
        return Fail(ERROR_INVALID_HANDLE);
    *dcb = device_->State();
    return TRUE;
}

template <typename Call>
BOOL CommPort::offEventLoop(Call call)
{
    if (!waitsForPeer_ || !OnEventLoopThread())
        return call();
    // Events handled meanwhile that use the port wait for the lock, not for the peer's
    // answer with the window stopped. The last error is the caller's thread's.
    std::mutex m;
    std::condition_variable finished;
    bool done = false;
    BOOL result = FALSE;
    DWORD error = ERROR_SUCCESS;
    std::thread worker([&] {
        const BOOL r = call();
        const DWORD e = GetLastError();
        std::lock_guard lock(m);
        result = r;
        error = e;
        done = true;
        finished.notify_all();
    });
    {
        // The device keeps to its own deadlines, a few seconds; this one is beyond them.
        std::unique_lock lock(m);
        WaitHandlingEvents(lock, finished, [&] { return done; }, Clock::now() + std::chrono::minutes(1));
    }
    worker.join();
    SetLastError(error);
    return result;
}

BOOL CommPort::SetState(const DCB& dcb)
{
    return offEventLoop([&] {
        std::lock_guard lock(mutex_);
        if (const DWORD e = unusable())
            return Fail(e);
        errno = 0;
        if (device_->SetState(dcb))
            return TRUE;
        if (errno == ENOTCONN) {
            hangUp();
            return Fail(ERROR_DEVICE_NOT_CONNECTED);
        }
        return Fail(ERROR_INVALID_PARAMETER);
    });
}

BOOL CommPort::GetTimeouts(COMMTIMEOUTS* timeouts)
{
    std::lock_guard lock(mutex_);
    if (closed_)
        return Fail(ERROR_INVALID_HANDLE);
    *timeouts = timeouts_;
    return TRUE;
}

BOOL CommPort::SetTimeouts(const COMMTIMEOUTS& timeouts)
{
    std::lock_guard lock(mutex_);
    if (closed_)
        return Fail(ERROR_INVALID_HANDLE);
    if (!device_->AcceptTimeouts(timeouts))
        return Fail(ERROR_INVALID_PARAMETER);
    timeouts_ = timeouts;
    return TRUE;
}

BOOL CommPort::SetMask(DWORD mask)
{
    std::lock_guard lock(mutex_);
    if (closed_)
        return Fail(ERROR_INVALID_HANDLE);
    mask_ = mask;
    history_ = 0;
    if (wait_) {
        *wait_->eventMask = 0;
        complete(wait_->overlapped, ERROR_SUCCESS, 0);
        wait_.reset();
    }
    return TRUE;
}

BOOL CommPort::WaitEvent(DWORD* eventMask, OVERLAPPED* overlapped)
{
    std::lock_guard lock(mutex_);
    if (const DWORD e = unusable())
        return Fail(e);
    if (wait_ || mask_ == 0)
        return Fail(ERROR_INVALID_PARAMETER);
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
    return Fail(ERROR_IO_PENDING);
}

BOOL CommPort::Read(void* buffer, DWORD count, DWORD* bytesRead, OVERLAPPED* overlapped)
{
    std::lock_guard lock(mutex_);
    if (const DWORD e = unusable())
        return Fail(e);
    if (read_)
        return Fail(ERROR_BUSY);
    if (overlapped->hEvent)
        ResetEvent(overlapped->hEvent);
    PendingRead r{};
    r.overlapped = overlapped;
    r.buffer = static_cast<std::uint8_t*>(buffer);
    r.count = count;
    if (!readAvailable(r)) {
        hangUp();
        return Fail(ERROR_DEVICE_NOT_CONNECTED);
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
    return Fail(ERROR_IO_PENDING);
}

BOOL CommPort::Write(const void* buffer, DWORD count, DWORD* bytesWritten, OVERLAPPED* overlapped)
{
    std::lock_guard lock(mutex_);
    if (const DWORD e = unusable())
        return Fail(e);
    if (write_)
        return Fail(ERROR_BUSY);
    if (overlapped->hEvent)
        ResetEvent(overlapped->hEvent);
    PendingWrite w{};
    w.overlapped = overlapped;
    w.buffer = static_cast<const std::uint8_t*>(buffer);
    w.count = count;
    if (!writeAvailable(w)) {
        hangUp();
        return Fail(ERROR_DEVICE_NOT_CONNECTED);
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
    return Fail(ERROR_IO_PENDING);
}

BOOL CommPort::Result(OVERLAPPED* overlapped, DWORD* bytesTransferred, BOOL wait)
{
    DWORD error = 0;
    while ((error = static_cast<DWORD>(state(overlapped).load(std::memory_order_acquire))) ==
           ERROR_IO_PENDING) {
        if (!wait)
            return Fail(ERROR_IO_INCOMPLETE);
        if (!overlapped->hEvent)
            return Fail(ERROR_INVALID_PARAMETER);
        WaitForSingleObject(overlapped->hEvent, INFINITE);
    }
    if (bytesTransferred)
        *bytesTransferred = static_cast<DWORD>(overlapped->InternalHigh);
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

BOOL CommPort::Purge(DWORD flags)
{
    std::lock_guard lock(mutex_);
    if (closed_)
        return Fail(ERROR_INVALID_HANDLE);
    if (flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR))
        return Fail(ERROR_INVALID_PARAMETER);
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

BOOL CommPort::Flush()
{
    std::shared_ptr<CommDevice> device;
    {
        std::lock_guard lock(mutex_);
        if (const DWORD e = unusable())
            return Fail(e);
        device = device_;  // kept alive should the port close meanwhile
    }
    device->Drain();
    return TRUE;
}

BOOL CommPort::ClearError(DWORD* errors, COMSTAT* stat)
{
    std::lock_guard lock(mutex_);
    if (closed_)
        return Fail(ERROR_INVALID_HANDLE);
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
    return hungUp_ ? Fail(ERROR_DEVICE_NOT_CONNECTED) : TRUE;
}

BOOL CommPort::Escape(DWORD function)
{
    return offEventLoop([&] {
        std::lock_guard lock(mutex_);
        if (const DWORD e = unusable())
            return Fail(e);
        if (function < SETRTS || function > CLRDTR)
            return Fail(ERROR_INVALID_PARAMETER);
        return device_->SetModemLine(function) ? TRUE : Fail(ERROR_GEN_FAILURE);
    });
}

DWORD CommPort::unusable() const
{
    if (closed_)
        return ERROR_INVALID_HANDLE;
    return hungUp_ ? ERROR_DEVICE_NOT_CONNECTED : ERROR_SUCCESS;
}

void CommPort::wake() const
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(wakeFd_.get(), &one, sizeof one);
}

// Makes the timer fire by the deadline. A timer already set earlier is left alone: when
// it fires, the I/O thread sets it to the nearest deadline then pending, so a read that
// ends long before its time-out (every poll) costs no system call here.
void CommPort::armTimer(Clock::time_point deadline)
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
void CommPort::watchOutput(bool on)
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
bool CommPort::readAvailable(PendingRead& r)
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

bool CommPort::writeAvailable(PendingWrite& w)
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
DWORD CommPort::noteCounters()
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

void CommPort::noteEvents(DWORD events)
{
    history_ |= events & mask_;
    if (wait_ && history_) {
        *wait_->eventMask = history_;
        history_ = 0;
        complete(wait_->overlapped, ERROR_SUCCESS, 0);
        wait_.reset();
    }
}

void CommPort::endAll(DWORD error)
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

void CommPort::hangUp()
{
    if (hungUp_)
        return;
    hungUp_ = true;
    ::epoll_ctl(epollFd_.get(), EPOLL_CTL_DEL, device_->Fd(), nullptr);
    endAll(ERROR_DEVICE_NOT_CONNECTED);
}

auto CommPort::nextDeadline() const -> std::optional<Clock::time_point>
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

void CommPort::serviceRead(Clock::time_point now)
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

void CommPort::serviceWrite(Clock::time_point now)
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

void CommPort::IoLoop()
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

void CommPort::Shutdown()
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

}  // namespace platform::win::detail
