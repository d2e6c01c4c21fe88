#include <gtest/gtest.h>

#include <thread>

#include "transport/PlatformShims.h"

TEST(CriticalSection, OneThreadLocksTwiceAndNeedsTwoUnlocks)
{
    S_MUTEX_UNIX section;
    ASSERT_EQ(InitializeCriticalSection(&section), 0);
    ASSERT_EQ(pthread_mutex_lock(&section.mutex), 0);
    ASSERT_EQ(pthread_mutex_lock(&section.mutex), 0);

    auto tryFromOtherThread = [&section] {
        int result = -1;
        std::thread other([&] {
            result = pthread_mutex_trylock(&section.mutex);
            if (result == 0)
                pthread_mutex_unlock(&section.mutex);
        });
        other.join();
        return result;
    };

    ASSERT_EQ(pthread_mutex_unlock(&section.mutex), 0);
    EXPECT_EQ(tryFromOtherThread(), EBUSY) << "one unlock must not release a double lock";
    ASSERT_EQ(pthread_mutex_unlock(&section.mutex), 0);
    EXPECT_EQ(tryFromOtherThread(), 0);
    EXPECT_EQ(DeleteCriticalSection(&section), 0);
}

TEST(TickCount, DifferenceAcrossThe32BitWrapIsSmallAndPositive)
{
    // 2^32 ms lies between these two readings of the clock.
    const timespec before{4294967, 290000000}; // 4294967290 ms
    const timespec after{4294967, 300000000};  // 4294967300 ms -> wraps to 4
    const uint32_t t0 = TickCountFromTimespec(before);
    const uint32_t t1 = TickCountFromTimespec(after);
    EXPECT_EQ(t0, 4294967290u);
    EXPECT_EQ(t1, 4u);
    EXPECT_EQ(static_cast<uint32_t>(t1 - t0), 10u);
}

TEST(TickCount, FollowsTheMonotonicClock)
{
    const uint32_t t0 = GetTickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const uint32_t elapsed = GetTickCount() - t0;
    EXPECT_GE(elapsed, 20u);
}

TEST(MinMax, SignedIntegers)
{
    EXPECT_EQ(min(-1, 0), -1);
    EXPECT_EQ(max(-1, 0), 0);
}
