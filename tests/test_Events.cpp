// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Events.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace platform::win;
using namespace std::chrono_literals;

TEST(Events, ManualResetStaysSignalledUntilReset)
{
    const HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(e, 0u);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(e));
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(e));
    EXPECT_EQ(WaitForSingleObject(e, 10), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(e));
}

TEST(Events, AutomaticResetReleasesOneWait)
{
    const HANDLE e = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    CloseHandle(e);
}

TEST(Events, SetEventWakesAWaiterOnAnotherThread)
{
    const HANDLE e = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::atomic<bool> woke{false};
    std::thread waiter([&] {
        EXPECT_EQ(WaitForSingleObject(e, INFINITE), WAIT_OBJECT_0);
        woke = true;
    });
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(woke);
    SetEvent(e);
    waiter.join();
    EXPECT_TRUE(woke);
    CloseHandle(e);
}

TEST(Events, TimedWaitTakesItsTime)
{
    const HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(e, 50), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
    CloseHandle(e);
}

TEST(Handles, AClosedHandleNamesNothingAndIsNeverReused)
{
    const HANDLE first = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_TRUE(CloseHandle(first));
    EXPECT_FALSE(CloseHandle(first));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetEvent(first));
    EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_FAILED);
    const HANDLE second = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(second, first);
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(SetEvent(INVALID_HANDLE_VALUE));
    CloseHandle(second);
}

TEST(Handles, LastErrorBelongsToEachThread)
{
    SetLastError(ERROR_BUSY);
    std::thread([] {
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
        SetLastError(ERROR_IO_PENDING);
    }).join();
    EXPECT_EQ(GetLastError(), ERROR_BUSY);
}
