// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Options.h"

#include "Version.h"
#include "core/Records.h"

#include <algorithm>
#include <array>

namespace zub3::cli {
namespace {

using cmdline::Option;
using cmdline::Takes;

constexpr std::size_t kHelpWidth = 88;

constexpr Option kHelp{"help", 'h', Takes::Nothing, {}, "show this help and exit"};
constexpr Option kVersionOption{"version", 0, Takes::Nothing, {}, "show the version and licence and exit"};
constexpr Option kQuiet{"quiet", 'q', Takes::Nothing, {},
                        "write nothing on standard error but errors: no\n"
                        "notes, no summary"};
// monitor and serve find and poll the receiver alike.
constexpr Option kReceiverId{"id", 'i', Takes::Value, "N", "the receiver's ID, 0 to 31 (give --speed with it)"};
constexpr Option kReceiverSpeed{"speed", 's', Takes::Value, "BPS",
                                "its line speed; alone, the read tries only this one"};
constexpr Option kMaxFailures{"max-failures", 0, Takes::Value, "N",
                              "stop with status 1 after N polls without a reply\n(default: never stop for failures)"};
constexpr Option kPort{"port", 'p', Takes::Value, "PORT",
                       "the receiver's port: a COM name as \"zub3ctl ports\" lists it\n"
                       "(COM51), a device path (/dev/ttyUSB0) or a port an RFC 2217\n"
                       "server (ser2net) shares (rfc2217://localhost:7000,\n"
                       "rfc2217://[::1]:7000); default: $ZUB3_PORT"};

constexpr auto kPortsOptions = std::to_array<Option>({
    {"check", 0, Takes::Nothing, {}, "ask the server of each network port whether it takes a\nclient now"},
    {"json", 0, Takes::Nothing, {},
     "print a JSON array, one object per port with the keys port, kind\n"
     "(\"serial\" or \"network\"), device, name, product, manufacturer,\n"
     "serial, available (null for a network port not checked) and\n"
     "reason (null, \"permission\", \"held\", \"gone\", \"refused\",\n"
     "\"unreachable\" or \"unresolved\") and detail"},
    kHelp,
});
constexpr auto kReadOptions = std::to_array<Option>({
    kPort,
    {"speed", 's', Takes::Value, "BPS", "try only this line speed: 115200, 625000 or 1250000"},
    {"json", 0, Takes::Nothing, {}, "print {\"id\": 7, \"speed\": 625000}"},
    kQuiet,
    kHelp,
});
constexpr auto kWriteOptions = std::to_array<Option>({
    kPort,
    {"id", 'i', Takes::Value, "N", "the new ID, 0 to 31"},
    {"speed", 's', Takes::Value, "BPS", "the new line speed: 115200, 625000 or 1250000"},
    {"from-id", 0, Takes::Value, "N", "the receiver's present ID (give --from-speed with it)"},
    {"from-speed", 0, Takes::Value, "BPS", "the receiver's present line speed"},
    kQuiet,
    kHelp,
});
constexpr auto kMonitorOptions = std::to_array<Option>({
    kPort,
    kReceiverId,
    kReceiverSpeed,
    {"interval", 'n', Takes::Value, "TIME",
     "from a reply to the next poll, 5 to 500 ms, in whole\n"
     "milliseconds: 10, 10ms or 0.01s (default 10)"},
    {"count", 'c', Takes::Value, "N", "stop after N records"},
    {"duration", 'd', Takes::Value, "TIME",
     "stop after TIME: seconds (90), or with a unit:\n500ms, 2s, 1.5m, 1h"},
    {"format", 'f', Takes::Value, "FORMAT", "text (default), csv or jsonl"},
    {"hex", 0, Takes::Nothing, {}, "add the frames sent and received, in hexadecimal"},
    kMaxFailures,
    {"wait", 'w', Takes::Nothing, {},
     "wait for a port that is absent or goes away, then\nopen it again and go on"},
    {"changes", 0, Takes::Nothing, {},
     "write a record only when the buttons or channels\nchange, and a heartbeat"},
    {"heartbeat", 0, Takes::Value, "TIME",
     "with --changes, a record at least this often even\nwhen nothing changes (default 1s)"},
    kQuiet,
    kHelp,
});

constexpr auto kServeOptions = std::to_array<Option>({
    kPort,
    kReceiverId,
    kReceiverSpeed,
    {"interval", 'n', Takes::Value, "TIME",
     "from a reply to the next poll, 5 to 500 ms (default 10)"},
    kMaxFailures,
    {"listen", 'l', Takes::Value, "ADDR:PORT",
     "the address for HTTP and WebSocket (default\n127.0.0.1:8734); 0.0.0.0:8734 for every network"},
    {"token-file", 0, Takes::Value, "FILE",
     "POST /api/receiver takes \"Authorization: Bearer\"\nand the line in FILE, which must be private to\n"
     "its owner (chmod 600); without it writes are off"},
    {"allow-host", 0, Takes::Value, "NAME",
     "answer requests for this host name too (besides\nthe listen address and localhost); repeatable"},
    {"allow-origin", 0, Takes::Value, "ORIGIN",
     "take WebSocket connections from pages of this\norigin too (https://example.org); repeatable"},
    {"max-clients", 0, Takes::Value, "N", "WebSocket clients at once (default 64)"},
    {"max-clients-per-address", 0, Takes::Value, "N",
     "WebSocket clients at once from one address\n(default 16)"},
    {"max-pending-per-address", 0, Takes::Value, "N",
     "connections from one address still sending a\nrequest (default 16)"},
    {"mqtt", 0, Takes::Value, "[mqtt[s]://]HOST[:PORT]",
     "publish the records to this MQTT broker; mqtts:\nTLS (port 1883, or 8883 with TLS)"},
    {"mqtt-topic", 0, Takes::Value, "PREFIX",
     "the topics' prefix (default zub3/HOSTNAME/PORT)"},
    {"mqtt-user", 0, Takes::Value, "USER", "the user name for the broker"},
    {"mqtt-password-file", 0, Takes::Value, "FILE",
     "the broker's password, in a file private to its\nowner"},
    {"mqtt-cafile", 0, Takes::Value, "FILE",
     "connect with TLS, trusting this certificate\nauthority (mqtts:// alone trusts the system's)"},
    {"mqtt-interval", 0, Takes::Value, "TIME",
     "the broker gets the latest record this often\n(default 100ms; 0: every record)"},
    {"changes", 0, Takes::Nothing, {},
     "publish to the broker only records that differ\nfrom the one before, and one a second"},
    {"ha-discovery", 0, Takes::OptionalValue, "PREFIX",
     "announce the receiver to Home Assistant under\nPREFIX (default homeassistant)"},
    {"log-level", 0, Takes::Value, "LEVEL",
     "error, warning (default), info or debug: which\nevents the log on standard error shows"},
    kQuiet,
    kHelp,
});

constexpr auto kCheckOptions = std::to_array<Option>({
    kPort,
    kReceiverId,
    kReceiverSpeed,
    {"timeout", 't', Takes::Value, "TIME",
     "give the verdict on what was seen after TIME at the\nlatest: seconds, or 500ms, 2m (default 60)"},
    {"report", 'r', Takes::Value, "FILE",
     "write the JSON report to FILE (replaced) instead of\nstandard output"},
    {"end-tolerance", 0, Takes::Value, "N",
     "an end counts as reached within N counts of 0 or\n127 (default 5)"},
    {"centre-tolerance", 0, Takes::Value, "N",
     "a resting channel may be N counts from the centre,\n63.5 (default 6)"},
    {"noise-sd", 0, Takes::Value, "X",
     "the highest standard deviation at rest, in counts\n(default 1.0)"},
    {"noise-p2p", 0, Takes::Value, "N",
     "the most counts from lowest to highest at rest, 0\nto 16 (default 3)"},
    kQuiet,
    kHelp,
});

// Every option of every command, for the program's help.
constexpr auto kAllOptions = std::to_array<Option>({
    kPort,
    {"speed", 's', Takes::Value, "BPS",
     "115200, 625000 or 1250000; for read and monitor, the\n"
     "only speed to try; for write, the new speed"},
    {"id", 'i', Takes::Value, "N",
     "0 to 31; for write, the new ID; for monitor, the\n"
     "receiver's ID (give --speed with it: nothing is read)"},
    {"from-id", 0, Takes::Value, "N", "write: the receiver's present ID"},
    {"from-speed", 0, Takes::Value, "BPS", "write: the receiver's present line speed"},
    {"json", 0, Takes::Nothing, {}, "ports, read: print JSON"},
    {"check", 0, Takes::Nothing, {}, "ports: ask each network port's server whether it\ntakes a client now"},
    {"interval", 'n', Takes::Value, "TIME",
     "monitor: from a reply to the next poll, 5 to 500 ms\n(10, 10ms, 0.01s; default 10)"},
    {"count", 'c', Takes::Value, "N", "monitor: stop after N records"},
    {"duration", 'd', Takes::Value, "TIME",
     "monitor: stop after TIME: seconds, or with a unit\n(500ms, 2s, 1m, 1h)"},
    {"format", 'f', Takes::Value, "FORMAT", "monitor: text (default), csv or jsonl"},
    {"hex", 0, Takes::Nothing, {}, "monitor: add the frames sent and received"},
    {"max-failures", 0, Takes::Value, "N",
     "monitor: stop with status 1 after N polls without a\nreply (default: never)"},
    {"wait", 'w', Takes::Nothing, {},
     "monitor: wait for a port that is absent or goes away"},
    {"changes", 0, Takes::Nothing, {},
     "monitor: write only changes and heartbeats; serve:\npublish only those to the broker"},
    {"heartbeat", 0, Takes::Value, "TIME",
     "monitor --changes: a record at least this often\n(default 1s)"},
    {"listen", 'l', Takes::Value, "ADDR:PORT",
     "serve: the address for HTTP and WebSocket\n(default 127.0.0.1:8734)"},
    {"token-file", 0, Takes::Value, "FILE", "serve: the token that allows writes"},
    {"allow-host", 0, Takes::Value, "NAME", "serve: another host name to answer for"},
    {"allow-origin", 0, Takes::Value, "ORIGIN", "serve: another origin for WebSocket pages"},
    {"max-clients", 0, Takes::Value, "N", "serve: WebSocket clients at once (default 64)"},
    {"max-clients-per-address", 0, Takes::Value, "N", "serve: WebSocket clients from one address\n(default 16)"},
    {"max-pending-per-address", 0, Takes::Value, "N",
     "serve: unfinished requests from one address\n(default 16)"},
    {"mqtt", 0, Takes::Value, "[mqtt[s]://]HOST[:PORT]", "serve: publish the records to an MQTT broker"},
    {"mqtt-topic", 0, Takes::Value, "PREFIX", "serve: the MQTT topics' prefix"},
    {"mqtt-user", 0, Takes::Value, "USER", "serve: the MQTT user name"},
    {"mqtt-password-file", 0, Takes::Value, "FILE", "serve: the MQTT password, in a private file"},
    {"mqtt-cafile", 0, Takes::Value, "FILE", "serve: MQTT over TLS with this certificate authority"},
    {"mqtt-interval", 0, Takes::Value, "TIME", "serve: how often the broker gets the latest record"},
    {"ha-discovery", 0, Takes::OptionalValue, "PREFIX", "serve: announce the receiver to Home Assistant"},
    {"log-level", 0, Takes::Value, "LEVEL", "serve: error, warning, info or debug (default warning)"},
    {"timeout", 't', Takes::Value, "TIME", "check: the verdict after TIME at the latest\n(default 60s)"},
    {"report", 'r', Takes::Value, "FILE", "check: the JSON report to FILE"},
    {"end-tolerance", 0, Takes::Value, "N", "check: counts from 0 and 127 for an end (default 5)"},
    {"centre-tolerance", 0, Takes::Value, "N", "check: counts from the centre at rest (default 6)"},
    {"noise-sd", 0, Takes::Value, "X", "check: standard deviation at rest (default 1.0)"},
    {"noise-p2p", 0, Takes::Value, "N", "check: peak to peak at rest (default 3)"},
    {"quiet", 'q', Takes::Nothing, {},
     "read, write, monitor, serve, check: leave out the\nnotes and the summary on standard error"},
    kHelp,
    kVersionOption,
});
constexpr auto kProgramOptions = std::to_array<Option>({kHelp, kVersionOption});

constexpr std::string_view kPortsUsage = R"(Usage: zub3ctl ports [--json] [--check]
List the serial ports in the order of their COM numbers: the COM name and the device
path of each, what sysfs says of a USB adapter (product, manufacturer, serial number),
and whether this user can open the port now, and if not, why: no permission, held by
another program, or gone. A board's own UARTs (/dev/ttyAMA*, /dev/ttyTHS*) and the
/dev/serial0 and serial1 links follow by path. No device is opened. Network ports named in
~/.config/zub3/ports.conf ("COM60 rfc2217://HOST:PORT" a line) show the kind
"network"; only --check connects to their servers.
)";

constexpr std::string_view kReadUsage = R"(Usage: zub3ctl read --port PORT [--speed BPS] [--json]
Find the receiver's ID and line speed by asking for its ID at 115200, 625000 and
1250000 bit/s in turn, as ZUB-3 Manager does, and print them: "ID 7, 625000 bit/s".
)";
constexpr std::string_view kReadMore = R"(
Exit status: 0 found, 1 no receiver answered, 2 bad usage, 3 the port could not be
opened.
)";

