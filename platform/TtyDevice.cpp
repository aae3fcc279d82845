// SPDX-License-Identifier: GPL-3.0-or-later
// Serial ports that are tty devices: real UARTs and USB adapters, and pseudo terminals.

#include "platform/CommDevice.h"
#include "platform/PortAccess.h"
#include "platform/Termios2.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace platform::win::detail {

namespace {

// Raw bytes both ways: no line editing, echo, signals, translation or stripping. A break
// reads as a NUL byte; a byte with a framing or parity error reads as it came (without
// INPCK the line discipline leaves it alone), and the driver's counters report the error.
void makeRaw(Termios2& t)
{
    t.c_iflag &= ~static_cast<std::uint32_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                             ICRNL | IXON | IXOFF | IXANY | IGNPAR | INPCK);
    t.c_oflag &= ~static_cast<std::uint32_t>(OPOST);
    t.c_lflag &= ~static_cast<std::uint32_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CREAD | CLOCAL;
    // VMIN 1 only so that a read with nothing there fails with EAGAIN on this non-blocking
    // descriptor, instead of returning 0 as a hang-up does; time-outs are the port's own.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
}

class TtyDevice final : public CommDevice {
public:
    TtyDevice(int fd, bool exclusive, const Termios2& t, std::unique_ptr<ports::DeviceLock> lock)
        : lock_(std::move(lock)), fd_(fd), exclusive_(exclusive)
    {
        state_.DCBlength = sizeof(DCB);
        state_.BaudRate = t.c_ospeed;
        switch (t.c_cflag & CSIZE) {
        case CS5: state_.ByteSize = 5; break;
        case CS6: state_.ByteSize = 6; break;
        case CS7: state_.ByteSize = 7; break;
        default: state_.ByteSize = 8; break;
        }
        state_.Parity = !(t.c_cflag & PARENB) ? NOPARITY
                        : (t.c_cflag & CMSPAR) ? ((t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY)
                        : (t.c_cflag & PARODD) ? ODDPARITY
                                               : EVENPARITY;
        state_.StopBits = !(t.c_cflag & CSTOPB) ? ONESTOPBIT
                          : state_.ByteSize == 5 ? ONE5STOPBITS
                                                 : TWOSTOPBITS;
        state_.Flags = fBinary | DTR_CONTROL_ENABLE |
                       ((t.c_cflag & CRTSCTS) ? (fOutxCtsFlow | RTS_CONTROL_HANDSHAKE)
                                              : RTS_CONTROL_ENABLE);
        // A port left with equal (or disabled) start and stop characters reads as the usual
        // DC1 and DC3: a block with equal ones is refused, and the line setters that Open
        // writes before its own XonChar and XoffChar would fail on it.
        const bool distinct = t.c_cc[VSTART] != t.c_cc[VSTOP];
        state_.XonChar = static_cast<char>(distinct ? t.c_cc[VSTART] : 17);
        state_.XoffChar = static_cast<char>(distinct ? t.c_cc[VSTOP] : 19);
    }

    ~TtyDevice() override
    {
        // Flushing first means close never waits for output to drain (up to 30 s).
        if (exclusive_)
            ::ioctl(fd_, TIOCNXCL);
        ::ioctl(fd_, TCFLSH, TCOFLUSH);
        ::close(fd_);
    }

    int Fd() const override { return fd_; }

    // Linux keeps its queue sizes itself; sizes that no queue can have are refused.
    bool SetQueues(DWORD inQueue, DWORD outQueue) override
    {
        const auto valid = [](DWORD n) { return n >= 1 && n <= 0x7FFFFFFF; };
        return valid(inQueue) && valid(outQueue);
    }

    DCB State() const override { return state_; }

    bool SetState(const DCB& d) override
    {
        const DWORD rts = d.Flags & fRtsControlMask;
        if (!SettingsValid(d))
            return false;

        Termios2 old;
        if (!GetTermios2(fd_, old))
            return false;
        Termios2 t = old;
        makeRaw(t);
        t.c_cflag &= ~static_cast<std::uint32_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
        static constexpr std::uint32_t sizes[] = {CS5, CS6, CS7, CS8};
        t.c_cflag |= sizes[d.ByteSize - 5];
        switch (d.Parity) {
        case ODDPARITY: t.c_cflag |= PARENB | PARODD; break;
        case EVENPARITY: t.c_cflag |= PARENB; break;
        case MARKPARITY: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
        case SPACEPARITY: t.c_cflag |= PARENB | CMSPAR; break;
        default: break;
        }
        if (d.StopBits != ONESTOPBIT)
            t.c_cflag |= CSTOPB;
        // Linux has one switch for both directions of hardware flow control.
        if ((d.Flags & fOutxCtsFlow) || rts == RTS_CONTROL_HANDSHAKE)
            t.c_cflag |= CRTSCTS;
        if (d.Flags & fOutX)
            t.c_iflag |= IXON;
        if (d.Flags & fInX)
            t.c_iflag |= IXOFF;
        t.c_cc[VSTART] = static_cast<std::uint8_t>(d.XonChar);
        t.c_cc[VSTOP] = static_cast<std::uint8_t>(d.XoffChar);
        SetTermios2Rate(t, d.BaudRate);
        if (!SetTermios2(fd_, t))
            return false;
        Termios2 back;
        if (!GetTermios2(fd_, back) || !RateTaken(d.BaudRate, back.c_ospeed)) {
            SetTermios2(fd_, old);
            return false;
        }

        // Pseudo terminals have no modem lines; that is no refusal.
        SetModemLines(d);
        state_ = d;
        return true;
    }

    bool AcceptTimeouts(const COMMTIMEOUTS&) override { return true; }

    bool SetModemLine(DWORD escapeFunction) override
    {
        const int bits = (escapeFunction == SETRTS || escapeFunction == CLRRTS) ? TIOCM_RTS : TIOCM_DTR;
        const bool on = escapeFunction == SETRTS || escapeFunction == SETDTR;
        return ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
    }

    std::optional<LineCounters> Counters() override
    {
        serial_icounter_struct c{};
        if (::ioctl(fd_, TIOCGICOUNT, &c) != 0)
            return std::nullopt;
        return LineCounters{static_cast<std::uint32_t>(c.frame), static_cast<std::uint32_t>(c.parity),
                            static_cast<std::uint32_t>(c.overrun + c.buf_overrun),
                            static_cast<std::uint32_t>(c.brk)};
    }

    void FlushInput() override { ::ioctl(fd_, TCFLSH, TCIFLUSH); }
    void FlushOutput() override { ::ioctl(fd_, TCFLSH, TCOFLUSH); }

    void Drain() override
    {
        while (::ioctl(fd_, TCSBRK, 1) != 0 && errno == EINTR) {
        }
        // The queue drained, the UART may still shift out its FIFO. Bounded, so that a
        // driver that never reports an empty transmitter cannot stall the caller.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        unsigned lsr = 0;
        while (::ioctl(fd_, TIOCSERGETLSR, &lsr) == 0 && !(lsr & TIOCSER_TEMT) &&
               std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

private:
    const std::unique_ptr<ports::DeviceLock> lock_;  // released after the descriptor closed
    const int fd_;
    const bool exclusive_;
    DCB state_;
};

DWORD openError(int error)
{
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return ERROR_FILE_NOT_FOUND;
    case EBUSY:
    case EACCES:
    case EPERM:
    case EWOULDBLOCK:
        return ERROR_ACCESS_DENIED;
    default:
        return ERROR_GEN_FAILURE;
    }
}

// Pseudo terminal slaves (/dev/pts/N) have majors 136 to 143.
bool isPseudoTerminal(int fd)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 &&
           major(st.st_rdev) <= 143;
}

}  // namespace

