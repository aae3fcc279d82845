// SPDX-License-Identifier: GPL-3.0-or-later
// ZUB3Manager's command line: help and version need no display, and what cannot start says
// why on one line with the status a script can tell apart.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

TEST(ZUB3Manager, CommandLine)
{
    struct Case {
        QStringList args;
        bool display;
        int status;
        const char* out;  // the start of standard output
        const char* err;  // the start of standard error
    };
    const Case cases[] = {
        {{"--help"}, false, 0, "Usage: ZUB3Manager [OPTION]...\n", ""},
        {{"--version"}, false, 0, "ZUB3Manager (ZUB-3 Manager) 1.", ""},
        {{"--colour"}, false, 2, "",
         "ZUB3Manager: unknown option '--colour'; try \"ZUB3Manager --help\"\n"},
        {{"--record"}, false, 2, "", "ZUB3Manager: "},
        {{"--record", "/nonexistent-folder/s.csv"}, true, 1, "",
         "ZUB3Manager: cannot record: /nonexistent-folder/s.csv: "},
    };
    QTemporaryDir runtime;  // private to the user, as Qt wants it
    for (const Case& c : cases) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        if (c.display)
            env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(ZUB3MANAGER_PATH, c.args);
        ASSERT_TRUE(program.waitForFinished(20000)) << c.args.join(' ').toStdString();
        const QByteArray out = program.readAllStandardOutput();
        const QByteArray err = program.readAllStandardError();
        EXPECT_EQ(program.exitCode(), c.status) << c.args.join(' ').toStdString();
        EXPECT_TRUE(out.startsWith(c.out)) << out.constData();
        EXPECT_TRUE(err.startsWith(c.err)) << err.constData();
        EXPECT_EQ(err.count('\n'), c.status == 0 ? 0 : 1) << err.constData();
    }
}
