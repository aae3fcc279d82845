// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An RFC 2217 server written for the case at hand, well-behaved or not: one client on the
// loopback, the case's script running on the accepted connection in a thread of its own.
// A script may flood the client until it leaves or the server is destroyed.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace rfc2217test {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint8_t IAC = 255, SB = 250, SE = 240, NOP = 241, WILL = 251, WONT = 252, DO = 253,
                       DONT = 254, COM_PORT = 44;

inline sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A socket bound to a free port on the loopback, and that port.
inline std::pair<int, int> boundSocket()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return {fd, ntohs(a.sin_port)};
}

// A port on the loopback that nobody listens on now.
inline int freePort()
{
    const auto [fd, port] = boundSocket();
    ::close(fd);
    return port;
}

class Rfc2217Server {
public:
    explicit Rfc2217Server(std::function<void(Rfc2217Server&)> script) : script_(std::move(script))
    {
        int port = 0;
        std::tie(listen_, port) = boundSocket();
        ::listen(listen_, 1);
        address_ = "rfc2217://127.0.0.1:" + std::to_string(port);
        thread_ = std::thread([this] {
            fd_ = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd_ >= 0)
                script_(*this);
        });
    }
    ~Rfc2217Server()
    {
        stopping_ = true;
        ::shutdown(listen_, SHUT_RDWR);
        if (const int fd = fd_; fd >= 0)
            ::shutdown(fd, SHUT_RDWR);  // ends a flood blocked in send
        thread_.join();
        Close();
        ::close(listen_);
    }

    const std::string& Address() const { return address_; }
    void Send(const Bytes& b) { ::send(fd_, b.data(), b.size(), MSG_NOSIGNAL); }
    // Sends the bytes over and over, without reading, until the client leaves or the
    // server is destroyed.
    void Flood(const Bytes& b)
    {
        Bytes many;
        while (many.size() < 16384)
            many.insert(many.end(), b.begin(), b.end());
        while (!stopping_ && ::send(fd_, many.data(), many.size(), MSG_NOSIGNAL) > 0) {
        }
    }
    void Close()
    {
        if (fd_ >= 0)
            ::close(fd_.exchange(-1));
    }
    // Reads until what came contains `bytes`, and drops what came up to their end; false
    // after 5 s or at the end of the connection.
    bool Expect(const Bytes& bytes)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (;;) {
            if (const auto at = std::search(got_.begin(), got_.end(), bytes.begin(), bytes.end());
                at != got_.end()) {
                got_.erase(got_.begin(), at + static_cast<std::ptrdiff_t>(bytes.size()));
                return true;
            }
            pollfd p{fd_, POLLIN, 0};
            if (stopping_ || std::chrono::steady_clock::now() > end || ::poll(&p, 1, 100) < 0)
                return false;
            std::uint8_t buf[256];
            if (p.revents) {
                const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
                if (n <= 0)
                    return false;
                got_.insert(got_.end(), buf, buf + n);
            }
        }
    }
    // Everything the client sends for this long, and what Expect left.
    Bytes Collect(std::chrono::milliseconds time)
    {
        const auto end = std::chrono::steady_clock::now() + time;
        for (std::uint8_t buf[256]; std::chrono::steady_clock::now() < end;) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 10) > 0) {
                const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                got_.insert(got_.end(), buf, buf + n);
            }
        }
        return std::exchange(got_, {});
    }
    // Holds the connection until the client leaves.
    void Hold() { Expect({0xEE, 0xEE, 0xEE}); }
    // ser2net's greeting and, once asked, answers to the client's four questions about the
    // line (8N1 at 115200); SET-CONTROL goes unanswered, as ser2net leaves it on a pseudo
    // terminal.
    void Greet()
    {
        Send({IAC, WILL, 3, IAC, DO, 0, IAC, WILL, 0, IAC, DO, COM_PORT});
        Expect({IAC, SB, COM_PORT, 4, 0, IAC, SE});
        Send({IAC, SB, COM_PORT, 101, 0, 1, 0xC2, 0, IAC, SE, IAC, SB, COM_PORT, 102, 8, IAC, SE,
              IAC, SB, COM_PORT, 103, 1, IAC, SE, IAC, SB, COM_PORT, 104, 1, IAC, SE});
    }
private:
    std::function<void(Rfc2217Server&)> script_;
    int listen_ = -1;
    std::atomic<int> fd_{-1};
    std::atomic<bool> stopping_{false};
    std::string address_;
    std::thread thread_;
    Bytes got_;
};

}  // namespace rfc2217test