std::unique_ptr<CommDevice> OpenTtyDevice(const std::string& path, bool exclusive, DWORD& error)
{
    const auto refuse = [&](DWORD e, const ports::PortAccess& why) {
        error = e;
        ports::SetLastOpenRefusal(why);
        return nullptr;
    };
    // Other programs first: the lock file they honour, then the descriptors they have open.
    std::unique_ptr<ports::DeviceLock> lock;
    if (exclusive) {
        lock = std::make_unique<ports::DeviceLock>(path);
        if (!lock->Held())
            return refuse(ERROR_ACCESS_DENIED, lock->Holder());
        if (const ports::PortAccess holder = ports::FindHolder(path); holder.state != ports::Access::Free)
            return refuse(ERROR_ACCESS_DENIED, holder);
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        return refuse(openError(e), ports::AccessFromError(path, e));
    }
    const auto closeAndRefuse = [&](DWORD e, const ports::PortAccess& why) {
        ::close(fd);
        return refuse(e, why);
    };
    Termios2 t;
    if (!GetTermios2(fd, t))
        return closeAndRefuse(ERROR_GEN_FAILURE, {});  // no serial device
    // flock stops a second copy of this tool, root too, whom TIOCEXCL does not stop.
    // TIOCEXCL only where the kernel clears it at the last close: on a pseudo terminal it
    // stays until the far end closes, and would lock out everyone after a crash.
    const bool excl = exclusive && !isPseudoTerminal(fd);
    if (exclusive && (::flock(fd, LOCK_EX | LOCK_NB) != 0 || (excl && ::ioctl(fd, TIOCEXCL) != 0))) {
        const int e = errno;
        return closeAndRefuse(openError(e), ports::AccessFromError(path, e == EWOULDBLOCK ? EBUSY : e));
    }
    makeRaw(t);
    if (!SetTermios2(fd, t)) {
        if (excl)
            ::ioctl(fd, TIOCNXCL);
        return closeAndRefuse(ERROR_GEN_FAILURE, {});
    }
    // USB adapters otherwise hold received bytes for up to 16 ms.
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) == 0 && !(serial.flags & ASYNC_LOW_LATENCY)) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &serial);
    }
    return std::make_unique<TtyDevice>(fd, excl, t, std::move(lock));
}

}  // namespace platform::win::detail
