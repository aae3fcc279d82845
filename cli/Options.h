#pragma once
// SPDX-License-Identifier: GPL-3.0-or-later
// The command line of zub3ctl: its commands, their options and help texts, and the checks
// of option values. Nothing here touches a port.

#include "core/CommandLine.h"
#include "core/Protocol.h"

#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zub3::cli {

// The exit statuses a script can rely on.
inline constexpr int kExitDone = 0;
inline constexpr int kExitNoAnswer = 1;  // the receiver did not answer or refused
inline constexpr int kExitUsage = 2;
inline constexpr int kExitCannotOpen = 3;

// A failure that ends the program: one line for standard error and the exit status.
class Failure : public std::runtime_error {
public:
    Failure(int status, const std::string& message) : std::runtime_error(message), status_(status)
    {
    }
    int Status() const { return status_; }

private:
    int status_;
};

// Bad usage ends with kExitUsage.
using UsageError = cmdline::UsageError;
using Arguments = cmdline::Parsed;

// The commands, with their options and help text.
struct Command {
    std::string_view name;
    std::span<const cmdline::Option> options;
    std::string_view usage;  // the lines before the options
    std::string_view more;   // the lines after them
};
const Command* FindCommand(std::string_view name);
std::string CommandHelp(const Command& command);

// The options zub3ctl takes before a command.
std::span<const cmdline::Option> ProgramOptions();
std::string ProgramHelp();
std::string VersionText();

// Value checks, shared with the window's command line.
using cmdline::ParseID;
using cmdline::ParseSpeed;

}  // namespace zub3::cli
