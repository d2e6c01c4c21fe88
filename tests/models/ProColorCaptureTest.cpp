// Video and snap capture of the ORU6200MC Pro through the flat API, the real
// libusb and the simulated camera's frame stream: what reaches the caller
// compared with what the camera sent, the exposure status, the working
// loop's reactions to lost, empty and refused frames, the automatic
// controls on the synthetic sky, and the call sequence errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/FlatCameraTest.h"
#include "algorithm/CAlgorithm.h"
#include "api/ORUCamera.h"
#include "sim/FrameStream.h"
#include "sim/ModelCatalog.h"
#include "sim/SimulatedBus.h"

using oru_sim::FrameStream;
using oru_sim::RegisterSpace;
using oru_sim::SentFrame;
using oru_sim::SimulatedCamera;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

constexpr uint8_t kReqStartStreaming = 0xA9;
constexpr uint8_t kReqFirmwareVersion = 0xAD;
constexpr int kWidth = 640;
constexpr int kHeight = 480;

int BytesPerPixel(ORU_IMG_TYPE type)
{
    return type == ORU_IMG_RGB24 ? 3 : type == ORU_IMG_RAW16 ? 2 : 1;
}

// Mean of the 8-bit samples of the frame's middle fifths at one mosaic site
// (0 R, 1 and 2 G, 3 B; -1 all sites).
double MiddleMean(const std::vector<unsigned char> &frame, int width, int height, int site = -1)
{
    double sum = 0;
    long count = 0;
    for (int y = height / 5; y < 4 * height / 5; ++y)
        for (int x = width / 5; x < 4 * width / 5; ++x)
            if (site < 0 || ((y & 1) << 1 | (x & 1)) == site) {
                sum += frame[static_cast<size_t>(y) * width + x];
                ++count;
            }
    return sum / count;
}

// One ORU6200MC Pro opened and initialised through the flat API.
class CaptureTest : public FlatCameraTest {
protected:
    void SetUp() override { OpenCamera("oru6200mc-pro"); }

    // A small window and an exposure shorter than one frame, so that the
    // working loop waits only about two frame periods per transfer.
    void SmallFastRoi(ORU_IMG_TYPE type = ORU_IMG_RAW8)
    {
        ASSERT_EQ(ORUSetROIFormat(id_, kWidth, kHeight, 1, type), ORU_SUCCESS);
        SetControl(ORU_EXPOSURE, 32);
    }
    int32_t Control(ORU_CONTROL_TYPE control)
    {
        int32_t value = 0;
        ORU_BOOL autoOn = ORU_FALSE;
        EXPECT_EQ(ORUGetControlValue(id_, control, &value, &autoOn), ORU_SUCCESS);
        return value;
    }
    ORU_EXPOSURE_STATUS WaitWhileWorking(milliseconds limit = milliseconds(5000))
    {
        WaitFor([this] { return Status() != ORU_EXP_WORKING; }, limit);
        return Status();
    }

    std::vector<unsigned char> VideoFrame(int32_t bytes, int waitMs = 5000)
    {
        std::vector<unsigned char> frame(static_cast<size_t>(bytes));
        EXPECT_EQ(ORUGetVideoData(id_, frame.data(), bytes, waitMs), ORU_SUCCESS);
        return frame;
    }

    // Lowest counter above `after` of a sent frame that, with its markers
    // hidden, equals `delivered`; -1 when there is none.
    int SentCounterAfter(const std::vector<unsigned char> &delivered, int rowBytes, int after)
    {
        int found = -1;
        for (const SentFrame &sent : stream_->sentFrames())
            if (sent.counter > after && (found < 0 || sent.counter < found) &&
                sent.bytes.size() == delivered.size() &&
                MarkersHidden(sent.bytes, rowBytes) == delivered)
                found = sent.counter;
        return found;
    }

    // Control requests with this code since the log was last cleared.
    int Requests(uint8_t request) { return static_cast<int>(sim_->requests(request).size()); }
};

