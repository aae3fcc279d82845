// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The service's log: one line per event on standard error, at a level the operator
// chooses. Under journald each line carries the "<N>" priority prefix systemd reads, so
// that `journalctl -p warning` shows what needs an operator.

#include <string_view>

namespace zub3::cli {

enum class LogLevel { Error, Warning, Info, Debug };

// "error", "warning", "info" or "debug"; a UsageError naming --log-level otherwise.
LogLevel ParseLogLevel(std::string_view text);
void SetLogLevel(LogLevel level);
// Whether a line at this level is written now.
bool Logging(LogLevel level);
// Writes "zub3ctl: " and the line (no newline at its end) when its level is logged.
void Log(LogLevel level, std::string_view line);
// Qt's own messages (a socket's or an I/O device's warnings) reach the log at debug only:
// they are the library's view, not an event an operator acts on.
void RouteQtMessages();

}  // namespace zub3::cli
