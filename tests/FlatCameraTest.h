// Fixture: one named simulated camera on an in-process bus, enumerated,
// opened and initialised through the flat API, with the waits and reads the
// capture tests share.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "TempHome.h"
#include "api/ORUCamera.h"
#include "sim/FrameStream.h"
#include "sim/SimulatedBus.h"

class FlatCameraTest : public ::testing::Test {
protected:
    using Clock = std::chrono::steady_clock;

    void TearDown() override;

    // Plugs in the camera of the catalogue model, opens and initialises it.
    void OpenCamera(const std::string &model);
    // A frame of the current ROI, 8- or 16-bit.
    void SetRoi(int width, int height, int bin, ORU_IMG_TYPE type);
    void SetControl(ORU_CONTROL_TYPE control, int32_t value, ORU_BOOL autoOn = ORU_FALSE);
    int Dropped();
    ORU_EXPOSURE_STATUS Status();
    // One video frame of the ROI last set; empty when none came in time.
    std::vector<unsigned char> VideoFrame(int waitMs = 5000);
    // A sent frame as the read-out shows it: the marker words at both ends,
    // counters included, covered by the bytes two sensor rows away.
    static std::vector<uint8_t> MarkersHidden(std::vector<uint8_t> frame, int rowBytes);
    // Of the sent frames with this read-out (markers hidden), the one with
    // the lowest counter above `after`; null when there is none.
    const oru_sim::SentFrame *SentFrameOf(const std::vector<oru_sim::SentFrame> &sent,
                                          const std::vector<unsigned char> &frame, int after) const;

    static long MsSince(Clock::time_point start)
    {
        return static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    }

    // Polls `done` every 2 ms until it holds or `limit` passes.
    template <typename Condition>
    static bool WaitFor(Condition done,
                        std::chrono::milliseconds limit = std::chrono::milliseconds(5000))
    {
        const Clock::time_point end = Clock::now() + limit;
        while (!done()) {
            if (Clock::now() >= end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    TempHome home_;
    oru_sim::SimulatedBus bus_;
    oru_sim::SimulatedCamera *sim_ = nullptr;
    std::shared_ptr<oru_sim::FrameStream> stream_;
    int id_ = -1;
    int frameBytes_ = 0;
    int rowBytes_ = 0;
};