TEST_F(CaptureTest, RawVideoDeliversConsecutiveSentFramesWithMarkersHidden)
{
    for (ORU_IMG_TYPE type : {ORU_IMG_RAW8, ORU_IMG_RAW16}) {
        SCOPED_TRACE(type == ORU_IMG_RAW8 ? "RAW8" : "RAW16");
        SmallFastRoi(type);
        SetControl(ORU_GAIN, 600);
        stream_->keepSentFrames(64);
        const int rowBytes = kWidth * BytesPerPixel(type);
        ASSERT_EQ(ORUStartVideoCapture(id_), ORU_SUCCESS);
        // A sky this steady sends equal frames; a black level that keeps
        // changing tells them apart.
        std::atomic<bool> sweeping{true};
        std::thread sweep([&] {
            for (int offset = 0; sweeping; offset = (offset + 1) % 200)
                ORUSetControlValue(id_, ORU_OFFSET, offset, ORU_FALSE);
        });
        std::vector<std::vector<unsigned char>> frames;
        for (int i = 0; i < 4; ++i)
            frames.push_back(VideoFrame(rowBytes * kHeight));
        sweeping = false;
        sweep.join();
        EXPECT_EQ(Dropped(), 0);
        ASSERT_EQ(ORUStopVideoCapture(id_), ORU_SUCCESS);

        int counter = SentCounterAfter(frames[0], rowBytes, -1);
        ASSERT_GE(counter, 0) << "the first frame is not one the camera sent";
        for (int i = 1; i < 4; ++i) {
            const int next = SentCounterAfter(frames[i], rowBytes, counter);
            EXPECT_EQ(next, counter + 1) << "frame " << i;
            counter = next;
        }
        stream_->keepSentFrames(0);
    }
}

// Reference read-out of one sent frame: markers hidden, software binning,
// flips, then conversion, with the engine's own image processing.
struct Readout {
    const char *name;
    ORU_IMG_TYPE type;
    int bin;
    bool hardwareBin;
    ORU_FLIP_STATUS flip;
};

TEST_F(CaptureTest, ReadoutEqualsImageProcessingOfTheSentFrame)
{
    const Readout cases[] = {
        {"RGB24", ORU_IMG_RGB24, 1, false, ORU_FLIP_NONE},
        {"Y8", ORU_IMG_Y8, 1, false, ORU_FLIP_NONE},
        {"RGB24 flipped both ways", ORU_IMG_RGB24, 1, false, ORU_FLIP_BOTH},
        {"RAW8 software bin 2, horizontal flip", ORU_IMG_RAW8, 2, false, ORU_FLIP_HORIZ},
        {"RAW16 hardware bin 4 binned 2 x 2 again", ORU_IMG_RAW16, 4, true, ORU_FLIP_NONE},
        {"RAW8 hardware bin 2, no software bin", ORU_IMG_RAW8, 2, true, ORU_FLIP_VERT},
    };
    const int width = 320;
    const int height = 240;
    for (const Readout &c : cases) {
        SCOPED_TRACE(c.name);
        SetControl(ORU_HARDWARE_BIN, c.hardwareBin ? 1 : 0);
        ASSERT_EQ(ORUSetROIFormat(id_, width, height, c.bin, c.type), ORU_SUCCESS);
        SetControl(ORU_EXPOSURE, 32);
        SetControl(ORU_FLIP, c.flip);
        stream_->keepSentFrames(64);
        ASSERT_EQ(ORUStartVideoCapture(id_), ORU_SUCCESS);
        const std::vector<unsigned char> delivered =
            VideoFrame(width * height * BytesPerPixel(c.type));
        ASSERT_EQ(ORUStopVideoCapture(id_), ORU_SUCCESS);

        const bool wide = c.type == ORU_IMG_RAW16;
        const int softBin = c.hardwareBin ? (c.bin == 4 ? 2 : 1) : c.bin;
        const int rowBytes = width * softBin * (wide ? 2 : 1);
        const bool vertical = c.flip == ORU_FLIP_VERT || c.flip == ORU_FLIP_BOTH;
        const bool horizontal = c.flip == ORU_FLIP_HORIZ || c.flip == ORU_FLIP_BOTH;
        bool found = false;
        for (const SentFrame &sent : stream_->sentFrames()) {
            ASSERT_EQ(sent.bytes.size(), static_cast<size_t>(rowBytes) * height * softBin);
            std::vector<uint8_t> image = MarkersHidden(sent.bytes, rowBytes);
            CAlgorithm algorithm;
            algorithm.RGBYUV_Init();
            algorithm.SetBayer(ORU_BAYER_RG);
            uint16_t *image16 = reinterpret_cast<uint16_t *>(image.data());
            algorithm.ColorRAWBin(image.data(), image16, width, height, softBin, wide);
            algorithm.SoftMisc(image.data(), width, height, wide, vertical, horizontal);
            std::vector<uint8_t> expected(delivered.size());
            if (c.type == ORU_IMG_RGB24 || c.type == ORU_IMG_Y8)
                algorithm.BayerConv(image.data(), expected.data(), width, height,
                                    c.type == ORU_IMG_RGB24 ? IMAGE_TYPE_RGB24 : IMAGE_TYPE_8BIT,
                                    vertical, horizontal);
            else
                std::copy_n(image.begin(), expected.size(), expected.begin());
            found = found || expected == delivered;
        }
        EXPECT_TRUE(found) << "no sent frame processes into the delivered image";
        stream_->keepSentFrames(0);
    }
}

