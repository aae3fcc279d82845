// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/Port.h"

#include "session/Output.h"
#include "core/Records.h"
#include "platform/PortAccess.h"
#include "platform/PortTexts.h"
#include "platform/SerialRegistry.h"
#include "serial/CommX.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

namespace zub3::cli {
namespace {

namespace registry = platform::registry;
namespace ports = platform::ports;

std::filesystem::path canonical(const std::string& path)
{
    std::error_code ec;
    const auto p = std::filesystem::weakly_canonical(path, ec);
    return ec ? std::filesystem::path(path) : p;
}

// "COM7: " before a line that names the device, unless the port was named by that path.
std::string portPrefix(const PortChoice& choice)
{
    return choice.name == choice.device ? std::string() : choice.name + ": ";
}

std::string explain(const PortChoice& choice, const ports::PortAccess& access)
{
    return portPrefix(choice) + ports::Explain(access, ports::Language::English);
}

// A device that has gone refuses every setting: that, not the setting, is what to report.
void failIfGone(const PortChoice& choice)
{
    const ports::PortAccess access = ports::CheckAccess(choice.device);
    if (access.state == ports::Access::Gone)
        throw Failure(kExitCannotOpen, explain(choice, access));
}

std::string speedList(std::span<const LineSpeed> speeds)
{
    std::string out;
    for (std::size_t i = 0; i < speeds.size(); ++i)
        out += (i == 0 ? "" : i + 1 == speeds.size() ? " or " : ", ") +
               std::to_string(speeds[i].bitRate);
    return out;
}

std::string cannotRun(const PortChoice& choice, std::span<const LineSpeed> speeds)
{
    return portPrefix(choice) + choice.device + " cannot run at " + speedList(speeds) + " bit/s";
}

// Whether the port runs at the speed; it is left set to it when it does.
bool runsAt(TCommX& port, const PortChoice& choice, const LineSpeed& speed)
{
    try {
        port.SetBitRate(speed.bitRate);
        return true;
    } catch (const ECommError&) {
        failIfGone(choice);
        return false;
    }
}

std::string upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

std::vector<registry::Value> ListedPorts(const std::string& portUsed)
{
    registry::SetPortsFileSink([](const registry::PortsFileProblem& p) {
        Note(std::string(program_invocation_short_name) + ": " + p.message + "\n");
    });
    auto values = registry::ReadSerialComm().value_or(std::vector<registry::Value>{});
    if (Quiet() && !portUsed.empty())
        for (const auto& p : registry::PortsFileProblems())
            if (p.port == portUsed)
                Warn(std::string(program_invocation_short_name) + ": " + p.message + "\n");
    return values;
}

std::string PortText(const Arguments& args)
{
    if (const auto value = args.Get("port"))
        return *value;
    // A robot's computer has one receiver: its port once in the environment, not in every
    // command.
    if (const char* fromEnvironment = std::getenv("ZUB3_PORT"); fromEnvironment && *fromEnvironment)
        return fromEnvironment;
    throw UsageError("--port is required (or ZUB3_PORT in the environment)");
}

PortChoice ChoosePort(const std::string& text)
{
    const std::string name = upper(text);
    const auto values = ListedPorts(name);
    if (registry::IsNetworkAddress(text)) {
        if (!registry::ParseNetworkAddress(text))
            throw UsageError("--port: '" + text + "' is not an address such as rfc2217://HOST:PORT");
        const auto listed = std::find_if(values.begin(), values.end(),
                                         [&text](const registry::Value& v) { return v.devicePath == text; });
        const int number = listed != values.end() ? registry::PortNumber(listed->data)
                                                  : registry::PortForThisProcess(text);
        return {text, number, text};
    }
    const bool isPath = text.find('/') != std::string::npos;
    for (const auto& v : values) {
        const bool match = isPath ? canonical(v.devicePath) == canonical(text) : v.data == name;
        // Only a port the serial component can open by number: "COM" and the number.
        if (const int number = registry::PortNumber(v.data); match && number > 0)
            return {v.data, number, v.devicePath};
    }
    if (!isPath)
        throw Failure(kExitCannotOpen,
                      text + ": not a serial port this system lists; see \"zub3ctl ports\"");
    if (!std::filesystem::exists(text))
        throw Failure(kExitCannotOpen, text + ": no such device");
    const std::string device = canonical(text).string();
    if (!registry::IsTerminalDevice(device))
        throw Failure(kExitCannotOpen, text + ": not a terminal device, so not a serial port");
    return {text, registry::PortForThisProcess(device), device};
}

bool PortPresent(const std::string& text)
{
    if (registry::IsNetworkAddress(text))
        return true;
    std::error_code ec;
    if (text.find('/') != std::string::npos)
        return std::filesystem::exists(text, ec);
    const auto device = registry::ResolvePort(upper(text));
    return device && std::filesystem::exists(*device, ec);
}

std::unique_ptr<TCommX> OpenPort(const PortChoice& choice)
{
    auto port = std::make_unique<TCommX>(nullptr);
    port->Language = clEnglish;
    SetReceiverLine(*port);
    port->SetPortNo(choice.number);
    try {
        port->Open();
    } catch (const ECommError& e) {
        ports::PortAccess why = ports::LastOpenRefusal();
        if (why.state == ports::Access::Free)
            why = ports::CheckAccess(choice.device);
        if (why.state == ports::Access::Free)
            throw Failure(kExitCannotOpen, choice.name + ": " + e.what());
        throw Failure(kExitCannotOpen, explain(choice, why));
    }
    return port;
}

std::string LostReason(const PortChoice& choice)
{
    if (const auto address = registry::ParseNetworkAddress(choice.device)) {
        ports::PortAccess lost;
        lost.state = ports::Access::Dropped;
        lost.device = address->Text();
        return explain(choice, lost);
    }
    const ports::PortAccess access = ports::CheckAccess(choice.device);
    return access.state == ports::Access::Gone ? explain(choice, access) : std::string();
}

std::optional<LineSpeed> AskedSpeed(const Arguments& args)
{
    const auto s = args.Get("speed");
    return s ? std::optional(cmdline::ParseSpeed("speed", *s)) : std::nullopt;
}

void RequireSpeed(TCommX& port, const PortChoice& choice, const LineSpeed& speed)
{
    if (!runsAt(port, choice, speed))
        throw Failure(kExitCannotOpen, cannotRun(choice, std::span(&speed, 1)));
}

std::vector<LineSpeed> SpeedsToTry(TCommX& port, const PortChoice& choice,
                                   const std::optional<LineSpeed>& asked)
{
    if (asked) {
        RequireSpeed(port, choice, *asked);
        return {*asked};
    }
    std::vector<LineSpeed> runnable;
    std::vector<LineSpeed> skipped;
    for (const LineSpeed& speed : kLineSpeeds)
        (runsAt(port, choice, speed) ? runnable : skipped).push_back(speed);
    if (runnable.empty())
        throw Failure(kExitCannotOpen, cannotRun(choice, skipped));
    if (!skipped.empty())
        Note("zub3ctl: " + cannotRun(choice, skipped) + "; skipped\n");
    return runnable;
}

std::optional<ReceiverSettings> SearchSettings(TCommX& port, const PortChoice& choice,
                                               std::span<const LineSpeed> speeds,
                                               const std::function<bool()>& cancelled)
{
    try {
        return ReadSettings(port, speeds, {}, cancelled);
    } catch (const ECommError& e) {
        failIfGone(choice);
        const std::string text = e.what();
        throw Failure(kExitCannotOpen, choice.name + ": " + text.substr(0, text.find('\n')));
    }
}

std::optional<ReceiverSettings> ReadOrFail(TCommX& port, const PortChoice& choice,
                                           std::span<const LineSpeed> speeds,
                                           const std::function<bool()>& cancelled)
{
    const auto found = SearchSettings(port, choice, speeds, cancelled);
    if (!found && !(cancelled && cancelled()))
        throw Failure(kExitNoAnswer, choice.name + ": no receiver answered at " +
                                         speedList(speeds) + " bit/s");
    return found;
}

WriteResult WriteSettings(TCommX& port, const PortChoice& choice, const ReceiverSettings& present,
                          const ReceiverSettings& wanted,
                          const std::function<void(const std::string&)>& step)
{
    const auto tell = [&](const std::string& line) {
        if (step)
            step(line);
    };
    // A receiver set to a speed the port cannot run could not be reached again.
    if (!runsAt(port, choice, wanted.speed))
        return {present, cannotRun(choice, std::span(&wanted.speed, 1))};
    port.SetBitRate(present.speed.bitRate);
    const WriteFrame frame = BuildWriteFrame(present.id, wanted.speed.code, wanted.id);
    tell("Write: " + Describe(wanted) + ", sent " + Dump(frame));
    const WriteExchange reply = zub3::Write(port, frame);
    if (!reply.Answered())
        return {present, choice.name + ": no reply to the write at " +
                             std::to_string(present.speed.bitRate) + " bit/s"};
    if (!reply.accepted)
        return {present, choice.name + ": the receiver refused the write (reply " +
                             Dump(reply.received) + ")"};
    tell("Reply: " + Dump(reply.received) + ", accepted");
    const auto check = SearchSettings(port, choice, std::span(&wanted.speed, 1));
    if (!check)
        return {wanted, choice.name + ": no answer at the new speed " +
                            std::to_string(wanted.speed.bitRate) +
                            " bit/s; the receiver may not have taken the settings"};
    if (check->id != wanted.id)
        return {check, choice.name + ": the receiver reports " + Describe(*check) +
                           " instead of " + Describe(wanted)};
    tell("Confirmed: " + Describe(*check));
    return {check, {}};
}

std::string Describe(const ReceiverSettings& s)
{
    return "ID " + std::to_string(s.id) + ", " + std::to_string(s.speed.bitRate) + " bit/s";
}

}  // namespace zub3::cli
