// Capture against concurrent changes on the ORU462MC, through the flat API and
// the simulated camera: a video run that starts while the ROI changes, the
// automatic controls sampling while it changes, a stop against the restart
// inside a mode change, and an exposure shortened while a long one begins.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "tests/FlatCameraTest.h"
#include "tests/Watchdog.h"
#include "sim/RegisterSpace.h"
#include "transport/CCameraFX3.h"

using oru_sim::FailureKind;
using oru_sim::RegisterSpace;
using namespace std::chrono_literals;

namespace {

constexpr int kSensorWidth = 1936;
constexpr int kSensorHeight = 1096;
constexpr uint8_t kReqStartStreaming = 0xA9;
constexpr uint8_t kReqWriteSensor = 0xB6;
// Sensor registers of the ORU462MC the simulator decodes.
constexpr uint16_t kRegStandby = 0x3000;
// A row of the sensor's mode table, written only when its mode is set up.
constexpr uint16_t kModeTableRegister = 0x300C;
constexpr uint8_t kModeTableValue = 0x47;
// FPGA control register 0 and its stop bit; register 11 bit 0 is the
// trigger signal that times a long exposure.
constexpr uint16_t kFpgaControl = 0;
constexpr uint16_t kFpgaStopBit = 0x10;
constexpr uint16_t kFpgaTriggerSignal = 11;

// A flag one thread raises and another waits for.
class Signal {
public:
    void Raise()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        raised_ = true;
        changed_.notify_all();
    }
    bool WaitFor(std::chrono::milliseconds limit)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, [this] { return raised_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool raised_ = false;
};

class CaptureRaceTest : public FlatCameraTest {
protected:
    void SetUp() override { OpenCamera("ORU462MC"); }

    static bool IsModeTableRow(RegisterSpace space, uint16_t address, uint16_t value)
    {
        return space == RegisterSpace::Sensor && address == kModeTableRegister &&
               value == kModeTableValue;
    }
};

} // namespace

// The ROI goes from bin 2 to the full sensor at bin 1 while a video run
// sizes its first frame. Sized from the new width and height with the old
// bin, the run would ask for four frame buffers' worth of transfers.
TEST_F(CaptureRaceTest, VideoStartingDuringAnRoiChangeAsksForOneFrameOfOneRoi)
{
    Watchdog watchdog(90s, "video starts racing ROI changes");
    constexpr size_t kPiece = 0x100000;
    const size_t fullFramePieces = (size_t(kSensorWidth) * kSensorHeight * 2 + kPiece - 1) / kPiece;
    size_t mostWaiting = 0;
    // The run resets the device, waits 50 ms, then sizes its frame; the ROI
    // change starts around then, a little later each round.
    for (int delayMs = 40; delayMs <= 56; delayMs += 2) {
        SCOPED_TRACE(testing::Message() << "ROI change " << delayMs << " ms after the reset");
        SetRoi(kSensorWidth / 2, kSensorHeight / 2, 2, ORU_IMG_RAW16);
        const int resets = sim_->deviceResets();
        ASSERT_EQ(ORUStartVideoCapture(id_), ORU_SUCCESS);
        ASSERT_TRUE(WaitFor([&] { return sim_->deviceResets() > resets; }, 2000ms));
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        std::thread roi([&] {
            EXPECT_EQ(ORUSetROIFormat(id_, kSensorWidth, kSensorHeight, 1, ORU_IMG_RAW16),
                      ORU_SUCCESS);
        });
        const Clock::time_point end = Clock::now() + 400ms;
        while (Clock::now() < end) {
            mostWaiting = std::max(mostWaiting, sim_->waitingBulkTransfers());
            std::this_thread::sleep_for(1ms);
        }
        roi.join();
        ASSERT_EQ(ORUStopVideoCapture(id_), ORU_SUCCESS);
    }
    // Video keeps a few frames queued, each of one ROI's size.
    EXPECT_LE(mostWaiting, CCameraFX3::kAsyncFrameSets * fullFramePieces);

    // The last ROI streams.
    SetRoi(kSensorWidth, kSensorHeight, 1, ORU_IMG_RAW16);
    ASSERT_EQ(ORUStartVideoCapture(id_), ORU_SUCCESS);
    EXPECT_FALSE(VideoFrame(3000).empty());
}