constexpr std::string_view kWriteUsage = R"(Usage: zub3ctl write --port PORT --id N --speed BPS [--from-id N --from-speed BPS]
Give the receiver a new ID and line speed. Unless its present ID and speed are given,
they are read first as "zub3ctl read" does; then the write frame is sent at the
present speed, the reply checked, and the settings read back at the new speed to
confirm that the receiver took them. Each step is reported on a line of its own.
An ID outside 0 to 31 or another line speed is refused before the port is opened.
)";
constexpr std::string_view kWriteMore = R"(
Exit status: 0 written and confirmed, 1 no answer, refused or not confirmed, 2 bad
usage, 3 the port could not be opened.
)";

constexpr std::string_view kMonitorUsage = R"(Usage: zub3ctl monitor --port PORT [OPTION]...
Poll the receiver as ZUB-3 Manager does, the next poll one interval after each reply,
and write one record per accepted reply on standard output. The ID and line speed are
found as "zub3ctl read" does unless --id and --speed are given.
)";
constexpr std::string_view kMonitorMore = R"(
Records: every format carries the fields below, in this order; sent and received only
with --hex. CSV starts with a header line naming them and separates them by commas;
jsonl is one JSON object per line with the fields as keys; text piped is one line per
record ("1234.568 ms  TIME  held: up left  PA1 64 ..."), on a terminal a live view
redrawn in place. Numbers are written with a decimal point whatever the locale. The
fields, their names, units and order stay as they are; fields added later come last.

