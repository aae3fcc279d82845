// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/CommandLine.h"

#include <gtest/gtest.h>

#include <array>

using namespace zub3::cmdline;

namespace {

constexpr std::array<Option, 6> kTable{{
    {"port", 'p', Takes::Value, "PORT", "the port"},
    {"format", 'f', Takes::Value, "FORMAT", "text or csv\nor jsonl"},
    {"from-id", 0, Takes::Value, "N", "present ID"},
    {"quiet", 'q', Takes::Nothing, {}, "say less"},
    {"noise", 0, Takes::OptionalValue, "N", "noise"},
    {"help", 'h', Takes::Nothing, {}, "help"},
}};

// Each option given, as "name=value" ("name" without one), then the operands.
std::string parse(std::vector<std::string> args, std::size_t operands = 1)
{
    try {
        const Parsed p = Parse(args, kTable, operands);
        std::string out;
        for (const auto& g : p.Options())
            out += std::string(g.name) + (g.value ? "=" + *g.value : "") + " ";
        for (const auto& o : p.Operands())
            out += "[" + o + "] ";
        return out;
    } catch (const UsageError& e) {
        return std::string("error: ") + e.what();
    }
}

}  // namespace

TEST(CommandLine, TheFormsOfAnOption)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"--port", "COM5"}, "port=COM5 "},
        {{"--port=COM5"}, "port=COM5 "},
        {{"--port="}, "port= "},
        {{"-p", "COM5"}, "port=COM5 "},
        {{"-pCOM5"}, "port=COM5 "},
        {{"-qh"}, "quiet help "},
        {{"-qpCOM5"}, "quiet port=COM5 "},
        {{"-qp", "COM5"}, "quiet port=COM5 "},
        {{"--port", "-q"}, "port=-q "},
        // Abbreviated where only one option begins so; an exact name beats longer ones.
        {{"--po", "COM5"}, "port=COM5 "},
        {{"--fo=csv"}, "format=csv "},
        {{"--q"}, "quiet "},
        // An optional value only with "=": the next argument stays an operand.
        {{"--noise"}, "noise "},
        {{"--noise=9"}, "noise=9 "},
        {{"--noise", "9"}, "noise [9] "},
        // "--" ends the options; a lone "-" is an operand.
        {{"--", "--port"}, "[--port] "},
        {{"-q", "--", "-"}, "quiet [-] "},
        {{"-"}, "[-] "},
        {{"x", "-q"}, "quiet [x] "},
    };
    for (const auto& [args, expected] : cases)
        EXPECT_EQ(parse(args), expected) << ::testing::PrintToString(args);

    const Parsed p = Parse(std::vector<std::string>{"-pA", "-q", "--port=B"}, kTable);
    EXPECT_EQ(p.Get("port"), "B");
    EXPECT_EQ(p.Get("quiet"), "");
    EXPECT_EQ(p.Get("format"), std::nullopt);
}

TEST(CommandLine, OneFormOfError)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"--colour"}, "unknown option '--colour'"},
        {{"--colour=red"}, "unknown option '--colour'"},
        {{"-x"}, "unknown option '-x'"},
        {{"-qx"}, "unknown option '-x'"},
        {{"--f"}, "ambiguous option '--f': --format or --from-id"},
        {{"--port"}, "--port: needs a value"},
        {{"-p"}, "--port: needs a value"},
        {{"--quiet=yes"}, "--quiet: takes no value"},
        {{"a", "b"}, "unexpected argument 'b'"},
        {{"--", "a", "b"}, "unexpected argument 'b'"},
    };
    for (const auto& [args, expected] : cases)
        EXPECT_EQ(parse(args), "error: " + expected) << ::testing::PrintToString(args);
}

TEST(CommandLine, Durations)
{
    const std::vector<std::tuple<std::string, BareUnit, std::optional<double>>> cases{
        {"10", BareUnit::Milliseconds, 10},     {"10", BareUnit::Seconds, 10'000},
        {"10ms", BareUnit::Seconds, 10},        {"0.01s", BareUnit::Milliseconds, 10},
        {"2m", BareUnit::Milliseconds, 120'000}, {"1.5min", BareUnit::Seconds, 90'000},
        {"1h", BareUnit::Seconds, 3'600'000},   {"0", BareUnit::Seconds, 0},
        {"", BareUnit::Seconds, std::nullopt},  {"ms", BareUnit::Seconds, std::nullopt},
        {"0,01s", BareUnit::Seconds, std::nullopt}, {"-1", BareUnit::Seconds, std::nullopt},
        {"1e3", BareUnit::Seconds, std::nullopt}, {"inf", BareUnit::Seconds, std::nullopt},
        {"5 s", BareUnit::Seconds, std::nullopt}, {"2d", BareUnit::Seconds, std::nullopt},
    };
    for (const auto& [text, bare, ms] : cases)
        EXPECT_EQ(ReadDuration(text, bare), ms) << text;

    EXPECT_EQ(ParseDuration("interval", "0.005s", BareUnit::Milliseconds, 5, 500), 5);
    const auto error = [](std::string_view text) {
        try {
            ParseDuration("interval", text, BareUnit::Milliseconds, 5, 500);
        } catch (const UsageError& e) {
            return std::string(e.what());
        }
        return std::string("(accepted)");
    };
    EXPECT_EQ(error("4"), "--interval: '4' is not a time from 5ms to 500ms");
    EXPECT_EQ(error("1s"), "--interval: '1s' is not a time from 5ms to 500ms");
    EXPECT_EQ(error("soon"), "--interval: 'soon' is not a time such as 10, 500ms, 0.01s, 2m or 1h");
    EXPECT_THROW(ParseInteger("id", "3x", 0, 31), UsageError);
    EXPECT_EQ(ParseInteger("id", "31", 0, 31), 31);
}

TEST(CommandLine, HelpLinesAreAligned)
{
    EXPECT_EQ(OptionHelp(kTable),
              "  -p, --port=PORT       the port\n"
              "  -f, --format=FORMAT   text or csv\n"
              "                          or jsonl\n"
              "      --from-id=N       present ID\n"
              "  -q, --quiet           say less\n"
              "      --noise[=N]       noise\n"
              "  -h, --help            help\n");
}
