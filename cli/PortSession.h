// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The steps every command that holds the receiver's port shares: choosing and opening the
// port, finding the receiver, the write with its checks, and the notes on standard error.

#include "cli/Options.h"
#include "core/ReceiverLink.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TCommX;

namespace zub3::cli {

struct PortChoice {
    std::string name;    // "COM51", or the path given
    int number = 0;
    std::string device;  // "/dev/pts/3"
};

// A COM name the registry lists, the path of any terminal device, or a network port.
PortChoice ChoosePort(const std::string& text);
// Opened for the receiver's line; a refusal names why (held by, no permission, gone).
std::unique_ptr<TCommX> OpenPort(const PortChoice& choice);
// The speed --speed names, or every speed the port runs.
std::optional<LineSpeed> AskedSpeed(const Arguments& args);
std::vector<LineSpeed> SpeedsToTry(TCommX& port, const PortChoice& choice,
                                   const std::optional<LineSpeed>& asked);
// The receiver's settings; nullopt only when cancelled ended the search.
std::optional<ReceiverSettings> ReadOrFail(TCommX& port, const PortChoice& choice,
                                           std::span<const LineSpeed> speeds,
                                           const std::function<bool()>& cancelled = {});
std::string Describe(const ReceiverSettings& s);
std::string RequireOption(const Arguments& args, std::string_view name);

// After a poll whose read failed outright: why the line is gone for good (an adapter
// unplugged, a network port dropped), or nullopt when it may still answer.
std::optional<std::string> LostLine(const PortChoice& choice);

// --interval and --max-failures, as monitor reads them.
struct PollOptions {
    int interval = 10;
    std::optional<long long> maxFailures;
};
PollOptions ReadPollOptions(const Arguments& args);

// Gives the receiver new settings as "zub3ctl write" does: the port must run the new
// speed, the write frame goes at the present speed, the reply is checked and the settings
// are read back at the new speed. step is told of each step as a line.
struct WriteResult {
    std::optional<ReceiverSettings> now;  // what the receiver answers at afterwards
    std::string error;                    // empty when written and confirmed
};
WriteResult WriteSettings(TCommX& port, const PortChoice& choice, const ReceiverSettings& present,
                          const ReceiverSettings& wanted,
                          const std::function<void(const std::string&)>& step = {});

// Notes on standard error, left out with --quiet.
void SetQuiet(bool quiet);
void Note(const std::string& text);

// SIGINT, SIGTERM and SIGHUP (unless ignored) end a run: a descriptor that becomes
// readable, and whether one came, for the search before the run's loop.
void CatchTerminationSignals();
int TerminationFd();
void ClearTermination();
bool TerminationRequested();

std::string JsonString(const std::string& s);

}  // namespace zub3::cli
