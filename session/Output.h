// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// zub3ctl's two streams: results on standard output, notes on standard error.

#include <string>
#include <string_view>

namespace zub3::cli {

// -q: notes and the summary are left out; errors are not notes.
void SetQuiet(bool quiet);
bool Quiet();

// Puts /dev/null on standard input, output and error where they are closed, before
// anything else is opened: a descriptor opened later (the port, a socket) would otherwise
// take their number and get the output. Whether standard output was closed is kept.
void GuardStandardStreams();
// Throws Failure ("cannot write the WHAT: standard output is closed") when it was.
void RequireStandardOutput(std::string_view what);

// Writes text to standard output; throws Failure when it is lost, unless the reader went away.
void Say(std::string_view text);

// A line (or lines) for standard error, unless quiet. A lost note is no failure.
void Note(std::string_view text);
// A line for standard error, quiet or not.
void Warn(std::string_view text);

}  // namespace zub3::cli
