// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/Thread.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

using namespace std::chrono_literals;

namespace {

struct Probe {
    std::atomic<bool> ran{false};
    std::atomic<std::uint32_t> id{0};
    std::atomic<bool> freed{false};
};

class ProbeThread : public TThread {
public:
    ProbeThread(Probe& probe, bool freeItself) : probe_(probe), freeItself_(freeItself) {}
    ~ProbeThread() override { probe_.freed = true; }

protected:
    void Execute() override
    {
        probe_.id = static_cast<std::uint32_t>(::gettid());
        while (!Terminated())
            std::this_thread::sleep_for(1ms);
        probe_.ran = true;
        if (freeItself_)
            SetFreeOnTerminate(true);
    }

private:
    Probe& probe_;
    const bool freeItself_;
};

}  // namespace

TEST(Thread, RunsOnlyOnceResumedAndUnderItsOwnId)
{
    Probe probe;
    ProbeThread t(probe, false);
    EXPECT_NE(t.ThreadID(), 0u);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(probe.id, 0u);
    t.Resume();
    while (!probe.id)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(probe.id, t.ThreadID());
    EXPECT_FALSE(t.Terminated());
    t.Terminate();
    EXPECT_TRUE(t.Terminated());
    t.WaitFor();
    EXPECT_TRUE(probe.ran);
}

TEST(Thread, AThreadNeverResumedEndsWithoutRunning)
{
    Probe probe;
    std::make_unique<ProbeThread>(probe, false).reset();
    EXPECT_FALSE(probe.ran);
    EXPECT_TRUE(probe.freed);
}

TEST(Thread, FreeOnTerminateFreesTheObjectWhenItEnds)
{
    Probe probe;
    ProbeThread* t = std::make_unique<ProbeThread>(probe, true).release();
    t->Resume();
    while (!probe.id)
        std::this_thread::sleep_for(1ms);
    t->Terminate();  // the last touch: from here on it frees itself
    for (int i = 0; i < 2000 && !probe.freed; ++i)
        std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(probe.ran);
    EXPECT_TRUE(probe.freed);
}
