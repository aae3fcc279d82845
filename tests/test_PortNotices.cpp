// SPDX-License-Identifier: GPL-3.0-or-later
// The window's status line while a network port connects, and for a ports file it cannot
// use.

#include "app/PortNotices.h"
#include "app/ZUB3Check.h"
#include "platform/CommDevice.h"
#include "platform/SerialRegistry.h"
#include "support/Rfc2217Server.h"
#include "support/TempRegistry.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <fstream>

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
