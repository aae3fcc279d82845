#pragma once
// SPDX-License-Identifier: GPL-3.0-or-later
// The command line of zub3sim.

#include "core/CommandLine.h"
#include "sim/Faults.h"
#include "sim/ReceiverLine.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zub3::sim {

struct SimOptions {
    std::optional<int> id;       // given on the command line: overrides the state file
    std::optional<int> bitRate;  // likewise
    int port = 0;                // COM number; 0 picks a free one
    std::filesystem::path stateFile;
    std::filesystem::path registryDir;  // empty: the per-user default
    std::optional<ListenAddress> listen;  // a network port instead of a pseudo-terminal
    bool demo = false;
    std::filesystem::path replay;  // a recording to answer polls from
    bool loop = false;             // play it again and again
    std::chrono::milliseconds turnaround{0};
    Faults faults;
    bool help = false;
    bool version = false;
};

using UsageError = cmdline::UsageError;

// Parses the arguments after the program's name. Throws UsageError with a message that
// names the offending option.
SimOptions ParseOptions(const std::vector<std::string>& args);

std::string UsageText();
std::string VersionText();

}  // namespace zub3::sim
