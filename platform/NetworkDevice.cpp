// SPDX-License-Identifier: GPL-3.0-or-later
// Serial ports on another computer: a TCP connection to an RFC 2217 server (ser2net),
// Telnet with the COM-PORT-OPTION. Data bytes 0xFF travel doubled; the line settings, purges
// and modem lines travel as sub-negotiations, which the server answers with the value it
// applied. The port's I/O thread watches the socket as it watches a tty; the Telnet layer
// (Rfc2217Codec) sits between the socket and ReadSome and WriteSome.

#include "platform/CommDevice.h"
#include "platform/EventLoopWait.h"
#include "platform/PortAccess.h"
#include "platform/Rfc2217Codec.h"
#include "platform/SerialRegistry.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace platform::win::detail {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using namespace telnet;
using ports::Access;

// Resolving, connecting and the first answers together: an open waits for its port as long
// as a tty open may, whatever the server sends or withholds (NetworkTimes::open).
std::atomic<std::chrono::milliseconds::rep> g_openMs{NetworkTimes{}.open.count()};
// For the answer to a line setting (NetworkTimes::answer).
std::atomic<std::chrono::milliseconds::rep> g_answerMs{NetworkTimes{}.answer.count()};
// ser2net leaves SET-CONTROL unanswered on a device without modem lines (a pseudo
// terminal); a server that did so once is not waited for again.
constexpr auto kControlTime = 300ms;
// A server's greeting comes at once, in a burst; one that never pauses is not waited out.
constexpr auto kGreetingTime = 100ms;
constexpr auto kGreetingPause = 10ms;
constexpr auto kGreetingMost = 300ms;
// Raw bytes one call reads from the socket at most, so that a server sending without end
// (data, NOPs, negotiations) cannot keep a call from returning.
constexpr std::size_t kReadBudget = 64 * 1024;
// A lost link (no acknowledgement, no keepalive answer) becomes a hang-up after this long.
constexpr int kUserTimeoutMs = 10000;
constexpr int kKeepIdleS = 10, kKeepIntervalS = 5, kKeepCount = 3;

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

class NetworkDevice final : public CommDevice {
public:
    NetworkDevice(int fd, std::string address) : fd_(fd), address_(std::move(address))
    {
        state_.DCBlength = sizeof(DCB);
        state_.Flags = fBinary | DTR_CONTROL_ENABLE | RTS_CONTROL_ENABLE;
        state_.XonChar = 17;
        state_.XoffChar = 19;
    }

    ~NetworkDevice() override { ::close(fd_); }

    // Negotiates the options and asks for the present line settings by the deadline;
    // Access::Free when the port is ready, otherwise why not.
    Access Start(Clock::time_point deadline)
    {
        readGreeting(deadline);
        codec_.Offer();
        // Sub-negotiations only once the server has taken the serial-port control.
        waitFor([this] { return codec_.ComPortAgreed() || codec_.ComPortRefused(); }, deadline);
        if (codec_.ComPortAgreed()) {
            request(SET_LINESTATE_MASK, {LINE_ERRORS});
            // Value 0 asks for the present setting without changing it.
            for (const std::uint8_t code : {SET_BAUDRATE, SET_DATASIZE, SET_PARITY, SET_STOPSIZE})
                request(code, code == SET_BAUDRATE ? Rfc2217Codec::Value32(0) : Rfc2217Codec::Bytes{0});
        }
        const bool ready = codec_.ComPortAgreed() && waitFor(
            [this] {
                return codec_.ComPortRefused() ||
                       (codec_.Answered(SET_BAUDRATE) && codec_.Answered(SET_DATASIZE) &&
                        codec_.Answered(SET_PARITY) && codec_.Answered(SET_STOPSIZE));
            },
            deadline);
        if (codec_.ComPortRefused())
            return Access::NotRfc2217;
        if (!ready) {
            // ser2net greets a second client, says the port is in use, and hangs up.
            if (closed_)
                return codec_.DataText().find("in use") != std::string::npos ? Access::Held : Access::Refused;
            return Access::NotRfc2217;  // silent, or a raw port sending data
        }
        state_.BaudRate = codec_.Answer32(SET_BAUDRATE);
        state_.ByteSize = codec_.Answer(SET_DATASIZE).at(0);
        const std::uint8_t parity = codec_.Answer(SET_PARITY).at(0);
        state_.Parity = parity >= 1 && parity <= 5 ? static_cast<BYTE>(parity - 1) : NOPARITY;
        const std::uint8_t stop = codec_.Answer(SET_STOPSIZE).at(0);
        state_.StopBits = stop == 2 ? TWOSTOPBITS : stop == 3 ? ONE5STOPBITS : ONESTOPBIT;
        return Access::Free;
    }

