// SPDX-License-Identifier: GPL-3.0-or-later
// The floor of the benchmark: the least a program can do to poll the receiver with the
// window's rule (the next poll one interval after the reply). Plain termios2, a blocking
// wait with poll(2), clock_nanosleep for the interval; nothing else.
//
//   bench_Floor DEVICE BIT-RATE INTERVAL-MS POLLS RECEIVER-PID
//   bench_Floor --frame     prints the poll (ID 0) in hexadecimal, for the other loops

#include "core/Protocol.h"
#include "BenchReport.h"
#include "platform/Termios2.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

constexpr int kWarmUpPolls = 5;
constexpr int kReplyTimeoutMs = 500;

// Reads exactly count bytes unless the line stays silent for the time-out.
bool readReply(int fd, zub3::Byte* buffer, int count)
{
    int done = 0;
    while (done < count) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kReplyTimeoutMs) <= 0)
            return false;
        const ssize_t n = ::read(fd, buffer + done, static_cast<std::size_t>(count - done));
        if (n <= 0)
            return false;
        done += static_cast<int>(n);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const zub3::PollFrame frame = zub3::BuildPollFrame(0);
    if (argc == 2 && std::string_view(argv[1]) == "--frame") {
        for (const zub3::Byte b : frame)
            std::printf("%02X", b);
        std::printf("\n");
        return 0;
    }
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s DEVICE BIT-RATE INTERVAL-MS POLLS RECEIVER-PID\n", argv[0]);
        return 2;
    }
    const int fd = ::open(argv[1], O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    platform::Termios2 t;
    platform::GetTermios2(fd, t);
    t.c_iflag = 0;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag = CS8 | PARENB | CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    platform::SetTermios2Rate(t, static_cast<std::uint32_t>(std::atoi(argv[2])));
    if (!platform::SetTermios2(fd, t)) {
        std::perror("termios2");
        return 1;
    }
    const long intervalNs = std::atol(argv[3]) * 1000000L;
    const int polls = std::atoi(argv[4]);
    const long receiverPid = std::atol(argv[5]);

    std::vector<bench::Clock::time_point> starts;
    bench::Mark first;
    int failures = 0;
    for (int i = 0; i < kWarmUpPolls + polls + 1; ++i) {
        if (i == kWarmUpPolls)
            first = bench::Mark::now(receiverPid);
        if (i >= kWarmUpPolls)
            starts.push_back(bench::Clock::now());
        std::array<zub3::Byte, zub3::kPollReplySize> reply{};
        if (::write(fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size()) ||
            !readReply(fd, reply.data(), zub3::kPollReplySize) ||
            !zub3::DecodePollReply(reply, frame))
            ++failures;
        const timespec pause{0, intervalNs};
        ::clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, nullptr);
    }
    const bench::Mark last = bench::Mark::now(receiverPid);
    ::close(fd);
    bench::report(starts, first, last, failures);
    return 0;
}
