// SPDX-License-Identifier: GPL-3.0-or-later
// zub3sim: a ZUB-3 receiver on a pseudo-terminal or a network port, registered as a serial
// port.

#include "platform/SerialRegistry.h"
#include "platform/TerminationSignals.h"
#include "sim/Console.h"
#include "sim/Replay.h"
#include "sim/SimOptions.h"
#include "sim/StateFile.h"
#include "sim/VirtualReceiver.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

using namespace zub3::sim;
namespace registry = platform::registry;

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kDemoFrameMs = 50;
constexpr std::size_t kMaxLine = 4096;

void say(const std::string& text)
{
    std::fputs(text.c_str(), stdout);
}

void complain(const std::string& text)
{
    std::fprintf(stderr, "zub3sim: %s\n", text.c_str());
}

// The ID and line speed to start from: the command line over the state file over the
// defaults. A state file is (re)written when it is new or the command line changed it.
StoredSettings startSettings(const SimOptions& options)
{
    StoredSettings s;
    std::optional<StoredSettings> stored;
    if (!options.stateFile.empty()) {
        stored = LoadSettings(options.stateFile);
        if (stored)
            s = *stored;
        else
            complain("state file " + options.stateFile.string() +
                     " does not exist yet; it is created");
    }
    s.id = options.id.value_or(s.id);
    s.bitRate = options.bitRate.value_or(s.bitRate);
    if (!options.stateFile.empty() && stored != s)
        SaveSettings(options.stateFile, s);
    return s;
}

// Reads commands until quit or a signal, animating the controller while the demo is on.
void serve(VirtualReceiver& receiver, bool demo, int signals)
{
    Console console(receiver, demo);
    const auto start = std::chrono::steady_clock::now();
    bool inputOpen = true;
    std::string line;
    for (;;) {
        if (console.Demo())
            receiver.SetState(DemoStateAt(std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start)));
        pollfd fds[2] = {{signals, POLLIN, 0}, {inputOpen ? STDIN_FILENO : -1, POLLIN, 0}};
        if (::poll(fds, 2, console.Demo() ? kDemoFrameMs : -1) < 0 && errno != EINTR) {
            complain(std::string("waiting for input failed: ") + std::strerror(errno));
            return;
        }
        if (fds[0].revents != 0)
            return;
        if (fds[1].revents == 0)
            continue;
        char buf[512];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            // The end of input is no reason to stop: in the background there is none.
            inputOpen = n < 0 && (errno == EINTR || errno == EAGAIN);
            continue;
        }
        line.append(buf, static_cast<std::size_t>(n));
        if (line.find('\n') == std::string::npos && line.size() > kMaxLine) {
            say("line too long; type help\n");
            line.clear();
        }
        for (auto nl = line.find('\n'); nl != std::string::npos; nl = line.find('\n')) {
            const auto result = console.Run(std::string_view(line).substr(0, nl));
            line.erase(0, nl + 1);
            say(result.output);
            if (result.quit)
                return;
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    SimOptions options;
    StoredSettings settings;
    std::optional<Recording> recording;
    try {
        options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
        if (options.help || options.version) {
            say(options.help ? UsageText() : VersionText());
            // Help that could not be written is a failure, as any other lost output.
            if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
                complain(std::string("cannot write the output: ") + std::strerror(errno));
                return kExitFailure;
            }
            return 0;
        }
        settings = startSettings(options);
        if (!options.replay.empty()) {
            std::string skipped;
            recording = Recording::Load(options.replay, &skipped);
            if (!skipped.empty())
                complain("warning: " + skipped);
        }
    } catch (const UsageError& e) {
        complain(std::string(e.what()) + "; " + zub3::cmdline::TryHelp("zub3sim"));
        return kExitUsage;
    } catch (const std::exception& e) {
        complain(e.what());
        return kExitUsage;
    }

    ::signal(SIGPIPE, SIG_IGN);
    // Signals arrive as readable data, so the loop ends cleanly and the port is unregistered.
    std::optional<platform::TerminationSignals> stopSignals;
    try {
        stopSignals.emplace();
    } catch (const std::exception& e) {
        complain(e.what());
        return kExitFailure;
    }
    if (!options.registryDir.empty()) {
        const auto defaults = registry::DefaultLocation();
        registry::SetLocation({options.registryDir, defaults.sysTtyDir, defaults.devDir, defaults.portsFile});
    }

    std::string portName;
    try {
        VirtualReceiver::Config config;
        config.id = settings.id;
        config.bitRate = settings.bitRate;
        config.turnaround = options.turnaround;
        config.faults = options.faults;
        config.stateFile = options.stateFile;
        config.listen = options.listen;
        config.onNotice = [](const std::string& text) { say(text + "\n"); };
        if (recording)
            config.playback = [&recording, loop = options.loop](std::chrono::nanoseconds t) {
                return recording->At(t, loop);
            };
        VirtualReceiver receiver(std::move(config));

        const std::string& device = receiver.SlavePath();
        const registry::Registration port(
            options.port, device, device.starts_with("/dev/") ? device.substr(5) : device);
        portName = port.PortName();
        say(portName + " " + device + "\n");
        say("ZUB-3 ID " + std::to_string(settings.id) + ", " + std::to_string(settings.bitRate) +
            " bit/s, faults: " + DescribeFaults(options.faults) + ". Type help for commands.\n");
        if (recording)
            say("Replaying " + std::to_string(recording->Size()) + " records from " +
                options.replay.string() + (options.loop ? ", looped" : "") +
                ", from the first poll on.\n");
        serve(receiver, options.demo, stopSignals->Fd());
    } catch (const std::exception& e) {
        complain(e.what());
        return kExitFailure;
    }
    say(portName + " removed\n");
    return 0;
}
