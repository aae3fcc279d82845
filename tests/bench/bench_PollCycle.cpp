// Figures for the poll cycle: the real window polls the virtual receiver on a pseudo-terminal
// at each line speed and interval, and the program prints how long the period between the
// starts of successive polls is beside the ideal (the interval plus the line time of the
// request and its reply), and what the process costs in CPU meanwhile.
//
//   bench_PollCycle [polls per run, default 500]
//
// The window is not changed for this: a filter on the poll timer stamps each tick as it is
// delivered (the poll starts there), and a slot connected after the window's own stamps the
// end of the poll. A second table splits the period into the exchange and the timer's wait
// and the CPU into the main thread, the receiver's thread and the rest (the serial threads).

#include "app/ZUB3Check.h"

#include "serial/CommX.h"
#include "sim/VirtualReceiver.h"
#include "support/TempRegistry.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Shape.h"
#include "widgets/ComComboBox.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <QTimerEvent>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using zub3::sim::VirtualReceiver;

constexpr int kWarmUpPolls = 5;  // the first polls settle caches and the pty; not counted
constexpr double kBitsPerByte = 11;
constexpr double kLineBytes = 26;  // the 4-byte poll and its 22-byte reply

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Nearest rank, on a sorted copy.
double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const auto rank = static_cast<std::size_t>(p / 100.0 * static_cast<double>(v.size()) + 0.999999);
    return v[std::clamp<std::size_t>(rank, 1, v.size()) - 1];
}

double cpuSeconds(int who)
{
    rusage u{};
    ::getrusage(who, &u);
    auto sec = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return sec(u.ru_utime) + sec(u.ru_stime);
}

// Every thread of the process going to sleep or being put aside: the cost of the hand-offs
// between the threads of a poll.
long contextSwitches()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_nvcsw + u.ru_nivcsw;
}

std::set<long> threadIds()
{
    std::set<long> ids;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/task"))
        ids.insert(std::stol(e.path().filename().string()));
    return ids;
}

// CPU time of one thread of this process, in seconds, from the scheduler's own account.
double threadCpuSeconds(long tid)
{
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/schedstat");
    double ns = 0;
    in >> ns;
    return ns / 1e9;
}

// Stamps each tick of the poll timer as the event loop delivers it, before the window's
// handler runs.
class TickStamps : public QObject {
public:
    explicit TickStamps(QTimer* timer) : timer_(timer) { timer_->installEventFilter(this); }
    std::vector<Clock::time_point> starts;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == timer_ && event->type() == QEvent::Timer &&
            static_cast<QTimerEvent*>(event)->timerId() == timer_->timerId())
            starts.push_back(Clock::now());
        return false;
    }

private:
    QTimer* timer_;
};

struct Result {
    int bitRate = 0;
    int interval = 0;
    int polls = 0;
    double median = 0, p95 = 0, ideal = 0;
    double exchange = 0;  // median time from the tick to the end of the poll
    double wait = 0;      // median time from the end of a poll to the next tick
    double cpu = 0, cpuMain = 0, cpuReceiver = 0;  // shares of one core
    double switches = 0;  // context switches per poll, whole process
    std::string problem;
};