%FIELDS%
With --changes a record is written only when the held buttons or a channel differ
from the record written before, and one at least every --heartbeat (1 s unless given),
so that a still controller is told apart from a dead link.

With --wait a port that is absent at the start, or that goes away during the run (an
adapter unplugged, a virtual receiver ended), is waited for: a line on standard error
says so, and another when it is back. The port is looked for again (a COM name looked
up afresh, a USB adapter by its /dev/serial/by-id name), opened again and polled with
the same ID and speed. The summary counts the gaps.

Polls without a reply are counted on standard error, not in the records. Ctrl+C,
SIGTERM or a hang-up (SIGHUP) completes the record being written and ends the run,
unless that signal was ignored when the run began (nohup, a script's background job);
so does the end of a pipe the records go to. At the
end a summary goes to standard error: polls, failures, median and 95th-percentile
period, and the minimum, maximum and mean of each channel.

Exit status: 0 done (also after Ctrl+C, a hang-up or a closed pipe), 1 no receiver
answered or --max-failures was reached, 2 bad usage, 3 the port could not be opened
or went away (without --wait).
)";

constexpr std::string_view kServeUsage = R"(Usage: zub3ctl serve --port PORT [OPTION]...
Hold the receiver's port as monitor does and share it: a live page of the controller
for any browser, the latest record as JSON, a WebSocket stream of records, and an MQTT
broker for a fleet. The ID and line speed are found as "zub3ctl read" does unless --id
and --speed are given. The port is always waited for, as with "monitor --wait": one
that is absent at the start or goes away is told on standard error, waited for and
opened again, and the records go on.
)";
constexpr std::string_view kServeMore = R"(
Routes (HTTP/1.1 and WebSocket on the --listen address):
  GET /               the live page: indicators, gauges, ID, line speed, link state,
                      polls per second and failed polls; Japanese or English after the
                      browser's language; it reconnects by itself
  GET /api/state      the latest record: the fields of "monitor --format jsonl", then
                      the fields below, age_ms as at the request; 503 before the first
  GET /api/receiver   {"id": N, "speed": S}; while the link is not ok 503 with "error",
                      "link" and the last known id and speed; 503 before the receiver
                      is found
  POST /api/receiver  body {"id": N, "speed": S}, with "Authorization: Bearer TOKEN":
                      writes them as "zub3ctl write" does, between two polls; 400 for a
                      bad ID or speed, 401 without the token, 403 without --token-file,
                      503 while the port is away, 502 when the receiver does not
                      take them
  GET /ws             WebSocket: one message per record, as /api/state; /ws?changes=1
                      only records that differ from the one before, and one a second

