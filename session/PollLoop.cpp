// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/PollLoop.h"

#include "session/Output.h"
#include "platform/PortAccess.h"
#include "platform/SerialRegistry.h"
#include "platform/TerminationSignals.h"
#include "serial/CommX.h"

#include <QSocketNotifier>

#include <utility>

namespace zub3::cli {
namespace {

// How often an absent port is looked for: a stat and a read of the registry, so cheap,
// and soon enough after an adapter is plugged in again.
constexpr int kLookMs = 200;
// After a port that is back has refused the open (its permissions not yet set by udev, a
// lock not yet freed), the next try.
constexpr int kRetryOpenMs = 1000;

std::string seconds(std::chrono::steady_clock::duration d)
{
    return Decimal(std::chrono::duration<double>(d).count(), 1) + " s";
}

}  // namespace

PollLoop::PollLoop(PollTarget target, PollSettings settings, Handlers handlers)
    : target_(std::move(target)), settings_(settings), handlers_(std::move(handlers)),
      lookFor_(target_.port)
{
    pollTimer_.setSingleShot(true);
    pollTimer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&pollTimer_, &QTimer::timeout, [this] { poll(); });
    waitTimer_.setSingleShot(true);
    QObject::connect(&waitTimer_, &QTimer::timeout, [this] { lookAgain(); });
}

PollLoop::~PollLoop() = default;

bool PollLoop::Start()
{
    try {
        if (!attach())
            return false;
    } catch (const Failure& f) {
        const bool absent = !PortPresent(target_.port) ||
                            platform::registry::IsNetworkAddress(target_.port);
        if (!settings_.wait || f.Status() != kExitCannotOpen || !absent)
            throw;
        Note("zub3ctl: " + std::string(f.what()) + "; waiting for " + target_.port + "\n");
        waitTimer_.start(kLookMs);
        return true;
    }
    pollTimer_.start(0);
    return true;
}

void PollLoop::Stop()
{
    stopped_ = true;
    pollTimer_.stop();
    waitTimer_.stop();
}

std::optional<ReceiverSettings> PollLoop::Receiver() const
{
    if (!id_ || !speed_)
        return std::nullopt;
    return ReceiverSettings{*id_, *speed_};
}

void PollLoop::Retarget(const ReceiverSettings& now)
{
    id_ = now.id;
    speed_ = now.speed;
}

// Opens what lookFor_ names and makes sure of the receiver: its ID and speed once found
// are kept, so that a port that comes back is polled at once.
bool PollLoop::attach()
{
    PortChoice choice = ChoosePort(lookFor_);
    auto port = OpenPort(choice);
    if (speed_) {
        RequireSpeed(*port, choice, *speed_);
    } else {
        const auto speeds = SpeedsToTry(*port, choice, target_.speed);
        std::optional<ReceiverSettings> found;
        if (target_.id)
            found = ReceiverSettings{*target_.id, speeds.front()};
        else
            found = ReadOrFail(*port, choice, speeds, &platform::TerminationSignals::Caught);
        if (!found)
            return false;
        id_ = found->id;
        speed_ = found->speed;
    }
    // A USB adapter may come back under another ttyUSB number: its by-id name stays.
    if (const std::string byId = platform::ports::DescribePort(choice.device).byId; !byId.empty())
        lookFor_ = byId;
    choice_ = std::move(choice);
    port_ = std::move(port);
    return true;
}

void PollLoop::poll()
{
    if (stopped_ || !port_)
        return;
    if (handlers_.betweenPolls) {
        handlers_.betweenPolls(*port_, choice_);
        if (stopped_ || !port_)
            return;
    }
    PollResult stamp = StampPoll();
    if (!first_)
        first_ = stamp.sent;
    const PollExchange p = zub3::Poll(*port_, *id_);
    stamp.data = p.data;
    stamp.fault = p.fault;
    if (handlers_.polled)
        handlers_.polled(stamp);
    const Record r = MakeRecord(stamp, *first_);
    summary_.Poll(r.tMs);
    if (!p.Answered())
        failed(p.count < 0);
    else if (!p.data)
        summary_.Rejected();
    else
        summary_.Accepted(*p.data);
    // A stop during the poll (it runs in a nested loop) comes first. The interval runs from
    // the reply, not from the end of the hand-on: what a record costs its readers (a serve
    // with hundreds of clients) must not stretch every period.
    if (!stopped_ && port_)
        pollTimer_.start(settings_.intervalMs);
    if (p.Answered() && p.data)
        handlers_.accepted(r, p);
}

// lineLost: the read failed outright (a hang-up, an unplugged adapter, a dropped
// connection) rather than running out of time.
void PollLoop::failed(bool lineLost)
{
    summary_.Failure();
    if (lineLost) {
        if (const std::string reason = LostReason(choice_); !reason.empty()) {
            if (settings_.wait)
                lose(reason);
            else
                end(kExitCannotOpen, reason);
            return;
        }
    }
    const long long n = summary_.Failures();
    handlers_.unanswered(n);
    if (settings_.maxFailures && n >= *settings_.maxFailures)
        end(kExitNoAnswer, choice_.name + ": " + std::to_string(n) +
                               " polls without a reply; check the connection");
}

// The port has gone: it is closed (its lock freed for whoever comes next) and looked for.
void PollLoop::lose(const std::string& reason)
{
    Note("zub3ctl: " + reason + " Waiting for " + target_.port + " to come back.\n");
    port_.reset();
    gone_ = std::chrono::steady_clock::now();
    waitTimer_.start(kLookMs);
}

void PollLoop::lookAgain()
{
    if (stopped_)
        return;
    if (!PortPresent(lookFor_)) {
        waitTimer_.start(kLookMs);
        return;
    }
    const bool gap = id_.has_value();
    try {
        if (!attach())
            return;  // a signal ended the search; its handler ends the run
    } catch (const Failure& f) {
        // No receiver on a port that is there is an answer, as at the start; anything else
        // is the port still settling.
        if (f.Status() == kExitNoAnswer)
            end(f.Status(), f.what());
        else
            waitTimer_.start(kRetryOpenMs);
        return;
    } catch (const std::exception&) {
        waitTimer_.start(kRetryOpenMs);
        return;
    }
    if (gap) {
        const auto away = std::chrono::steady_clock::now() - gone_;
        summary_.Gap(std::chrono::duration<double, std::milli>(away).count());
        Note("zub3ctl: " + choice_.name + " is back after " + seconds(away) + "\n");
    } else {
        Note("zub3ctl: " + choice_.name + " is there\n");
    }
    pollTimer_.start(0);
}

void PollLoop::end(int status, const std::string& error)
{
    Stop();
    handlers_.ended(status, error);
}

PollRun::PollRun(PollLoop& loop, platform::TerminationSignals& stopSignals)
    : loop_(loop), signals_(stopSignals), status_(kExitDone)
{
}

void PollRun::Exec()
{
    QSocketNotifier signalNotifier(signals_.Fd(), QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, [this] {
        signals_.Clear();
        End(kExitDone);
    });
    events_.exec();
}

void PollRun::End(int status, const std::string& error)
{
    if (ended_)
        return;
    ended_ = true;
    status_ = status;
    error_ = error;
    loop_.Stop();
    events_.quit();
}

int PollRun::Result() const
{
    if (!error_.empty())
        throw Failure(status_, error_);
    return status_;
}

}  // namespace zub3::cli
