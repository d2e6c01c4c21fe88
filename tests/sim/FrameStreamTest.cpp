// The frame stream of FX3 cameras, through the real libusb: when frames flow,
// their size, markers and pixels, their timing with and without DDR, long
// exposures with reload, the fault switches and the record of sent frames.
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>

#include "FixedSensorModel.h"
#include "SimTestFixture.h"
#include "sim/FrameSettings.h"
#include "sim/FrameStream.h"

using namespace oru_sim;

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kStartStreaming = 0xA9;
constexpr uint8_t kStopStreaming = 0xAA;
constexpr uint8_t kWriteSensor = 0xB6;
constexpr uint8_t kReadFpga = 0xBC;
constexpr uint8_t kWriteFpga = 0xBD;
constexpr uint8_t kBulkIn = 0x81;

uint16_t wordAt(const std::vector<uint8_t>& bytes, size_t index)
{
    return static_cast<uint16_t>(bytes[2 * index] | (bytes[2 * index + 1] << 8));
}

struct Marks {
    uint16_t head, counter, counterCopy, tail;
};

Marks marksOf(const std::vector<uint8_t>& frame)
{
    size_t words = frame.size() / 2;
    return {wordAt(frame, 0), wordAt(frame, 1), wordAt(frame, words - 2), wordAt(frame, words - 1)};
}

bool wellMarked(const std::vector<uint8_t>& frame)
{
    Marks marks = marksOf(frame);
    return marks.head == 0x5A7E && marks.tail == 0x3CF0 && marks.counter == marks.counterCopy;
}

// Median of the 16-bit samples (shifted down to the ADC depth) of one mosaic
// site, markers left out.
double siteMedian(const std::vector<uint8_t>& frame, int width, int site, int adcBits)
{
    std::vector<int> samples;
    size_t words = frame.size() / 2;
    for (size_t i = 2; i + 2 < words; ++i) {
        int x = static_cast<int>(i % static_cast<size_t>(width));
        int y = static_cast<int>(i / static_cast<size_t>(width));
        if (((y & 1) << 1 | (x & 1)) == site)
            samples.push_back(wordAt(frame, i) >> (16 - adcBits));
    }
    std::nth_element(samples.begin(), samples.begin() + static_cast<long>(samples.size() / 2), samples.end());
    return samples[samples.size() / 2];
}

struct Completion {
    libusb_transfer_status status;
    int length;
};

// Keeps `count` transfers of `size` bytes queued for `seconds` (or until
// one fails) and returns how each ended, in order.
std::vector<Completion> streamFor(libusb_context* context, libusb_device_handle* handle, int count, int size,
                                  double seconds)
{
    struct Shared {
        std::vector<Completion> done;
        int inFlight = 0;
        bool running = true;
    } shared;
    std::vector<std::vector<uint8_t>> buffers(static_cast<size_t>(count), std::vector<uint8_t>(size));
    std::vector<libusb_transfer*> transfers;
    auto callback = [](libusb_transfer* transfer) {
        auto* state = static_cast<Shared*>(transfer->user_data);
        --state->inFlight;
        if (transfer->status != LIBUSB_TRANSFER_CANCELLED)
            state->done.push_back({transfer->status, transfer->actual_length});
        if (transfer->status != LIBUSB_TRANSFER_COMPLETED)
            state->running = false;
        else if (state->running && libusb_submit_transfer(transfer) == 0)
            ++state->inFlight;
    };
    for (auto& buffer : buffers) {
        libusb_transfer* transfer = libusb_alloc_transfer(0);
        libusb_fill_bulk_transfer(transfer, handle, kBulkIn, buffer.data(), size, callback, &shared, 0);
        transfers.push_back(transfer);
        if (libusb_submit_transfer(transfer) == 0)
            ++shared.inFlight;
    }
    Clock::time_point end =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    while (shared.running && Clock::now() < end) {
        timeval slice{0, 20000};
        libusb_handle_events_timeout(context, &slice);
    }
    shared.running = false;
    for (libusb_transfer* transfer : transfers)
        libusb_cancel_transfer(transfer);
    while (shared.inFlight > 0) {
        timeval slice{0, 100000};
        libusb_handle_events_timeout(context, &slice);
    }
    for (libusb_transfer* transfer : transfers)
        libusb_free_transfer(transfer);
    return shared.done;
}