%SERVED%
The link is no-reply after a second without a record while the port is open, away
while the port is gone, and ok with the next record. When it changes, every WebSocket
client and the broker are sent the last record again at once, with the new link and
its age (the same seq: nothing new was polled).

A WebSocket client that falls behind is sent the newest record with "dropped", the
number it missed, and closed when it stays behind for 5 seconds; one with over 64 KiB
unsent (answers to its own pings) is cut off; a frame that is not masked closes it
(1002). Requests must name the listen address, localhost, an IP address when
listening on every address, or a --allow-host name (else 421); a WebSocket page must
come from this server or an --allow-origin (else 403); a request head over 8 KiB is
431, a body over 4 KiB 413. A request's head must come within 2.5 s and all of it
within 10 s (else 408). One address may hold --max-pending-per-address connections
that are still sending a request and --max-clients-per-address WebSocket clients
(else 503); when 128 connections are sending requests, the one idle longest is
closed for a newcomer. Behind a proxy on this machine all clients share its address:
raise both limits then.

Log (standard error): each refusal at warning, with its status, reason and the
client's address (at most 20 lines a second, then a count); each WebSocket client in
and out at info, and why it went.

MQTT: PREFIX/state carries the latest record, retained, every --mqtt-interval (with
--changes only a change, and one a second); PREFIX/online is a retained "online"
while the receiver answers and "offline" while it does not, after a clean end and,
as the last will, when the server is lost. A broker that cannot be reached or goes
away is said on standard error with the reason, tried again, and the records it
missed are counted. --ha-discovery publishes retained Home Assistant configs under
PREFIX (homeassistant) for one device: a binary sensor for each button and diagonal,
a sensor for each channel and one for the link; PREFIX/discovery notes the prefix,
and a later run without it (or with another) removes those configs.

