#pragma once
// Test fixtures: a serial-port registry in a temporary directory, and a pseudo-terminal
// whose slave side a test registers as a port.

#include "platform/SerialRegistry.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <string>

// Points the registry at a fresh directory for its lifetime; the key itself (the runtime
// directory) exists only after CreateKey or a registration.
class TempRegistry {
public:
    TempRegistry()
    {
        static std::atomic<int> serial{0};
        root_ = std::filesystem::temp_directory_path() /
                ("zub3-test-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_ / "sys");
        platform::registry::SetLocation({root_ / "run", root_ / "sys", "/dev"});
    }
    ~TempRegistry()
    {
        platform::registry::SetLocation(platform::registry::DefaultLocation());
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    TempRegistry(const TempRegistry&) = delete;
    TempRegistry& operator=(const TempRegistry&) = delete;

    void CreateKey() const { std::filesystem::create_directories(root_ / "run"); }
    const std::filesystem::path& Root() const { return root_; }

private:
    std::filesystem::path root_;
};

// A pseudo-terminal: the test plays the far end on the master.
class Pty {
public:
    Pty()
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            throw std::runtime_error("no pseudo-terminal");
        slavePath_ = ::ptsname(master_);
    }
    ~Pty() { ::close(master_); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    int Master() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }

private:
    int master_ = -1;
    std::string slavePath_;
};