    int Fd() const override { return fd_; }
    bool WaitsForPeer() const override { return true; }

    ssize_t ReadSome(void* buffer, std::size_t count) override
    {
        auto* out = static_cast<std::uint8_t*>(buffer);
        std::size_t n = codec_.TakeData(out, count);
        for (std::size_t budget = kReadBudget; n < count && budget > 0;) {
            const ssize_t r = fill(budget);
            if (r > 0) {
                budget -= static_cast<std::size_t>(r);
                n += codec_.TakeData(out + n, count - n);
                continue;
            }
            if (n > 0 && (r == 0 || errno == EAGAIN || errno == EWOULDBLOCK))
                return static_cast<ssize_t>(n);
            return r;
        }
        if (n == 0) {  // the budget went on Telnet commands alone
            errno = EAGAIN;
            return -1;
        }
        return static_cast<ssize_t>(n);
    }

    ssize_t WriteSome(const void* buffer, std::size_t count) override
    {
        if (unsure_)
            resend();
        pull(kReadBudget);  // a resume may wait there
        if (!flush())
            return -1;
        if (codec_.Suspended()) {
            errno = EAGAIN;
            return -1;
        }
        const auto* in = static_cast<const std::uint8_t*>(buffer);
        Rfc2217Codec::Bytes encoded;
        encoded.reserve(count + 8);
        Rfc2217Codec::Escape(in, count, encoded);
        const ssize_t sent = writeRaw(encoded.data(), encoded.size());
        if (sent < 0)
            return -1;
        // Source bytes whose encoding left whole; a doubled 0xFF cut in half counts as sent,
        // its second half going first next time.
        std::size_t done = 0;
        std::size_t at = 0;
        while (done < count && at < static_cast<std::size_t>(sent)) {
            at += in[done] == IAC ? 2 : 1;
            ++done;
        }
        if (at > static_cast<std::size_t>(sent)) {
            codec_.Output().push_back(IAC);
            // Nothing else would send it should this byte end the write.
            if (done == count)
                waitWritable(Clock::now() + 1s);
        }
        if (done == 0) {
            errno = EAGAIN;
            return -1;
        }
        return static_cast<ssize_t>(done);
    }

    std::size_t InQueue() override
    {
        pull(kReadBudget);
        return codec_.DataSize();
    }

    // The input queue holds what the port's buffer holds, as a driver's would.
    bool SetQueues(DWORD inQueue, DWORD outQueue) override
    {
        const auto valid = [](DWORD n) { return n >= 1 && n <= 0x7FFFFFFF; };
        if (!valid(inQueue) || !valid(outQueue))
            return false;
        codec_.SetCapacity(inQueue);
        return true;
    }

    DCB State() const override { return state_; }

    // False with errno ENOTCONN when the connection is gone.
    bool SetState(const DCB& d) override
    {
        if (closed_ || !SettingsValid(d) || !applyLine(d, state_))
            return refused();
        const DWORD rts = d.Flags & fRtsControlMask;
        const std::uint8_t flow = ((d.Flags & fOutxCtsFlow) || rts == RTS_CONTROL_HANDSHAKE) ? FLOW_HARDWARE
                                  : (d.Flags & (fOutX | fInX))                             ? FLOW_XONXOFF
                                                                                           : FLOW_NONE;
        if (flow != flow_) {
            control(flow);
            flow_ = flow;
        }
        SetModemLines(d);
        state_ = d;
        return !closed_ || refused();
    }

    bool AcceptTimeouts(const COMMTIMEOUTS&) override { return true; }

    bool SetModemLine(DWORD escapeFunction) override
    {
        const bool rts = escapeFunction == SETRTS || escapeFunction == CLRRTS;
        const bool on = escapeFunction == SETRTS || escapeFunction == SETDTR;
        std::optional<bool>& line = rts ? rts_ : dtr_;
        if (line != on) {
            control(rts ? (on ? RTS_ON : RTS_OFF) : (on ? DTR_ON : DTR_OFF));
            line = on;
        }
        return !closed_;
    }

    // What the server reported of the line, with what came so far read first.
    std::optional<LineCounters> Counters() override
    {
        pull(kReadBudget);
        return codec_.Counters();
    }

