#include "cli/Options.h"

#include "Version.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace zub3::cli {
namespace {

constexpr OptionInfo kHelp{"help", 'h', false};

constexpr std::array<OptionInfo, 3> kPortsOptions{{kHelp, {"json", 0, false}, {"check", 0, false}}};
constexpr std::array<OptionInfo, 4> kReadOptions{
    {kHelp, {"port", 'p', true}, {"speed", 's', true}, {"json", 0, false}}};
constexpr std::array<OptionInfo, 6> kWriteOptions{{kHelp,
                                                   {"port", 'p', true},
                                                   {"id", 'i', true},
                                                   {"speed", 's', true},
                                                   {"from-id", 0, true},
                                                   {"from-speed", 0, true}}};
constexpr std::array<OptionInfo, 10> kMonitorOptions{{kHelp,
                                                      {"port", 'p', true},
                                                      {"id", 'i', true},
                                                      {"speed", 's', true},
                                                      {"interval", 'n', true},
                                                      {"count", 'c', true},
                                                      {"duration", 'd', true},
                                                      {"format", 'f', true},
                                                      {"hex", 0, false},
                                                      {"max-failures", 0, true}}};

constexpr std::string_view kPortsHelp = R"(Usage: zub3ctl ports [--json] [--check]
List the serial ports: the COM name and the device path of each, what sysfs says of a
USB adapter (product, manufacturer, serial number), and whether this user can open the
port now, and if not, why: no permission, held by another program, or gone. No device
is opened. Network ports named in ~/.config/zub3/ports.conf ("COM60 rfc2217://HOST:PORT"
a line) show the kind "network"; only --check connects to their servers.

Options:
      --check    ask the server of each network port whether it takes a client now
      --json     print a JSON array, one object per port with the keys port, kind
                   ("serial" or "network"), device, name, product, manufacturer,
                   serial, available (null for a network port not checked) and
                   reason (null, "permission", "held", "gone", "refused",
                   "unreachable" or "unresolved") and detail
  -h, --help     show this help and exit
)";

constexpr std::string_view kReadHelp = R"(Usage: zub3ctl read --port PORT [--speed BPS] [--json]
Find the receiver's ID and line speed by asking for its ID at 115200, 625000 and
1250000 bit/s in turn, as ZUB-3 Manager does, and print them: "ID 7, 625000 bit/s".

Options:
  -p, --port=PORT    the receiver's port: a COM name (COM51), a device path or a
                       network port (rfc2217://HOST:PORT)
                       (/dev/ttyUSB0)
  -s, --speed=BPS    try only this line speed: 115200, 625000 or 1250000
      --json         print {"id": 7, "speed": 625000}
  -h, --help         show this help and exit

Exit status: 0 found, 1 no receiver answered, 2 bad usage, 3 the port could not be
opened.
)";

constexpr std::string_view kWriteHelp = R"(Usage: zub3ctl write --port PORT --id N --speed BPS [--from-id N --from-speed BPS]
Give the receiver a new ID and line speed. Unless its present ID and speed are given,
they are read first as "zub3ctl read" does; then the write frame is sent at the
present speed, the reply checked, and the settings read back at the new speed to
confirm that the receiver took them. Each step is reported on a line of its own.
An ID outside 0 to 31 or another line speed is refused before the port is opened.

Options:
  -p, --port=PORT        the receiver's port: a COM name, a device path or
                           rfc2217://HOST:PORT
  -i, --id=N             the new ID, 0 to 31
  -s, --speed=BPS        the new line speed: 115200, 625000 or 1250000
      --from-id=N        the receiver's present ID (give --from-speed with it)
      --from-speed=BPS   the receiver's present line speed
  -h, --help             show this help and exit

Exit status: 0 written and confirmed, 1 no answer, refused or not confirmed, 2 bad
usage, 3 the port could not be opened.
)";

constexpr std::string_view kMonitorHelp = R"(Usage: zub3ctl monitor --port PORT [OPTION]...
Poll the receiver as ZUB-3 Manager does, the next poll one interval after each reply,
and write one record per accepted reply on standard output. The ID and line speed are
found as "zub3ctl read" does unless --id and --speed are given.

