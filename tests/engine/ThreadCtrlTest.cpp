#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "tests/Watchdog.h"
#include "engine/ThreadCtrl.h"

namespace {

using namespace std::chrono_literals;

struct Probe {
    std::atomic<int> entered{0};
    std::atomic<bool> sawFlagCleared{false};
    std::atomic<bool> sawStop{false};
};

// Polls its flag like the engine's loops; lingers after seeing it cleared so
// that a Stop that does not wait would be caught.
void RunUntilStopped(std::atomic<bool> *running, void *arg)
{
    Probe *probe = static_cast<Probe *>(arg);
    ++probe->entered;
    while (*running)
        std::this_thread::sleep_for(1ms);
    probe->sawFlagCleared = true;
    std::this_thread::sleep_for(20ms);
    probe->sawStop = true;
}

void ReturnAtOnce(std::atomic<bool> *, void *arg)
{
    ++static_cast<Probe *>(arg)->entered;
}

// InitFuncPt is refused exactly while a thread runs: a probe for "idle".
bool BecomesIdle(ThreadCtrl &ctrl, ThreadFunc func)
{
    const auto giveUp = std::chrono::steady_clock::now() + 10s;
    while (!ctrl.InitFuncPt(func)) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

} // namespace

TEST(ThreadCtrl, RefusesStartAndNewFunctionWhileRunningAndStopWaitsForTheLoop)
{
    Probe probe;
    ThreadCtrl ctrl(RunUntilStopped);
    ASSERT_TRUE(ctrl.Start(&probe));
    EXPECT_FALSE(ctrl.Start(&probe));
    EXPECT_FALSE(ctrl.InitFuncPt(ReturnAtOnce));

    ctrl.Stop();
    EXPECT_TRUE(probe.sawStop) << "Stop returned before the loop had ended";
    EXPECT_EQ(probe.entered, 1);

    // Stopped: a second Stop has nothing to do, and the controller starts again.
    ctrl.Stop();
    probe.sawStop = false;
    ASSERT_TRUE(ctrl.Start(&probe));
    ctrl.Stop();
    EXPECT_TRUE(probe.sawStop);
    EXPECT_EQ(probe.entered, 2);
}

TEST(ThreadCtrl, StartWithoutFunctionFails)
{
    Probe probe;
    ThreadCtrl ctrl;
    EXPECT_FALSE(ctrl.Start(&probe));
    ctrl.Stop();
    EXPECT_TRUE(ctrl.InitFuncPt(ReturnAtOnce));
    ASSERT_TRUE(ctrl.Start(&probe));
    EXPECT_TRUE(BecomesIdle(ctrl, ReturnAtOnce));
    EXPECT_EQ(probe.entered, 1);
}

// Each self-ended thread detaches; a later Stop must neither join it nor
// hang. Under ThreadSanitizer an undisposed thread is reported as a leak.
TEST(ThreadCtrl, LoopEndingByItselfLeavesTheControllerStartable)
{
    Probe probe;
    ThreadCtrl ctrl(ReturnAtOnce);
    constexpr int kRounds = 50;
    for (int round = 0; round < kRounds; ++round) {
        ASSERT_TRUE(ctrl.Start(&probe)) << "round " << round;
        ASSERT_TRUE(BecomesIdle(ctrl, ReturnAtOnce)) << "round " << round;
        ctrl.Stop();
    }
    EXPECT_EQ(probe.entered, kRounds);
}

TEST(ThreadCtrl, ClearRunFlagEndsTheLoopAndStopStillDisposesOfTheThread)
{
    Probe probe;
    ThreadCtrl ctrl(RunUntilStopped);
    ASSERT_TRUE(ctrl.Start(&probe));
    ctrl.ClearRunFlag();
    ASSERT_TRUE(BecomesIdle(ctrl, RunUntilStopped));
    EXPECT_TRUE(probe.sawStop);
    ctrl.Stop();
    ASSERT_TRUE(ctrl.Start(&probe));
    ctrl.Stop();
    EXPECT_EQ(probe.entered, 2);
}

TEST(ThreadCtrl, DestructionStopsARunningLoop)
{
    Probe probe;
    {
        ThreadCtrl ctrl(RunUntilStopped);
        ASSERT_TRUE(ctrl.Start(&probe));
    }
    EXPECT_TRUE(probe.sawStop);
}

// A caller's stop against an internal restart's stop: every Stop returns only
// once the loop has ended, and only one of them joins the thread (a second
// join of one thread returns at once, or worse).
TEST(ThreadCtrl, ConcurrentStopsAllWaitForTheLoop)
{
    Watchdog watchdog(30s, "concurrent stops of one thread");
    for (int round = 0; round < 20; ++round) {
        Probe probe;
        ThreadCtrl ctrl(RunUntilStopped);
        ASSERT_TRUE(ctrl.Start(&probe));
        std::atomic<int> returnedEarly{0};
        std::vector<std::thread> stoppers;
        for (int i = 0; i < 3; ++i)
            stoppers.emplace_back([&] {
                ctrl.Stop();
                returnedEarly += probe.sawStop ? 0 : 1;
            });
        for (std::thread &stopper : stoppers)
            stopper.join();
        EXPECT_EQ(returnedEarly, 0) << "round " << round;
    }
}

// A restart while a Stop is still joining the old thread starts a new loop
// once the join is done, instead of being refused or losing the handle.
TEST(ThreadCtrl, StartDuringAStopWaitsForTheJoinAndStartsAnew)
{
    Watchdog watchdog(30s, "a start during a stop");
    Probe probe;
    ThreadCtrl ctrl(RunUntilStopped);
    ASSERT_TRUE(ctrl.Start(&probe));
    std::thread stopper([&] { ctrl.Stop(); });
    while (!probe.sawFlagCleared)
        std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(ctrl.Start(&probe));
    stopper.join();
    EXPECT_TRUE(ctrl.IsRunning());
    ctrl.Stop();
    EXPECT_EQ(probe.entered, 2);
}