size_t bytesIn(const std::vector<Completion>& completions)
{
    size_t bytes = 0;
    for (const Completion& completion : completions)
        bytes += static_cast<size_t>(completion.length);
    return bytes;
}

}  // namespace

class FrameStreamTest : public SimTestFixture {
protected:
    static constexpr int kWidth = 128;
    static constexpr int kHeight = 64;

    // A camera with a sensor the test controls, opened; the frame size set
    // but nothing started.
    void plug(CameraConfig config = {}, SensorState state = {})
    {
        camera_ = &addCamera(config);
        sensor_ = std::make_shared<FixedSensorModel>(state);
        camera_->setSensorModel(sensor_);
        stream_ = std::dynamic_pointer_cast<FrameStream>(camera_->dataSource());
        ASSERT_NE(stream_, nullptr) << "an FX3 camera streams frames by default";
        handle_ = open(*camera_);
        setFrame(kWidth, kHeight, false);
    }

    void writeFpga(uint8_t reg, uint8_t value) { ASSERT_EQ(vendorOut(handle_, kWriteFpga, reg, value), 0); }
    uint8_t readFpga(uint8_t reg) { return readIn(handle_, kReadFpga, reg, 0, 1).at(0); }
    void command(uint8_t request) { ASSERT_EQ(vendorOut(handle_, request, 0, 0), 0); }
    void setStandby(bool standby) { ASSERT_EQ(vendorOut(handle_, kWriteSensor, 0, standby ? 1 : 0), 0); }
    void enableDdr() { writeFpga(24, 0x80); }  // the DDR self-test makes it ready

    void setFrame(int width, int height, bool wide)
    {
        writeFpga(4, static_cast<uint8_t>(width & 0xFF));
        writeFpga(5, static_cast<uint8_t>(width >> 8));
        writeFpga(8, static_cast<uint8_t>(height & 0xFF));
        writeFpga(9, static_cast<uint8_t>(height >> 8));
        writeFpga(10, wide ? 0x10 : 0x00);
        for (uint8_t reg = 12; reg <= 15; ++reg)
            writeFpga(reg, 128);
        frameBytes_ = static_cast<size_t>(width * height * (wide ? 2 : 1));
    }

    // One bulk transfer with room for two frames: a frame ends it.
    int read(std::vector<uint8_t>& frame, unsigned timeoutMs = 1000)
    {
        frame.assign(2 * frameBytes_, 0xEE);
        int actual = 0;
        int result =
            libusb_bulk_transfer(handle_, kBulkIn, frame.data(), static_cast<int>(frame.size()), &actual, timeoutMs);
        frame.resize(static_cast<size_t>(actual));
        return result;
    }

    std::vector<uint8_t> readFrame()
    {
        std::vector<uint8_t> frame;
        EXPECT_EQ(read(frame), 0);
        return frame;
    }

    SimulatedCamera* camera_ = nullptr;
    std::shared_ptr<FixedSensorModel> sensor_;
    std::shared_ptr<FrameStream> stream_;
    libusb_device_handle* handle_ = nullptr;
    size_t frameBytes_ = 0;
};