TEST_F(CaptureTest, SnapSucceedsAndTheStatusReturnsToIdleAfterTheRead)
{
    SmallFastRoi();
    stream_->keepSentFrames(8);
    std::vector<unsigned char> frame(kWidth * kHeight);
    EXPECT_EQ(Status(), ORU_EXP_IDLE);
    ASSERT_EQ(ORUStartExposure(id_, ORU_FALSE), ORU_SUCCESS);
    EXPECT_EQ(WaitWhileWorking(), ORU_EXP_SUCCESS);
    EXPECT_EQ(Status(), ORU_EXP_SUCCESS) << "success stays until the frame is read";
    ASSERT_EQ(ORUGetDataAfterExp(id_, frame.data(), static_cast<int32_t>(frame.size())),
              ORU_SUCCESS);
    EXPECT_EQ(Status(), ORU_EXP_IDLE);
    EXPECT_GE(SentCounterAfter(frame, kWidth, -1), 0);
    EXPECT_EQ(ORUGetDataAfterExp(id_, frame.data(), static_cast<int32_t>(frame.size())),
              ORU_ERROR_TIMEOUT)
        << "one snap, one read";
}

TEST_F(CaptureTest, SnapWithoutDataFailsOnlyAfterItsRetryWindow)
{
    SmallFastRoi();
    stream_->faults().withholdNextFrames(1000);
    sim_->clearRequests();
    const Clock::time_point start = Clock::now();
    ASSERT_EQ(ORUStartExposure(id_, ORU_FALSE), ORU_SUCCESS);
    EXPECT_EQ(Status(), ORU_EXP_WORKING);

    EXPECT_EQ(WaitWhileWorking(), ORU_EXP_FAILED);
    EXPECT_GE(Clock::now() - start, milliseconds(1000));
    EXPECT_GE(Requests(kReqFirmwareVersion), 2) << "the snap was retried";
    std::vector<unsigned char> frame(kWidth * kHeight);
    EXPECT_EQ(ORUGetDataAfterExp(id_, frame.data(), static_cast<int32_t>(frame.size())),
              ORU_ERROR_TIMEOUT);
    EXPECT_EQ(Status(), ORU_EXP_FAILED);
}

// Writes of FPGA register 11 (trigger signal bit 0, XHS stop bit 4) and
// register 25 (low power bit 0) and of sensor register 0x1EE, with the time
// they arrived.
struct ExposureWrite {
    Clock::time_point at;
    RegisterSpace space;
    uint16_t address;
    uint16_t value;
};

