// SPDX-License-Identifier: GPL-3.0-or-later
// platform/'s Windows files on Windows' own calls (under Wine here): the port list from the
// system's SERIALCOMM key, a port in use refused by the system and said as on Linux, and
// Ctrl+C through the console control handler. The runner maps COM5 to a virtual receiver's
// pseudo-terminal in a Wine prefix of the test's own.

#include "platform/PortTexts.h"
#include "platform/SerialRegistry.h"
#include "platform/SystemPorts.h"
#include "platform/TerminationSignals.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

using namespace platform;

namespace {

HANDLE openPort(const std::string& portName)
{
    return ::CreateFileA(registry::DeviceName(portName).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                         nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

bool underWine()
{
    return ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

}  // namespace

TEST(SystemPorts, TheMappedPortIsListedUnderItsWindowsNumber)
{
    const auto ports = registry::SystemSerialPorts();
    const auto com5 = std::find_if(ports.begin(), ports.end(),
                                   [](const registry::SystemPort& p) { return p.portName == "COM5"; });
    ASSERT_NE(com5, ports.end()) << ports.size() << " ports listed";
    EXPECT_FALSE(com5->device.empty());
    EXPECT_TRUE(std::is_sorted(ports.begin(), ports.end(), [](const auto& a, const auto& b) {
        return registry::PortNumber(a.portName) < registry::PortNumber(b.portName);
    }));
    EXPECT_EQ(registry::DeviceName("COM12"), "\\\\.\\COM12");
}

// What the system's refusals mean, said as the Linux build says them.
TEST(SystemPorts, RefusalsAreSaidAsOnLinux)
{
    const struct {
        DWORD error;
        ports::Access state;
        const char* text;
    } rows[] = {
        {ERROR_ACCESS_DENIED, ports::Access::Held,
         "COM5 is in use by another program: close it and open the port again."},
        {ERROR_SHARING_VIOLATION, ports::Access::Held,
         "COM5 is in use by another program: close it and open the port again."},
        {ERROR_FILE_NOT_FOUND, ports::Access::Gone,
         "COM5 is no longer there: plug the adapter in again or choose another port."},
        {ERROR_GEN_FAILURE, ports::Access::Free, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.error);
        const auto access = ports::AccessFromSystemError("COM5", row.error);
        EXPECT_EQ(access.state, row.state);
        EXPECT_EQ(ports::Explain(access, ports::Language::English), row.text);
    }
}

// Windows refuses a second open of a port; Wine lets it through, so there this is skipped.
TEST(SystemPorts, APortInUseIsRefusedByTheSystem)
{
    const HANDLE first = openPort("COM5");
    ASSERT_NE(first, INVALID_HANDLE_VALUE) << ::GetLastError();
    const HANDLE second = openPort("COM5");
    const DWORD error = ::GetLastError();
    ::CloseHandle(first);
    if (second != INVALID_HANDLE_VALUE && underWine()) {
        ::CloseHandle(second);
        GTEST_SKIP() << "Wine opens a port twice";
    }
    EXPECT_EQ(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ports::AccessFromSystemError("COM5", error).state, ports::Access::Held) << error;

    EXPECT_EQ(openPort("COM250"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(ports::AccessFromSystemError("COM250", ::GetLastError()).state, ports::Access::Gone);
}

// The runner sends SIGINT to the program once it waits, which Wine delivers as Ctrl+C (its
// GenerateConsoleCtrlEvent does not reach a program without a console of Wine's own).
TEST(TerminationSignals, CtrlCReachesTheProgramsLoop)
{
    TerminationSignals signals;
    EXPECT_FALSE(TerminationSignals::Caught());
    std::puts("waiting for Ctrl+C");
    std::fflush(stdout);
    // The handler runs on a thread of the system's.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!TerminationSignals::Caught() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(TerminationSignals::Caught());
    signals.Clear();
}
