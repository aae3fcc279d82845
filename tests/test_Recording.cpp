// SPDX-License-Identifier: GPL-3.0-or-later
// Recording from the window against the virtual receiver: the rows are the polls it
// answered, the virtual receiver plays them back, and a file that can take no more stops
// the recording while monitoring goes on, ending with a whole row.
#include "app/Recording.h"

#include "app/WindowExtras.h"
#include "core/Records.h"
#include "sim/Replay.h"
#include "support/Wait.h"
#include "support/WindowRig.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <csignal>

using zub3::sim::ControllerState;
using zub3::sim::Faults;

namespace {

// The controller as the test moves it on before poll k: a different button and channels
// each time.
ControllerState stateFor(int k)
{
    return {zub3::kButtons[static_cast<std::size_t>(k) % zub3::kButtons.size()].bit,
            {static_cast<zub3::Byte>(k * 20), static_cast<zub3::Byte>(255 - k), 128,
             static_cast<zub3::Byte>(k)}};
}

std::vector<ControllerState> rows(const QString& file)
{
    std::vector<ControllerState> out;
    try {
        for (const auto& p : zub3::ReadRecords(file.toStdString()))
            out.push_back({p.buttons, p.channels});
    } catch (const std::runtime_error&) {  // no row yet
    }
    return out;
}

// Monitoring at the shortest interval.
void monitor(TMainForm& form)
{
    WindowRig::Choose(form.cbxBaudRate, "115200");
    WindowRig::Choose(form.cbxInterval, "5");
    WindowRig::ClickSwitch(form);
}

}  // namespace

TEST(Recording, RowsAreTheAnsweredPollsAndTheReceiverPlaysThemBack)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("session.csv");
    WindowRig rig;
    std::vector<ControllerState> expected;
    {
        auto form = rig.OpenWindow();
        auto* extras = new WindowExtras(*form);
        extras->StartRecording(file);
        EXPECT_TRUE(form->windowTitle().endsWith("[記録中: session.csv]"));
        // Poll 4 goes unanswered and poll 7 comes back garbled: neither has a row.
        int poll = 0;
        rig.receiver->SetState(stateFor(0));
        QObject::connect(form.get(), &TMainForm::Polled, [&](const zub3::PollResult&) {
            if (poll != 4 && poll != 7)
                expected.push_back(stateFor(poll));
            ++poll;
            Faults faults;
            faults.noReply = poll == 4;
            faults.badChecksum = poll == 7;
            rig.receiver->SetFaults(faults);
            rig.receiver->SetState(stateFor(poll));
        });
        monitor(*form);
        ASSERT_TRUE(WaitUntil([&] { return poll >= 12; }));
        WindowRig::ClickSwitch(*form);
        ASSERT_TRUE(WaitUntil([&] { return !form->Monitoring; }));
        const QString summary = extras->StopRecording();
        EXPECT_FALSE(form->windowTitle().contains("記録中"));
        EXPECT_TRUE(summary.contains("チェックサム不一致 1") && summary.contains("応答なし 1"))
            << summary.toStdString();
    }
    EXPECT_EQ(rows(file), expected);
    EXPECT_EQ(zub3::ReadRecords(file.toStdString()).front().tMs, 0.0);  // timed from the first row

    // The virtual receiver replays it, and the window records what it plays.
    const auto recording = zub3::sim::Recording::Load(file.toStdString());
    zub3::sim::VirtualReceiver::Config config;
    config.playback = [recording](std::chrono::nanoseconds t) { return recording.At(t, false); };
    rig.StartReceiver(config);
    const QString replayed = dir.filePath("replayed.csv");
    auto form = rig.OpenWindow();
    auto* extras = new WindowExtras(*form);
    extras->StartRecording(replayed);
    monitor(*form);
    // Rows are in the file as they come.
    ASSERT_TRUE(WaitUntil([&] {
        const auto r = rows(replayed);
        return !r.empty() && r.back() == expected.back();
    }));
    // Each row played is a recorded one, in the recorded order, from the first on.
    const auto played = rows(replayed);
    EXPECT_EQ(played.front(), expected.front());
    auto at = expected.begin();
    for (const auto& row : played) {
        at = std::find(at, expected.end(), row);
        ASSERT_NE(at, expected.end()) << "a row out of order or never recorded";
    }
}

