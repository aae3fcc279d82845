// SPDX-License-Identifier: GPL-3.0-or-later
#include "serve/Log.h"

#include "session/Failure.h"
#include "platform/WriteAll.h"

#include <QString>
#include <QtGlobal>

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace zub3::cli {
namespace {

constexpr std::array<std::string_view, 4> kNames{"error", "warning", "info", "debug"};
// syslog's priorities: err, warning, info, debug.
constexpr std::array<char, 4> kPriorities{'3', '4', '6', '7'};

std::atomic<LogLevel> g_level{LogLevel::Warning};

// journald hands a service's standard error over as a stream whose device and inode it
// names in JOURNAL_STREAM; a redirection elsewhere by the operator is left plain.
bool toJournal()
{
    static const bool journal = [] {
        const char* stream = std::getenv("JOURNAL_STREAM");
        struct stat st{};
        if (!stream || ::fstat(STDERR_FILENO, &st) != 0)
            return false;
        unsigned long long dev = 0, ino = 0;
        return std::sscanf(stream, "%llu:%llu", &dev, &ino) == 2 &&
               dev == static_cast<unsigned long long>(st.st_dev) &&
               ino == static_cast<unsigned long long>(st.st_ino);
    }();
    return journal;
}

}  // namespace

LogLevel ParseLogLevel(std::string_view text)
{
    for (std::size_t i = 0; i < kNames.size(); ++i)
        if (text == kNames[i])
            return static_cast<LogLevel>(i);
    throw UsageError("--log-level: '" + std::string(text) +
                     "' is not error, warning, info or debug");
}

void SetLogLevel(LogLevel level)
{
    g_level = level;
}

bool Logging(LogLevel level)
{
    return level <= g_level.load();
}

void Log(LogLevel level, std::string_view line)
{
    if (!Logging(level))
        return;
    std::string text;
    if (toJournal())
        text += {'<', kPriorities[static_cast<std::size_t>(level)], '>'};
    text += "zub3ctl: ";
    text += line;
    text += '\n';
    // One write per line: lines of two threads never interleave.
    platform::WriteAll(STDERR_FILENO, text);
}

void RouteQtMessages()
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& message) {
        Log(LogLevel::Debug, "Qt: " + message.toStdString());
    });
}

}  // namespace zub3::cli