TEST_F(CaptureTest, LongSnapIsTimedByTheTriggerSignalAndIdlesTheSensorMeanwhile)
{
    ASSERT_EQ(ORUSetROIFormat(id_, kWidth, kHeight, 1, ORU_IMG_RAW8), ORU_SUCCESS);
    SetControl(ORU_EXPOSURE, 1200000);
    std::mutex mutex;
    std::vector<ExposureWrite> writes;
    sim_->setRegisterObserver([&](RegisterSpace space, uint16_t address, uint16_t value) {
        const bool fpga = space == RegisterSpace::Fpga && (address == 11 || address == 25);
        const bool sensor = space == RegisterSpace::Sensor && address == 0x1EE;
        if (fpga || sensor) {
            std::lock_guard<std::mutex> lock(mutex);
            writes.push_back({Clock::now(), space, address, value});
        }
    });
    ASSERT_EQ(ORUStartExposure(id_, ORU_FALSE), ORU_SUCCESS);
    ASSERT_EQ(WaitWhileWorking(milliseconds(6000)), ORU_EXP_SUCCESS);
    std::vector<unsigned char> frame(kWidth * kHeight);
    EXPECT_EQ(ORUGetDataAfterExp(id_, frame.data(), static_cast<int32_t>(frame.size())),
              ORU_SUCCESS);
    sim_->setRegisterObserver(nullptr);

    std::lock_guard<std::mutex> lock(mutex);
    auto isFpga = [](const ExposureWrite &w, uint16_t reg) {
        return w.space == RegisterSpace::Fpga && w.address == reg;
    };
    const auto start = std::find_if(writes.begin(), writes.end(), [&](const ExposureWrite &w) {
        return isFpga(w, 11) && (w.value & 1) != 0;
    });
    ASSERT_NE(start, writes.end()) << "no trigger signal";
    const auto end = std::find_if(start, writes.end(), [&](const ExposureWrite &w) {
        return isFpga(w, 11) && (w.value & 1) == 0;
    });
    ASSERT_NE(end, writes.end()) << "the trigger signal never ended";
    // Whole 1200 ms counted, then 200 ms to wake sensor and FPGA.
    EXPECT_GE(end->at - start->at, milliseconds(1200));
    EXPECT_LT(end->at - start->at, milliseconds(2000));

    // In between: sensor standby (0x1EE = 5), low power, XHS stop; then back
    // in the opposite order before the signal ends.
    std::vector<int> steps;
    for (auto w = start + 1; w != end; ++w) {
        if (w->space == RegisterSpace::Sensor)
            steps.push_back(w->value == 5 ? 1 : w->value == 1 ? -1 : 0);
        else if (isFpga(*w, 25))
            steps.push_back((w->value & 1) != 0 ? 2 : -2);
        else
            steps.push_back((w->value & 0x10) != 0 ? 3 : -3);
    }
    EXPECT_EQ(steps, (std::vector<int>{1, 2, 3, -2, -1, -3}));
}

TEST_F(CaptureTest, LongSnapCutShortIsReloadedFromTheDdrPastTheRetryWindow)
{
    ASSERT_EQ(ORUSetROIFormat(id_, kWidth, kHeight, 1, ORU_IMG_RAW8), ORU_SUCCESS);
    SetControl(ORU_EXPOSURE, 1100000);
    stream_->keepSentFrames(4);
    stream_->faults().shortenNextFrame(4096);
    std::atomic<int> reloads{0};
    sim_->setRegisterObserver([&](RegisterSpace space, uint16_t address, uint16_t value) {
        reloads += space == RegisterSpace::Fpga && address == 24 && (value & 1) != 0;
    });
    ASSERT_EQ(ORUStartExposure(id_, ORU_FALSE), ORU_SUCCESS);
    ASSERT_EQ(WaitWhileWorking(milliseconds(6000)), ORU_EXP_SUCCESS);
    sim_->setRegisterObserver(nullptr);
    EXPECT_EQ(reloads, 1);

    std::vector<unsigned char> frame(kWidth * kHeight);
    ASSERT_EQ(ORUGetDataAfterExp(id_, frame.data(), static_cast<int32_t>(frame.size())),
              ORU_SUCCESS);
    const std::vector<SentFrame> sent = stream_->sentFrames();
    ASSERT_EQ(sent.size(), 2u) << "the short frame and its reload";
    EXPECT_EQ(sent[0].counter, sent[1].counter);
    EXPECT_EQ(MarkersHidden(sent[1].bytes, kWidth), frame);
}