TEST(Recording, FileThatTakesNoMoreStopsTheRecordingNotMonitoring)
{
    WindowRig rig;
    auto form = rig.OpenWindow();
    auto* extras = new WindowExtras(*form);
    for (const char* file : {"/nonexistent-folder/session.csv", "/dev/full"})
        EXPECT_THROW(extras->StartRecording(file, true), std::runtime_error) << file;
    // A file that is there is replaced only when asked to.
    EXPECT_THROW(extras->StartRecording("/dev/null"), std::runtime_error);
    EXPECT_FALSE(extras->Recording());

    auto dir = std::make_unique<QTemporaryDir>();
    const QString file = dir->filePath("session.csv");
    extras->StartRecording(file);
    monitor(*form);
    ASSERT_TRUE(WaitUntil([&] { return !rows(file).empty(); }));
    dir.reset();  // the folder removed, the file with it
    ASSERT_TRUE(WaitUntil([&] { return !rig.messages.empty(); }));
    EXPECT_EQ(rig.messages[0].kind, MessageKind::Warning);
    EXPECT_TRUE(rig.messages[0].text.startsWith("記録を停止しました。" + file));
    EXPECT_FALSE(extras->Recording());
    EXPECT_FALSE(form->windowTitle().contains("記録中"));
    const auto polls = rig.receiver->GetCounters().polls;
    EXPECT_TRUE(WaitUntil([&] { return rig.receiver->GetCounters().polls > polls + 5; }));
    EXPECT_TRUE(form->Monitoring);
}

TEST(Recording, AFileCutShortEndsWithItsLastWholeRow)
{
    // A file size limit stands in for a full disk: the row that crosses it is taken in part.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    QTemporaryDir dir;
    const QString file = dir.filePath("session.csv");
    WindowRig rig;
    auto form = rig.OpenWindow();
    auto* extras = new WindowExtras(*form);
    extras->StartRecording(file);
    rlimit limit = old;
    limit.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    int poll = 0;
    QObject::connect(form.get(), &TMainForm::Polled,
                     [&](const zub3::PollResult&) { rig.receiver->SetState(stateFor(++poll)); });
    monitor(*form);
    const bool stopped = WaitUntil([&] { return !rig.messages.empty(); });
    ::setrlimit(RLIMIT_FSIZE, &old);
    ASSERT_TRUE(stopped);
    EXPECT_FALSE(extras->Recording());
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray content = f.readAll();
    EXPECT_TRUE(content.endsWith('\n')) << content.right(40).constData();
    EXPECT_GT(zub3::ReadRecords(file.toStdString()).size(), 5u);
}

TEST(Recording, AFileThatTakesNotEvenTheHeaderIsNotLeftBehind)
{
    // A file size limit of 0 stands in for a disk that was full before the start.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    QTemporaryDir dir;
    for (const bool overwrite : {false, true}) {
        SCOPED_TRACE(overwrite ? "overwrite" : "new file");
        const QString file = dir.filePath(overwrite ? "over.csv" : "new.csv");
        rlimit limit = old;
        limit.rlim_cur = 0;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        bool threw = false;
        try {
            Recording recording(file, overwrite);
        } catch (const std::runtime_error&) {
            threw = true;
        }
        ::setrlimit(RLIMIT_FSIZE, &old);
        EXPECT_TRUE(threw);
        // So the same start, once there is room, is not refused as "File exists".
        EXPECT_FALSE(QFile::exists(file));
        EXPECT_EQ(Recording::Refusal(file, false), QString());
    }
}
