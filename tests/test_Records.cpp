// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Records.h"

#include "session/Summary.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <malloc.h>

#include <algorithm>

using namespace zub3;
using namespace zub3::cli;

TEST(Records, HeldButtonsAreNamedInTheOrderOfTheButtonTable)
{
    EXPECT_EQ(HeldNames(0), "");
    EXPECT_EQ(HeldNames(0x1234), "S1 S4 right triangle cross");
    EXPECT_EQ(HeldNames(0x0009), "up left");           // a diagonal is its two directions
    EXPECT_EQ(HeldNames(0x0110), "triangle square");
    EXPECT_EQ(HeldNames(0xE080), "");                  // bits no button has
}

TEST(Records, WallClockIsUtcWithMilliseconds)
{
    const struct {
        std::int64_t ms;
        const char* time;
    } rows[] = {
        {1'700'000'000'123LL, "2023-11-14T22:13:20.123Z"},
        {1'700'000'000'999LL, "2023-11-14T22:13:20.999Z"},
        {1'700'000'001'000LL, "2023-11-14T22:13:21.000Z"},
        {0, "1970-01-01T00:00:00.000Z"},
        {-1, "1969-12-31T23:59:59.999Z"},
    };
    // Whatever zone the program runs in.
    const char* const zones[] = {"UTC", "Asia/Tokyo", "America/St_Johns"};
    const char* kept = std::getenv("TZ");
    const std::string before = kept ? kept : "";
    for (const char* zone : zones) {
        ::setenv("TZ", zone, 1);
        ::tzset();
        for (const auto& r : rows) {
            SCOPED_TRACE(std::string(zone) + " " + std::to_string(r.ms));
            EXPECT_EQ(WallClock(r.ms), r.time);
        }
    }
    if (kept)
        ::setenv("TZ", before.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

TEST(Records, EachFormatCarriesTheSameFields)
{
    const Record r{1234.5678, "2026-12-07T10:00:00.123Z", {0x0201, {64, 127, 0, 255}},
                   "A0 7F 00 07", "A0 7F 00 07 20"};
    EXPECT_EQ(Header(Format::Csv, false), "t_ms,time,buttons,held,pa1,pa2,pa3,pa4\n");
    EXPECT_EQ(Header(Format::Jsonl, true), "");
    EXPECT_EQ(FormatRecord(Format::Csv, false, r),
              "1234.568,2026-12-07T10:00:00.123Z,513,S1 up,64,127,0,255\n");
    EXPECT_EQ(FormatRecord(Format::Jsonl, true, r),
              "{\"t_ms\": 1234.568, \"time\": \"2026-12-07T10:00:00.123Z\", \"buttons\": 513, "
              "\"held\": [\"S1\", \"up\"], \"pa1\": 64, \"pa2\": 127, \"pa3\": 0, \"pa4\": 255, "
              "\"sent\": \"A0 7F 00 07\", \"received\": \"A0 7F 00 07 20\"}\n");
    EXPECT_EQ(FormatRecord(Format::Text, false, Record{0, "T", {}, {}, {}}),
              "0.000 ms  T  held: -  PA1 0  PA2 0  PA3 0  PA4 0\n");
    EXPECT_EQ(Dump(BuildPollFrame(5)), "A5 7F 00 07");
    // The window's dump, which Dump trims: up to index last, each byte followed by a space.
    const std::array<Byte, 3> bytes{0x0A, 0xF0, 0xFF};
    EXPECT_EQ(HexDump(bytes, 1).toStdString(), "0A F0 ");
    EXPECT_EQ(HexDump(bytes, 9).toStdString(), "0A F0 FF ");
    EXPECT_EQ(HexDump(bytes, -1).toStdString(), "");
}

TEST(Records, ServedRecordsAddTheirFieldsAfterTheRecordsOwn)
{
    const Record r{12.5, "T", {0x0009, {1, 2, 3, 4}}, {}, {}};
    const std::string own = RecordJson(r, false);
    EXPECT_EQ(FormatRecord(Format::Jsonl, false, r), own + "\n");
    const Served served{7, 2, Link::NoReply, 1500, 0};
    const std::string json = RecordJson(r, false, &served);
    EXPECT_EQ(json, own.substr(0, own.size() - 1) +
                        ", \"seq\": 7, \"failed\": 2, \"link\": \"no-reply\", \"age_ms\": 1500}");
    // The order of the keys is the field table's; dropped only when something was.
    std::vector<std::string> keys;
    for (const Field& f : kFields)
        if (!f.hexOnly && f.name != "dropped")
            keys.push_back(std::string(f.name));
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
    EXPECT_EQ(o.keys().size(), static_cast<qsizetype>(keys.size()));
    for (const std::string& key : keys)
        EXPECT_TRUE(o.contains(QString::fromStdString(key))) << key;
    Served behind = served;
    behind.dropped = 3;
    EXPECT_TRUE(RecordJson(r, false, &behind).ends_with(", \"dropped\": 3}"));
    // None of this reaches monitor's own formats.
    EXPECT_EQ(Header(Format::Csv, true).find("seq"), std::string::npos);
    for (const auto& [link, name] : {std::pair{Link::Ok, "ok"}, std::pair{Link::NoReply, "no-reply"},
                                     std::pair{Link::Away, "away"}})
        EXPECT_EQ(LinkName(link), name);
}

TEST(Records, TheLiveViewRedrawsOverItself)
{
    const Record r{0, "T", {0x0001, {0, 255, 128, 0}}, {}, {}};
    const std::string first = LiveView(r, 1, 0, false);
    EXPECT_EQ(first.find("\x1b[6F"), std::string::npos);
    EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), 6);
    EXPECT_NE(first.find("held: up\n"), std::string::npos);
    EXPECT_NE(first.find("PA2 255 [" + std::string(32, '#') + "]"), std::string::npos);
    EXPECT_NE(first.find("PA1   0 [" + std::string(32, ' ') + "]"), std::string::npos);
    EXPECT_EQ(LiveView(r, 2, 0, true).rfind("\x1b[6F", 0), 0u);
}

