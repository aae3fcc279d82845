// SPDX-License-Identifier: GPL-3.0-or-later
// Serial ports on another computer: a TCP connection to an RFC 2217 server (ser2net),
// Telnet with the COM-PORT-OPTION. Data bytes 0xFF travel doubled; the line settings, purges
// and modem lines travel as sub-negotiations, which the server answers with the value it
// applied. The port's I/O thread watches the socket as it watches a tty; the Telnet layer
// (Rfc2217Codec) sits between the socket and ReadSome and WriteSome.

#include "platform/CommDevice.h"
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
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace platform::win::detail {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using namespace telnet;

constexpr auto kConnectTime = 5s;  // for the connection, and again for the first answers
constexpr auto kAnswerTime = 3s;   // for the answer to a line setting
// ser2net leaves SET-CONTROL unanswered on a device without modem lines (a pseudo
// terminal); a server that did so once is not waited for again.
constexpr auto kControlTime = 300ms;
// A server's greeting comes at once, in a burst.
constexpr auto kGreetingTime = 100ms;
constexpr auto kGreetingPause = 10ms;

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

    // Negotiates the options and asks for the present line settings; false (refusal set) when
    // the server turns the port down.
    bool Start()
    {
        // ser2net greets at once and, when its port is busy, says so and hangs up. That is
        // read before anything is sent: a server that closes with our bytes unread resets
        // the connection, and the reset discards what it said.
        holdOutput_ = true;
        auto quiet = Clock::now() + kGreetingTime;
        for (pollfd p{fd_, POLLIN, 0}; !closed_ && ::poll(&p, 1, remainingMs(quiet)) > 0;
             quiet = Clock::now() + kGreetingPause) {
            while (fill() > 0) {
            }
        }
        holdOutput_ = false;
        codec_.Offer();
        // Value 0 asks for the present setting without changing it.
        for (const std::uint8_t code : {SET_BAUDRATE, SET_DATASIZE, SET_PARITY, SET_STOPSIZE})
            request(code, code == SET_BAUDRATE ? Rfc2217Codec::Value32(0) : Rfc2217Codec::Bytes{0});
        const bool ready = waitFor(
            [this] {
                return codec_.ComPortRefused() ||
                       (codec_.Answered(SET_BAUDRATE) && codec_.Answered(SET_DATASIZE) &&
                        codec_.Answered(SET_PARITY) && codec_.Answered(SET_STOPSIZE));
            },
            Clock::now() + kConnectTime);
        if (!ready || codec_.ComPortRefused()) {
            // ser2net greets a second client, says the port is in use, and hangs up.
            const std::string said = codec_.DataText();
            ports::PortAccess why;
            why.device = address_;
            why.state = said.find("in use") != std::string::npos ? ports::Access::Held
                                                                 : ports::Access::Refused;
            ports::SetLastOpenRefusal(why);
            return false;
        }
        state_.BaudRate = codec_.Answer32(SET_BAUDRATE);
        state_.ByteSize = codec_.Answer(SET_DATASIZE).at(0);
        const std::uint8_t parity = codec_.Answer(SET_PARITY).at(0);
        state_.Parity = parity >= 1 && parity <= 5 ? static_cast<BYTE>(parity - 1) : NOPARITY;
        const std::uint8_t stop = codec_.Answer(SET_STOPSIZE).at(0);
        state_.StopBits = stop == 2 ? TWOSTOPBITS : stop == 3 ? ONE5STOPBITS : ONESTOPBIT;
        return true;
    }

    int Fd() const override { return fd_; }

    ssize_t ReadSome(void* buffer, std::size_t count) override
    {
        auto* out = static_cast<std::uint8_t*>(buffer);
        std::size_t n = codec_.TakeData(out, count);
        while (n < count) {
            const ssize_t r = fill();
            if (r > 0) {
                n += codec_.TakeData(out + n, count - n);
                continue;
            }
            if (n > 0 && (r == 0 || errno == EAGAIN || errno == EWOULDBLOCK))
                return static_cast<ssize_t>(n);
            return r;
        }
        return static_cast<ssize_t>(n);
    }

    ssize_t WriteSome(const void* buffer, std::size_t count) override
    {
        if (!flush())
            return -1;
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
        while (fill() > 0) {
        }
        return codec_.DataSize();
    }

    bool SetQueues(DWORD inQueue, DWORD outQueue) override
    {
        const auto valid = [](DWORD n) { return n >= 1 && n <= 0x7FFFFFFF; };
        return valid(inQueue) && valid(outQueue);
    }

    DCB State() const override { return state_; }

    bool SetState(const DCB& d) override
    {
        if (!SettingsValid(d) || closed_)
            return false;
        const DCB old = state_;
        if (!applyLine(d, old))
            return false;
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
        return true;
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

    // The server counts no line errors for its clients.
    std::optional<LineCounters> Counters() const override { return std::nullopt; }

    // Every exchange purges both ways. Only bytes that came late are news to the server;
    // telling it of every purge would cost each poll a round trip and a wake.
    void FlushInput() override
    {
        const std::size_t stale = InQueue();
        codec_.DropData();
        if (stale > 0)
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

    // Sends the settings that changed and checks the values the server says it applied; a
    // refusal puts back those it took.
    bool applyLine(const DCB& d, const DCB& old)
    {
        struct Field {
            std::uint8_t code;
            std::uint32_t wanted;
            std::uint32_t before;
        };
        static constexpr std::uint8_t stopCodes[] = {1, 3, 2};  // by ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS
        const Field fields[] = {
            {SET_BAUDRATE, d.BaudRate, old.BaudRate},
            {SET_DATASIZE, d.ByteSize, old.ByteSize},
            {SET_PARITY, d.Parity + 1u, old.Parity + 1u},
            {SET_STOPSIZE, stopCodes[d.StopBits], stopCodes[old.StopBits % 3]},
        };
        std::vector<Field> changed;
        for (const Field& f : fields)
            if (f.wanted != f.before)
                changed.push_back(f);
        const auto ask = [this](const std::vector<Field>& list, bool wanted) {
            for (const Field& f : list) {
                const std::uint32_t v = wanted ? f.wanted : f.before;
                request(f.code, f.code == SET_BAUDRATE ? Rfc2217Codec::Value32(v)
                                                       : Rfc2217Codec::Bytes{static_cast<std::uint8_t>(v)});
            }
            return waitFor(
                [this, &list] {
                    return std::all_of(list.begin(), list.end(), [this](const Field& f) { return codec_.Answered(f.code); });
                },
                Clock::now() + kAnswerTime);
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

    // One read of the socket, decoded: > 0 bytes read, 0 at the end of the connection, -1
    // with errno otherwise.
    ssize_t fill()
    {
        if (closed_)
            return 0;
        std::uint8_t raw[4096];
        ssize_t n;
        do
            n = ::recv(fd_, raw, sizeof raw, 0);
        while (n < 0 && errno == EINTR);
        if (n <= 0) {
            closed_ = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
            return n;
        }
        codec_.Feed(raw, static_cast<std::size_t>(n));
        flush();  // the negotiation replies
        return n;
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
            while (fill() > 0) {
            }
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
    bool closed_ = false;         // the connection ended or failed
    bool controlSilent_ = false;
    bool holdOutput_ = false;  // while the greeting is read
    std::optional<bool> dtr_, rts_;  // as last sent; unknown at first
    std::uint8_t flow_ = FLOW_NONE;
    Rfc2217Codec codec_;  // its output holds the bytes the socket did not take yet
};

ports::PortAccess refusal(ports::Access state, const std::string& address)
{
    ports::PortAccess a;
    a.state = state;
    a.device = address;
    return a;
}

// A connected, non-blocking socket, or -1 with the refusal set. Blocking at most
// kConnectTime: an open waits for its port as long as a tty open may.
int connectTo(const registry::NetworkAddress& a, DWORD& error)
{
    const std::string text = a.Text();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int e = ::getaddrinfo(a.host.c_str(), a.port.c_str(), &hints, &found); e != 0) {
        const bool unknown = e == EAI_NONAME || e == EAI_AGAIN || e == EAI_FAIL
#ifdef EAI_NODATA
                             || e == EAI_NODATA
#endif
            ;
        error = ERROR_FILE_NOT_FOUND;
        ports::SetLastOpenRefusal(refusal(unknown ? ports::Access::Unresolved : ports::Access::Unreachable, text));
        return -1;
    }
    const auto deadline = Clock::now() + kConnectTime;
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
    ::freeaddrinfo(found);
    if (fd < 0) {
        error = ERROR_FILE_NOT_FOUND;
        ports::SetLastOpenRefusal(refusal(
            lastError == ECONNREFUSED ? ports::Access::Refused : ports::Access::Unreachable, text));
        return -1;
    }
    // A poll's few bytes go out at once, not after the previous ones are acknowledged.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

}  // namespace

std::unique_ptr<CommDevice> OpenNetworkDevice(const std::string& address, DWORD& error)
{
    const auto parsed = registry::ParseNetworkAddress(address);
    if (!parsed) {
        error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    const int fd = connectTo(*parsed, error);
    if (fd < 0)
        return nullptr;
    auto device = std::make_unique<NetworkDevice>(fd, parsed->Text());
    if (!device->Start()) {
        error = ports::LastOpenRefusal().state == ports::Access::Held ? ERROR_ACCESS_DENIED
                                                                       : ERROR_GEN_FAILURE;
        return nullptr;
    }
    return device;
}

}  // namespace platform::win::detail

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
