// Video on the ORU462MC through the flat API while the simulated camera's
// stream misbehaves: every frame delivered is one the camera sent whole and
// intact, bit for bit, and frames that never came are counted as dropped.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "tests/FlatCameraTest.h"
#include "tests/Watchdog.h"
#include "sim/StreamFaults.h"

using oru_sim::MarkerFault;
using oru_sim::SentFrame;
using oru_sim::StreamFaults;
using namespace std::chrono_literals;

namespace {

// Three bulk pieces per frame.
constexpr int kWidth = 1280;
constexpr int kHeight = 960;
constexpr int32_t kExposureUs = 20000;

uint16_t WordAt(const std::vector<uint8_t> &bytes, size_t word)
{
    return static_cast<uint16_t>(bytes[2 * word] | bytes[2 * word + 1] << 8);
}

// Head and tail markers in place and both counter copies equal.
bool Intact(const SentFrame &frame)
{
    const size_t words = frame.bytes.size() / 2;
    return words >= 4 && WordAt(frame.bytes, 0) == 0x5A7E &&
           WordAt(frame.bytes, words - 1) == 0x3CF0 &&
           WordAt(frame.bytes, 1) == WordAt(frame.bytes, words - 2) &&
           WordAt(frame.bytes, 1) == frame.counter;
}

class StreamFaultTest : public FlatCameraTest {
protected:
    void SetUp() override
    {
        OpenCamera("ORU462MC");
        SetRoi(kWidth, kHeight, 1, ORU_IMG_RAW16);
        // Frames slow enough for the host to take every one the camera
        // sends, and for the record of sent frames to reach back far.
        SetControl(ORU_EXPOSURE, kExposureUs);
        // A sky this steady sends equal frames; a black level that keeps
        // changing tells them apart.
        sweep_ = std::thread([this] {
            for (int offset = 0; sweeping_; offset = (offset + 1) % 200)
                ORUSetControlValue(id_, ORU_OFFSET, offset, ORU_FALSE);
        });
    }
    void TearDown() override
    {
        sweeping_ = false;
        if (sweep_.joinable())
            sweep_.join();
        FlatCameraTest::TearDown();
    }

    // Starts video with a fresh record of the frames sent.
    void StartVideo()
    {
        stream_->keepSentFrames(0);
        stream_->keepSentFrames(64);
        ASSERT_EQ(ORUStartVideoCapture(id_), ORU_SUCCESS);
    }

    // The counter of the sent frame a delivered frame is (the first one
    // after `after` that matches), after checking that the camera sent it
    // whole and intact; -1 when it is none.
    int CounterOf(const std::vector<unsigned char> &frame, int after)
    {
        const std::vector<SentFrame> sent = stream_->sentFrames();
        const SentFrame *match = SentFrameOf(sent, frame, after);
        if (match == nullptr)
            return -1;
        EXPECT_EQ(match->bytes.size(), static_cast<size_t>(frameBytes_));
        EXPECT_TRUE(Intact(*match)) << "a damaged frame was delivered: " << match->counter;
        return match->counter;
    }

    std::atomic<bool> sweeping_{true};
    std::thread sweep_;
};

struct FaultCase {
    const char *name;
    std::function<void(StreamFaults &)> apply;
};

} // namespace

TEST_F(StreamFaultTest, EveryDeliveredFrameIsASentFrameWholeAndIntact)
{
    Watchdog watchdog(120s, "video under stream faults");
    const FaultCase cases[] = {
        {"short frame", [](StreamFaults &f) { f.shortenNextFrame(4096); }},
        {"frame 512 bytes short", [](StreamFaults &f) { f.shortenNextFrame(512); }},
        {"every other frame short", [](StreamFaults &f) { f.shortenFramesPeriodically(100, 2); }},
        {"bad head marker", [](StreamFaults &f) { f.corruptNextFrame(MarkerFault::HeadMarker); }},
        {"bad tail marker", [](StreamFaults &f) { f.corruptNextFrame(MarkerFault::TailMarker); }},
        {"counter copies differ",
         [](StreamFaults &f) { f.corruptNextFrame(MarkerFault::CounterMismatch); }},
        {"frames withheld", [](StreamFaults &f) { f.withholdNextFrames(3); }},
        {"every third frame withheld", [](StreamFaults &f) { f.withholdFramesPeriodically(3); }},
        {"stalled transfer", [](StreamFaults &f) { f.stallNextTransfer(); }},
    };
    for (const FaultCase &fault : cases) {
        SCOPED_TRACE(fault.name);
        StartVideo();
        int last = CounterOf(VideoFrame(), -1);
        ASSERT_GE(last, 0);
        fault.apply(stream_->faults());
        for (int i = 0; i < 8; ++i) {
            const std::vector<unsigned char> frame = VideoFrame(3000);
            ASSERT_FALSE(frame.empty()) << "frame " << i;
            const int counter = CounterOf(frame, last);
            ASSERT_GE(counter, 0) << "frame " << i << " is not one the camera sent after the last";
            last = counter;
        }
        stream_->faults().clear();
        ASSERT_EQ(ORUStopVideoCapture(id_), ORU_SUCCESS);
    }
}

// Every fifth frame never comes: the next frame arrives in the transfers
// that waited, so only the frame counter shows the gap. The count starts
// afresh with every run, whatever the counter stood at.
TEST_F(StreamFaultTest, FramesThatNeverCameAreCountedFromTheCounterGaps)
{
    Watchdog watchdog(60s, "counting withheld frames");
    // Ten frames a second: a reader slowed down by a sanitizer still takes
    // every frame, so that only the withheld ones are missing.
    SetControl(ORU_EXPOSURE, 5 * kExposureUs);
    stream_->faults().apply("drop-every=5");
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(testing::Message() << "run " << run);
        StartVideo();
        // Read promptly, so that the ring never refuses a frame; matched
        // with the sent frames afterwards.
        std::vector<std::vector<unsigned char>> frames{VideoFrame()};
        const int droppedAtStart = Dropped();
        for (int i = 0; i < 20; ++i)
            frames.push_back(VideoFrame(3000));
        const int dropped = Dropped() - droppedAtStart;
        ASSERT_EQ(ORUStopVideoCapture(id_), ORU_SUCCESS);
        EXPECT_LE(droppedAtStart, 2) << "counted from before the run";

        int last = -1;
        int missing = 0;
        for (size_t i = 0; i < frames.size(); ++i) {
            const int counter = CounterOf(frames[i], last);
            ASSERT_GE(counter, 0) << "frame " << i;
            if (last >= 0)
                missing += counter - last - 1;
            last = counter;
        }
        EXPECT_GE(missing, 3);
        // A frame lost just before the first count, or just after the last
        // frame read, may fall on either side.
        EXPECT_GE(dropped, missing - 1);
        EXPECT_LE(dropped, missing + 2);
    }
}
