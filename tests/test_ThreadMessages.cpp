// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/ThreadMessages.h"

#include "support/Wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace platform::win;
using namespace std::chrono_literals;

TEST(ThreadMessages, PostingNeedsAQueueThatLivesWithItsThread)
{
    std::atomic<DWORD> id{0};
    std::atomic<bool> makeQueue{false};
    std::atomic<bool> made{false};
    std::thread t([&] {
        id = GetCurrentThreadId();
        while (!makeQueue)
            std::this_thread::sleep_for(1ms);
        MSG m;
        PeekMessageA(&m, HWND{}, 0, 0, PM_NOREMOVE);
        made = true;
    });
    ASSERT_TRUE(WaitUntil([&] { return id != 0; }));
    EXPECT_FALSE(PostThreadMessageA(id, 0x500, 1, 2));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_THREAD_ID);
    makeQueue = true;
    t.join();
    EXPECT_TRUE(made);
    EXPECT_FALSE(PostThreadMessageA(id, 0x500, 1, 2));  // gone with its thread
}

TEST(ThreadMessages, WaitMessageWakesAndMessagesComeInOrder)
{
    std::atomic<DWORD> id{0};
    std::vector<MSG> got;
    std::thread t([&] {
        MSG m;
        PeekMessageA(&m, HWND{}, 0, 0, PM_NOREMOVE);
        id = GetCurrentThreadId();
        while (got.size() < 3) {
            WaitMessage();
            while (PeekMessageA(&m, HWND{}, 0, 0, PM_REMOVE))
                got.push_back(m);
        }
    });
    ASSERT_TRUE(WaitUntil([&] { return id != 0; }));
    std::this_thread::sleep_for(20ms);  // asleep in WaitMessage by now
    EXPECT_TRUE(PostThreadMessageA(id, 0x500, 10, 100));
    EXPECT_TRUE(PostThreadMessageA(id, 0x501, 0, 0));
    EXPECT_TRUE(PostThreadMessageA(id, 0x500, 20, -5));
    t.join();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].message, 0x500u);
    EXPECT_EQ(got[0].wParam, 10u);
    EXPECT_EQ(got[0].lParam, 100);
    EXPECT_EQ(got[1].message, 0x501u);
    EXPECT_EQ(got[2].wParam, 20u);
    EXPECT_EQ(got[2].lParam, -5);
    EXPECT_EQ(got[2].hwnd, HWND{});
}

TEST(ThreadMessages, PeekCanLeaveTheMessageAndFilterByNumber)
{
    MSG m;
    PeekMessageA(&m, HWND{}, 0, 0, PM_NOREMOVE);
    const DWORD self = GetCurrentThreadId();
    ASSERT_TRUE(PostThreadMessageA(self, 0x400, 1, 0));
    ASSERT_TRUE(PostThreadMessageA(self, 0x500, 2, 0));
    EXPECT_TRUE(PeekMessageA(&m, HWND{}, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(m.wParam, 1u);
    EXPECT_TRUE(PeekMessageA(&m, HWND{}, 0x500, 0x5FF, PM_REMOVE));
    EXPECT_EQ(m.wParam, 2u);
    EXPECT_FALSE(PeekMessageA(&m, HWND{1}, 0, 0, PM_REMOVE));  // no window messages here
    EXPECT_TRUE(PeekMessageA(&m, HWND{}, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.wParam, 1u);
    EXPECT_FALSE(PeekMessageA(&m, HWND{}, 0, 0, PM_REMOVE));
}