TEST_F(FrameStreamTest, FramesFlowOnlyWhileControllerFpgaAndSensorAllRun)
{
    plug();
    std::vector<uint8_t> frame;
    // Each condition missing in turn; then all present.
    EXPECT_EQ(read(frame, 150), LIBUSB_ERROR_TIMEOUT) << "no 0xA9 yet";
    command(kStartStreaming);
    writeFpga(0, 0x10);
    EXPECT_EQ(read(frame, 150), LIBUSB_ERROR_TIMEOUT) << "FPGA stopped";
    writeFpga(0, 0x00);
    setStandby(true);
    EXPECT_EQ(read(frame, 150), LIBUSB_ERROR_TIMEOUT) << "sensor in standby";
    setStandby(false);
    EXPECT_EQ(read(frame), 0);
    EXPECT_EQ(frame.size(), frameBytes_);

    command(kStopStreaming);
    EXPECT_EQ(read(frame, 150), LIBUSB_ERROR_TIMEOUT) << "0xAA stops";
    command(kStartStreaming);
    EXPECT_EQ(read(frame), 0);
    writeFpga(0, 0x10);
    EXPECT_EQ(read(frame, 150), LIBUSB_ERROR_TIMEOUT) << "FPGAStop stops";
}

TEST_F(FrameStreamTest, FramesHaveTheRegisterSizeAndStandardMarkers)
{
    struct Case {
        int width, height;
        bool wide;
    };
    const Case cases[] = {{128, 64, false}, {128, 64, true}, {100, 30, false}, {3000, 700, true}};
    // Sizes and markers, not pace: under emulation the largest frame takes
    // about a second to render.
    const unsigned waitMs = 5000;
    plug();
    command(kStartStreaming);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + (c.wide ? " 16-bit" : " 8-bit"));
        setFrame(c.width, c.height, c.wide);
        std::vector<uint8_t> frame;
        ASSERT_EQ(read(frame, waitMs), 0);  // may still be of the old size
        int lastCounter = -1;
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(read(frame, waitMs), 0);
            ASSERT_EQ(frame.size(), static_cast<size_t>(c.width * c.height * (c.wide ? 2 : 1)));
            EXPECT_TRUE(wellMarked(frame));
            EXPECT_GT(static_cast<int>(marksOf(frame).counter), lastCounter);
            lastCounter = marksOf(frame).counter;
        }
    }
}

TEST_F(FrameStreamTest, EightBitOutputIsTheHighByteOfTheSampleAtTheAdcDepth)
{
    SensorState state;
    state.exposureUs = 50000;
    state.gainTenthDb = 300;
    state.blackLevel = 40;
    state.adcBits = 12;
    plug({}, state);
    command(kStartStreaming);
    setFrame(kWidth, kHeight, true);
    std::vector<uint8_t> wide = readFrame();
    wide = readFrame();  // surely of the new size
    setFrame(kWidth, kHeight, false);
    std::vector<uint8_t> narrow = readFrame();
    narrow = readFrame();
    ASSERT_EQ(wide.size(), 2 * narrow.size());
    size_t unusedBitsSet = 0;
    size_t mismatches = 0;
    for (size_t i = 4; i + 4 < narrow.size(); ++i) {  // both frames' markers left out
        unusedBitsSet += (wordAt(wide, i) & 0x000F) != 0;
        mismatches += narrow[i] != (wordAt(wide, i) >> 8);
    }
    EXPECT_EQ(unusedBitsSet, 0u) << "12-bit samples sit in the high bits";
    EXPECT_EQ(mismatches, 0u);
    EXPECT_GT(siteMedian(wide, kWidth, 1, 12), state.blackLevel) << "the sky shows";
}

