// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The check of a hand-held controller on the bench: fed every poll, it ticks off each of the
// 20 indicators pressed, each channel taken to both ends of its range and the controller let
// go, and gives a verdict with the reasons: a button or diagonal never seen or still held,
// an end not reached, a resting value off the centre, a noisy rest. The window and zub3ctl
// both judge with it, and both write its report.

#include "core/Records.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zub3 {

// How far a controller may be from ideal and still pass.
struct CheckLimits {
    int endTolerance = 5;       // an end counts as reached within this many counts of 0 or 127
    int centreTolerance = 6;    // the resting value may be this far from the centre
    double noiseSd = 1.0;       // standard deviation at rest, at most
    int noisePeakToPeak = 3;    // lowest to highest at rest, at most
    bool operator==(const CheckLimits&) const = default;
};
// The limits as a person may set them; anything else is refused with what it should be.
// Empty when limits are usable.
std::string CheckLimitsFault(const CheckLimits& limits);

inline constexpr int kChannelTop = 127;          // the channels' full scale
inline constexpr double kChannelCentre = 63.5;   // the middle of 0 to 127
inline constexpr int kIndicatorCount = 20;       // 12 buttons, then the 8 diagonals

// An indicator by its place: 0 to 11 the buttons in the window's order, 12 to 19 the
// diagonals. Its name for reports: "S1", "up", ... and a diagonal as "up+left".
std::string IndicatorName(int indicator);
std::uint16_t IndicatorMask(int indicator);

// What made a controller fail, for people and for programs.
struct CheckReason {
    enum class Kind {
        NoAnswer,        // no poll was answered
        NotSeen,         // an indicator never lit
        HeldAtEnd,       // a button still held when the controller was let go
        LowEnd,          // a channel never came down to 0 within the tolerance (value: lowest)
        HighEnd,         // nor up to 127 (value: highest)
        AboveRange,      // a channel went past 127 (value: highest)
        NotSettled,      // a channel did not come to rest (value: its spread in the last second)
        OffCentre,       // resting away from the centre (value: the resting value)
        NoisySd,         // value: the standard deviation at rest
        NoisyPeakToPeak, // value: lowest to highest at rest
    };
    Kind kind;
    std::string subject;  // the indicator's or channel's name; "" for NoAnswer
    double value = 0;
    double limit = 0;     // what value was held against
};
// The reason as a line for people, in English: "PA1 went down to 12 only (0 within 5)".
std::string DescribeReason(const CheckReason& reason);
// A stable code for programs: "not-seen", "low-end" ...
std::string_view ReasonCode(CheckReason::Kind kind);

struct IndicatorResult {
    int presses = 0;
    int onePollPresses = 0;  // presses seen in a single poll only
    bool heldAtEnd = false;
    bool Seen() const { return presses > 0; }
};

struct ChannelResult {
    int lowest = 0, highest = 0;
    bool lowReached = false, highReached = false;
    // At rest: over the last second of polls, when the check ended. settled is false when
    // there was no such second or the channel still moved in it.
    bool settled = false;
    double rest = 0;          // the mean
    double sd = 0;
    int peakToPeak = 0;
};

// One answered poll's channels, for the report's plots.
struct CheckSample {
    double tMs;
    std::array<Byte, 4> channels;
};

struct CheckReport {
    CheckLimits limits;
    bool pass = false;
    std::vector<CheckReason> reasons;
    std::array<IndicatorResult, kIndicatorCount> indicators{};
    std::array<ChannelResult, 4> channels{};
    int polls = 0;
    std::array<int, 5> byFault{};  // by PollFault: accepted, missed, short, header, checksum
    std::int64_t startWallMs = 0;  // the first poll's wall clock
    double durationMs = 0;         // from the first poll to the last
    std::vector<CheckSample> samples;
};

// Who made the report and on what: the program and its version, the port and the receiver.
struct CheckContext {
    std::string tool;     // "zub3ctl", "ZUB3Manager"
    std::string version;
    std::string port;     // "COM51"
    int id = -1;          // -1 when not known
    int bitRate = 0;      // 0 when not known
};

class ControllerCheck {
public:
    explicit ControllerCheck(CheckLimits limits = {});

    // Every poll, answered or not, in the order they were sent.
    void Add(const PollResult& poll);

    const CheckLimits& Limits() const { return limits_; }
    // Everything seen is kept as measured, so new limits judge it afresh.
    void SetLimits(const CheckLimits& limits) { limits_ = limits; }
    bool Seen(int indicator) const { return indicators_[static_cast<std::size_t>(indicator)].Seen(); }
    int SeenCount() const;
    // The channel has come within the tolerance of its low or high end.
    bool LowReached(int channel) const;
    bool HighReached(int channel) const;
    int Polls() const { return polls_; }
    // Nothing held and every channel still for the last second (and at least a few polls).
    bool Resting() const;
    // Everything asked for has been seen and the controller rests: the verdict can be given.
    bool Complete() const;

    // The verdict on what has been seen so far.
    CheckReport Report() const;

private:
    struct Recent {
        double tMs;
        PollData data;
    };
    struct Spread {
        int lowest = 0, highest = 0;
        double mean = 0, sd = 0;
    };
    bool restWindowFull() const;
    Spread spread(int channel) const;
    void keep(double tMs, const PollData& data);

    CheckLimits limits_;
    int polls_ = 0;
    std::array<int, 5> byFault_{};
    std::optional<std::chrono::steady_clock::time_point> first_;
    std::int64_t firstWallMs_ = 0;
    double lastMs_ = 0;
    std::array<IndicatorResult, kIndicatorCount> indicators_{};
    std::array<int, kIndicatorCount> heldFor_{};  // answered polls each has been held in a row
    std::optional<std::uint16_t> lastButtons_;
    std::array<int, 4> lowest_{}, highest_{};
    std::deque<Recent> recent_;  // the answered polls of the last second or so
    std::vector<CheckSample> samples_;
    int sampleStride_ = 1;       // every how many answered polls a sample is kept
    long long answered_ = 0;
};

// The report for programs: one JSON object (with a newline), the same keys whoever writes it.
std::string CheckReportJson(const CheckReport& report, const CheckContext& context);

// The words of the report page, in the reader's language; the page's structure and plots
// are the same in every language.
struct CheckPageTexts {
    std::string title, verdictPass, verdictFail, reasonsHeading;
    std::vector<std::string> reasons;  // each of report.reasons, as the reader reads it
    std::string tool, port, receiver, started, duration, limits;
    std::string indicators, indicator, seen, notSeen, presses, onePoll;
    std::string channels, channel, lowest, highest, rest, sd, peakToPeak, notSettled;
    std::string link, polls, accepted, missed, shortReply, badHeader, badChecksum;
    std::string plots;
};
// A page that needs nothing else to be read: styles inline and each channel drawn as SVG,
// over time, with its ends and the centre's band marked.
std::string CheckReportHtml(const CheckReport& report, const CheckContext& context,
                            const CheckPageTexts& texts);

}  // namespace zub3
