// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The receiver's port for zub3ctl's commands: which port a name means, opening it for the
// receiver's line, the speeds it can run, and finding the receiver on it. Each refusal is a
// Failure whose line says why.

#include "session/Failure.h"
#include "core/ReceiverLink.h"
#include "platform/SerialRegistry.h"

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

class TCommX;

namespace zub3::cli {

// The ports the system lists. What ports.conf holds that cannot be used is a note; one
// about portUsed, the port the command is to use, is told even with -q.
std::vector<platform::registry::Value> ListedPorts(const std::string& portUsed = {});

// The port a command is given: --port, else $ZUB3_PORT; a UsageError when neither.
std::string PortText(const Arguments& args);

struct PortChoice {
    std::string name;    // "COM51", or the path given
    int number = 0;
    std::string device;  // "/dev/pts/3"
};

// A COM name the registry lists, the path of any terminal device, or a network port: a
// listed one keeps its COM name, any other is opened under a number only this process
// knows.
PortChoice ChoosePort(const std::string& text);

// Whether what text names is there to be opened now: a listed COM name whose device
// exists, an existing path; a network port always is.
bool PortPresent(const std::string& text);

// Opens the port for the receiver's line; a refusal says why. The speed is set afterwards,
// so that one the port cannot run is not taken for a port that cannot be opened.
std::unique_ptr<TCommX> OpenPort(const PortChoice& choice);

// Why a port that was open has gone away (its device removed, the network connection
// dropped), or "" when it is still there: after a read that failed outright.
std::string LostReason(const PortChoice& choice);

// The speed --speed asks for, if any.
std::optional<LineSpeed> AskedSpeed(const Arguments& args);

// Sets the port to speed; a Failure when it cannot run it.
void RequireSpeed(TCommX& port, const PortChoice& choice, const LineSpeed& speed);

// The speeds to search: the one asked, which the port must run, or those of the three that
// it runs, in the window's order (the others are noted and skipped: a 16550 UART has no
// 625000 bit/s).
std::vector<LineSpeed> SpeedsToTry(TCommX& port, const PortChoice& choice,
                                   const std::optional<LineSpeed>& asked);

// ReadSettings, with a refused setting (the device gone meanwhile) as a Failure. nullopt
// when no receiver answered.
std::optional<ReceiverSettings> SearchSettings(TCommX& port, const PortChoice& choice,
                                               std::span<const LineSpeed> speeds,
                                               const std::function<bool()>& cancelled = {});

// The settings found, or a Failure when no receiver answered; nullopt only when cancelled
// ended the search.
std::optional<ReceiverSettings> ReadOrFail(TCommX& port, const PortChoice& choice,
                                           std::span<const LineSpeed> speeds,
                                           const std::function<bool()>& cancelled = {});

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

// "ID 7, 625000 bit/s"
std::string Describe(const ReceiverSettings& settings);

}  // namespace zub3::cli
