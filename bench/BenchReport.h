// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What each poll loop of the benchmark reports to bench/bench.py: the start of every
// measured poll and what the loop and the receiver's process cost meanwhile, as one JSON
// line on standard output.

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

// CPU time of every thread of a process, in seconds, from the scheduler's own account.
inline double processCpuSeconds(long pid)
{
    double total = 0;
    std::error_code ec;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks, ec)) {
        std::ifstream in(task.path() / "schedstat");
        double ns = 0;
        if (in >> ns)
            total += ns / 1e9;
    }
    return total;
}

inline long contextSwitches()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_nvcsw + u.ru_nivcsw;
}

// The costs at one moment; two of them bound the measured stretch.
struct Mark {
    Clock::time_point wall = Clock::now();
    double cpu = 0;
    double receiverCpu = 0;
    long switches = 0;

    static Mark now(long receiverPid)
    {
        Mark m;
        m.cpu = processCpuSeconds(::getpid());
        m.receiverCpu = processCpuSeconds(receiverPid);
        m.switches = contextSwitches();
        return m;
    }
};

// Extra figures go in as "name": value pairs, already formatted.
inline void report(const std::vector<Clock::time_point>& starts, const Mark& first,
                   const Mark& last, int failures, const std::string& extra = {})
{
    std::string line = "{\"starts\": [";
    for (std::size_t i = 0; i < starts.size(); ++i) {
        if (i)
            line += ", ";
        line += std::to_string(std::chrono::duration<double>(starts[i].time_since_epoch()).count());
    }
    const double wall = std::chrono::duration<double>(last.wall - first.wall).count();
    char tail[256];
    std::snprintf(tail, sizeof tail,
                  "], \"wall\": %.6f, \"cpu\": %.6f, \"receiver_cpu\": %.6f, \"switches\": %ld, "
                  "\"failures\": %d",
                  wall, last.cpu - first.cpu, last.receiverCpu - first.receiverCpu,
                  last.switches - first.switches, failures);
    line += tail;
    if (!extra.empty())
        line += ", " + extra;
    line += "}\n";
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace bench