Options:
  -p, --port=PORT          the receiver's port: a COM name, a device path or
                             rfc2217://HOST:PORT
  -i, --id=N               the receiver's ID, 0 to 31 (give --speed with it)
  -s, --speed=BPS          its line speed; alone, the read tries only this one
  -n, --interval=MS        from a reply to the next poll, 5 to 500 ms (default 10)
  -c, --count=N            stop after N records
  -d, --duration=TIME      stop after TIME: seconds, or with a unit (500ms, 2s, 1m)
  -f, --format=FORMAT      text (default), csv or jsonl
      --hex                add the frames sent and received, in hexadecimal
      --max-failures=N     stop with status 1 after N polls without a reply
                             (default: never stop for failures)
  -h, --help               show this help and exit

Records have the fields t_ms (milliseconds since the first poll, monotonic), time
(wall clock, ISO 8601 with milliseconds), buttons (the 16-bit button word), held (the
held buttons among S1 S2 S3 S4 up down right left triangle cross circle square,
space-separated; a diagonal is two of them), pa1 to pa4 (the four channels, 0 to 255)
and, with --hex, sent and received. CSV starts with a header line naming them; jsonl
is one JSON object per line. Text on a terminal is a live view redrawn in place;
piped, it is one line per record.

Polls without a reply are counted on standard error, not in the records. Ctrl+C,
SIGTERM or a hang-up (SIGHUP, unless ignored as under nohup) completes the record
being written and ends the run; so does the end of a pipe the records go to. At the
end a summary goes to standard error: polls, failures, median and 95th-percentile
period, and the minimum, maximum and mean of each channel.

Exit status: 0 done (also after Ctrl+C, a hang-up or a closed pipe), 1 no receiver
answered or --max-failures was reached, 2 bad usage, 3 the port could not be opened
or went away.
)";

constexpr std::array<Command, 4> kCommands{{
    {"ports", kPortsOptions, kPortsHelp},
    {"read", kReadOptions, kReadHelp},
    {"write", kWriteOptions, kWriteHelp},
    {"monitor", kMonitorOptions, kMonitorHelp},
}};

const OptionInfo* findOption(std::span<const OptionInfo> table, std::string_view name, char c)
{
    const auto it = std::find_if(table.begin(), table.end(), [&](const OptionInfo& s) {
        return c ? s.shortName == c : s.name == name;
    });
    return it == table.end() ? nullptr : &*it;
}

}  // namespace

std::optional<std::string> Arguments::Get(std::string_view name) const
{
    const auto it = values_.find(std::string(name));
    if (it == values_.end())
        return std::nullopt;
    return it->second;
}

Arguments ParseArguments(std::span<const std::string> args, std::span<const OptionInfo> table)
{
    Arguments out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        const OptionInfo* option = nullptr;
        std::optional<std::string> value;
        if (arg.starts_with("--") && arg.size() > 2) {
            const auto eq = arg.find('=');
            option = findOption(table, arg.substr(2, eq == std::string_view::npos ? eq : eq - 2), 0);
            if (!option)
                throw UsageError("unknown option '" + std::string(arg.substr(0, eq)) + "'");
            if (eq != std::string_view::npos) {
                if (!option->takesValue)
                    throw UsageError("--" + std::string(option->name) + " takes no value");
                value = std::string(arg.substr(eq + 1));
            }
        } else if (arg.size() == 2 && arg[0] == '-' && arg[1] != '-') {
            option = findOption(table, {}, arg[1]);
            if (!option)
                throw UsageError("unknown option '" + std::string(arg) + "'");
        } else if (arg.size() > 2 && arg[0] == '-' && arg[1] != '-') {
            option = findOption(table, {}, arg[1]);
            if (!option || !option->takesValue)
                throw UsageError("unknown option '" + std::string(arg) + "'");
            value = std::string(arg.substr(2));
        } else {
            throw UsageError("unexpected argument '" + std::string(arg) + "'");
        }
        if (option->takesValue && !value) {
            if (i + 1 == args.size())
                throw UsageError("--" + std::string(option->name) + " needs a value");
            value = args[++i];
        }
        out.Set(option->name, value.value_or(""));
    }
    return out;
}

const Command* FindCommand(std::string_view name)
{
    const auto it = std::find_if(kCommands.begin(), kCommands.end(),
                                 [name](const Command& c) { return c.name == name; });
    return it == kCommands.end() ? nullptr : &*it;
}

