// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The poll loop of zub3ctl: holds the receiver's port, polls it one interval after each
// reply from the running event loop, and hands on what came back. With waiting on, a port
// that is absent at the start or goes away (an adapter knocked loose, a virtual receiver
// restarted) is waited for and opened again, and the run goes on.

#include "session/Port.h"
#include "session/Summary.h"
#include "core/Records.h"

#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class TCommX;

namespace platform {
class TerminationSignals;
}

namespace zub3::cli {

struct PollTarget {
    std::string port;                // as given: a COM name, a path or a network port
    std::optional<LineSpeed> speed;  // the only speed to try
    std::optional<Byte> id;          // with speed: nothing is read
};

struct PollSettings {
    int intervalMs = 10;
    std::optional<long long> maxFailures;
    bool wait = false;
};

class PollLoop {
public:
    struct Handlers {
        // An accepted reply, as a record timed from the first poll.
        std::function<void(const Record&, const PollExchange&)> accepted;
        // A poll without a reply; failures counts them all so far.
        std::function<void(long long failures)> unanswered;
        // The loop ended by itself (too many failures, the port gone without waiting):
        // the exit status and the line saying why.
        std::function<void(int status, const std::string& error)> ended;
        // Optional: runs before each poll while the port is open, for the owner's own use
        // of the line (a write); polling waits for it.
        std::function<void(TCommX& port, const PortChoice& choice)> betweenPolls;
        // Optional: every poll as sent and what came back, before the handlers above.
        std::function<void(const PollResult&)> polled = {};
    };

    PollLoop(PollTarget target, PollSettings settings, Handlers handlers);
    ~PollLoop();
    PollLoop(const PollLoop&) = delete;
    PollLoop& operator=(const PollLoop&) = delete;

    // Opens the port and finds the receiver, then polls once the event loop runs. Throws
    // Failure for what ends a run before its first poll, as "zub3ctl read" would; false
    // when a termination signal ended the search.
    bool Start();
    // No poll after this one; the port is closed when the loop is destroyed.
    void Stop();

    // The receiver's settings as now polled; none before it was first found.
    std::optional<ReceiverSettings> Receiver() const;
    // The receiver now answers at these (after a write): polls and a reopen use them.
    void Retarget(const ReceiverSettings& now);
    // The port is open (not absent and waited for).
    bool Attached() const { return port_ != nullptr; }

    const Summary& Figures() const { return summary_; }
    // The port's name as the lines about it use it ("COM51").
    const std::string& PortName() const { return choice_.name; }

private:
    bool attach();
    void poll();
    void failed(bool lineLost);
    void lose(const std::string& reason);
    void lookAgain();
    void end(int status, const std::string& error);

    const PollTarget target_;
    const PollSettings settings_;
    const Handlers handlers_;
    std::string lookFor_;  // what names the port when it comes back
    PortChoice choice_;
    std::unique_ptr<TCommX> port_;
    std::optional<Byte> id_;
    std::optional<LineSpeed> speed_;
    QTimer pollTimer_;
    QTimer waitTimer_;
    std::optional<std::chrono::steady_clock::time_point> first_;  // the first poll is time zero
    std::chrono::steady_clock::time_point gone_;
    Summary summary_;
    bool stopped_ = false;
};

// The event loop of a run on a poll loop (monitor, serve): it runs until a termination
// signal or the first End, which stops the polling.
class PollRun {
public:
    PollRun(PollLoop& loop, platform::TerminationSignals& stopSignals);

    void Exec();
    // Ends the run; a poll under way is completed first, as it runs in a nested loop.
    void End(int status, const std::string& error = {});
    // The status the run ended with; throws Failure with the line End was given.
    int Result() const;

private:
    PollLoop& loop_;
    platform::TerminationSignals& signals_;
    QEventLoop events_;
    bool ended_ = false;
    int status_ = 0;
    std::string error_;
};

}  // namespace zub3::cli
