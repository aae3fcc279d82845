// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// ZUB3Manager's command line, read before anything needs a display, so that --help and
// --version work without one.

#include <QString>

#include <optional>
#include <string>
#include <vector>

struct ProgramOptions {
    bool fresh = false;      // start without the settings kept from the last run
    bool monitor = false;    // switch monitoring on at once
    QString record;          // record into this file from the first poll on; "" for none
    bool overwrite = false;  // record over a file that is there
    QString language;    // "" for the one kept from the last run
    // Chosen over the kept ones for this run, as if in the window; nullopt: the kept one.
    std::optional<int> portNo;   // COMn's n
    std::optional<int> bitRate;  // one of the receiver's line speeds
    std::optional<int> id;
};

// The options, or the exit status when the program ends here: after --help or --version
// (0), or after a usage error told on standard error (2).
struct ProgramStart {
    std::optional<ProgramOptions> options;
    int exitStatus = 0;
};
ProgramStart ReadProgramOptions(const std::vector<std::string>& args);
