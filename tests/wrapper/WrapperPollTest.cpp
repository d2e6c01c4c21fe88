#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <vector>

#include "OruVersion.h"
#include "wrapper/CameraException.h"
#include "wrapper/ExposureWait.h"
#include "wrapper/Sdk.h"

namespace {

using tav_oru::internal::wait_for_status_change;

TEST(WrapperSdk, VersionNeedsNoCamera)
{
    EXPECT_EQ(tav_oru::get_sdk_version(), ORU_PROJECT_VERSION);
}

TEST(ExposureWait, ReturnsTheFirstOtherStatusOrStopsWhenAsked)
{
    struct Case {
        std::vector<ORU_EXPOSURE_STATUS> reads;
        bool keep_waiting;
        std::optional<ORU_EXPOSURE_STATUS> result;
        std::size_t reads_done;
    };
    const std::vector<Case> cases = {
        {{ORU_EXP_WORKING, ORU_EXP_WORKING, ORU_EXP_SUCCESS}, true, ORU_EXP_SUCCESS, 3},
        {{ORU_EXP_WORKING, ORU_EXP_FAILED}, true, ORU_EXP_FAILED, 2},
        {{ORU_EXP_WORKING, ORU_EXP_SUCCESS}, false, std::nullopt, 1},
        // An exposure that already ended is delivered, not aborted.
        {{ORU_EXP_SUCCESS}, false, ORU_EXP_SUCCESS, 1},
    };
    for (const Case &c : cases) {
        std::size_t reads_done = 0;
        const auto result = wait_for_status_change(
            ORU_EXP_WORKING, [&] { return c.reads.at(reads_done++); },
            [&] { return c.keep_waiting; });
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(reads_done, c.reads_done);
    }
}

TEST(ExposureWait, WaitsWithoutCallbackUntilTheStatusMoves)
{
    int reads = 0;
    const auto result = wait_for_status_change(
        ORU_EXP_IDLE, [&] { return ++reads < 4 ? ORU_EXP_IDLE : ORU_EXP_WORKING; }, nullptr);
    EXPECT_EQ(result, ORU_EXP_WORKING);
    EXPECT_EQ(reads, 4);
}

TEST(ExposureWait, FailingReadEndsTheWait)
{
    // A closed or removed camera must not keep the caller polling.
    int reads = 0;
    EXPECT_THROW(wait_for_status_change(
                     ORU_EXP_WORKING,
                     [&]() -> ORU_EXPOSURE_STATUS {
                         if (++reads == 2)
                             throw tav_oru::CameraException("failed to read the exposure status", 0,
                                                            ORU_ERROR_CAMERA_CLOSED);
                         return ORU_EXP_WORKING;
                     },
                     nullptr),
                 tav_oru::CameraException);
    EXPECT_EQ(reads, 2);
}

} // namespace
