#include "sim/SimOptions.h"

#include "core/Protocol.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace zub3::sim {
namespace {

enum class Arg { None, Required, Optional };

struct OptionInfo {
    std::string_view name;
    char shortName;
    Arg arg;
};

constexpr std::string_view kFaultPrefix = "fault-";
constexpr int kMaxPort = 255;
constexpr int kMaxTurnaroundMs = 60000;

constexpr std::array<OptionInfo, 18> kOptions{{
    {"id", 'i', Arg::Required},
    {"speed", 's', Arg::Required},
    {"port", 'p', Arg::Required},
    {"state", 0, Arg::Required},
    {"registry-dir", 0, Arg::Required},
    {"demo", 'd', Arg::None},
    {"replay", 0, Arg::Required},
    {"loop", 0, Arg::None},
    {"turnaround", 0, Arg::Required},
    {"fault-no-reply", 0, Arg::None},
    {"fault-short", 0, Arg::Required},
    {"fault-bad-checksum", 0, Arg::None},
    {"fault-bad-header", 0, Arg::None},
    {"fault-noise", 0, Arg::Optional},
    {"fault-delay", 0, Arg::Optional},
    {"fault-any-speed", 0, Arg::None},
    {"help", 'h', Arg::None},
    {"version", 0, Arg::None},
}};

const OptionInfo* findLong(std::string_view name)
{
    const auto it = std::find_if(kOptions.begin(), kOptions.end(),
                                 [name](const OptionInfo& o) { return o.name == name; });
    return it == kOptions.end() ? nullptr : &*it;
}

const OptionInfo* findShort(char c)
{
    const auto it = std::find_if(kOptions.begin(), kOptions.end(),
                                 [c](const OptionInfo& o) { return o.shortName == c; });
    return it == kOptions.end() ? nullptr : &*it;
}

[[noreturn]] void fail(const OptionInfo& o, const std::string& what)
{
    throw UsageError("--" + std::string(o.name) + ": " + what);
}

int number(const OptionInfo& o, std::string_view value, int min, int max)
{
    const auto n = ParseInt(value, min, max);
    if (!n)
        fail(o, "'" + std::string(value) + "' is not a number from " + std::to_string(min) +
                    " to " + std::to_string(max));
    return *n;
}

void apply(SimOptions& out, const OptionInfo& o, std::optional<std::string_view> value)
{
    const std::string_view name = o.name;
    if (name.starts_with(kFaultPrefix)) {
        if (const auto error = SetFault(out.faults, name.substr(kFaultPrefix.size()), value);
            !error.empty())
            fail(o, error);
    } else if (name == "id") {
        out.id = number(o, *value, 0, kMaxID);
    } else if (name == "speed") {
        const auto rate = ParseInt(*value, 0, 100'000'000);
        if (!rate || !LineSpeedByBitRate(*rate))
            fail(o, "'" + std::string(*value) + "' is not 115200, 625000 or 1250000");
        out.bitRate = rate;
    } else if (name == "port") {
        out.port = number(o, *value, 1, kMaxPort);
    } else if (name == "state") {
        out.stateFile = std::string(*value);
    } else if (name == "registry-dir") {
        out.registryDir = std::string(*value);
    } else if (name == "demo") {
        out.demo = true;
    } else if (name == "replay") {
        out.replay = std::string(*value);
    } else if (name == "loop") {
        out.loop = true;
    } else if (name == "version") {
        out.version = true;
    } else if (name == "turnaround") {
        out.turnaround = std::chrono::milliseconds(number(o, *value, 0, kMaxTurnaroundMs));
    } else {
        out.help = true;
    }
}

}  // namespace

SimOptions ParseOptions(const std::vector<std::string>& args)
{
    SimOptions out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        const OptionInfo* option = nullptr;
        std::optional<std::string_view> value;
        if (arg.starts_with("--") && arg.size() > 2) {
            const auto eq = arg.find('=');
            option = findLong(arg.substr(2, eq == std::string_view::npos ? eq : eq - 2));
            if (!option)
                throw UsageError("unknown option '" + std::string(arg) + "'");
            if (eq != std::string_view::npos) {
                if (option->arg == Arg::None)
                    fail(*option, "takes no value");
                value = arg.substr(eq + 1);
            }
        } else if (arg.size() >= 2 && arg[0] == '-' && arg[1] != '-') {
            option = findShort(arg[1]);
            if (!option)
                throw UsageError("unknown option '" + std::string(arg) + "'");
            if (arg.size() > 2) {
                if (option->arg == Arg::None)
                    throw UsageError("unknown option '" + std::string(arg) + "'");
                value = arg.substr(2);
            }
        } else {
            throw UsageError("unexpected argument '" + std::string(arg) + "'");
        }
        if (option->arg == Arg::Required && !value) {
            if (i + 1 == args.size())
                fail(*option, "needs a value");
            value = args[++i];
        }
        apply(out, *option, value);
    }
    if (out.loop && out.replay.empty())
        throw UsageError("--loop: give --replay with it");
    if (out.demo && !out.replay.empty())
        throw UsageError("--demo and --replay: choose one");
    return out;
}

std::string UsageText()
{
    return R"(Usage: zub3sim [OPTION]...
Act as a ZUB-3 receiver on a pseudo-terminal registered as a serial port, so that
ZUB-3 Manager can be used without the device. Prints the port name and the device
path, then reads commands on standard input (type "help").

  -i, --id=ID             receiver ID, 0 to 31 (default 0)
  -s, --speed=BPS         line speed: 115200, 625000 or 1250000 (default 115200)
  -p, --port=N            register as COMN, 1 to 255 (default: the lowest free
                            number from COM51)
      --state=FILE        keep ID and line speed in FILE across runs; --id and
                            --speed override what it holds
      --registry-dir=DIR  register the port in DIR instead of the per-user
                            runtime directory
  -d, --demo              animate the controller: each button in turn, the
                            diagonals, sweeping channels
      --turnaround=MS     extra delay before each answer (default 0)
      --replay=FILE       answer polls with the buttons and channels of a
                            recording made by "zub3ctl monitor" (csv or jsonl),
                            at their recorded times from the first poll on; the
                            last state holds at the end
      --loop              with --replay: start the recording over at its end

Faults, for trying how the tool copes:
      --fault-no-reply       hear and obey requests, but answer nothing
      --fault-short=N        send only the first N bytes of each answer
      --fault-bad-checksum   poll answers carry a wrong checksum
      --fault-bad-header     the command echo of poll and write answers is wrong
      --fault-noise[=N]      N random bytes before each answer (default 4)
      --fault-delay[=MS]     hold the receiver's own bytes back MS milliseconds
                               (default 700, past the tool's 500 ms time-out)
      --fault-any-speed      answer at every line speed, not only its own

  -h, --help              show this help and exit
      --version           show the version and exit

It runs until "quit", SIGINT, SIGTERM or SIGHUP, and removes its port then; the
end of standard input does not end it, so it can run in the background.
Exit status: 0 when ended so, 1 when the port cannot be set up, 2 on a bad
option, state file or recording.
)";
}

}  // namespace zub3::sim