    // Every exchange purges both ways. Only bytes that came late are news to the server;
    // telling it of every purge would cost each poll a round trip and a wake. What is
    // queued now goes; what keeps coming is the next read's.
    void FlushInput() override
    {
        int queued = 0;
        if (::ioctl(fd_, FIONREAD, &queued) == 0 && queued > 0)
            pull(static_cast<std::size_t>(queued));
        const bool stale = codec_.DataSize() > 0;
        codec_.DropData();
        if (stale)
            request(PURGE_DATA, {PURGE_RECEIVED});
    }

    void FlushOutput() override
    {
        if (!codec_.Output().empty() && !flush())
            request(PURGE_DATA, {PURGE_TRANSMIT});
    }

    void Drain() override
    {
        // Bounded: a server that stopped reading must not stall the caller.
        const auto end = Clock::now() + 1s;
        int queued = 0;
        while (::ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0 && Clock::now() < end)
            std::this_thread::sleep_for(1ms);
    }

private:
    // False, with errno ENOTCONN when the connection has ended.
    bool refused() const
    {
        errno = closed_ ? ENOTCONN : EINVAL;
        return false;
    }

    // ser2net greets at once and, when its port is busy, says so and hangs up. That is read
    // before anything is sent: a server that closes with our bytes unread resets the
    // connection, and the reset discards what it said.
    void readGreeting(Clock::time_point deadline)
    {
        holdOutput_ = true;
        const auto end = std::min(deadline, Clock::now() + kGreetingMost);
        for (auto quiet = Clock::now() + kGreetingTime; !closed_ && Clock::now() < end;
             quiet = Clock::now() + kGreetingPause) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, remainingMs(std::min(quiet, end))) <= 0)
                break;
            pull(kReadBudget);
        }
        holdOutput_ = false;
    }

    // --- sending ---

    ssize_t writeRaw(const std::uint8_t* bytes, std::size_t count)
    {
        for (;;) {
            const ssize_t n = ::send(fd_, bytes, count, MSG_NOSIGNAL);
            if (n >= 0)
                return n;
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return 0;
            return -1;
        }
    }

    // True once nothing waits to be sent; errno set otherwise.
    bool flush()
    {
        auto& out = codec_.Output();
        if (out.empty() || holdOutput_)
            return out.empty();
        const ssize_t n = writeRaw(out.data(), out.size());
        if (n < 0) {
            closed_ = true;
            return false;
        }
        out.erase(out.begin(), out.begin() + n);
        if (!out.empty())
            errno = EAGAIN;
        return out.empty();
    }

    void request(std::uint8_t code, const Rfc2217Codec::Bytes& value)
    {
        codec_.Request(code, value);
        flush();
    }

    void control(std::uint8_t value)
    {
        request(SET_CONTROL, {value});
        if (controlSilent_)
            return;
        if (!waitFor([this] { return codec_.Answered(SET_CONTROL); }, Clock::now() + kControlTime))
            controlSilent_ = true;
    }

    struct Field {
        std::uint8_t code;
        std::uint32_t wanted;
        std::uint32_t before;
    };

    static Rfc2217Codec::Bytes encoded(std::uint8_t code, std::uint32_t v)
    {
        return code == SET_BAUDRATE ? Rfc2217Codec::Value32(v) : Rfc2217Codec::Bytes{static_cast<std::uint8_t>(v)};
    }

    static std::array<Field, 4> fields(const DCB& d, const DCB& old)
    {
        static constexpr std::uint8_t stopCodes[] = {1, 3, 2};  // by ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS
        return {{
            {SET_BAUDRATE, d.BaudRate, old.BaudRate},
            {SET_DATASIZE, d.ByteSize, old.ByteSize},
            {SET_PARITY, d.Parity + 1u, old.Parity + 1u},
            {SET_STOPSIZE, stopCodes[d.StopBits % 3], stopCodes[old.StopBits % 3]},
        }};
    }

    // After a setting the server did not answer, its line may be anything: the settings
    // this device reports go to it again, ahead of the next data, without waiting.
    void resend()
    {
        for (const Field& f : fields(state_, state_))
            request(f.code, encoded(f.code, f.wanted));
        unsure_ = false;
    }

    // Sends the settings that changed (all of them while the server's line is not known)
    // and checks the values the server says it applied; a refusal puts back those it took.
    bool applyLine(const DCB& d, const DCB& old)
    {
        std::vector<Field> changed;
        for (const Field& f : fields(d, old))
            if (f.wanted != f.before || unsure_)
                changed.push_back(f);
        const auto ask = [this](const std::vector<Field>& list, bool wanted) {
            for (const Field& f : list)
                request(f.code, encoded(f.code, wanted ? f.wanted : f.before));
            const bool answered = waitFor(
                [this, &list] {
                    return std::all_of(list.begin(), list.end(),
                                       [this](const Field& f) { return codec_.Answered(f.code); });
                },
                Clock::now() + std::chrono::milliseconds(g_answerMs.load()));
            unsure_ = !answered;
            return answered;
        };
        if (changed.empty())
            return true;
        if (!ask(changed, true))
            return false;
        std::vector<Field> taken;
        bool refused = false;
        for (const Field& f : changed) {
            const std::uint32_t got = f.code == SET_BAUDRATE ? codec_.Answer32(f.code) : codec_.Answer(f.code).at(0);
            const bool ok = f.code == SET_BAUDRATE ? RateTaken(f.wanted, got) : got == f.wanted;
            refused = refused || !ok;
            if (got != f.before)
                taken.push_back(f);
        }
        if (refused && !taken.empty())
            ask(taken, false);
        return !refused;
    }

    // --- receiving ---

    // One read of the socket of at most `most` bytes, decoded: > 0 bytes read, 0 at the end
    // of the connection, -1 with errno otherwise.
    ssize_t fill(std::size_t most)
    {
        if (closed_)
            return 0;
        std::uint8_t raw[4096];
        ssize_t n;
        do
            n = ::recv(fd_, raw, std::min(most, sizeof raw), 0);
        while (n < 0 && errno == EINTR);
        if (n <= 0) {
            closed_ = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
            return n;
        }
        codec_.Feed(raw, static_cast<std::size_t>(n));
        flush();  // the negotiation replies
        return n;
    }

    // Reads and decodes what the socket has, up to `most` bytes.
    void pull(std::size_t most)
    {
        for (ssize_t r = 0; most > 0 && (r = fill(most)) > 0;)
            most -= static_cast<std::size_t>(r);
    }

    // Waits, reading, until done() or the deadline; false at the deadline or the end of the
    // connection. Data that comes meanwhile is kept for the next read.
    template <typename Done>
    bool waitFor(Done done, Clock::time_point deadline)
    {
        for (;;) {
            flush();
            if (done())
                return true;
            if (closed_)
                return false;
            pollfd p{fd_, static_cast<short>(POLLIN | (codec_.Output().empty() ? 0 : POLLOUT)), 0};
            const int r = ::poll(&p, 1, remainingMs(deadline));
            if (r == 0)
                return done();
            if (r < 0 && errno != EINTR)
                return false;
            pull(kReadBudget);
            if (Clock::now() >= deadline)  // a flood keeps the socket readable
                return done();
        }
    }

    void waitWritable(Clock::time_point deadline)
    {
        while (!codec_.Output().empty() && !closed_) {
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, remainingMs(deadline)) <= 0)
                return;
            flush();
        }
    }

    const int fd_;
    const std::string address_;  // "HOST:PORT"
    DCB state_;
    bool closed_ = false;  // the connection ended or failed
    bool controlSilent_ = false;
    bool holdOutput_ = false;  // while the greeting is read
    bool unsure_ = false;      // a line setting went unanswered
    std::optional<bool> dtr_, rts_;  // as last sent; unknown at first
    std::uint8_t flow_ = FLOW_NONE;
    Rfc2217Codec codec_;  // its output holds the bytes the socket did not take yet
};