Result run(int bitRate, int interval, int polls, int portNumber)
{
    Result r;
    r.bitRate = bitRate;
    r.interval = interval;
    r.ideal = interval + kLineBytes * kBitsPerByte * 1000.0 / bitRate;

    std::vector<MessageRecord> messages;
    const MessageBoxHook previous =
        SetMessageBoxHook([&](const MessageRecord& m) { messages.push_back(m); });

    const std::set<long> before = threadIds();
    VirtualReceiver::Config config;
    config.id = 0;
    config.bitRate = bitRate;
    VirtualReceiver receiver(config);
    long receiverTid = 0;
    for (long tid : threadIds())
        if (!before.contains(tid))
            receiverTid = tid;

    const std::string port = "COM" + std::to_string(portNumber);
    platform::registry::WriteEntry("bench" + std::to_string(portNumber),
                                   platform::registry::ValueType::String, port,
                                   receiver.SlavePath());
    auto form = std::make_unique<TMainForm>();
    form->show();
    form->cbxPort->RefreshPortList();
    const int portIndex = form->cbxPort->findText(QString::fromStdString(port));
    if (portIndex < 0) {
        r.problem = "the port " + port + " is not listed";
        SetMessageBoxHook(previous);
        return r;
    }
    form->cbxPort->setCurrentIndex(portIndex);
    emit form->cbxPort->activated(portIndex);

    auto choose = [](QComboBox* box, int value) {
        const int index = box->findText(QString::number(value));
        box->setCurrentIndex(index);
        emit box->activated(index);
    };
    choose(form->cbxBaudRate, bitRate);
    choose(form->cbxInterval, interval);

    TickStamps ticks(form->Timer);
    std::vector<Clock::time_point> ends;
    const std::size_t wanted = static_cast<std::size_t>(kWarmUpPolls + polls + 1);
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    // Connected after the window's own handler, so it runs when the poll has ended.
    QObject::connect(form->Timer, &QTimer::timeout, &loop, [&] {
        ends.push_back(Clock::now());
        if (ends.size() >= wanted || !messages.empty())
            loop.quit();
    });

    struct Mark {
        Clock::time_point wall;
        double cpu, cpuMain, cpuReceiver;
        long switches;
        std::uint64_t polls;
    };
    auto mark = [&] {
        return Mark{Clock::now(), cpuSeconds(RUSAGE_SELF), cpuSeconds(RUSAGE_THREAD),
                    threadCpuSeconds(receiverTid), contextSwitches(),
                    receiver.GetCounters().polls};
    };
    std::optional<Mark> first;
    // The measured stretch starts at the end of the last warm-up poll.
    QObject::connect(form->Timer, &QTimer::timeout, &loop, [&] {
        if (!first && ends.size() == kWarmUpPolls)
            first = mark();
    });

    QTest::mousePress(form->shpPower, Qt::LeftButton);
    limit.start(std::chrono::milliseconds((interval + 600) * static_cast<int>(wanted) + 5000));
    loop.exec();
    const Mark last = mark();
    const std::size_t tickCount = ticks.starts.size();
    const int failures = form->RecvErrorCount;
    if (form->Monitoring)
        QTest::mousePress(form->shpPower, Qt::LeftButton);
    form->close();
    form.reset();
    SetMessageBoxHook(previous);

    if (!messages.empty()) {
        r.problem = "message box: " + messages.front().text.toStdString();
        return r;
    }
    if (ends.size() < wanted || !first) {
        r.problem = "only " + std::to_string(ends.size()) + " polls ended in time";
        return r;
    }
    if (tickCount != ends.size())
        r.problem = std::to_string(tickCount) + " ticks but " + std::to_string(ends.size()) +
                    " poll ends: the stamps do not pair up";
    else if (failures != 0)
        r.problem = std::to_string(failures) + " polls failed";
    // From the end of the last warm-up poll to the end of the run: polls + 1 polls.
    else if (last.polls - first->polls != static_cast<std::uint64_t>(polls) + 1)
        r.problem = "the receiver answered " + std::to_string(last.polls - first->polls) +
                    " polls, not " + std::to_string(polls + 1);

    // Starts of polls kWarmUpPolls .. wanted-1 give `polls` periods.
    std::vector<double> periods, exchanges, waits;
    for (std::size_t i = kWarmUpPolls; i + 1 < wanted && i + 1 < tickCount; ++i) {
        periods.push_back(ms(ticks.starts[i + 1] - ticks.starts[i]));
        exchanges.push_back(ms(ends[i] - ticks.starts[i]));
        waits.push_back(ms(ticks.starts[i + 1] - ends[i]));
    }
    r.polls = static_cast<int>(periods.size());
    r.median = percentile(periods, 50);
    r.p95 = percentile(periods, 95);
    r.exchange = percentile(exchanges, 50);
    r.wait = percentile(waits, 50);
    const double wall = std::chrono::duration<double>(last.wall - first->wall).count();
    r.cpu = (last.cpu - first->cpu) / wall;
    r.cpuMain = (last.cpuMain - first->cpuMain) / wall;
    r.cpuReceiver = (last.cpuReceiver - first->cpuReceiver) / wall;
    r.switches = static_cast<double>(last.switches - first->switches) / (polls + 1);
    return r;
}

}  // namespace

int main(int argc, char** argv)
{
    // The window need not be seen; a run without a display works as well.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SetApplicationTitle("ZUB-3 Manager");

    int polls = 500;
    if (argc > 1) {
        polls = std::atoi(argv[1]);
        if (polls < 1) {
            std::fprintf(stderr, "usage: %s [polls per run, at least 1]\n", argv[0]);
            return 2;
        }
    }

    const TempRegistry registry;
    std::vector<Result> results;
    int portNumber = platform::registry::kFirstVirtualPort;
    for (int bitRate : {1250000, 115200})
        for (int interval : {5, 10, 20}) {
            std::fprintf(stderr, "%d bit/s, %d ms ...\n", bitRate, interval);
            results.push_back(run(bitRate, interval, polls, portNumber++));
        }

    std::printf("| line speed (bit/s) | interval (ms) | polls | median period (ms) | "
                "95th percentile (ms) | ideal (ms) | median - ideal (ms) | CPU (one core) |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Result& r : results)
        std::printf("| %d | %d | %d | %.2f | %.2f | %.2f | %+.2f | %.1f %% |\n", r.bitRate,
                    r.interval, r.polls, r.median, r.p95, r.ideal, r.median - r.ideal,
                    100 * r.cpu);

    std::printf("\n| line speed (bit/s) | interval (ms) | exchange, median (ms) | "
                "wait - interval, median (ms) | CPU main thread | CPU receiver | CPU rest | "
                "context switches per poll |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Result& r : results)
        std::printf("| %d | %d | %.2f | %+.2f | %.1f %% | %.1f %% | %.1f %% | %.0f |\n",
                    r.bitRate, r.interval, r.exchange, r.wait - r.interval, 100 * r.cpuMain,
                    100 * r.cpuReceiver, 100 * (r.cpu - r.cpuMain - r.cpuReceiver), r.switches);

    bool ok = true;
    for (const Result& r : results)
        if (!r.problem.empty()) {
            std::printf("\n%d bit/s, %d ms: %s\n", r.bitRate, r.interval, r.problem.c_str());
            ok = false;
        }
    return ok ? 0 : 1;
}