// The automatic controls sample the receive buffer every 100 ms during
// video. The ROI change is held up halfway (its sensor writes go
// unanswered for a while) with the new width and height stored and the old
// bin still in place; sampling must not use that mixture.
TEST_F(CaptureRaceTest, AutomaticControlsSampleWithinTheFrameWhileTheRoiChanges)
{
    Watchdog watchdog(60s, "automatic controls during an ROI change");
    SetRoi(kSensorWidth / 2, kSensorHeight / 2, 2, ORU_IMG_RAW16);
    ASSERT_EQ(ORUSetControlValue(id_, ORU_EXPOSURE, 2000, ORU_TRUE), ORU_SUCCESS);
    ASSERT_EQ(ORUSetControlValue(id_, ORU_GAIN, 100, ORU_TRUE), ORU_SUCCESS);
    ASSERT_EQ(ORUStartVideoCapture(id_), ORU_SUCCESS);
    ASSERT_FALSE(VideoFrame().empty());

    std::atomic<bool> armed{true};
    sim_->setRegisterObserver([&](RegisterSpace space, uint16_t address, uint16_t value) {
        if (IsModeTableRow(space, address, value) && armed.exchange(false))
            sim_->failNextRequests(6, FailureKind::Timeout, kReqWriteSensor);
    });
    // Three seconds halfway: about thirty passes of the automatic controls.
    EXPECT_EQ(ORUSetROIFormat(id_, kSensorWidth, kSensorHeight, 1, ORU_IMG_RAW16), ORU_SUCCESS);
    sim_->setRegisterObserver(nullptr);
    EXPECT_FALSE(armed);

    rowBytes_ = kSensorWidth * 2;
    frameBytes_ = rowBytes_ * kSensorHeight;
    // Frames of the new ROI follow once the sensor has been set up anew (at
    // an exposure the regulation cannot stretch meanwhile).
    ASSERT_EQ(ORUStopVideoCapture(id_), ORU_SUCCESS);
    SetControl(ORU_EXPOSURE, 2000);
    ASSERT_EQ(ORUStartVideoCapture(id_), ORU_SUCCESS);
    EXPECT_FALSE(VideoFrame(3000).empty());
}

// Switching high-speed mode stops the video run, sets the sensor up and
// starts the run again. A caller's stop arriving meanwhile must stop the
// restarted run, not be lost before it.
TEST_F(CaptureRaceTest, StopDuringTheRestartOfAModeChangeIsNotLost)
{
    Watchdog watchdog(30s, "a stop against a mode change's restart");
    SetRoi(640, 480, 1, ORU_IMG_RAW8);
    SetControl(ORU_EXPOSURE, 1000);
    ASSERT_EQ(ORUStartVideoCapture(id_), ORU_SUCCESS);
    ASSERT_FALSE(VideoFrame().empty());

    Signal modeStepBegun;
    std::atomic<bool> armed{true};
    sim_->setRegisterObserver([&](RegisterSpace space, uint16_t address, uint16_t value) {
        if (IsModeTableRow(space, address, value) && armed.exchange(false))
            modeStepBegun.Raise();
    });
    std::thread modeChange([&] { SetControl(ORU_HIGH_SPEED_MODE, 1); });
    ASSERT_TRUE(modeStepBegun.WaitFor(5000ms));
    EXPECT_EQ(ORUStopVideoCapture(id_), ORU_SUCCESS);
    const size_t startsAfterStop = sim_->requests(kReqStartStreaming).size();
    modeChange.join();
    sim_->setRegisterObserver(nullptr);

    // Nothing streams any more, and nothing starts again.
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(sim_->requests(kReqStartStreaming).size(), startsAfterStop);
    EXPECT_FALSE(sim_->streaming());
    EXPECT_EQ(ORUStartExposure(id_, ORU_FALSE), ORU_SUCCESS) << "video still counts as running";
    EXPECT_EQ(ORUStopExposure(id_), ORU_SUCCESS);
}