TEST_F(FrameStreamTest, BrightnessFollowsExposureGainBlackLevelAndColourGains)
{
    SensorState base;
    base.exposureUs = 20000;
    base.gainTenthDb = 300;
    base.blackLevel = 64;
    base.adcBits = 12;
    struct Case {
        const char* what;
        double exposureUs;
        int gain;
        std::array<int, 4> colourGains;
        std::array<double, 4> expected;  // per site, relative to the base frame
        bool withBlack;                  // the ratio includes the black level
    };
    const Case cases[] = {
        {"double exposure", 40000, 300, {128, 128, 128, 128}, {2, 2, 2, 2}, false},
        {"6 dB more gain", 20000, 360, {128, 128, 128, 128}, {1.995, 1.995, 1.995, 1.995}, false},
        {"colour gains", 20000, 300, {255, 128, 64, 192}, {255 / 128.0, 1, 0.5, 1.5}, true},
    };
    plug({}, base);
    command(kStartStreaming);
    setFrame(kWidth, kHeight, true);
    auto settledFrame = [&] {
        readFrame();
        return readFrame();
    };
    std::vector<uint8_t> reference = settledFrame();
    std::array<double, 4> baseMedian;
    for (int site = 0; site < 4; ++site)
        baseMedian[static_cast<size_t>(site)] = siteMedian(reference, kWidth, site, 12);
    // The mosaic's red and blue sites are less sensitive than its green ones.
    EXPECT_LT(baseMedian[0], baseMedian[1]) << "the sky is tinted on a colour sensor";
    EXPECT_LT(baseMedian[3], baseMedian[0]);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SensorState state = base;
        state.exposureUs = c.exposureUs;
        state.gainTenthDb = c.gain;
        sensor_->set(state);
        for (uint8_t site = 0; site < 4; ++site)
            writeFpga(static_cast<uint8_t>(12 + site), static_cast<uint8_t>(c.colourGains[site]));
        std::vector<uint8_t> frame = settledFrame();
        for (int site = 0; site < 4; ++site) {
            size_t s = static_cast<size_t>(site);
            double black = c.withBlack ? 0 : base.blackLevel;
            double ratio = (siteMedian(frame, kWidth, site, 12) - black) / (baseMedian[s] - black);
            EXPECT_NEAR(ratio, c.expected[s], 0.05 * c.expected[s]) << "site " << site;
        }
    }

    SensorState mono = base;
    mono.colorMosaic = false;
    sensor_->set(mono);
    for (uint8_t site = 0; site < 4; ++site)
        writeFpga(static_cast<uint8_t>(12 + site), 128);
    std::vector<uint8_t> frame = settledFrame();
    EXPECT_NEAR(siteMedian(frame, kWidth, 0, 12), siteMedian(frame, kWidth, 3, 12), 2) << "no tint without mosaic";
}

TEST_F(FrameStreamTest, FactoryHotPixelsAreSaturatedWhereTheWindowShowsThem)
{
    struct Case {
        int windowX, windowY, binning;
        bool wide;
        std::vector<size_t> saturated;  // frame pixel indexes
    };
    const Case cases[] = {
        {0, 0, 1, true, {2 * kWidth + 3, 7 * kWidth + 12, 20 * kWidth + 33}},
        {8, 4, 1, false, {3 * kWidth + 4, 16 * kWidth + 25}},
        {8, 4, 2, true, {1 * kWidth + 2, 8 * kWidth + 12}},
    };
    CameraConfig config;
    config.hotPixels = {{12, 7}, {33, 20}, {5000, 20}, {3, 2}};
    plug(config);
    command(kStartStreaming);
    for (const Case& c : cases) {
        SCOPED_TRACE("window at " + std::to_string(c.windowX) + "," + std::to_string(c.windowY) + " bin " +
                     std::to_string(c.binning));
        SensorState state;  // 10 ms at unity gain: nothing else comes near full scale
        state.windowX = c.windowX;
        state.windowY = c.windowY;
        state.binning = c.binning;
        sensor_->set(state);
        setFrame(kWidth, kHeight, c.wide);
        readFrame();
        std::vector<uint8_t> frame = readFrame();
        std::vector<size_t> saturated;
        size_t pixels = frame.size() / (c.wide ? 2 : 1);
        for (size_t i = 2; i + 2 < pixels; ++i) {
            bool full = c.wide ? wordAt(frame, i) == 0xFFF0 : frame[i] == 0xFF;
            if (full)
                saturated.push_back(i);
        }
        EXPECT_EQ(saturated, c.saturated);
    }
}

