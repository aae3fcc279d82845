#pragma once
// SPDX-License-Identifier: GPL-3.0-or-later
// The command line of zub3ctl: its commands, their options and help texts, and the checks
// of option values. Nothing here touches a port.

#include "core/CommandLine.h"
#include "core/Protocol.h"
#include "session/Failure.h"

#include <span>
#include <string>
#include <string_view>

namespace zub3::cli {

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
