// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Other programs for the port tests: a child that holds a device open as a separate program
// would, and a child that runs a check as a user whom permissions stop.

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

// Collects a child and says how it ended: "exit 0", "signal 9". A test compares it with the
// ending it expects, so that a child that failed (a leak report under AddressSanitizer, a
// crash) fails the test too.
inline std::string Ending(pid_t pid)
{
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid)
        return "not a child";
    if (WIFEXITED(status))
        return "exit " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

// A child running `sleep` with the device open (read-write, not close-on-exec) until it
// is killed; the device's holder is then a program named "sleep".
class DeviceHolder {
public:
    explicit DeviceHolder(const std::string& devicePath)
    {
        int ready[2];
        if (::pipe2(ready, O_CLOEXEC) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            if (fd < 0)
                ::_exit(1);
            // The write end closes at exec: the parent knows the program is running.
            ::execlp("sleep", "sleep", "60", static_cast<char*>(nullptr));
            ::_exit(1);
        }
        ::close(ready[1]);
        char c;
        [[maybe_unused]] const auto n = ::read(ready[0], &c, 1);
        ::close(ready[0]);
    }
    ~DeviceHolder() { Kill(); }
    DeviceHolder(const DeviceHolder&) = delete;
    DeviceHolder& operator=(const DeviceHolder&) = delete;

    pid_t Pid() const { return pid_; }
    void Kill()
    {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGKILL);
        // Anything else means the child never ran sleep with the device open.
        EXPECT_EQ(Ending(pid_), "signal 9") << "the holder of a device";
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

// Runs body in a child process that is not root, whom no permission stops: root's child
// drops to the user nobody, anyone else's stays that user. The child's exit code is body's
// result (0 to 254), or -1 when the child could not drop to nobody (or was killed, which
// fails the test).
inline int RunAsNonRoot(const std::function<int()>& body)
{
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() == 0 && !nobody)
        return -1;
    const uid_t uid = nobody ? nobody->pw_uid : 0;
    const gid_t gid = nobody ? nobody->pw_gid : 0;
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
            ::_exit(255);
        ::_exit(body() & 0xFF);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_FALSE(WIFSIGNALED(status)) << "a check run as nobody ended by signal " << WTERMSIG(status);
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 255)
        return -1;
    return WEXITSTATUS(status);
}

// Gives a device node to a group that is not root's (dialout, or this user's own group when
// not root) with read and write for that group only, as serial devices are; the name of the
// group, or "" when that cannot be done.
inline std::string GiveToGroup(const std::string& devicePath)
{
    const group* dialout = ::getgrnam("dialout");
    const gid_t gid = ::geteuid() != 0 ? ::getgid() : dialout ? dialout->gr_gid : 0;
    const group* g = ::getgrgid(gid);
    if (gid == 0 || !g || ::chown(devicePath.c_str(), static_cast<uid_t>(-1), gid) != 0 ||
        ::chmod(devicePath.c_str(), 0060) != 0)
        return {};
    return g->gr_name;
}