TEST_F(FrameStreamTest, FramePeriodIsTheLongerOfExposureAndSensorFrameTime)
{
    struct Case {
        double exposureUs, frameTimeUs;
        size_t fewest, most;  // frames in one second
    };
    const Case cases[] = {{10000, 0, 20, 110}, {200000, 0, 2, 8}, {10000, 200000, 2, 8}};
    plug();
    command(kStartStreaming);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.exposureUs) + " us exposure, frame time " + std::to_string(c.frameTimeUs));
        SensorState state;
        state.exposureUs = c.exposureUs;
        state.frameTimeUs = c.frameTimeUs;
        sensor_->set(state);
        readFrame();  // the old period ends
        std::vector<Completion> frames = streamFor(context_, handle_, 4, static_cast<int>(2 * frameBytes_), 1.0);
        EXPECT_GE(frames.size(), c.fewest);
        EXPECT_LE(frames.size(), c.most);
    }
}

TEST_F(FrameStreamTest, DdrOutputIsPacedByTheBandwidthDivider)
{
    SensorState state;
    state.exposureUs = 1000;
    plug({}, state);
    setFrame(2048, 1024, false);  // 2 MiB: 5.4 ms on the full link
    enableDdr();
    command(kStartStreaming);
    auto rate = [&] { return bytesIn(streamFor(context_, handle_, 4, 1 << 20, 0.5)) / 0.5 / 1e6; };

    writeFpga(36, 1);  // 99.6 %
    writeFpga(37, 0);
    double full = rate();
    writeFpga(36, 0x00);  // 25600 / (0x900 + 256) = 10 %
    writeFpga(37, 0x09);
    double tenth = rate();
    writeFpga(10, 0x40);  // DDR bypassed: the divider no longer applies
    double bypassed = rate();

    EXPECT_LT(tenth, 50) << "39 MB/s expected";
    EXPECT_GT(tenth, 20);
    EXPECT_GT(full, 3 * tenth);
    EXPECT_LT(full, 400);
    EXPECT_GT(bypassed, 3 * tenth);
}

// Frames the host does not wait for: a FIFO loses them with their numbers,
// so the host sees the gap; the DDR keeps the newest and numbers a frame only
// when it leaves, so frames the sensor made faster than they could go out
// leave no gap.
TEST_F(FrameStreamTest, CounterSkipsFramesLostWithoutDdrButNotThoseTheDdrReplaced)
{
    SensorState state;
    state.exposureUs = 1000;
    plug({}, state);
    command(kStartStreaming);
    for (bool ddr : {false, true}) {
        SCOPED_TRACE(ddr ? "DDR" : "no DDR");
        if (ddr)
            enableDdr();
        readFrame();
        int lastCounter = marksOf(readFrame()).counter;
        int gaps = 0;
        for (int i = 0; i < 4; ++i) {
            // Dozens of sensor frames while no transfer waits.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const int counter = marksOf(readFrame()).counter;
            gaps += counter - lastCounter - 1;
            lastCounter = counter;
        }
        if (ddr)
            EXPECT_EQ(gaps, 0);
        else
            EXPECT_GE(gaps, 4);
    }
}

// The library asks for 97.5 % of the DDR's 400 MB/s at full bandwidth on
// USB3 and 10.8 % on USB2: the link's own rate either way.
TEST(FrameSettingsTest, DdrOutputIsTheDividersShareOfItsFullScaleWithinTheLink)
{
    struct Case {
        bool superSpeed;
        int divider;
        bool bypassed;
        double bytesPerSecond;
    } cases[] = {
        {true, 6, false, 390e6},         // 97.71 %: 390.8 MB/s, the link allows 390
        {true, 0x900, false, 40e6},      // 10 %
        {true, 0x900, true, 390e6},      // no DDR: the link rate
        {false, 2110, false, 43.272e6},  // 10.82 %: 43.28 MB/s, the link allows 43.272
        {false, 4864, false, 20e6},      // 5 %
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.divider) + (c.superSpeed ? " on USB3" : " on USB2"));
        CameraConfig config = c.superSpeed ? CameraConfig::usb3Camera(0x1001) : CameraConfig::usb2Camera(0x1001);
        SimulatedCamera camera(config);
        camera.setFpgaRegister(35, 0x01);  // DDR ready
        camera.setFpgaRegister(10, c.bypassed ? 0x40 : 0x00);
        camera.setFpgaRegister(36, static_cast<uint8_t>(c.divider & 0xFF));
        camera.setFpgaRegister(37, static_cast<uint8_t>(c.divider >> 8));
        EXPECT_NEAR(FrameSettings::read(camera).outputBytesPerSecond, c.bytesPerSecond, 1e3);
    }
}

