// SPDX-License-Identifier: GPL-3.0-or-later
// zub3ctl: the ZUB-3 receiver from the command line, for scripts, robots and logs.

#include "base/ExceptionReport.h"
#include "cli/Check.h"
#include "cli/Commands.h"
#include "session/Output.h"
#include "serve/Serve.h"
#include "serial/CommX.h"

#include <QCoreApplication>

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace zub3::cli;

namespace {

void complain(const std::string& text)
{
    std::fprintf(stderr, "zub3ctl: %s\n", text.c_str());
}

int run(const std::vector<std::string>& all)
{
    if (all.empty())
        throw UsageError("no command given; " + zub3::cmdline::TryHelp("zub3ctl"));
    const std::string& name = all.front();
    if (name.starts_with("-")) {
        const Arguments given = zub3::cmdline::Parse(all, ProgramOptions());
        Say(given.Has("help") || !given.Has("version") ? ProgramHelp() : VersionText());
        return kExitDone;
    }
    if (name == "help") {
        if (all.size() > 2)
            throw UsageError("help: unexpected argument '" + all[2] + "'");
        const Command* command = all.size() == 2 ? FindCommand(all[1]) : nullptr;
        if (all.size() == 2 && !command)
            throw UsageError("help: unknown command '" + all[1] + "'; " +
                             zub3::cmdline::TryHelp("zub3ctl"));
        Say(command ? CommandHelp(*command) : ProgramHelp());
        return kExitDone;
    }
    const Command* command = FindCommand(name);
    if (!command)
        throw UsageError("unknown command '" + name + "'; " + zub3::cmdline::TryHelp("zub3ctl"));
    try {
        const Arguments given =
            zub3::cmdline::Parse(std::span(all).subspan(1), command->options);
        if (given.Has("help")) {
            Say(CommandHelp(*command));
            return kExitDone;
        }
        if (name == "ports")
            return Ports(given);
        if (name == "read")
            return Read(given);
        if (name == "write")
            return Write(given);
        if (name == "serve")
            return Serve(given);
        if (name == "check")
            return Check(given);
        return Monitor(given);
    } catch (const UsageError& e) {
        throw UsageError(name + ": " + e.what() + "; " + zub3::cmdline::TryHelp("zub3ctl " + name));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    GuardStandardStreams();
    // A reader that goes away shows as a failed write, which ends a run quietly.
    ::signal(SIGPIPE, SIG_IGN);
    // Qt's own event loop rather than GLib's: GLib wakes itself through an eventfd each time
    // a socket's write notifier is switched on or off, two system calls per WebSocket client
    // and record beside the one write that sends it.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication application(argc, argv);
    // Without a desktop, an exception no handler caught is a line on standard error.
    SetExceptionReport([](const std::exception& e) { complain(e.what()); });
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        complain(e.what());
        return kExitUsage;
    } catch (const Failure& e) {
        complain(e.what());
        return e.Status();
    } catch (const ECommError& e) {
        // A line setting the port refused.
        complain(e.what());
        return kExitCannotOpen;
    } catch (const std::exception& e) {
        complain(e.what());
        return kExitNoAnswer;
    }
}
