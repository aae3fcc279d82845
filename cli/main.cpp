// zub3ctl: the ZUB-3 receiver from the command line, for scripts, robots and logs.

#include "cli/Commands.h"
#include "serial/CommX.h"
#include "toolkit/ExceptionReport.h"

#include <QCoreApplication>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace zub3::cli;

namespace {

void complain(const std::string& text)
{
    std::fprintf(stderr, "zub3ctl: %s\n", text.c_str());
}

bool asksForHelp(const std::vector<std::string>& args)
{
    return std::any_of(args.begin(), args.end(),
                       [](const std::string& a) { return a == "--help" || a == "-h"; });
}

int run(const std::vector<std::string>& all)
{
    if (all.empty())
        throw UsageError("no command given; try \"zub3ctl --help\"");
    const std::string& name = all.front();
    if (name == "--help" || name == "-h" || name == "help") {
        std::fputs(ProgramHelp().c_str(), stdout);
        return kExitDone;
    }
    if (name == "--version") {
        std::fputs(VersionText().c_str(), stdout);
        return kExitDone;
    }
    const Command* command = FindCommand(name);
    if (!command)
        throw UsageError("unknown command '" + name + "'; try \"zub3ctl --help\"");
    const std::vector<std::string> args(all.begin() + 1, all.end());
    if (asksForHelp(args)) {
        std::fputs(std::string(command->help).c_str(), stdout);
        return kExitDone;
    }
    try {
        const Arguments given = ParseArguments(args, command->options);
        if (name == "ports")
            return Ports(given);
        if (name == "read")
            return Read(given);
        if (name == "write")
            return Write(given);
        return Monitor(given);
    } catch (const UsageError& e) {
        throw UsageError(name + ": " + e.what() + "; try \"zub3ctl " + name + " --help\"");
    }
}

}  // namespace

int main(int argc, char** argv)
{
    // A reader that goes away shows as a failed write, which ends a run quietly.
    ::signal(SIGPIPE, SIG_IGN);
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
