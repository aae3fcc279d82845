// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How a run of zub3ctl ends: the exit statuses a script relies on, and the failure that
// carries one with the line that says why. The poll session, the service and the commands
// all end their runs this way.

#include "core/CommandLine.h"

#include <stdexcept>
#include <string>

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

}  // namespace zub3::cli