TEST(Records, TheSummaryGivesPeriodPercentilesAndChannelFigures)
{
    Summary s;
    EXPECT_EQ(s.Text(RecordCount(0, "written")),
              "0 polls, 0 without a reply, 0 rejected, 0 records written\n");
    // Periods 10 x 18, then 20 and 40: the median is 10, the 95th percentile 20.
    double t = 0;
    for (int i = 0; i < 21; ++i) {
        s.Poll(t);
        t += i < 18 ? 10 : i == 18 ? 20 : 40;
    }
    s.Failure();
    s.Rejected();
    s.Accepted({0, {10, 0, 255, 1}});
    s.Accepted({0, {20, 0, 255, 2}});
    EXPECT_EQ(s.Text(RecordCount(1, "written")),
              "21 polls, 1 without a reply, 1 rejected, 1 record written\n"
              "period: median 10.000 ms, 95th percentile 20.000 ms\n"
              "PA1: min 10, max 20, mean 15.00\n"
              "PA2: min 0, max 0, mean 0.00\n"
              "PA3: min 255, max 255, mean 255.00\n"
              "PA4: min 1, max 2, mean 1.50\n");
}

TEST(Records, TheSummaryOfALongRunDoesNotGrowWithIt)
{
    // A day of polls at the default interval: no figure may be kept per poll.
    auto heap = [] {
        const auto m = ::mallinfo2();
        return static_cast<long long>(m.uordblks + m.hblkhd);  // small blocks and mapped ones
    };
    Summary s;
    const long long before = heap();
    for (int i = 0; i < 1'000'000; ++i)
        s.Poll(i * 12.5);
    EXPECT_LT(heap() - before, 1 << 16);
    EXPECT_NE(s.Text("").find("period: median 12.500 ms, 95th percentile 12.500 ms\n"),
              std::string::npos);
}
