// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/Output.h"

#include "session/Failure.h"
#include "platform/WriteAll.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace zub3::cli {
namespace {

bool g_quiet = false;
bool g_outputClosed = false;

}  // namespace

void GuardStandardStreams()
{
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free number: the one that is closed, as the lower ones are open.
        if (::open("/dev/null", O_RDWR) != fd)
            std::abort();  // nothing can be said: there is no standard error either
        if (fd == STDOUT_FILENO)
            g_outputClosed = true;
    }
}

void RequireStandardOutput(std::string_view what)
{
    if (g_outputClosed)
        throw Failure(kExitNoAnswer,
                      "cannot write the " + std::string(what) + ": standard output is closed");
}

void SetQuiet(bool quiet)
{
    g_quiet = quiet;
}

bool Quiet()
{
    return g_quiet;
}

void Say(std::string_view text)
{
    // Output that is lost is a failure, unless its reader went away ("| head").
    RequireStandardOutput("output");
    if (!platform::WriteAll(STDOUT_FILENO, text) && errno != EPIPE)
        throw Failure(kExitNoAnswer,
                      std::string("cannot write the output: ") + std::strerror(errno));
}

void Note(std::string_view text)
{
    if (!g_quiet)
        Warn(text);
}

void Warn(std::string_view text)
{
    platform::WriteAll(STDERR_FILENO, text);
}

}  // namespace zub3::cli
