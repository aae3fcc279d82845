// SPDX-License-Identifier: GPL-3.0-or-later
// The button log: presses and releases of the 20 indicators as the polls saw them, by name
// and time, and the file it saves.
#include "app/ButtonLog.h"

#include "app/ZUB3Check.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>

#include <ctime>

namespace {

zub3::PollResult poll(std::int64_t wallMs, std::optional<std::uint16_t> buttons)
{
    zub3::PollResult p{std::chrono::steady_clock::now(), wallMs, {}};
    if (buttons)
        p.data = zub3::PollData{*buttons, {}};
    return p;
}

QString at(std::int64_t wallMs)
{
    return QDateTime::fromMSecsSinceEpoch(wallMs).toString(QStringLiteral("HH:mm:ss.zzz"));
}

}  // namespace

TEST(ButtonLog, PressesAndReleasesByNameAndTime)
{
    TMainForm form;
    ButtonLog log(form);
    const std::int64_t t0 = 1'700'000'000'000;
    // S1 is held from the first poll on: when it went down nobody saw.
    log.Add(poll(t0, 0x0200));
    log.Add(poll(t0 + 10, 0x0201));           // ↑
    log.Add(poll(t0 + 20, std::nullopt));     // no reply: nothing changes
    log.Add(poll(t0 + 30, 0x0209));           // ← joins ↑: the diagonal too
    log.Add(poll(t0 + 40, 0x0000));           // all up
    const QStringList expected{
        at(t0 + 10) + "  押した  ↑",
        at(t0 + 30) + "  押した  ←",
        at(t0 + 30) + "  押した  ↑←",
        at(t0 + 40) + "  離した  S1",
        at(t0 + 40) + "  離した  ↑",
        at(t0 + 40) + "  離した  ←",
        at(t0 + 40) + "  離した  ↑←",
    };
    EXPECT_EQ(log.Lines(), expected);

    QTemporaryDir dir;
    const QString file = dir.filePath("buttons.csv");
    // Saved where the local time is not UTC.
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "Asia/Tokyo");
    ::tzset();
    const bool saved = log.Save(file);
    if (zone.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", zone);
    ::tzset();
    ASSERT_TRUE(saved);
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    ASSERT_EQ(lines.size(), 9);  // the header, seven entries, the last newline
    EXPECT_EQ(lines[0], "time,event,indicator");
    // In UTC: 1'700'000'000'040 ms is 22:13:20.040 on 14 November 2023.
    EXPECT_EQ(lines[1], "2023-11-14T22:13:20.010Z,press,↑");
    EXPECT_EQ(lines[7], "2023-11-14T22:13:20.040Z,release,↑←");
}
