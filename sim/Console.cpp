// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/Console.h"

#include <charconv>
#include <cstdio>
#include <sstream>
#include <vector>

namespace zub3::sim {
namespace {

std::vector<std::string> split(std::string_view line)
{
    std::istringstream in{std::string(line)};
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

std::string hex4(std::uint16_t word)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%04X", word);
    return buf;
}

// 0x1234 or 4660.
std::optional<int> parseWord(std::string_view text)
{
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    int v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < 0 ||
        v > 0xFFFF)
        return std::nullopt;
    return v;
}

}  // namespace

std::string ConsoleHelp()
{
    return R"(Commands:
  press NAME...        hold buttons: S1 S2 S3 S4 up down right left triangle cross
                       circle square, or ↑ ↓ → ← △ × ○ □ (press up right: a diagonal)
  release NAME...      let buttons go; "release all" lets every button go
  word VALUE           set the whole button word, e.g. word 0x1234
  channel N VALUE      set channel PA1..PA4 (N 1 to 4) to VALUE (0 to 127)
  demo on|off          animate the controller, or stop
  fault NAME [N]       switch a fault on: no-reply, short N, bad-checksum,
                       bad-header, noise [N], delay [MS], any-speed
  fault off            switch every fault off
  status               show ID, line speed, controller, faults and what was heard
  help                 show this
  quit                 remove the port and end
)";
}

Console::Result Console::Run(std::string_view line)
{
    const auto words = split(line);
    if (words.empty())
        return {};
    const std::string& cmd = words[0];
    if (cmd == "quit")
        return {"", true};
    if (cmd == "help")
        return {ConsoleHelp()};
    if (cmd == "status")
        return {status()};
    if (cmd == "press" || cmd == "release")
        return {pressOrRelease(cmd == "press", words)};
    if (cmd == "word")
        return {word(words)};
    if (cmd == "channel")
        return {channel(words)};
    if (cmd == "demo")
        return {demo(words)};
    if (cmd == "fault")
        return {fault(words)};
    return {"unknown command '" + cmd + "'; type help\n"};
}

std::string Console::buttons() const
{
    const auto word = receiver_.State().buttons;
    return "buttons: " + ButtonNames(word) + " (" + hex4(word) + ")\n";
}

std::string Console::pressOrRelease(bool press, const std::vector<std::string>& words)
{
    if (words.size() < 2)
        return words[0] + ": name the buttons, e.g. " + words[0] + " up\n";
    std::uint16_t bits = 0;
    if (!press && words.size() == 2 && words[1] == "all") {
        bits = 0xFFFF;
    } else {
        for (std::size_t i = 1; i < words.size(); ++i) {
            const auto bit = ButtonBit(words[i]);
            if (!bit)
                return "no button named '" + words[i] + "'; type help\n";
            bits |= *bit;
        }
    }
    demo_ = false;
    if (press)
        receiver_.Press(bits);
    else
        receiver_.Release(bits);
    return buttons();
}

std::string Console::word(const std::vector<std::string>& words)
{
    const auto value = words.size() == 2 ? parseWord(words[1]) : std::nullopt;
    if (!value)
        return "word: give one value from 0 to 0xFFFF, e.g. word 0x1234\n";
    demo_ = false;
    receiver_.SetButtons(static_cast<std::uint16_t>(*value));
    return buttons();
}

std::string Console::channel(const std::vector<std::string>& words)
{
    const auto n = words.size() == 3 ? ParseInt(words[1], 1, kChannelCount) : std::nullopt;
    const auto value = words.size() == 3 ? ParseInt(words[2], 0, kChannelMax) : std::nullopt;
    if (!n || !value)
        return "channel: give the channel (1 to 4) and a value (0 to 127), e.g. channel 1 64\n";
    demo_ = false;
    receiver_.SetChannel(*n - 1, static_cast<Byte>(*value));
    return "PA" + words[1] + " = " + std::to_string(*value) + "\n";
}

std::string Console::demo(const std::vector<std::string>& words)
{
    if (words.size() != 2 || (words[1] != "on" && words[1] != "off"))
        return "demo: on or off\n";
    demo_ = words[1] == "on";
    return std::string("demo ") + (demo_ ? "on" : "off") + "\n";
}

std::string Console::fault(const std::vector<std::string>& words)
{
    if (words.size() == 2 && (words[1] == "off" || words[1] == "none")) {
        receiver_.SetFaults({});
        return "faults: none\n";
    }
    if (words.size() < 2 || words.size() > 3)
        return "fault: give a fault and its value, or off; type help\n";
    Faults faults = receiver_.GetFaults();
    const auto error = SetFault(faults, words[1],
                                words.size() == 3 ? std::optional<std::string_view>(words[2])
                                                  : std::nullopt);
    if (!error.empty())
        return "fault " + words[1] + ": " + error + "\n";
    receiver_.SetFaults(faults);
    return "faults: " + DescribeFaults(faults) + "\n";
}

std::string Console::status() const
{
    const auto s = receiver_.State();
    const auto c = receiver_.GetCounters();
    std::ostringstream out;
    out << "ID " << receiver_.ID() << ", " << receiver_.BitRate() << " bit/s on "
        << receiver_.SlavePath() << "\n"
        << buttons() << "channels: PA1 " << int{s.channels[0]} << ", PA2 "
        << int{s.channels[1]} << ", PA3 " << int{s.channels[2]} << ", PA4 "
        << int{s.channels[3]} << "\n"
        << "demo: " << (demo_ ? "on" : "off") << "\n"
        << "faults: " << DescribeFaults(receiver_.GetFaults()) << "\n"
        << "heard: " << c.polls << " polls, " << c.idQueries << " ID queries, " << c.writes
        << " writes, " << c.otherID << " for other IDs, " << c.wrongSpeed
        << " reads at other speeds, " << c.discarded << " bytes not understood\n";
    return out.str();
}

}  // namespace zub3::sim
