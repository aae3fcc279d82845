// SPDX-License-Identifier: GPL-3.0-or-later
// The window in the benchmark: the real main window, on whatever Qt platform the
// environment names, polls a receiver that runs as its own process (bench/bench.py
// starts zub3sim), and reports as every poll loop of the benchmark does.
//
//   bench_PollCycle PORT BIT-RATE INTERVAL-MS POLLS RECEIVER-PID [chart|record]
//   bench_PollCycle PORT BIT-RATE idle SECONDS RECEIVER-PID
//
// The second form opens the port and leaves monitoring off: what the open port costs.
// "chart" polls with the chart and the sticks panel open beside the window, "record" while
// recording.
//
// The window is not changed for this: a filter on the poll timer stamps each tick as it is
// delivered (the poll starts there), and a slot connected after the window's own stamps the
// end of the poll, which splits the period into the exchange and the timer's wait.

#include "app/ChartWindow.h"
#include "app/StickView.h"
#include "app/WindowExtras.h"
#include "app/ZUB3Check.h"

#include "BenchReport.h"
#include "serial/CommX.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Shape.h"
#include "toolkit/Timer.h"
#include "widgets/ComComboBox.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QComboBox>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <QSocketNotifier>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using bench::Clock;

constexpr int kWarmUpPolls = 5;  // the first polls settle caches and the pty; not counted

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Stamps each tick of the poll timer as the event loop delivers it, before the window's
// handler runs.
class TickStamps : public QObject {
public:
    // The timer's tick reaches it as its descriptor's notice, before the window's handler.
    explicit TickStamps(TTimer* timer)
        : timer_(timer), notifier_(timer->findChild<QSocketNotifier*>())
    {
        notifier_->installEventFilter(this);
    }
    std::vector<Clock::time_point> starts;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // A stopped timer's descriptor may still fire once; that starts no poll.
        if (watched == notifier_ && event->type() == QEvent::SockAct && timer_->isActive())
            starts.push_back(Clock::now());
        return false;
    }

private:
    TTimer* timer_;
    QSocketNotifier* notifier_;
};

void choose(QComboBox* box, const QString& text)
{
    const int index = box->findText(text);
    box->setCurrentIndex(index);
    emit box->activated(index);
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    SetApplicationTitle("ZUB-3 Manager");
    const std::string mode = argc == 7 ? argv[6] : "";
    if ((argc != 6 && argc != 7) || (argc == 7 && mode != "chart" && mode != "record")) {
        std::fprintf(stderr,
                     "usage: %s PORT BIT-RATE INTERVAL-MS POLLS RECEIVER-PID [chart|record]\n"
                     "       %s PORT BIT-RATE idle SECONDS RECEIVER-PID\n",
                     argv[0], argv[0]);
        return 2;
    }
    const QString port = QString::fromLocal8Bit(argv[1]);
    const QString bitRate = QString::fromLocal8Bit(argv[2]);
    const bool idle = std::string(argv[3]) == "idle";
    const int count = std::atoi(argv[4]);
    const long receiverPid = std::atol(argv[5]);

    std::vector<MessageRecord> messages;
    SetMessageBoxHook([&](const MessageRecord& m) {
        messages.push_back(m);
        std::fprintf(stderr, "message box: %s\n", m.text.toLocal8Bit().constData());
    });

    auto form = std::make_unique<TMainForm>();
    // As the program runs it: the chart and the recording are there, used or not.
    auto* extras = new WindowExtras(*form);
    form->show();
    QTemporaryDir recordings;
    if (mode == "chart") {
        // With the sticks panel and its counters beside it.
        extras->Chart().move(form->frameGeometry().topRight());
        extras->Chart().show();
        extras->Sticks().move(form->frameGeometry().bottomLeft());
        extras->Sticks().show();
    } else if (mode == "record") {
        extras->StartRecording(recordings.filePath("session.csv"));
    }
    form->cbxPort->RefreshPortList();
    const int portIndex = form->cbxPort->findText(port);
    if (portIndex < 0) {
        std::fprintf(stderr, "the port %s is not listed\n", argv[1]);
        return 1;
    }
    form->cbxPort->setCurrentIndex(portIndex);
    emit form->cbxPort->activated(portIndex);
    choose(form->cbxBaudRate, bitRate);
    if (!idle)
        choose(form->cbxInterval, QString::fromLocal8Bit(argv[3]));
    if (form->ComPort->Handle() == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "the port %s did not open\n", argv[1]);
        return 1;
    }

    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);

    if (idle) {
        QTest::qWait(500);  // the window settles after opening the port
        const bench::Mark first = bench::Mark::now(receiverPid);
        limit.start(std::chrono::seconds(count));
        loop.exec();
        bench::report({}, first, bench::Mark::now(receiverPid), static_cast<int>(messages.size()));
        return 0;
    }

    TickStamps ticks(form->Timer);
    std::vector<Clock::time_point> ends;
    const std::size_t wanted = static_cast<std::size_t>(kWarmUpPolls + count + 1);
    std::optional<bench::Mark> first;
    // Connected after the window's own handler, so it runs when the poll has ended.
    QObject::connect(form->Timer, &TTimer::timeout, &loop, [&] {
        ends.push_back(Clock::now());
        if (ends.size() == kWarmUpPolls)
            first = bench::Mark::now(receiverPid);
        if (ends.size() >= wanted || !messages.empty())
            loop.quit();
    });
    QTest::mousePress(form->shpPower, Qt::LeftButton);
    limit.start(std::chrono::milliseconds((std::atoi(argv[3]) + 600) * static_cast<int>(wanted)));
    loop.exec();
    const bench::Mark last = bench::Mark::now(receiverPid);
    const int failures = form->RecvErrorCount + static_cast<int>(messages.size());
    if (form->Monitoring)
        QTest::mousePress(form->shpPower, Qt::LeftButton);
    form->close();

    if (!first || ends.size() < wanted || ticks.starts.size() != ends.size()) {
        std::fprintf(stderr, "only %zu of %zu polls ended in time\n", ends.size(), wanted);
        return 1;
    }
    // Poll starts from the end of the last warm-up poll on; each poll's exchange (tick to
    // end) and the wait after it (end to the next tick).
    const std::vector<Clock::time_point> starts(ticks.starts.begin() + kWarmUpPolls,
                                                ticks.starts.end());
    std::vector<double> exchanges, waits;
    for (std::size_t i = kWarmUpPolls; i + 1 < ends.size(); ++i) {
        exchanges.push_back(ms(ends[i] - ticks.starts[i]));
        waits.push_back(ms(ticks.starts[i + 1] - ends[i]));
    }
    char extra[128];
    std::snprintf(extra, sizeof extra, "\"exchange_ms\": %.3f, \"wait_ms\": %.3f",
                  median(exchanges), median(waits));
    bench::report(starts, *first, last, failures, extra);
    return 0;
}
