// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/Replay.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

using namespace zub3::sim;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

class ReplayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("zub3-replay-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path write(const std::string& name, const std::string& text) const
    {
        std::ofstream(dir_ / name) << text;
        return dir_ / name;
    }

    std::string errorOf(const std::string& text) const
    {
        try {
            Recording::Load(write("bad", text));
        } catch (const std::runtime_error& e) {
            return std::string(e.what()).substr((dir_ / "bad").string().size());
        }
        return "(accepted)";
    }

    fs::path dir_;
};

ControllerState state(std::uint16_t buttons, zub3::Byte pa1, zub3::Byte pa2 = 0,
                      zub3::Byte pa3 = 0, zub3::Byte pa4 = 0)
{
    return {buttons, {pa1, pa2, pa3, pa4}};
}

}  // namespace

TEST_F(ReplayTest, ReadsWhatMonitorWritesInBothFormats)
{
    // Columns found by name, extra ones ignored, CRLF line ends taken.
    const auto csv = Recording::Load(
        write("a.csv",
              "t_ms,time,buttons,held,pa1,pa2,pa3,pa4,sent,received\r\n"
              "0.000,2026-12-07T10:00:00.000Z,513,S1 up,1,2,3,4,A0 7F 00 07,A0\r\n"
              "10.500,2026-12-07T10:00:00.010Z,0,,255,0,0,200,A0 7F 00 07,A0\r\n"));
    EXPECT_EQ(csv.Size(), 2u);
    EXPECT_EQ(csv.At(0ms, false), state(513, 1, 2, 3, 4));
    EXPECT_EQ(csv.At(10ms, false), state(0, 255, 0, 0, 200));

    const auto jsonl = Recording::Load(write(
        "a.jsonl", "{\"t_ms\": 5.0, \"time\": \"x\", \"buttons\": 9, \"held\": \"up left\", "
                   "\"pa1\": 7, \"pa2\": 8, \"pa3\": 9, \"pa4\": 10}\n\n"
                   "{\"pa4\": 0, \"pa3\": 0, \"pa2\": 0, \"pa1\": 0, \"buttons\": 0, "
                   "\"t_ms\": 25}\n"));
    EXPECT_EQ(jsonl.Size(), 2u);
    // Times count from the first sample.
    EXPECT_EQ(jsonl.At(0ms, false), state(9, 7, 8, 9, 10));
    EXPECT_EQ(jsonl.At(20ms, false), state(0, 0));
}

TEST_F(ReplayTest, NamesTheLineAndTheFaultOfABadFile)
{
    EXPECT_EQ(errorOf("t_ms,buttons,pa1,pa2,pa3\n"), ":1: the header has no pa4 column");
    EXPECT_EQ(errorOf("t_ms,buttons,pa1,pa2,pa3,pa4\n0,1,2,3,4,256\n"),
              ":2: pa4 is missing or not 0 to 255");
    EXPECT_EQ(errorOf("t_ms,buttons,pa1,pa2,pa3,pa4\n0,1,2,3,4\n"),
              ":2: pa4 is missing or not 0 to 255");
    EXPECT_EQ(errorOf("t_ms,buttons,pa1,pa2,pa3,pa4\n0,65536,0,0,0,0\n"),
              ":2: buttons is missing or not 0 to 65535");
    EXPECT_EQ(errorOf("t_ms,buttons,pa1,pa2,pa3,pa4\n5,0,0,0,0,0\n4,0,0,0,0,0\n"),
              ":3: t_ms goes backwards");
    EXPECT_EQ(errorOf("{\"t_ms\": 0, \"buttons\": 1.5, \"pa1\": 0, \"pa2\": 0, \"pa3\": 0, "
                      "\"pa4\": 0}\n"),
              ":1: buttons is missing or not 0 to 65535");
    EXPECT_EQ(errorOf("{\"t_ms\": \"0\"\n"), ":1: not a JSON object");
    EXPECT_EQ(errorOf("t_ms,buttons,pa1,pa2,pa3,pa4\n"), ": no records");
    EXPECT_THROW(Recording::Load(dir_ / "missing.csv"), std::runtime_error);
    // A directory opens as a stream but holds no lines: it is not a recording without records.
    try {
        Recording::Load(dir_);
        ADD_FAILURE() << "a directory was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(e.what(), "cannot read " + dir_.string());
    }
}

TEST_F(ReplayTest, ARowCutShortAtTheEndIsSkippedAndSaid)
{
    // Cut inside a number, the row would still read, with a wrong value.
    const auto file = write("cut.csv", "t_ms,buttons,pa1,pa2,pa3,pa4\n0,1,2,3,4,5\n"
                                       "10,1,2,3,4,127\n20,1,2,3,4,12");
    std::string skipped;
    const auto r = Recording::Load(file, &skipped);
    EXPECT_EQ(r.Size(), 2u);
    EXPECT_EQ(skipped, file.string() + ":4: the last row is cut short; skipped");
    skipped.clear();
    Recording::Load(write("whole.csv", "t_ms,buttons,pa1,pa2,pa3,pa4\n0,1,2,3,4,5\n"), &skipped);
    EXPECT_EQ(skipped, "");
}

TEST(Replay, AnswersWithTheNearestSampleAndHoldsOrLoopsAtTheEnd)
{
    const Recording r({{100, state(1, 0)}, {110, state(2, 0)}, {120, state(3, 0)}});
    EXPECT_EQ(r.At(0ms, false).buttons, 1);
    EXPECT_EQ(r.At(4ms, false).buttons, 1);
    EXPECT_EQ(r.At(6ms, false).buttons, 2);  // a poll a little early meets its sample
    EXPECT_EQ(r.At(14ms, false).buttons, 2);
    EXPECT_EQ(r.At(16ms, false).buttons, 3);
    EXPECT_EQ(r.At(10s, false).buttons, 3);  // the last state holds
    // Looped, the recording is 30 ms long: its last sample holds one period.
    EXPECT_EQ(r.At(30ms, true).buttons, 1);
    EXPECT_EQ(r.At(41ms, true).buttons, 2);
    EXPECT_EQ(r.At(3020ms, true).buttons, 3);

    const Recording single({{7, state(5, 9)}});
    EXPECT_EQ(single.At(1h, true), state(5, 9));
}