Ctrl+C, SIGTERM or a hang-up ends the run with status 0.

Exit status: 0 ended by a signal, 1 no receiver answered or --max-failures was
reached, 2 bad usage, 3 the port could not be opened, or the address could not be
listened on.
)";

constexpr std::string_view kCheckUsage = R"(Usage: zub3ctl check --port PORT [--timeout TIME] [--report FILE] [OPTION]...
Check a hand-held controller on the bench and give a verdict. The receiver is found as
"zub3ctl read" does (unless --id and --speed are given) and polled every 10 ms, while
standard error asks the person at the bench to press each of the 12 buttons and the 8
diagonals, to move each of the four channels to both ends of its range (0 and 127),
and then to let go, and ticks off each one as it is seen. The check ends as soon as
everything has been seen and the controller has rested for a second (nothing held, no
stick at an end), or after --timeout, or at Ctrl+C, and judges what it saw.
)";
constexpr std::string_view kCheckMore = R"(
A controller passes when every button and diagonal was seen pressed and none is still
held at the end, each channel came within --end-tolerance of 0 and of 127 and never
went above 127, and at rest (the last second) each channel's mean lies within
--centre-tolerance of 63.5, its standard deviation is at most --noise-sd and its
lowest and highest differ by at most --noise-p2p. A channel that moved more than 16
counts in the last second did not come to rest. Replies rejected on the way are
counted in the report but do not fail the controller.

The report is one JSON object: tool, version, verdict ("PASS" or "FAIL"), reasons
(each with code, subject and text), port, receiver (id, speed), started (the first
poll's time), duration_s, limits, link (polls, accepted, missed, short, header,
checksum), indicators (name, kind, seen, presses, one_poll_presses, held_at_end) and
channels (name, lowest, highest, low_reached, high_reached, settled, rest, sd,
peak_to_peak). The verdict and its reasons also go to standard error.

Exit status: 0 PASS, 1 FAIL (or no receiver answered), 2 bad usage, 3 the port could
not be opened or went away.
)";

constexpr std::array<Command, 6> kCommands{{
    {"ports", kPortsOptions, kPortsUsage, {}},
    {"read", kReadOptions, kReadUsage, kReadMore},
    {"write", kWriteOptions, kWriteUsage, kWriteMore},
    {"monitor", kMonitorOptions, kMonitorUsage, kMonitorMore},
    {"serve", kServeOptions, kServeUsage, kServeMore},
    {"check", kCheckOptions, kCheckUsage, kCheckMore},
}};

