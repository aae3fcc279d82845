#pragma once
// SPDX-License-Identifier: GPL-3.0-or-later
// The one option parser of every program here, so that the forms of an option, its
// abbreviations, "--", numbers with units, the help layout and the errors are the same in
// each. GNU style, as getopt_long: --name VALUE, --name=VALUE, -x VALUE, -xVALUE, bundled
// flags (-qh), optional values only as --name=VALUE, "--" ends the options, and a long
// name may be shortened while it stays unambiguous. No Qt.

#include "core/Protocol.h"

#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zub3::cmdline {

// Bad usage: one line naming the option or argument at fault.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Takes { Nothing, Value, OptionalValue };

struct Option {
    std::string_view name;  // long name, without "--"
    char shortName = 0;     // 0: none
    Takes takes = Takes::Nothing;
    std::string_view valueName = {};  // the value as the help names it: PORT
    std::string_view help = {};       // lines separated by '\n'
};

class Parsed {
public:
    struct Given {
        std::string_view name;  // the option's full long name
        std::optional<std::string> value;
    };

    bool Has(std::string_view name) const;
    // The value of the last occurrence; "" for an option that takes none or left it out.
    std::optional<std::string> Get(std::string_view name) const;
    // Every option in the order given, for programs where repetition or order matters.
    const std::vector<Given>& Options() const { return options_; }
    const std::vector<std::string>& Operands() const { return operands_; }

private:
    friend Parsed Parse(std::span<const std::string>, std::span<const Option>, std::size_t);
    std::vector<Given> options_;
    std::vector<std::string> operands_;
};

// Parses args against table; arguments that are not options (and all after "--") are
// operands, at most maxOperands of them. Throws UsageError.
Parsed Parse(std::span<const std::string> args, std::span<const Option> table,
             std::size_t maxOperands = 0);

// The table as help lines: "  -p, --port=PORT    help", the help column aligned, its
// further lines indented two more.
std::string OptionHelp(std::span<const Option> table);

// A whole decimal number within [min, max]. Throws UsageError naming --option.
long long ParseInteger(std::string_view option, std::string_view text, long long min,
                       long long max);

// What a number without a unit means for a time option.
enum class BareUnit { Milliseconds, Seconds };

// A time as a decimal number (never in the locale's form) with an optional unit: ms, s,
// m (or min), h; a bare number is in the option's own unit. The result is in
// milliseconds, nullopt when the text is not such a time.
std::optional<double> ReadDuration(std::string_view text, BareUnit bare);

// ReadDuration within [minMs, maxMs]. Throws UsageError naming --option.
double ParseDuration(std::string_view option, std::string_view text, BareUnit bare,
                     double minMs, double maxMs);

// The receiver's ID, 0 to 31. Throws UsageError naming --option.
int ParseID(std::string_view option, std::string_view text);
// One of the receiver's line speeds by its bit rate. Throws UsageError naming --option.
LineSpeed ParseSpeed(std::string_view option, std::string_view text);

// The pointer to the help that ends a line about bad usage, the same in every program:
// try "zub3ctl read --help".
std::string TryHelp(std::string_view command);

// What --version prints: the program, the project's version and the licence.
std::string VersionText(std::string_view program, std::string_view version);

}  // namespace zub3::cmdline
