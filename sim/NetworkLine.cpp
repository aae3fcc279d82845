// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/ReceiverLine.h"

#include "platform/Rfc2217Codec.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

namespace zub3::sim {
namespace {

using platform::win::detail::Rfc2217Codec;
namespace telnet = platform::win::detail::telnet;

// What a serial port is set to before the client says otherwise (ser2net's default).
constexpr std::uint32_t kDefaultBaud = 9600;
constexpr std::uint8_t kDefaultDataSize = 8;
constexpr std::uint8_t kParityNone = 1, kParityEven = 3, kParityMax = 5;
constexpr std::uint8_t kStopOne = 1, kStopMax = 3;
constexpr std::uint32_t kMaxBaud = 4'000'000;
// Bytes the client has not taken yet, beyond which the line drops what the receiver sends.
constexpr std::size_t kMaxUnsent = 64 * 1024;

class NetworkLine final : public ReceiverLine {
public:
    explicit NetworkLine(const ListenAddress& address);
    const std::string& Device() const override { return device_; }
    int Fd() const override { return epoll_.get(); }
    std::size_t Read(std::span<Byte> buf) override;
    void Write(std::span<const Byte> bytes) override;
    bool AtSpeed(int bitRate) const override;

private:
    void accept();
    void hangUp();
    void obey(const Rfc2217Codec::ClientRequest& request);
    void flush();
    void watch(int fd);