// A long exposure begins with the loop waiting for sensor and FPGA to be in
// step; the exposure is set to 1 ms just then. The wait for the long
// exposure must not be computed from the short one, and the stop returns.
TEST_F(CaptureRaceTest, ExposureShortenedAsALongExposureBeginsNeitherHangsNorBlocksTheStop)
{
    Watchdog watchdog(30s, "an exposure shortened as a long one begins");
    SetRoi(640, 480, 1, ORU_IMG_RAW8);
    SetControl(ORU_EXPOSURE, 1000000);

    // The sensor falls asleep once the run has started it, so that the
    // exposure's sync check fails and the loop restarts the FPGA; the
    // exposure is shortened and the sensor woken during that restart.
    enum Stage { kStarting, kSleeping, kShortened };
    std::atomic<int> stage{kStarting};
    Signal restarting;
    sim_->setRegisterObserver([&](RegisterSpace space, uint16_t address, uint16_t value) {
        if (space != RegisterSpace::Fpga || address != kFpgaControl)
            return;
        int expected = kStarting;
        if ((value & kFpgaStopBit) == 0) {
            if (stage.compare_exchange_strong(expected, kSleeping))
                sim_->setSensorRegister(kRegStandby, 0x01);
        } else {
            expected = kSleeping;
            if (stage.compare_exchange_strong(expected, kShortened))
                restarting.Raise();
        }
    });
    ASSERT_EQ(ORUStartVideoCapture(id_), ORU_SUCCESS);
    ASSERT_TRUE(restarting.WaitFor(5000ms));
    SetControl(ORU_EXPOSURE, 1000);
    sim_->setSensorRegister(kRegStandby, 0x00);

    const Clock::time_point stopAt = Clock::now();
    EXPECT_EQ(ORUStopVideoCapture(id_), ORU_SUCCESS);
    EXPECT_LT(MsSince(stopAt), 3000);
    sim_->setRegisterObserver(nullptr);

    // Video at 1 ms goes on normally afterwards.
    ASSERT_EQ(ORUStartVideoCapture(id_), ORU_SUCCESS);
    rowBytes_ = 640;
    frameBytes_ = 640 * 480;
    EXPECT_FALSE(VideoFrame().empty());
}

// A stop during a long exposure ends the wait at once, for exposures timed
// both as one stretch (up to about a second) and in steps.
TEST_F(CaptureRaceTest, StopDuringALongExposureReturnsPromptly)
{
    Watchdog watchdog(30s, "stops during long exposures");
    SetRoi(640, 480, 1, ORU_IMG_RAW8);
    for (int32_t exposureUs : {1000000, 3000000}) {
        SCOPED_TRACE(testing::Message() << exposureUs << " us");
        SetControl(ORU_EXPOSURE, exposureUs);
        Signal exposing;
        sim_->setRegisterObserver([&](RegisterSpace space, uint16_t address, uint16_t value) {
            if (space == RegisterSpace::Fpga && address == kFpgaTriggerSignal && (value & 1) != 0)
                exposing.Raise();
        });
        ASSERT_EQ(ORUStartVideoCapture(id_), ORU_SUCCESS);
        ASSERT_TRUE(exposing.WaitFor(5000ms));
        const Clock::time_point stopAt = Clock::now();
        EXPECT_EQ(ORUStopVideoCapture(id_), ORU_SUCCESS);
        // The sensor and FPGA take 200 ms to wake after the wait.
        EXPECT_LT(MsSince(stopAt), 800);
        sim_->setRegisterObserver(nullptr);
    }
}
