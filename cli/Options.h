#pragma once
// The command line of zub3ctl: its commands, their options and help texts, and the checks
// of option values. Nothing here touches a port.

#include "core/Protocol.h"

#include <map>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zub3::cli {

// The exit statuses a script can rely on.
inline constexpr int kExitDone = 0;
inline constexpr int kExitNoAnswer = 1;  // the receiver did not answer or refused
inline constexpr int kExitUsage = 2;
inline constexpr int kExitCannotOpen = 3;

// A failure that ends the program: one line for standard error and the exit status.
class Failure : public std::runtime_error {
public:
    Failure(int status, const std::string& message) : std::runtime_error(message), status_(status)
    {
    }
    int Status() const { return status_; }

private:
    int status_;
};

class UsageError : public Failure {
public:
    explicit UsageError(const std::string& message) : Failure(kExitUsage, message) {}
};

struct OptionInfo {
    std::string_view name;  // long name, without "--"
    char shortName;         // 0 for none
    bool takesValue;
};

// The options given, by long name; a flag maps to "". A later value replaces an earlier one.
class Arguments {
public:
    bool Has(std::string_view name) const { return values_.contains(std::string(name)); }
    std::optional<std::string> Get(std::string_view name) const;
    void Set(std::string_view name, std::string value)
    {
        values_[std::string(name)] = std::move(value);
    }

private:
    std::map<std::string, std::string> values_;
};

// GNU style: --name VALUE, --name=VALUE, -x VALUE, -xVALUE; no arguments other than options.
// Throws UsageError naming the offending argument.
Arguments ParseArguments(std::span<const std::string> args, std::span<const OptionInfo> table);

// The commands, with their options and help text.
struct Command {
    std::string_view name;
    std::span<const OptionInfo> options;
    std::string_view help;
};
const Command* FindCommand(std::string_view name);

std::string ProgramHelp();
std::string VersionText();

// Value checks; each throws UsageError naming the option.
int ParseID(std::string_view option, std::string_view text);
LineSpeed ParseSpeed(std::string_view option, std::string_view text);
long long ParseCount(std::string_view option, std::string_view text, long long min, long long max);
// Seconds as a decimal number, or with a unit: 500ms, 2s, 1.5m, 1h. In milliseconds.
double ParseDuration(std::string_view option, std::string_view text);

}  // namespace zub3::cli
