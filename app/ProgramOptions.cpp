// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ProgramOptions.h"

#include "Version.h"
#include "core/CommandLine.h"

#include <QFile>
#include <QtGlobal>

#include <array>
#include <cstdio>

namespace cmd = zub3::cmdline;

namespace {

constexpr std::array<cmd::Option, 7> kOptions{{
    {"fresh", 0, cmd::Takes::Nothing, {}, "start without the settings kept from the last run"},
    {"monitor", 0, cmd::Takes::Nothing, {},
     "switch monitoring on at once, with the kept port, line\n"
     "speed and ID"},
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

}  // namespace

ProgramStart ReadProgramOptions(const std::vector<std::string>& args)
{
    cmd::Parsed parsed;
    try {
        parsed = cmd::Parse(args, kOptions);
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
    ProgramOptions options;
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
