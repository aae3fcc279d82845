// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/CommandLine.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace zub3::cmdline {
namespace {

std::string quoted(std::string_view s)
{
    return "'" + std::string(s) + "'";
}

[[noreturn]] void fail(std::string_view name, const std::string& what)
{
    throw UsageError("--" + std::string(name) + ": " + what);
}

// An exact name wins; otherwise the one option the text begins, as getopt_long allows.
const Option& findLong(std::span<const Option> table, std::string_view name, std::string_view arg)
{
    std::vector<const Option*> candidates;
    for (const Option& o : table) {
        if (o.name == name)
            return o;
        if (o.name.starts_with(name))
            candidates.push_back(&o);
    }
    if (candidates.empty())
        throw UsageError("unknown option " + quoted(arg));
    if (candidates.size() > 1) {
        std::string names;
        for (std::size_t i = 0; i < candidates.size(); ++i)
            names += (i == 0 ? "" : i + 1 == candidates.size() ? " or " : ", ") +
                     std::string("--") + std::string(candidates[i]->name);
        throw UsageError("ambiguous option " + quoted(arg) + ": " + names);
    }
    return *candidates.front();
}

const Option* findShort(std::span<const Option> table, char c)
{
    const auto it = std::find_if(table.begin(), table.end(),
                                 [c](const Option& o) { return o.shortName == c; });
    return it == table.end() ? nullptr : &*it;
}

// A limit of a time option in the largest unit that states it whole.
std::string timeText(double ms)
{
    struct Unit {
        double ms;
        const char* name;
    };
    for (const Unit u : {Unit{3'600'000, "h"}, Unit{60'000, "m"}, Unit{1'000, "s"}})
        if (ms >= u.ms && std::fmod(ms, u.ms) == 0)
            return std::to_string(static_cast<long long>(ms / u.ms)) + u.name;
    char buf[32];
    const auto end = std::to_chars(buf, buf + sizeof buf, ms).ptr;
    return std::string(buf, end) + "ms";
}

}  // namespace

bool Parsed::Has(std::string_view name) const
{
    return std::any_of(options_.begin(), options_.end(),
                       [name](const Given& g) { return g.name == name; });
}

std::optional<std::string> Parsed::Get(std::string_view name) const
{
    const auto it = std::find_if(options_.rbegin(), options_.rend(),
                                 [name](const Given& g) { return g.name == name; });
    if (it == options_.rend())
        return std::nullopt;
    return it->value.value_or("");
}

Parsed Parse(std::span<const std::string> args, std::span<const Option> table,
             std::size_t maxOperands)
{
    Parsed out;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            if (out.operands_.size() == maxOperands)
                throw UsageError("unexpected argument " + quoted(arg));
            out.operands_.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg.starts_with("--")) {
            const auto eq = arg.find('=');
            const std::string_view name = arg.substr(2, eq == arg.npos ? arg.npos : eq - 2);
            const Option& o = findLong(table, name, arg.substr(0, eq));
            std::optional<std::string> value;
            if (eq != arg.npos) {
                if (o.takes == Takes::Nothing)
                    fail(o.name, "takes no value");
                value = std::string(arg.substr(eq + 1));
            } else if (o.takes == Takes::Value) {
                if (i + 1 == args.size())
                    fail(o.name, "needs a value");
                value = args[++i];
            }
            out.options_.push_back({o.name, std::move(value)});
            continue;
        }
        // One or more short options: flags may be bundled, and the first that takes a
        // value takes the rest of the argument, or else the next one.
        for (std::size_t k = 1; k < arg.size(); ++k) {
            const Option* o = findShort(table, arg[k]);
            if (!o)
                throw UsageError("unknown option " + quoted(k == 1 ? arg : "-" + std::string(1, arg[k])));
            if (o->takes == Takes::Nothing) {
                out.options_.push_back({o->name, std::nullopt});
                continue;
            }
            std::optional<std::string> value;
            if (k + 1 < arg.size())
                value = std::string(arg.substr(k + 1));
            else if (o->takes == Takes::Value) {
                if (i + 1 == args.size())
                    fail(o->name, "needs a value");
                value = args[++i];
            }
            out.options_.push_back({o->name, std::move(value)});
            break;
        }
    }
    return out;
}