void setOption(int fd, int level, int name, int value)
{
    ::setsockopt(fd, level, name, &value, sizeof value);
}

// A connected, non-blocking socket by the deadline, or -1 and the reason.
int connectTo(const addrinfo* found, Clock::time_point deadline, Access& why)
{
    int fd = -1;
    int lastError = ETIMEDOUT;
    for (const addrinfo* ai = found; ai && fd < 0 && Clock::now() < deadline; ai = ai->ai_next) {
        fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        int result = ::connect(fd, ai->ai_addr, ai->ai_addrlen) == 0 ? 0 : errno;
        if (result == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            int r;
            while ((r = ::poll(&p, 1, remainingMs(deadline))) < 0 && errno == EINTR) {
            }
            socklen_t len = sizeof result;
            if (r <= 0)
                result = ETIMEDOUT;
            else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &len) != 0)
                result = errno;
        }
        if (result != 0) {
            lastError = result;
            ::close(fd);
            fd = -1;
        }
    }
    if (fd < 0) {
        why = lastError == ECONNREFUSED ? Access::Refused : Access::Unreachable;
        return -1;
    }
    // A poll's few bytes go out at once, not after the previous ones are acknowledged.
    setOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
    // A path that died silently ends the connection rather than leaving it open for ever.
    setOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
    setOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, kKeepIdleS);
    setOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, kKeepIntervalS);
    setOption(fd, IPPROTO_TCP, TCP_KEEPCNT, kKeepCount);
    setOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, kUserTimeoutMs);
    return fd;
}

