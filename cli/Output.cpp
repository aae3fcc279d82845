// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Output.h"

#include "cli/Options.h"
#include "platform/WriteAll.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zub3::cli {
namespace {

bool g_quiet = false;

}  // namespace

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
