// SPDX-License-Identifier: GPL-3.0-or-later
// ZUB3Manager's command line: help and version need no display, and what cannot start says
// why on one line with the status a script can tell apart; an unattended run records what
// it monitors, and a fresh start leaves the kept settings alone.
#include "core/Records.h"
#include "support/KeptPortRun.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <csignal>

TEST(ZUB3Manager, CommandLine)
{
    struct Case {
        QStringList args;
        bool display;
        int status;
        const char* out;  // the start of standard output
        const char* err;  // the start of standard error
        bool deadX = false;  // DISPLAY names a display no X server serves
    };
    const Case cases[] = {
        {{"--help"}, false, 0, "Usage: ZUB3Manager [OPTION]...\n", ""},
        {{"--version"}, false, 0, "ZUB3Manager (ZUB-3 Manager) 1.", ""},
        {{"--colour"}, false, 2, "",
         "ZUB3Manager: unknown option '--colour'; try \"ZUB3Manager --help\"\n"},
        {{"--record"}, false, 2, "", "ZUB3Manager: "},
        // The file is checked before the display.
        {{"--record", "/nonexistent-folder/s.csv"}, false, 1, "",
         "ZUB3Manager: cannot record: /nonexistent-folder/s.csv: "},
        {{"--record", "/dev/null"}, false, 1, "",
         "ZUB3Manager: cannot record: /dev/null: File exists (--overwrite replaces it)\n"},
        {{"--record", "/tmp"}, false, 1, "",
         "ZUB3Manager: cannot record: /tmp: Is a directory\n"},
        // A bad port, line speed or ID ends the start before the file or the display.
        {{"--port", "/dev/ttyUSB0", "--record", "/tmp"}, false, 2, "",
         "ZUB3Manager: --port: '/dev/ttyUSB0' is not a COM name such as COM51; "
         "try \"ZUB3Manager --help\"\n"},
        {{"--port=COM"}, false, 2, "", "ZUB3Manager: --port: 'COM' is not a COM name"},
        {{"--speed", "9600"}, false, 2, "",
         "ZUB3Manager: --speed: '9600' is not 115200, 625000 or 1250000; "
         "try \"ZUB3Manager --help\"\n"},
        {{"--id", "32"}, false, 2, "",
         "ZUB3Manager: --id: '32' is not a number from 0 to 31; try \"ZUB3Manager --help\"\n"},
        {{"--id", "-1"}, false, 2, "", "ZUB3Manager: --id: '-1' is not a number from 0 to 31"},
        {{}, false, 1, "",
         "ZUB3Manager: no display (DISPLAY/WAYLAND_DISPLAY unset); zub3ctl works without one\n"},
        // Not Qt's abort (134): the same line, naming the display.
        {{}, false, 1, "", "ZUB3Manager: no display (no X server answers at DISPLAY=:", true},
    };
    // A display number nothing serves here.
    int unserved = 99;
    while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(unserved)))
        ++unserved;
    QTemporaryDir runtime;  // private to the user, as Qt wants it
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString() + (c.deadX ? " (no X server)" : ""));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        if (c.display)
            env.insert("QT_QPA_PLATFORM", "offscreen");
        if (c.deadX)
            env.insert("DISPLAY", QStringLiteral(":%1").arg(unserved));
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(ZUB3MANAGER_PATH, c.args);
        ASSERT_TRUE(program.waitForFinished(20000));
        const QByteArray out = program.readAllStandardOutput();
        const QByteArray err = program.readAllStandardError();
        EXPECT_EQ(program.exitCode(), c.status);
        EXPECT_TRUE(out.startsWith(c.out)) << out.constData();
        EXPECT_TRUE(err.startsWith(c.err)) << err.constData();
        EXPECT_EQ(err.count('\n'), c.status == 0 ? 0 : 1) << err.constData();
    }
}

namespace {

// The program on the offscreen platform, with the virtual receiver and the settings of a
// last run that chose it.
class Unattended : public ::testing::Test {
protected:
    Unattended() : run_(config(), "interval=20\n[receiver]\nid=5\n")
    {
        run_.Receiver().SetButtons(0x0200);
        env_ = run_.Environment();
        env_.insert("QT_QPA_PLATFORM", "offscreen");
    }

    static zub3::sim::VirtualReceiver::Config config()
    {
        zub3::sim::VirtualReceiver::Config c;
        c.id = 5;
        c.bitRate = 625000;
        return c;
    }

    // Ends the program as a session's end does; true when it closed as its window does.
    static bool terminate(QProcess& program)
    {
        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        return program.waitForFinished(10000) && program.exitStatus() == QProcess::NormalExit &&
               program.exitCode() == 0;
    }

    // Runs --monitor --record with more options until five polls are recorded.
    void monitorRecords(const QStringList& more)
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("session.csv");
        QProcess program;
        program.setProcessEnvironment(env_);
        program.start(ZUB3MANAGER_PATH, QStringList{"--monitor", "--record", file} + more);
        ASSERT_TRUE(program.waitForStarted());
        std::vector<zub3::RecordedPoll> rows;
        WaitUntil([&] {
            try {
                rows = zub3::ReadRecords(file.toStdString());
            } catch (const std::runtime_error&) {  // no row yet
            }
            return rows.size() >= 5;
        });
        EXPECT_TRUE(terminate(program)) << program.readAllStandardError().constData();
        ASSERT_GE(rows.size(), 5u);
        EXPECT_EQ(rows.back().buttons, 0x0200);
    }

    KeptPortRun run_;
    QProcessEnvironment env_;
};

}  // namespace

TEST_F(Unattended, MonitorRecordsWithTheKeptPortSpeedAndID)
{
    monitorRecords({});
}

// Without the kept settings, only what the command line gives can reach the receiver.
TEST_F(Unattended, MonitorRecordsWithTheGivenPortSpeedAndID)
{
    monitorRecords({"--port", "COM99", "--speed", "625000", "--id", "5", "--fresh"});
}

TEST_F(Unattended, FreshStartLeavesTheKeptSettingsAsTheyWere)
{
    const QByteArray kept = run_.Settings();
    QProcess program;
    program.setProcessEnvironment(env_);
    // --monitor, which finds no port, says when the window is up.
    program.setReadChannel(QProcess::StandardError);
    program.start(ZUB3MANAGER_PATH, {"--fresh", "--monitor"});
    ASSERT_TRUE(program.waitForReadyRead(20000));
    EXPECT_EQ(program.readAllStandardError(),
              "ZUB3Manager: cannot start monitoring: no port is open\n");
    EXPECT_TRUE(terminate(program));
    EXPECT_EQ(run_.Settings(), kept);
}

// A kept settings file with a line the program does not understand: said on standard error
// too, with the line, and left as it was when the program ends.
TEST(ZUB3Manager, ASettingsFileItDoesNotUnderstandIsSaidAndLeftAlone)
{
    KeptPortRun run({}, "interval 20\n");
    const QByteArray kept = run.Settings();
    QProcessEnvironment env = run.Environment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess program;
    program.setProcessEnvironment(env);
    program.setReadChannel(QProcess::StandardError);
    program.start(ZUB3MANAGER_PATH, QStringList{});
    ASSERT_TRUE(WaitUntil([&] { return program.canReadLine() || program.waitForReadyRead(100); }));
    const QString said = QString::fromUtf8(program.readLine());
    EXPECT_TRUE(said.startsWith("ZUB3Manager: 設定ファイル ")) << said.toStdString();
    EXPECT_TRUE(said.contains("6 行目に「=」がありません")) << said.toStdString();
    ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(run.Settings(), kept);
}