    UniqueFd listen_;
    UniqueFd epoll_;
    UniqueFd client_;
    std::string device_;
    Rfc2217Codec codec_{Rfc2217Codec::Role::Server};
    std::vector<Byte> unsent_;
    std::uint32_t baud_ = kDefaultBaud;
    std::uint8_t dataSize_ = kDefaultDataSize;
    std::uint8_t parity_ = kParityNone;
    std::uint8_t stopSize_ = kStopOne;
};

NetworkLine::NetworkLine(const ListenAddress& address) : epoll_(::epoll_create1(EPOLL_CLOEXEC))
{
    const std::string text = address.host + ":" + address.port;
    if (epoll_.get() < 0)
        throw SystemError("cannot create an event");
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int rc = ::getaddrinfo(address.host.c_str(), address.port.c_str(), &hints, &found);
        rc != 0)
        throw std::runtime_error("cannot listen on " + text + ": " + ::gai_strerror(rc));
    int error = 0;
    for (const addrinfo* a = found; a && listen_.get() < 0; a = a->ai_next) {
        UniqueFd fd(::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        const int yes = 1;
        if (fd.get() >= 0 &&
            ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) == 0 &&
            ::bind(fd.get(), a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd.get(), 4) == 0)
            listen_.reset(fd.release());
        else
            error = errno;
    }
    ::freeaddrinfo(found);
    if (listen_.get() < 0) {
        errno = error;
        throw SystemError("cannot listen on " + text);
    }

    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    char host[NI_MAXHOST], service[NI_MAXSERV];
    if (::getsockname(listen_.get(), reinterpret_cast<sockaddr*>(&bound), &length) != 0 ||
        ::getnameinfo(reinterpret_cast<sockaddr*>(&bound), length, host, sizeof host, service,
                      sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        throw SystemError("cannot tell the address listened on");
    const std::string shown = bound.ss_family == AF_INET6 ? "[" + std::string(host) + "]" : host;
    device_ = "rfc2217://" + shown + ":" + service;
    watch(listen_.get());
}

void NetworkLine::watch(int fd)
{
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.fd = fd;
    if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &e) != 0)
        throw SystemError("cannot watch the network port");
}

std::size_t NetworkLine::Read(std::span<Byte> buf)
{
    epoll_event events[2];
    const int n = ::epoll_wait(epoll_.get(), events, 2, 0);
    if (n < 0 && errno != EINTR)
        throw SystemError("waiting on the network port failed");
    bool data = false;
    for (int i = 0; i < n; ++i) {
        if (events[i].data.fd == listen_.get())
            accept();
        else
            data = true;
    }
    if (data && client_.get() >= 0) {
        Byte in[512];
        const ssize_t got = ::recv(client_.get(), in, sizeof in, 0);
        if (got <= 0 && !(got < 0 && (errno == EAGAIN || errno == EINTR))) {
            hangUp();
        } else if (got > 0) {
            codec_.Feed(in, static_cast<std::size_t>(got));
            for (const auto& request : codec_.TakeRequests())
                obey(request);
            flush();
        }
    }
    return codec_.TakeData(buf.data(), buf.size());
}

void NetworkLine::accept()
{
    UniqueFd fd(::accept4(listen_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (fd.get() < 0)
        return;
    // One client at a time, as a serial port has one owner: the second is told so, as
    // ser2net tells it, and let go.
    if (client_.get() >= 0) {
        constexpr std::string_view kInUse = "Port already in use\r\n";
        [[maybe_unused]] const auto n = ::send(fd.get(), kInUse.data(), kInUse.size(), MSG_NOSIGNAL);
        return;
    }
    const int yes = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    client_.reset(fd.release());
    watch(client_.get());
    codec_.Offer();
    flush();
}

// The client left: the port is as a fresh one for the next.
void NetworkLine::hangUp()
{
    client_.reset();
    codec_ = Rfc2217Codec(Rfc2217Codec::Role::Server);
    unsent_.clear();
    baud_ = kDefaultBaud;
    dataSize_ = kDefaultDataSize;
    parity_ = kParityNone;
    stopSize_ = kStopOne;
}

// Takes a setting the client asks for where a serial port could, and answers with what
// the port has now; a value of 0 only asks.
void NetworkLine::obey(const Rfc2217Codec::ClientRequest& r)
{
    using namespace telnet;
    const Byte v = r.value.empty() ? 0 : r.value[0];
    switch (r.code) {
    case SET_BAUDRATE:
        if (r.value.size() == 4) {
            const std::uint32_t asked = std::uint32_t{r.value[0]} << 24 |
                                        std::uint32_t{r.value[1]} << 16 |
                                        std::uint32_t{r.value[2]} << 8 | r.value[3];
            if (asked != 0 && asked <= kMaxBaud)
                baud_ = asked;
        }
        codec_.AnswerRequest(r.code, Rfc2217Codec::Value32(baud_));
        return;
    case SET_DATASIZE:
        if (v >= 5 && v <= 8)
            dataSize_ = v;
        codec_.AnswerRequest(r.code, {dataSize_});
        return;
    case SET_PARITY:
        if (v != 0 && v <= kParityMax)
            parity_ = v;
        codec_.AnswerRequest(r.code, {parity_});
        return;
    case SET_STOPSIZE:
        if (v != 0 && v <= kStopMax)
            stopSize_ = v;
        codec_.AnswerRequest(r.code, {stopSize_});
        return;
    case SET_CONTROL:
        // No flow control and no modem lines to speak of: asked for the flow control, none.
        codec_.AnswerRequest(r.code, {v == 0 ? FLOW_NONE : v});
        return;
    case PURGE_DATA:
        if (v & PURGE_RECEIVED)  // 3 purges both ways
            codec_.DropData();
        codec_.AnswerRequest(r.code, r.value);
        return;
    default:
        // Masks and notifications: taken as asked.
        codec_.AnswerRequest(r.code, r.value);
        return;
    }
}

void NetworkLine::Write(std::span<const Byte> bytes)
{
    if (client_.get() < 0)
        return;
    Rfc2217Codec::Bytes& out = codec_.Output();
    if (unsent_.size() + out.size() + 2 * bytes.size() > kMaxUnsent)
        return;
    Rfc2217Codec::Escape(bytes.data(), bytes.size(), out);
    flush();
}

// Sends what the codec left and what did not go before, in order; at most kMaxUnsent bytes
// wait for a client that does not read.
void NetworkLine::flush()
{
    Rfc2217Codec::Bytes& out = codec_.Output();
    if (unsent_.size() + out.size() > kMaxUnsent) {
        // Only answers overflow here (Write drops data first): a client that keeps asking
        // and never reads is let go.
        hangUp();
        return;
    }
    unsent_.insert(unsent_.end(), out.begin(), out.end());
    out.clear();
    if (client_.get() < 0 || unsent_.empty())
        return;
    const ssize_t sent = ::send(client_.get(), unsent_.data(), unsent_.size(), MSG_NOSIGNAL);
    if (sent > 0)
        unsent_.erase(unsent_.begin(), unsent_.begin() + sent);
}

bool NetworkLine::AtSpeed(int bitRate) const
{
    return client_.get() >= 0 && baud_ == static_cast<std::uint32_t>(bitRate) &&
           dataSize_ == 8 && parity_ == kParityEven && stopSize_ == kStopOne;
}

}  // namespace

ListenAddress ParseListenAddress(const std::string& text)
{
    const auto colon = text.rfind(':');
    const auto bad = [&text] {
        return std::invalid_argument("'" + text + "' is not an address such as 127.0.0.1:7000");
    };
    if (colon == std::string::npos || colon == 0)
        throw bad();
    std::string host = text.substr(0, colon);
    const std::string port = text.substr(colon + 1);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']')
            throw bad();
        host = host.substr(1, host.size() - 2);
    } else if (host.find(':') != std::string::npos) {
        throw bad();  // an IPv6 address goes in brackets
    }
    if (port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos || std::stoi(port) > 65535)
        throw bad();
    return {host, port};
}

std::unique_ptr<ReceiverLine> ListenNetworkLine(const ListenAddress& address)
{
    return std::make_unique<NetworkLine>(address);
}

}  // namespace zub3::sim
