// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/NotifyWindow.h"

#include "platform/ThreadMessages.h"

#include "support/Wait.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace platform::win;
using namespace std::chrono_literals;

namespace {

// Records what its procedure got, and on which thread.
struct Recorder {
    std::vector<UINT> messages;
    bool allOnMain = true;
    HWND window = CreateNotifyWindow([this](UINT message, WPARAM wParam, LPARAM lParam) {
        allOnMain = allOnMain && QThread::currentThread() == QCoreApplication::instance()->thread();
        messages.push_back(message);
        return static_cast<LRESULT>(wParam + lParam);
    });
    ~Recorder() { DestroyWindow(window); }
};

}  // namespace

TEST(NotifyWindow, ASendFromTheWindowsThreadRunsAtOnce)
{
    Recorder r;
    EXPECT_EQ(SendMessageA(r.window, 0x500, 2, 3), 5);
    EXPECT_EQ(r.messages, std::vector<UINT>{0x500});
    EXPECT_TRUE(IsWindow(r.window));
}

TEST(NotifyWindow, ASendFromAnotherThreadRunsOnTheMainThreadWhileTheSenderWaits)
{
    Recorder r;
    std::atomic<bool> returned{false};
    LRESULT result = 0;
    std::thread sender([&] {
        result = SendMessageA(r.window, 0x502, 40, 2);
        returned = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(returned);  // nobody has handled events yet
    EXPECT_TRUE(r.messages.empty());
    EXPECT_TRUE(WaitUntil([&] { return returned.load(); }));
    sender.join();
    EXPECT_EQ(result, 42);
    EXPECT_EQ(r.messages, std::vector<UINT>{0x502});
    EXPECT_TRUE(r.allOnMain);
}

TEST(NotifyWindow, DestroyingTheWindowDropsWaitingAndLaterSends)
{
    auto r = std::make_unique<Recorder>();
    const HWND window = r->window;
    std::atomic<bool> returned{false};
    LRESULT result = -1;
    std::thread sender([&] {
        result = SendMessageA(window, 0x500, 1, 1);
        returned = true;
    });
    std::this_thread::sleep_for(30ms);
    r.reset();
    sender.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(IsWindow(window));
    std::thread([&] { EXPECT_EQ(SendMessageA(window, 0x500, 1, 1), 0); }).join();
    EXPECT_EQ(SendMessageA(window, 0x500, 1, 1), 0);
    WaitUntil(Never, 20ms);
}

TEST(NotifyWindow, DeferredSendsOfOneThreadDoNotWaitButStillRunInOrder)
{
    Recorder r;
    std::atomic<DWORD> senderId{0};
    std::atomic<int> returned{0};
    std::thread sender([&] {
        senderId = GetCurrentThreadId();
        SendMessageA(r.window, 0x500, 0, 0);
        ++returned;
        EXPECT_EQ(SendMessageA(r.window, 0x501, 5, 5), 0);
        ++returned;
    });
    while (senderId == 0)
        std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(returned, 0);
    std::atomic<bool> otherReturned{false};
    std::thread other;
    {
        const SendsDeferred deferred(r.window, senderId);
        sender.join();  // released without its messages having run
        EXPECT_EQ(returned, 2);
        // Any other thread still waits for the window's thread.
        other = std::thread([&] {
            SendMessageA(r.window, 0x502, 1, 1);
            otherReturned = true;
        });
        std::this_thread::sleep_for(30ms);
        EXPECT_FALSE(otherReturned);
        EXPECT_TRUE(r.messages.empty());
    }
    EXPECT_TRUE(WaitUntil([&] { return otherReturned.load(); }));
    other.join();
    EXPECT_EQ(r.messages, (std::vector<UINT>{0x500, 0x501, 0x502}));

    // Deferral over: senders wait again.
    LRESULT result = 0;
    std::thread again([&] { result = SendMessageA(r.window, 0x503, 3, 4); });
    EXPECT_TRUE(WaitUntil([&] { return r.messages.size() >= 4; }));
    again.join();
    EXPECT_EQ(result, 7);
}
