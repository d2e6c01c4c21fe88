#include <gtest/gtest.h>

#include "engine/CaptureState.h"

namespace {

// What the exposure status becomes as the loop of a run ends, after what the
// loop found of the snap's frame.
TEST(CaptureState, TheSnapResultBecomesTheExposureStatusAtTheEnd)
{
    enum class Found { Nothing, Frame, TimeOut };
    const struct {
        bool snap;
        Found found;
        ORU_EXPOSURE_STATUS published;
    } cases[] = {
        {true, Found::Nothing, ORU_EXP_FAILED},
        {true, Found::Frame, ORU_EXP_SUCCESS},
        {true, Found::TimeOut, ORU_EXP_FAILED},
        {false, Found::Nothing, ORU_EXP_FAILED},
    };
    for (const auto &c : cases) {
        CaptureState state;
        state.Begin(c.snap);
        EXPECT_EQ(state.IsSnap(), c.snap);
        EXPECT_EQ(state.ExpStatus(), ORU_EXP_WORKING);
        if (c.found == Found::Frame)
            state.SnapSucceeded();
        if (c.found == Found::TimeOut)
            state.SnapFailed();
        EXPECT_EQ(state.ExpStatus(), ORU_EXP_WORKING) << "nothing shows before the loop ends";
        state.PublishExposureStatus();
        EXPECT_EQ(state.ExpStatus(), c.published) << static_cast<int>(c.found);
        state.ImageTaken();
        EXPECT_EQ(state.ExpStatus(), ORU_EXP_IDLE);
    }
}

TEST(CaptureState, ANewRunForgetsTheLastSnapsResult)
{
    CaptureState state;
    state.Begin(true);
    state.SnapSucceeded();
    state.Begin(true);
    state.PublishExposureStatus();
    EXPECT_EQ(state.ExpStatus(), ORU_EXP_FAILED);
}

TEST(CaptureState, DroppedFramesAddUpUntilReset)
{
    CaptureState state;
    EXPECT_EQ(state.DroppedFrames(), 0);
    state.AddDroppedFrames(1);
    state.AddDroppedFrames(3);
    EXPECT_EQ(state.DroppedFrames(), 4);
    state.ResetDroppedFrames();
    EXPECT_EQ(state.DroppedFrames(), 0);
}

} // namespace
