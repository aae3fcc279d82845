// SPDX-License-Identifier: GPL-3.0-or-later
// The window's status line while a network port connects, and for a ports file it cannot
// use; notices kept in full; a network port's line settings waited for without stopping the
// window.

#include "app/Notices.h"
#include "app/PortNotices.h"
#include "app/ZUB3Check.h"
#include "platform/Comm.h"
#include "platform/CommDevice.h"
#include "platform/SerialRegistry.h"
#include "support/Rfc2217Server.h"
#include "support/TempRegistry.h"

#include <QCoreApplication>
#include <QStatusBar>
#include <QTimer>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

using namespace rfc2217test;
using namespace std::chrono_literals;

TEST(PortNotices, TheStatusLineTellsTheWaitAndThePortsFile)
{
    TempRegistry registry;
    auto location = platform::registry::CurrentLocation();
    location.portsFile = registry.Root() / "ports.conf";
    platform::registry::SetLocation(location);
    std::ofstream(location.portsFile) << "COM66 tcp://robot:7000\n";
    TMainForm form;
    PortNotices notices(form);
    platform::registry::ReadSerialComm();
    QCoreApplication::processEvents();
    EXPECT_TRUE(form.StatusText().contains("ports.conf:1: \"tcp://robot:7000\" is not an address"))
        << form.StatusText().toStdString();

    // The window goes on handling its events while the server takes its time.
    Rfc2217Server server([](Rfc2217Server& s) {
        std::this_thread::sleep_for(300ms);
        s.Greet();
        s.Hold();
    });
    QString during;
    QTimer::singleShot(100, &form, [&] { during = form.StatusText(); });
    platform::win::DWORD error = 0;
    EXPECT_NE(platform::win::detail::OpenNetworkDevice(server.Address(), error), nullptr);
    EXPECT_EQ(during, QString::fromStdString(server.Address()) + " に接続しています…");
    EXPECT_EQ(form.StatusText(), QString());
}

// The status line cuts a long text at the window's width; its tooltip keeps the run's
// notices whole, the newest last, a bounded number of them.
TEST(PortNotices, NoticesAreKeptInFullInTheStatusLinesTooltip)
{
    TMainForm form;
    form.resize(200, form.height());
    const QString longOne = QStringLiteral("設定ファイル /home/someone/.config/zub3/ZUB3Manager.conf の "
                                           "line/interval は使えない値なので、既定の値にしました。");
    ShowNotice(form, longOne, false);
    EXPECT_EQ(form.StatusText(), longOne);
    EXPECT_EQ(form.StatusBar->toolTip(), longOne);
    for (int i = 1; i <= 25; ++i)
        ShowNotice(form, QStringLiteral("notice %1").arg(i), false);
    EXPECT_TRUE(form.StatusBar->toolTip().startsWith("notice 6\nnotice 7\n"));
    EXPECT_TRUE(form.StatusBar->toolTip().endsWith("\nnotice 25"));
}

// A server slow to answer a line setting or a modem line (up to 3 s, 300 ms) does not stop
// the window meanwhile: an event posted before the call is handled inside it.
TEST(PortNotices, TheWindowGoesOnWhileANetworkPortsLineIsSet)
{
    using namespace platform::win;
    TempRegistry registry;
    Rfc2217Server server([](Rfc2217Server& s) {
        s.Greet();  // SET-CONTROL and a new line speed go unanswered
        s.Hold();
    });
    const std::string name =
        "COM" + std::to_string(platform::registry::PortForThisProcess(server.Address()));
    const HANDLE h = CreateFileA(("\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DCB dcb{};
    ASSERT_TRUE(GetCommState(h, &dcb));
    const struct {
        const char* what;
        std::function<BOOL()> call;
        BOOL result;
    } rows[] = {
        // An unanswered SET-CONTROL still holds, as on ser2net's pseudo terminals.
        {"modem line", [&] { return EscapeCommFunction(h, SETDTR); }, TRUE},
        {"line speed",
         [&] {
             dcb.BaudRate = 625000;
             return SetCommState(h, &dcb);
         },
         FALSE},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        bool inside = true;
        bool handledInside = false;
        QTimer::singleShot(0, [&] { handledInside = inside; });
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(r.call(), r.result);
        inside = false;
        // The call's own last error, from the thread that waited for the server.
        EXPECT_EQ(GetLastError(), r.result ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER);
        QCoreApplication::processEvents();
        EXPECT_TRUE(handledInside);
    }
    CloseHandle(h);
}
