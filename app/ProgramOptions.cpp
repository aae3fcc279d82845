// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ProgramOptions.h"

#include "Version.h"
#include "core/CommandLine.h"
#include "platform/SerialRegistry.h"

#include <QFile>
#include <QtGlobal>

#include <array>
#include <cstdio>

namespace cmd = zub3::cmdline;

namespace {

constexpr std::array<cmd::Option, 10> kOptions{{
    {"fresh", 0, cmd::Takes::Nothing, {}, "start without the settings kept from the last run"},
    {"port", 0, cmd::Takes::Value, "PORT",
     "open this port, a COM name as the port list names it\n"
     "(COM51), over the kept one"},
    {"speed", 0, cmd::Takes::Value, "BPS",
     "use this line speed, 115200, 625000 or 1250000, over\n"
     "the kept one"},
    {"id", 0, cmd::Takes::Value, "N", "poll this ID, 0 to 31, over the kept one"},
    {"monitor", 0, cmd::Takes::Nothing, {},
     "switch monitoring on at once, with the kept or given\n"
     "port, line speed and ID"},
    {"record", 0, cmd::Takes::Value, "FILE",
     "record every poll into FILE from the first on, as CSV\n"
     "as zub3ctl monitor --format csv writes it; FILE must\n"
     "not exist yet"},
    {"overwrite", 0, cmd::Takes::Nothing, {}, "let --record replace a FILE that exists"},
    {"lang", 0, cmd::Takes::Value, "LANG",
     "the window's language for this run: ja (Japanese, the\n"
     "default) or en (English); over the one chosen in its menu"},
    {"help", 'h', cmd::Takes::Nothing, {}, "show this help and exit"},
    {"version", 0, cmd::Takes::Nothing, {}, "show the version, the licence and Qt's version and exit"},
}};

std::string help()
{
    return "Usage: ZUB3Manager [OPTION]...\n"
           "Watch and set up a ZUB-3 radio-control receiver on a serial port.\n\n" +
           cmd::OptionHelp(kOptions) +
           "\nThe port, line speed, reading interval and ID are kept between runs in\n"
           "$XDG_CONFIG_HOME/zub3/ZUB3Manager.conf (~/.config when unset).\n";
}

// The port, line speed and ID given for this run. Throws cmd::UsageError.
void readReceiverChoice(const cmd::Parsed& parsed, ProgramOptions& options)
{
    if (const auto port = parsed.Get("port")) {
        // Only what the port list offers: a device path or address would bypass it.
        const int number = platform::registry::PortNumber(*port);
        if (number <= 0)
            throw cmd::UsageError("--port: '" + *port + "' is not a COM name such as COM51");
        options.portNo = number;
    }
    if (const auto speed = parsed.Get("speed"))
        options.bitRate = cmd::ParseSpeed("speed", *speed).bitRate;
    if (const auto id = parsed.Get("id"))
        options.id = cmd::ParseID("id", *id);
}

}  // namespace

ProgramStart ReadProgramOptions(const std::vector<std::string>& args)
{
    cmd::Parsed parsed;
    ProgramOptions options;
    try {
        parsed = cmd::Parse(args, kOptions);
        if (!parsed.Has("help") && !parsed.Has("version"))
            readReceiverChoice(parsed, options);
    } catch (const cmd::UsageError& e) {
        std::fprintf(stderr, "ZUB3Manager: %s; %s\n", e.what(), cmd::TryHelp("ZUB3Manager").c_str());
        return {std::nullopt, 2};
    }
    // Output that cannot be written (a full disk, a closed stdout) is no success.
    auto print = [](const std::string& text) {
        const bool ok = std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
        return ProgramStart{std::nullopt, ok ? 0 : 1};
    };
    if (parsed.Has("help"))
        return print(help());
    if (parsed.Has("version"))
        return print(cmd::VersionText("ZUB3Manager", zub3::kVersion) + "Qt " + qVersion() + "\n");
    options.fresh = parsed.Has("fresh");
    options.monitor = parsed.Has("monitor");
    options.overwrite = parsed.Has("overwrite");
    if (const auto language = parsed.Get("lang"))
        options.language = QString::fromStdString(*language);
    if (const auto file = parsed.Get("record")) {
        if (file->empty()) {
            std::fprintf(stderr, "ZUB3Manager: --record needs a file name\n");
            return {std::nullopt, 2};
        }
        options.record = QFile::decodeName(file->c_str());
    }
    return {options, 0};
}