TEST_F(CaptureTest, FourEmptyTransfersInARowResetTheDeviceAndRestartTheStream)
{
    SmallFastRoi();
    stream_->faults().withholdNextFrames(100000);
    sim_->clearRequests();
    const int resetsBefore = sim_->deviceResets();
    ASSERT_EQ(ORUStartVideoCapture(id_), ORU_SUCCESS);
    ASSERT_TRUE(WaitFor([this] { return Requests(kReqStartStreaming) >= 3; }))
        << "start-up and two restarts";
    ASSERT_EQ(ORUStopVideoCapture(id_), ORU_SUCCESS);
    EXPECT_GE(sim_->deviceResets() - resetsBefore, 3);

    // Every empty transfer checks the link by asking for the firmware
    // version: four of them between two starts of the stream, never three.
    int emptyTransfers = -1;
    std::vector<int> between;
    for (const auto &request : sim_->requests()) {
        if (request.setup.request == kReqStartStreaming) {
            if (emptyTransfers >= 0)
                between.push_back(emptyTransfers);
            emptyTransfers = 0;
        } else if (request.setup.request == kReqFirmwareVersion && emptyTransfers >= 0) {
            ++emptyTransfers;
        }
    }
    ASSERT_GE(between.size(), 2u);
    EXPECT_EQ(between[0], 4);
    EXPECT_EQ(between[1], 4);
}

TEST_F(CaptureTest, ThreeLostFramesWithinSecondsLowerTheBandwidthOnlyWhenItIsAutomatic)
{
    for (ORU_BOOL autoBandwidth : {ORU_TRUE, ORU_FALSE}) {
        SCOPED_TRACE(autoBandwidth ? "automatic" : "fixed");
        SmallFastRoi();
        SetControl(ORU_BANDWIDTH, 100, autoBandwidth);
        ASSERT_EQ(ORUStartVideoCapture(id_), ORU_SUCCESS);
        VideoFrame(kWidth * kHeight);
        for (int lost = 1; lost <= 3; ++lost) {
            stream_->faults().shortenNextFrame(4096);
            ASSERT_TRUE(WaitFor([&] { return Dropped() >= lost; })) << "short frame " << lost;
        }
        // A good frame after the third loss: its supervision is done.
        VideoFrame(kWidth * kHeight);
        VideoFrame(kWidth * kHeight);
        EXPECT_EQ(Control(ORU_BANDWIDTH), autoBandwidth ? 96 : 100);
        ASSERT_EQ(ORUStopVideoCapture(id_), ORU_SUCCESS);
    }
}

TEST_F(CaptureTest, FramesRefusedByAFullRingCountAsDroppedUntilTheCaptureStops)
{
    SmallFastRoi();
    SetControl(ORU_BANDWIDTH, 100, ORU_TRUE);
    ASSERT_EQ(ORUStartVideoCapture(id_), ORU_SUCCESS);
    VideoFrame(kWidth * kHeight);
    sim_->clearRequests();
    // Nobody reads: two frames fill the ring, the rest are refused.
    ASSERT_TRUE(WaitFor([this] { return Dropped() >= 10; }));
    EXPECT_EQ(Control(ORU_BANDWIDTH), 100) << "a refused frame is no transfer fault";
    EXPECT_EQ(Requests(kReqFirmwareVersion), 0) << "no link check for a refused frame";
    ASSERT_EQ(ORUStopVideoCapture(id_), ORU_SUCCESS);
    EXPECT_EQ(Dropped(), 0);
}

