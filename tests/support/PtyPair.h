// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A pseudo terminal for serial tests: the slave is the port under test, registered as a COM
// port in a temporary serial-port registry; the test plays the far side on the master.

#include "platform/SerialRegistry.h"
#include "platform/Termios2.h"
#include "support/TempRegistry.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class PtyPair {
public:
    PtyPair()
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        char name[64] = {};
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
            ::ptsname_r(master_, name, sizeof name) != 0)
            throw std::runtime_error("no pseudo terminal");
        slavePath_ = name;
    }
    ~PtyPair() { CloseMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    int Master() const { return master_; }

    // The far side goes away, as an unplugged adapter does.
    void CloseMaster()
    {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

    void Write(const std::vector<std::uint8_t>& bytes) const
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else
                wait(POLLOUT, 10);
        }
    }

    // Everything there now.
    std::vector<std::uint8_t> ReadAvailable() const
    {
        std::vector<std::uint8_t> out;
        std::uint8_t buffer[4096];
        ssize_t n;
        while ((n = ::read(master_, buffer, sizeof buffer)) > 0)
            out.insert(out.end(), buffer, buffer + n);
        return out;
    }

    // Until count bytes came or the time is up.
    std::vector<std::uint8_t> Read(std::size_t count, std::chrono::milliseconds limit) const
    {
        std::vector<std::uint8_t> out;
        const auto end = std::chrono::steady_clock::now() + limit;
        while (out.size() < count && std::chrono::steady_clock::now() < end) {
            const auto more = ReadAvailable();
            out.insert(out.end(), more.begin(), more.end());
            if (out.size() < count)
                wait(POLLIN, 10);
        }
        return out;
    }

    // Reads until the line has been quiet for the given time.
    std::vector<std::uint8_t> Drain(std::chrono::milliseconds quiet) const
    {
        std::vector<std::uint8_t> out;
        for (;;) {
            const auto more = ReadAvailable();
            out.insert(out.end(), more.begin(), more.end());
            if (more.empty() && !wait(POLLIN, static_cast<int>(quiet.count())))
                return out;
        }
    }

    // The rate the port set, as the far side sees it.
    std::uint32_t Rate() const
    {
        platform::Termios2 t;
        return platform::GetTermios2(master_, t) ? t.c_ospeed : 0;
    }

private:
    bool wait(short events, int ms) const
    {
        pollfd p{master_, events, 0};
        return ::poll(&p, 1, ms) > 0;
    }

    int master_ = -1;
    std::string slavePath_;
};

// A temporary serial-port registry with one pseudo terminal registered in it.
class RegisteredPty {
public:
    RegisteredPty()
        : registration_(std::make_unique<platform::registry::Registration>(0, pty_.SlavePath(), "pty"))
    {
    }

    PtyPair& Pty() { return pty_; }
    int PortNumber() const { return registration_->PortNumber(); }
    std::string DeviceName() const { return "\\\\.\\COM" + std::to_string(PortNumber()); }
    std::filesystem::path LockDir() const { return registry_.LockDir(); }

private:
    TempRegistry registry_;
    PtyPair pty_;
    std::unique_ptr<platform::registry::Registration> registration_;
};
