// SPDX-License-Identifier: GPL-3.0-or-later
// The memory the chart and the sticks panel hold for a long session: two hours of polls
// at 5 ms (with one poll in fifty failed) go in as fast as they can, both windows open, and
// the process's resident size is printed after each half hour. Past the first hour the
// chart keeps only its newest hour, so the figure must stop growing there. Then, with the
// hour kept, the time one refresh takes at each span.
#include "app/ChartWindow.h"
#include "app/StickView.h"
#include "app/ZUB3Check.h"

#include <QApplication>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

long residentKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ChartWindow chart;
    StickView sticks;
    chart.show();
    sticks.show();
    QCoreApplication::processEvents();
    using namespace std::chrono_literals;
    constexpr auto kEvery = 5ms;
    constexpr int kPerHalfHour = 30 * 60 * 1000 / 5;
    const auto start = std::chrono::steady_clock::now();
    std::printf("| polls kept in memory | session (min) | RSS (MiB) |\n|---:|---:|---:|\n");
    std::printf("| 0 | 0 | %.1f |\n", residentKiB() / 1024.0);
    for (int half = 1, i = 0; half <= 4; ++half) {
        for (; i < half * kPerHalfHour; ++i) {
            zub3::PollResult p{start + i * kEvery, 1'700'000'000'000 + i * 5, std::nullopt,
                         zub3::PollFault::Checksum};
            if (i % 50) {
                const auto v = static_cast<zub3::Byte>(64 + 60 * ((i / 200) % 3 - 1));
                p.data = zub3::PollData{static_cast<std::uint16_t>(i % 400 < 20 ? 0x0001 : 0),
                                        {v, static_cast<zub3::Byte>(127 - v), 64, 64}};
                p.fault = zub3::PollFault::None;
            }
            chart.Add(p);
            sticks.Add(p);
            if (i % 20000 == 0)
                QCoreApplication::processEvents();
        }
        chart.Refresh();
        sticks.Refresh();
        QCoreApplication::processEvents();
        std::printf("| %zu | %d | %.1f |\n", chart.Samples().size(), half * 30,
                    residentKiB() / 1024.0);
        std::fflush(stdout);
    }
    std::printf("\n| span (s) | one refresh (ms) |\n|---:|---:|\n");
    for (const int span : {10, 60, 600, 3600}) {
        chart.SetSpan(std::chrono::seconds(span));
        constexpr int kRounds = 5;
        const auto before = std::chrono::steady_clock::now();
        for (int r = 0; r < kRounds; ++r) {
            chart.Refresh();
            chart.repaint();
        }
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - before;
        std::printf("| %d | %.1f |\n", span, took.count() / kRounds);
    }
    return 0;
}