// The record fields as a table: name, unit, meaning wrapped under its column; monitor's
// own, or those serve adds.
std::string fieldTable(bool served)
{
    constexpr std::size_t kName = 2, kUnit = 13, kMeaning = 19;
    const auto row = [](std::string_view name, std::string_view unit, std::string_view meaning) {
        std::string out = std::string(kName, ' ') + std::string(name);
        out += std::string(kUnit - out.size(), ' ') + std::string(unit);
        out += std::string(kMeaning - out.size(), ' ');
        std::size_t width = kMeaning;
        while (!meaning.empty()) {
            const std::size_t space = meaning.find(' ');
            const std::string_view word = meaning.substr(0, space);
            if (width > kMeaning && width + 1 + word.size() > kHelpWidth) {
                out += "\n" + std::string(kMeaning, ' ');
                width = kMeaning;
            } else if (width > kMeaning) {
                out += ' ';
                ++width;
            }
            out += word;
            width += word.size();
            meaning.remove_prefix(space == meaning.npos ? meaning.size() : space + 1);
        }
        return out + "\n";
    };
    std::string out = row("field", "unit", "meaning");
    for (const Field& f : kFields)
        if (f.servedOnly == served)
            out += row(f.name, f.unit.empty() ? "-" : f.unit, f.meaning);
    return out;
}

}  // namespace

const Command* FindCommand(std::string_view name)
{
    const auto it = std::find_if(kCommands.begin(), kCommands.end(),
                                 [name](const Command& c) { return c.name == name; });
    return it == kCommands.end() ? nullptr : &*it;
}

std::string CommandHelp(const Command& command)
{
    std::string more(command.more);
    for (const bool served : {false, true}) {
        const std::string_view mark = served ? "%SERVED%" : "%FIELDS%";
        if (const auto at = more.find(mark); at != more.npos)
            more.replace(at, mark.size(), fieldTable(served));
    }
    return std::string(command.usage) + "\nOptions:\n" + cmdline::OptionHelp(command.options) +
           more;
}

std::span<const cmdline::Option> ProgramOptions()
{
    return kProgramOptions;
}

std::string ProgramHelp()
{
    return R"(Usage: zub3ctl ports [--json] [--check]
  or:  zub3ctl read --port PORT [--speed BPS] [--json]
  or:  zub3ctl write --port PORT --id N --speed BPS [--from-id N --from-speed BPS]
  or:  zub3ctl monitor --port PORT [OPTION]...
  or:  zub3ctl serve --port PORT [OPTION]...
  or:  zub3ctl check --port PORT [--timeout TIME] [--report FILE]
  or:  zub3ctl COMMAND --help
  or:  zub3ctl help [COMMAND]
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
  serve      share the receiver: a live page for browsers, JSON and WebSocket
             records for programs, MQTT for a fleet
  check      check a controller on the bench: every button, diagonal and channel
             end, and its rest; exit status 0 for PASS, 1 for FAIL, a JSON report
  help       show this help, or a command's

Options:
)" + cmdline::OptionHelp(kAllOptions) +
           R"(
Long options may be shortened while they stay unambiguous (--dur for --duration);
"--" ends the options. Times take a unit: 10ms, 0.01s, 2m, 1h.

Run "zub3ctl help COMMAND" for more on a command: the fields of the records, the
ends of a monitor run and its summary.

Exit status:
  0  done
  1  the receiver did not answer or refused (or the output could not be written)
  2  bad usage
  3  the port could not be opened (no permission, held by another program, gone)

Errors are one line on standard error.

Environment:
  ZUB3_PORT  the port of every command that is given no --port (COM51,
             /dev/ttyUSB0 or rfc2217://localhost:7000)

Examples:
  zub3ctl read --port COM51

  zub3ctl write --port /dev/ttyUSB0 --id 7 --speed 625000

  zub3ctl monitor --port COM51 --duration 60 --format csv > session.csv

  ZUB3_PORT=/dev/ttyUSB0 zub3ctl monitor --wait --changes --format jsonl

  zub3sim --replay session.csv

  zub3ctl serve --port COM51 --listen 0.0.0.0:8734 --token-file ~/.config/zub3/token

  zub3ctl check --port COM51 --report controller-17.json
)";
}

std::string VersionText()
{
    return cmdline::VersionText("zub3ctl", kVersion);
}

}  // namespace zub3::cli
