// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/SimOptions.h"

#include "Version.h"
#include "core/Protocol.h"

#include <array>
#include <cmath>
#include <span>
#include <string_view>

namespace zub3::sim {
namespace {

using cmdline::Option;
using cmdline::Takes;

constexpr std::string_view kFaultPrefix = "fault-";
constexpr int kMaxPort = 255;
constexpr double kMaxTurnaroundMs = 60000;

// In the order of the help: the receiver's options, its faults, then help and version.
constexpr std::size_t kFirstFault = 10, kFirstGeneral = 17;
constexpr std::array<Option, 19> kOptions{{
    {"id", 'i', Takes::Value, "ID", "receiver ID, 0 to 31 (default 0)"},
    {"speed", 's', Takes::Value, "BPS", "line speed: 115200, 625000 or 1250000 (default 115200)"},
    {"port", 'p', Takes::Value, "N",
     "register as COMN, 1 to 255 (default: the lowest free\nnumber from COM51)"},
    {"state", 0, Takes::Value, "FILE",
     "keep ID and line speed in FILE across runs; --id and\n--speed override what it holds"},
    {"registry-dir", 0, Takes::Value, "DIR",
     "register the port in DIR instead of the per-user\nruntime directory"},
    {"listen", 'l', Takes::Value, "HOST:PORT",
     "be a network port (RFC 2217, as ser2net offers one)\n"
     "on HOST:PORT instead of a pseudo-terminal; port 0\n"
     "takes a free one"},
    {"demo", 'd', Takes::Nothing, {},
     "animate the controller: each button in turn, the\ndiagonals, sweeping channels"},
    {"turnaround", 0, Takes::Value, "TIME",
     "extra delay before each answer: 15, 15ms or 0.015s\n(default 0)"},
    {"replay", 0, Takes::Value, "FILE",
     "answer polls with the buttons and channels of a\n"
     "recording made by \"zub3ctl monitor\" (csv or jsonl),\n"
     "at their recorded times from the first poll on; the\n"
     "last state holds at the end"},
    {"loop", 0, Takes::Nothing, {}, "with --replay: start the recording over at its end"},
    {"fault-no-reply", 0, Takes::Nothing, {}, "hear and obey requests, but answer nothing"},
    {"fault-short", 0, Takes::Value, "N", "send only the first N bytes of each answer"},
    {"fault-bad-checksum", 0, Takes::Nothing, {}, "poll answers carry a wrong checksum"},
    {"fault-bad-header", 0, Takes::Nothing, {},
     "the command echo of poll and write answers is wrong"},
    {"fault-noise", 0, Takes::OptionalValue, "N", "N random bytes before each answer (default 4)"},
    {"fault-delay", 0, Takes::OptionalValue, "TIME",
     "hold the receiver's own bytes back TIME (700, 700ms,\n"
     "0.7s; default 700 ms, past the tool's 500 ms time-out)"},
    {"fault-any-speed", 0, Takes::Nothing, {}, "answer at every line speed, not only its own"},
    {"help", 'h', Takes::Nothing, {}, "show this help and exit"},
    {"version", 0, Takes::Nothing, {}, "show the version and licence and exit"},
}};

[[noreturn]] void fail(std::string_view name, const std::string& what)
{
    throw UsageError("--" + std::string(name) + ": " + what);
}

void apply(SimOptions& out, std::string_view name, const std::optional<std::string>& value)
{
    if (name.starts_with(kFaultPrefix)) {
        const auto given = value ? std::optional<std::string_view>(*value) : std::nullopt;
        if (const auto error = SetFault(out.faults, name.substr(kFaultPrefix.size()), given);
            !error.empty())
            fail(name, error);
    } else if (name == "id") {
        out.id = static_cast<int>(cmdline::ParseInteger(name, *value, 0, kMaxID));
    } else if (name == "speed") {
        const auto rate = ParseInt(*value, 0, 100'000'000);
        if (!rate || !LineSpeedByBitRate(*rate))
            fail(name, "'" + *value + "' is not 115200, 625000 or 1250000");
        out.bitRate = rate;
    } else if (name == "port") {
        out.port = static_cast<int>(cmdline::ParseInteger(name, *value, 1, kMaxPort));
    } else if (name == "state") {
        out.stateFile = *value;
    } else if (name == "registry-dir") {
        out.registryDir = *value;
    } else if (name == "listen") {
        try {
            out.listen = ParseListenAddress(*value);
        } catch (const std::invalid_argument& e) {
            fail(name, e.what());
        }
    } else if (name == "demo") {
        out.demo = true;
    } else if (name == "replay") {
        out.replay = *value;
    } else if (name == "loop") {
        out.loop = true;
    } else if (name == "version") {
        out.version = true;
    } else if (name == "turnaround") {
        out.turnaround = std::chrono::milliseconds(std::lround(cmdline::ParseDuration(
            name, *value, cmdline::BareUnit::Milliseconds, 0, kMaxTurnaroundMs)));
    } else {
        out.help = true;
    }
}

}  // namespace

SimOptions ParseOptions(const std::vector<std::string>& args)
{
    SimOptions out;
    const cmdline::Parsed parsed = cmdline::Parse(args, kOptions);
    for (const auto& given : parsed.Options())
        apply(out, given.name, given.value);
    if (out.loop && out.replay.empty())
        throw UsageError("--loop: give --replay with it");
    if (out.demo && !out.replay.empty())
        throw UsageError("--demo and --replay: choose one");
    return out;
}

std::string UsageText()
{
    const std::span<const Option> all(kOptions);
    return R"(Usage: zub3sim [OPTION]...
Act as a ZUB-3 receiver on a pseudo-terminal registered as a serial port, so that
ZUB-3 Manager can be used without the device. Prints the port name and the device
path (with --listen, the network address), then reads commands on standard input
(type "help").

)" + cmdline::OptionHelp(all.first(kFirstFault)) +
           "\nFaults, for trying how the tool copes:\n" +
           cmdline::OptionHelp(all.subspan(kFirstFault, kFirstGeneral - kFirstFault)) + "\n" +
           cmdline::OptionHelp(all.subspan(kFirstGeneral)) + R"(
Long options may be shortened while they stay unambiguous; "--" ends the options.
It runs until "quit", SIGINT, SIGTERM or SIGHUP, and removes its port then; the
end of standard input does not end it, so it can run in the background.
Exit status: 0 when ended so, 1 when the port cannot be set up or the help cannot be
written, 2 on a bad option, state file or recording.
)";
}

std::string VersionText()
{
    return cmdline::VersionText("zub3sim", kVersion);
}

}  // namespace zub3::sim
