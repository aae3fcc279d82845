// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A serial-port registry in a temporary directory, for tests.

#include "platform/PortAccess.h"
#include "platform/SerialRegistry.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

// Points the registry at a fresh directory for its lifetime; the key itself (the runtime
// directory) exists only after CreateKey or a registration. Device lock files go to a
// directory of its own too, as the machine's lock directory is shared.
class TempRegistry {
public:
    TempRegistry()
    {
        static std::atomic<int> serial{0};
        root_ = std::filesystem::temp_directory_path() /
                ("zub3-test-" + std::to_string(::getpid()) + "-" + std::to_string(serial++));
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_ / "sys");
        std::filesystem::create_directories(root_ / "lock");
        platform::registry::SetLocation({root_ / "run", root_ / "sys", "/dev", {}});
        platform::ports::SetRoots({root_ / "lock", "/proc"});
    }
    ~TempRegistry()
    {
        platform::registry::SetLocation(platform::registry::DefaultLocation());
        platform::ports::SetRoots({});
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    TempRegistry(const TempRegistry&) = delete;
    TempRegistry& operator=(const TempRegistry&) = delete;

    void CreateKey() const { std::filesystem::create_directories(root_ / "run"); }
    const std::filesystem::path& Root() const { return root_; }
    std::filesystem::path LockDir() const { return root_ / "lock"; }

private:
    std::filesystem::path root_;
};