TEST_F(CaptureTest, AutoExposureBringsTheSkyToTheTargetBrightness)
{
    SmallFastRoi();
    SetControl(ORU_GAIN, 600);
    SetControl(ORU_AUTO_EXP_TARGET_BRIGHTNESS, 100);
    SetControl(ORU_EXPOSURE, 1000, ORU_TRUE);
    ASSERT_EQ(ORUStartVideoCapture(id_), ORU_SUCCESS);
    const double before = MiddleMean(VideoFrame(kWidth * kHeight), kWidth, kHeight);
    // One regulation step per 100 ms: within 60 steps of a start at 1 ms.
    double mean = before;
    const bool converged = WaitFor(
        [&] {
            mean = MiddleMean(VideoFrame(kWidth * kHeight), kWidth, kHeight);
            return std::abs(mean - 100) <= 15;
        },
        milliseconds(6000));
    ASSERT_EQ(ORUStopVideoCapture(id_), ORU_SUCCESS);
    EXPECT_LT(before, 50);
    EXPECT_TRUE(converged) << "mean brightness " << mean;
    EXPECT_GT(Control(ORU_EXPOSURE), 1000);
}

TEST_F(CaptureTest, AutoWhiteBalanceMovesTheColourGainsTowardGrey)
{
    SmallFastRoi();
    SetControl(ORU_GAIN, 600);
    SetControl(ORU_EXPOSURE, 20000);
    SetControl(ORU_WB_B, 50);
    SetControl(ORU_WB_R, 50, ORU_TRUE);
    // Largest deviation of the red and blue sites from green, relative.
    auto imbalance = [](const std::vector<unsigned char> &frame) {
        const double green = MiddleMean(frame, kWidth, kHeight, 1);
        const double red = MiddleMean(frame, kWidth, kHeight, 0);
        const double blue = MiddleMean(frame, kWidth, kHeight, 3);
        return std::max(std::abs(red - green), std::abs(blue - green)) / green;
    };
    ASSERT_EQ(ORUStartVideoCapture(id_), ORU_SUCCESS);
    const double before = imbalance(VideoFrame(kWidth * kHeight));
    // A balance step every fourth regulation pass, 400 ms apart.
    double after = before;
    const bool balanced = WaitFor(
        [&] {
            after = imbalance(VideoFrame(kWidth * kHeight));
            return after < 0.06;
        },
        milliseconds(10000));
    ASSERT_EQ(ORUStopVideoCapture(id_), ORU_SUCCESS);
    EXPECT_GT(before, 0.1) << "the sky is tinted";
    EXPECT_TRUE(balanced) << "imbalance " << after;
    EXPECT_NE(Control(ORU_WB_R), 50);
    EXPECT_NE(Control(ORU_WB_B), 50);
}

TEST_F(CaptureTest, VideoReadNeedsRoomForTheWholeImage)
{
    ASSERT_EQ(ORUSetROIFormat(id_, 640, 480, 1, ORU_IMG_RGB24), ORU_SUCCESS);
    SetControl(ORU_EXPOSURE, 32);
    ASSERT_EQ(ORUStartVideoCapture(id_), ORU_SUCCESS);
    std::vector<unsigned char> frame(921600);
    EXPECT_EQ(ORUGetVideoData(id_, frame.data(), 921599, 2000), ORU_ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(ORUGetVideoData(id_, frame.data(), 921600, 5000), ORU_SUCCESS);
    EXPECT_EQ(ORUStopVideoCapture(id_), ORU_SUCCESS);
}

TEST_F(CaptureTest, CaptureCallsRefuseEachOtherWhileRunning)
{
    SmallFastRoi();
    stream_->faults().withholdNextFrames(1000);
    std::vector<unsigned char> frame(kWidth * kHeight);

    ASSERT_EQ(ORUStartExposure(id_, ORU_FALSE), ORU_SUCCESS);
    EXPECT_EQ(ORUStartVideoCapture(id_), ORU_ERROR_EXPOSURE_IN_PROGRESS);
    EXPECT_EQ(ORUGetDataAfterExp(id_, frame.data(), static_cast<int32_t>(frame.size())),
              ORU_ERROR_TIMEOUT);
    EXPECT_EQ(Status(), ORU_EXP_WORKING);
    ASSERT_EQ(ORUStopExposure(id_), ORU_SUCCESS);

    ASSERT_EQ(ORUStartVideoCapture(id_), ORU_SUCCESS);
    EXPECT_EQ(ORUStartExposure(id_, ORU_FALSE), ORU_ERROR_VIDEO_MODE_ACTIVE);
    EXPECT_EQ(ORUStopVideoCapture(id_), ORU_SUCCESS);
}

} // namespace