TEST_F(FrameStreamTest, LongExposureRunsFromTriggerToClearAndReloadSendsTheFrameAgain)
{
    SensorState state;
    state.gainTenthDb = 300;
    state.adcBits = 12;
    plug({}, state);
    setFrame(kWidth, kHeight, true);
    enableDdr();
    writeFpga(0, 0xC0);  // trigger and wait mode, FPGA running
    command(kStartStreaming);
    EXPECT_EQ(readFpga(35) & 0x14, 0x10) << "in sync, nothing held";
    std::vector<uint8_t> frame;
    EXPECT_EQ(read(frame, 200), LIBUSB_ERROR_TIMEOUT) << "no free-running frames";

    writeFpga(11, 1);
    EXPECT_EQ(readFpga(35) & 0x10, 0) << "exposing";
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    writeFpga(11, 0);
    ASSERT_EQ(read(frame), 0);
    ASSERT_EQ(frame.size(), frameBytes_);
    EXPECT_TRUE(wellMarked(frame));
    EXPECT_EQ(readFpga(35), 0x15) << "the normal status after a transfer";
    // The sky's background is 2 % of full scale per second at unity gain.
    double expected = 0.02 * 4095 * 0.4 * std::pow(10.0, 300 / 200.0);
    EXPECT_NEAR(siteMedian(frame, kWidth, 1, 12), expected, 0.15 * expected) << "exposed for the real 400 ms";

    std::vector<uint8_t> again;
    EXPECT_EQ(read(again, 300), LIBUSB_ERROR_TIMEOUT) << "one frame per exposure";
    writeFpga(24, 1);
    ASSERT_EQ(read(again), 0);
    EXPECT_EQ(again, frame) << "reload sends the held frame again";
}

TEST_F(FrameStreamTest, EdgeTriggerDuringItsExposureIsIgnoredAndTheFrameWaitsForTheHost)
{
    plug();
    const uint32_t exposureUs = 200000;
    for (int i = 0; i < 4; ++i)
        writeFpga(static_cast<uint8_t>(44 + i), static_cast<uint8_t>(exposureUs >> (8 * i)));
    writeFpga(40, 0x00);  // software signal, edge, rising
    writeFpga(0, 0x80);   // trigger mode, FPGA running
    command(kStartStreaming);
    std::vector<uint8_t> frame;
    EXPECT_EQ(read(frame, 200), LIBUSB_ERROR_TIMEOUT) << "no frame without a trigger";

    for (uint8_t signal : {1, 0, 1, 0})
        writeFpga(11, signal);
    // The exposure ends while no transfer waits; without DDR the FPGA keeps
    // the triggered frame for the host.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    ASSERT_EQ(read(frame), 0);
    EXPECT_EQ(frame.size(), frameBytes_);
    EXPECT_TRUE(wellMarked(frame));
    EXPECT_EQ(read(frame, 300), LIBUSB_ERROR_TIMEOUT) << "the second edge came during the exposure";
}