std::string OptionHelp(std::span<const Option> table)
{
    std::vector<std::string> left;
    std::size_t width = 0;
    for (const Option& o : table) {
        std::string s = o.shortName ? std::string("  -") + o.shortName + ", --" : "      --";
        s += o.name;
        if (o.takes == Takes::Value)
            s += "=" + std::string(o.valueName);
        else if (o.takes == Takes::OptionalValue)
            s += "[=" + std::string(o.valueName) + "]";
        width = std::max(width, s.size());
        left.push_back(std::move(s));
    }
    const std::size_t column = width + 3;
    std::string out;
    for (std::size_t i = 0; i < table.size(); ++i) {
        out += left[i] + std::string(column - left[i].size(), ' ');
        std::string_view help = table[i].help;
        for (std::size_t nl; (nl = help.find('\n')) != help.npos; help.remove_prefix(nl + 1))
            out += std::string(help.substr(0, nl)) + "\n" + std::string(column + 2, ' ');
        out += std::string(help) + "\n";
    }
    return out;
}

long long ParseInteger(std::string_view option, std::string_view text, long long min,
                       long long max)
{
    long long n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || n < min ||
        n > max)
        fail(option, quoted(text) + " is not a number from " + std::to_string(min) + " to " +
                         std::to_string(max));
    return n;
}

std::optional<double> ReadDuration(std::string_view text, BareUnit bare)
{
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value,
                                           std::chars_format::fixed);
    if (text.empty() || ec != std::errc() || !std::isfinite(value) || value < 0)
        return std::nullopt;
    const std::string_view unit(end, static_cast<std::size_t>(text.data() + text.size() - end));
    double scale = 0;
    if (unit.empty())
        scale = bare == BareUnit::Seconds ? 1000 : 1;
    else if (unit == "ms")
        scale = 1;
    else if (unit == "s")
        scale = 1000;
    else if (unit == "m" || unit == "min")
        scale = 60'000;
    else if (unit == "h")
        scale = 3'600'000;
    if (scale == 0)
        return std::nullopt;
    return value * scale;
}

double ParseDuration(std::string_view option, std::string_view text, BareUnit bare,
                     double minMs, double maxMs)
{
    const auto ms = ReadDuration(text, bare);
    if (!ms)
        fail(option, quoted(text) + " is not a time such as " +
                         (bare == BareUnit::Seconds ? "90, " : "10, ") +
                         "500ms, 0.01s, 2m or 1h");
    if (*ms < minMs || *ms > maxMs)
        fail(option, quoted(text) + " is not a time from " + timeText(minMs) + " to " +
                         timeText(maxMs));
    return *ms;
}

int ParseID(std::string_view option, std::string_view text)
{
    return static_cast<int>(ParseInteger(option, text, 0, kMaxID));
}

LineSpeed ParseSpeed(std::string_view option, std::string_view text)
{
    int rate = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), rate);
    if (ec == std::errc() && end == text.data() + text.size())
        if (const auto speed = LineSpeedByBitRate(rate))
            return *speed;
    fail(option, quoted(text) + " is not 115200, 625000 or 1250000");
}

std::string VersionText(std::string_view program, std::string_view version)
{
    return std::string(program) + " (ZUB-3 Manager) " + std::string(version) +
           "\nLicense GPL-3.0-or-later: GNU GPL version 3 or later "
           "<https://gnu.org/licenses/gpl.html>.\n"
           "This is free software: you are free to change and redistribute it.\n"
           "There is NO WARRANTY, to the extent permitted by law.\n";
}

std::string TryHelp(std::string_view command)
{
    return "try \"" + std::string(command) + " --help\"";
}

}  // namespace zub3::cmdline
