// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Runs a program of the project as a separate process, as a user or a script would: its
// standard input, output and error on pipes, extra environment variables, its exit status.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

class Program {
public:
    // env: "NAME=value" entries added to (or replacing those of) this process's environment.
    Program(const std::string& path, const std::vector<std::string>& args,
            const std::vector<std::string>& env = {})
    {
        int in[2], out[2], err[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
            ::pipe2(err, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        std::vector<std::string> all{path};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> environment;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            bool replaced = false;
            for (const auto& x : env)
                replaced |= entry.substr(0, entry.find('=') + 1) == x.substr(0, x.find('=') + 1);
            if (!replaced)
                environment.push_back(entry);
        }
        environment.insert(environment.end(), env.begin(), env.end());
        std::vector<char*> envp;
        for (auto& e : environment)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        if (::posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        in_ = in[1];
        out_ = out[0];
        err_ = err[0];
    }
    ~Program()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        for (int fd : {in_, out_, err_})
            if (fd >= 0)
                ::close(fd);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    pid_t Pid() const { return pid_; }

    // The next line of standard output or error with its newline; "" at the end or when
    // none came in time.
    std::string OutputLine(std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        return readUntil(out_, outBuffer_, "\n", timeout);
    }
    std::string ErrorLine(std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        return readUntil(err_, errBuffer_, "\n", timeout);
    }
    // Standard output up to the line that holds pattern, that line included.
    std::string OutputUntil(const std::string& pattern,
                            std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        return readUntil(out_, outBuffer_, pattern, timeout, true);
    }

    void Input(const std::string& text)
    {
        [[maybe_unused]] const auto n = ::write(in_, text.data(), text.size());
    }
    // The reader of the program's output goes away, as "| head" does.
    void CloseOutput()
    {
        ::close(out_);
        out_ = -1;
    }
    void Signal(int sig) const { ::kill(pid_, sig); }

    // Waits for the end and collects the rest of both outputs: the exit status, -1 when a
    // signal ended it, -2 when it did not end in time (it is then killed).
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(20))
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        bool outOpen = out_ >= 0, errOpen = true;
        while (outOpen || errOpen) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd fds[2] = {{outOpen ? out_ : -1, POLLIN, 0}, {errOpen ? err_ : -1, POLLIN, 0}};
            if (::poll(fds, 2, static_cast<int>(left.count())) <= 0)
                break;
            outOpen = outOpen && drain(fds[0], outBuffer_);
            errOpen = errOpen && drain(fds[1], errBuffer_);
        }
        int status = 0;
        if (outOpen || errOpen) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            pid_ = 0;
            return -2;
        }
        ::waitpid(pid_, &status, 0);
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // What Wait collected (and what the line readers have not taken).
    const std::string& Output() const { return outBuffer_; }
    const std::string& Errors() const { return errBuffer_; }

private:
    static bool drain(const pollfd& p, std::string& buffer)
    {
        if (p.revents == 0)
            return true;
        char buf[4096];
        const ssize_t n = ::read(p.fd, buf, sizeof buf);
        if (n <= 0)
            return false;
        buffer.append(buf, static_cast<std::size_t>(n));
        return true;
    }

    static std::string readUntil(int fd, std::string& buffer, const std::string& pattern,
                                 std::chrono::milliseconds timeout, bool wholeLine = false)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        auto found = [&] {
            const auto at = buffer.find(pattern);
            if (at == std::string::npos)
                return std::string::npos;
            if (!wholeLine)
                return at + pattern.size();
            const auto nl = buffer.find('\n', at);
            return nl == std::string::npos ? std::string::npos : nl + 1;
        };
        while (found() == std::string::npos && fd >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{fd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                break;
            if (!drain(p, buffer))
                break;
        }
        const auto end = found();
        if (end == std::string::npos)
            return {};
        std::string out = buffer.substr(0, end);
        buffer.erase(0, end);
        return out;
    }

    pid_t pid_ = 0;
    int in_ = -1, out_ = -1, err_ = -1;
    std::string outBuffer_, errBuffer_;
};