TEST_F(FrameStreamTest, EachFaultSwitchSpoilsTheNextFrameOnly)
{
    struct Case {
        const char* what;
        std::function<void(StreamFaults&)> set;
        size_t shortBy;
        Marks broken;  // what differs from a good frame's marks: 1 = that word
    };
    const Case cases[] = {
        {"short", [](StreamFaults& f) { f.shortenNextFrame(100); }, 100, {0, 0, 0, 0}},
        {"head", [](StreamFaults& f) { f.corruptNextFrame(MarkerFault::HeadMarker); }, 0, {1, 0, 0, 0}},
        {"tail", [](StreamFaults& f) { f.corruptNextFrame(MarkerFault::TailMarker); }, 0, {0, 0, 0, 1}},
        {"counter", [](StreamFaults& f) { f.corruptNextFrame(MarkerFault::CounterMismatch); }, 0, {0, 0, 1, 0}},
    };
    plug();
    enableDdr();
    command(kStartStreaming);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        readFrame();
        c.set(stream_->faults());
        std::vector<uint8_t> spoilt = readFrame();
        ASSERT_EQ(spoilt.size(), frameBytes_ - c.shortBy);
        if (c.shortBy == 0) {
            Marks marks = marksOf(spoilt);
            EXPECT_EQ(marks.head != 0x5A7E, c.broken.head != 0);
            EXPECT_EQ(marks.counterCopy != marks.counter, c.broken.counterCopy != 0);
            EXPECT_EQ(marks.tail != 0x3CF0, c.broken.tail != 0);
        }
        std::vector<uint8_t> next = readFrame();
        EXPECT_EQ(next.size(), frameBytes_);
        EXPECT_TRUE(wellMarked(next));
    }

    stream_->faults().shortenFramesPeriodically(10, 1);
    EXPECT_EQ(readFrame().size(), frameBytes_ - 10);
    EXPECT_EQ(readFrame().size(), frameBytes_ - 10) << "every frame";
    stream_->faults().shortenFramesPeriodically(0, 0);
    readFrame();
    EXPECT_EQ(readFrame().size(), frameBytes_);

    uint16_t before = marksOf(readFrame()).counter;
    stream_->faults().withholdNextFrames(3);
    uint16_t after = marksOf(readFrame()).counter;
    EXPECT_GE(after - before, 4) << "three frames held back, the transfer kept waiting";

    stream_->faults().stallNextTransfer();
    std::vector<uint8_t> frame;
    EXPECT_EQ(read(frame), LIBUSB_ERROR_PIPE);
    EXPECT_EQ(readFrame().size(), frameBytes_) << "the next frame comes whole";
}

TEST_F(FrameStreamTest, UnplugDuringAFrameEndsTheTransfersWithNoDevice)
{
    plug();
    setFrame(512, 512, false);  // 256 KiB: four transfers of 64 KiB
    enableDdr();
    command(kStartStreaming);
    stream_->faults().unplugDuringNextFrame(100 * 1024);
    std::vector<Completion> done = streamFor(context_, handle_, 4, 64 * 1024, 5.0);
    // Four queued, and the first again if the host resubmitted it in time.
    ASSERT_GE(done.size(), 4u);
    ASSERT_LE(done.size(), 5u);
    EXPECT_EQ(done[0].status, LIBUSB_TRANSFER_COMPLETED);
    EXPECT_EQ(done[0].length, 64 * 1024);
    for (size_t i = 1; i < done.size(); ++i)
        EXPECT_EQ(done[i].status, LIBUSB_TRANSFER_NO_DEVICE) << i;
    EXPECT_FALSE(camera_->pluggedIn());
}

TEST_F(FrameStreamTest, RecordHoldsTheFramesBitExactAsSent)
{
    plug();
    stream_->keepSentFrames(2);
    enableDdr();
    command(kStartStreaming);
    std::vector<std::vector<uint8_t>> received;
    for (int i = 0; i < 3; ++i)
        received.push_back(readFrame());
    command(kStopStreaming);

    std::vector<SentFrame> sent = stream_->sentFrames();
    ASSERT_EQ(sent.size(), 2u) << "the last two";
    for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(sent[i].bytes, received[i + 1]);
        EXPECT_EQ(sent[i].counter, marksOf(received[i + 1]).counter);
        EXPECT_EQ(stream_->expectedFrame(sent[i].counter), received[i + 1]);
    }
}
