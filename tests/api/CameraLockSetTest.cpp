#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "tests/Watchdog.h"
#include "api/CameraLockSet.h"

using namespace std::chrono_literals;

// Several callers of one function queue on its lock while the camera closes:
// each finds the camera gone and leaves, and the close may destroy the lock
// only after the last of them has let go of it.
TEST(CameraLockSet, CloseWaitsForEveryQueuedCallerOfOneFunction)
{
    constexpr int kLock = 15;
    constexpr int kCallers = 3;
    Watchdog watchdog(20s, "closing a lock set with queued callers");
    CameraLockSet locks;
    locks.Create();
    // The close has every lock.
    locks.LockAll();
    std::atomic<int> finished{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < kCallers; ++i)
        callers.emplace_back([&] {
            if (locks.Enter(kLock)) {
                // The camera is gone: the body does nothing, slowly.
                std::this_thread::sleep_for(30ms);
                ++finished;
                locks.Leave(kLock);
            } else {
                ++finished;
            }
        });
    std::this_thread::sleep_for(100ms);
    locks.DestroyLocked();
    EXPECT_EQ(finished, kCallers) << "a lock was destroyed while a caller still used it";
    for (std::thread &caller : callers)
        caller.join();
    EXPECT_FALSE(locks.Enter(kLock));
}