std::string ProgramHelp()
{
    return R"(Usage: zub3ctl ports [--json] [--check]
  or:  zub3ctl read --port PORT [--speed BPS] [--json]
  or:  zub3ctl write --port PORT --id N --speed BPS [--from-id N --from-speed BPS]
  or:  zub3ctl monitor --port PORT [OPTION]...
  or:  zub3ctl COMMAND --help
Use a ZUB-3 radio-control receiver on a serial port from the command line: find its ID
and line speed, give it new ones, and record what its controller does, for scripts,
logs and other programs. No display is needed.

Commands:
  ports      list the serial ports: COM name, device path, what sysfs says of a USB
             adapter, and whether this user can open the port now, or why not;
             network ports from ports.conf too
  read       find the receiver's ID and line speed, trying 115200, 625000 and
             1250000 bit/s in turn
  write      give the receiver a new ID and line speed: read the present ones unless
             given, write, check the reply, and read back at the new speed
  monitor    poll the receiver and write one record per reply, as text, csv or jsonl

Options:
  -p, --port=PORT          the receiver's port: a COM name as "zub3ctl ports"
                             lists it (COM51), a device path (/dev/ttyUSB0) or
                             a port an RFC 2217 server (ser2net) shares
                             (rfc2217://robot:7000, rfc2217://[::1]:7000)
  -s, --speed=BPS          115200, 625000 or 1250000; for read and monitor, the
                             only speed to try; for write, the new speed
  -i, --id=N               0 to 31; for write, the new ID; for monitor, the
                             receiver's ID (give --speed with it: nothing is read)
      --from-id=N          write: the receiver's present ID
      --from-speed=BPS     write: the receiver's present line speed
      --json               ports, read: print JSON
  -n, --interval=MS        monitor: from a reply to the next poll, 5 to 500 ms
                             (default 10)
  -c, --count=N            monitor: stop after N records
  -d, --duration=TIME      monitor: stop after TIME: seconds, or with a unit
                             (500ms, 2s, 1m)
  -f, --format=FORMAT      monitor: text (default), csv or jsonl
      --hex                monitor: add the frames sent and received
      --max-failures=N     monitor: stop with status 1 after N polls without a
                             reply (default: never)
  -h, --help               show this help, or a command's, and exit
      --version            show the version and exit

Run "zub3ctl COMMAND --help" for more on a command: the fields of the records, the
ends of a monitor run and its summary.

Exit status:
  0  done
  1  the receiver did not answer or refused (or the output could not be written)
  2  bad usage
  3  the port could not be opened (no permission, held by another program, gone)

Errors are one line on standard error.

Examples:
  zub3ctl read --port COM51

  zub3ctl write --port /dev/ttyUSB0 --id 7 --speed 625000

  zub3ctl monitor --port COM51 --duration 60 --format csv > session.csv

  zub3sim --replay session.csv
)";
}

std::string VersionText()
{
    return std::string("zub3ctl (ZUB-3 Manager) ") + kVersion + "\n";
}

int ParseID(std::string_view option, std::string_view text)
{
    return static_cast<int>(ParseCount(option, text, 0, kMaxID));
}

LineSpeed ParseSpeed(std::string_view option, std::string_view text)
{
    int rate = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), rate);
    if (ec == std::errc() && end == text.data() + text.size())
        if (const auto speed = LineSpeedByBitRate(rate))
            return *speed;
    throw UsageError("--" + std::string(option) + ": '" + std::string(text) +
                     "' is not 115200, 625000 or 1250000");
}

long long ParseCount(std::string_view option, std::string_view text, long long min, long long max)
{
    long long n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || n < min ||
        n > max)
        throw UsageError("--" + std::string(option) + ": '" + std::string(text) +
                         "' is not a number from " + std::to_string(min) + " to " +
                         std::to_string(max));
    return n;
}

double ParseDuration(std::string_view option, std::string_view text)
{
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    const std::string_view unit(end, static_cast<std::size_t>(text.data() + text.size() - end));
    double scale = 0;
    if (unit.empty() || unit == "s")
        scale = 1000;
    else if (unit == "ms")
        scale = 1;
    else if (unit == "m" || unit == "min")
        scale = 60'000;
    else if (unit == "h")
        scale = 3'600'000;
    if (text.empty() || ec != std::errc() || scale == 0 || !std::isfinite(value) || value <= 0)
        throw UsageError("--" + std::string(option) + ": '" + std::string(text) +
                         "' is not a time such as 2, 2s, 500ms or 1m");
    return value * scale;
}

}  // namespace zub3::cli