// One open in progress. The resolver cannot be stopped, so the thread that opens may
// outlive a caller that stopped waiting for it; what it makes then goes with it.
struct Opening {
    enum class Step { Resolving, Connecting, Negotiating };
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::atomic<Step> step{Step::Resolving};
    std::unique_ptr<NetworkDevice> device;
    Access why = Access::Free;
};

void open(Opening& o, const registry::NetworkAddress& a, Clock::time_point deadline)
{
    Access why = Access::Free;
    std::unique_ptr<NetworkDevice> device;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int e = ::getaddrinfo(a.host.c_str(), a.port.c_str(), &hints, &found); e != 0) {
        why = e == EAI_AGAIN ? Access::LookupFailed
              : e == EAI_NONAME || e == EAI_FAIL
#ifdef EAI_NODATA
                      || e == EAI_NODATA
#endif
                  ? Access::Unresolved
                  : Access::Unreachable;
    } else {
        o.step = Opening::Step::Connecting;
        const int fd = connectTo(found, deadline, why);
        ::freeaddrinfo(found);
        if (fd >= 0) {
            o.step = Opening::Step::Negotiating;
            device = std::make_unique<NetworkDevice>(fd, a.Text());
            why = device->Start(deadline);
            if (why != Access::Free)
                device.reset();
        }
    }
    std::lock_guard lock(o.mutex);
    o.device = std::move(device);
    o.why = why;
    o.done = true;
    o.finished.notify_all();
}

std::mutex g_watcherMutex;
ConnectingWatcher g_watcher;

void tellConnecting(const std::string& address, bool connecting)
{
    ConnectingWatcher watcher;
    {
        std::lock_guard lock(g_watcherMutex);
        watcher = g_watcher;
    }
    if (watcher)
        watcher(address, connecting);
}

}  // namespace

void SetNetworkTimes(const NetworkTimes& times)
{
    g_openMs = times.open.count();
    g_answerMs = times.answer.count();
}

NetworkTimes CurrentNetworkTimes()
{
    return {std::chrono::milliseconds(g_openMs.load()), std::chrono::milliseconds(g_answerMs.load())};
}

std::unique_ptr<CommDevice> OpenNetworkDevice(const std::string& address, DWORD& error)
{
    const auto parsed = registry::ParseNetworkAddress(address);
    if (!parsed) {
        error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(g_openMs.load());
    auto opening = std::make_shared<Opening>();
    std::thread([opening, a = *parsed, deadline] { open(*opening, a, deadline); }).detach();

    tellConnecting(address, true);
    // The opener keeps to the deadline but for the resolver, which may run on.
    std::unique_lock lock(opening->mutex);
    WaitHandlingEvents(lock, opening->finished, [&] { return opening->done; }, deadline + 100ms);
    const bool done = opening->done;
    const Access got = opening->why;
    std::unique_ptr<NetworkDevice> device = std::move(opening->device);
    const auto step = opening->step.load();
    lock.unlock();
    tellConnecting(address, false);
    ports::PortAccess why;
    why.device = parsed->Text();
    why.state = done ? got : step == Opening::Step::Resolving ? Access::LookupFailed : Access::Unreachable;
    ports::SetLastOpenRefusal(why);
    if (device)
        return device;
    // As a tty open: no such port until something answers there.
    error = step != Opening::Step::Negotiating ? ERROR_FILE_NOT_FOUND
            : why.state == Access::Held        ? ERROR_ACCESS_DENIED
                                               : ERROR_GEN_FAILURE;
    return nullptr;
}

}  // namespace platform::win::detail

namespace platform::win {

void SetConnectingWatcher(ConnectingWatcher watcher)
{
    std::lock_guard lock(detail::g_watcherMutex);
    detail::g_watcher = std::move(watcher);
}

}  // namespace platform::win

namespace platform::ports {

PortAccess CheckServer(const std::string& address)
{
    win::DWORD error = 0;
    if (win::detail::OpenNetworkDevice(address, error)) {
        PortAccess free;
        free.device = address;
        return free;
    }
    return LastOpenRefusal();
}

}  // namespace platform::ports
