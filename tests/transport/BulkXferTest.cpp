// The bulk-in engine of the transport (pipelined and step styles) against a
// simulated camera: piece layout, in-flight limit, frame contents, short
// frames, failures, unplug and the result codes.
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "log/DbgPrint.h"
#include "sim/CountingPatternSource.h"
#include "tests/ScriptedBulkSource.h"
#include "tests/SimCameraTest.h"
#include "tests/TempHome.h"

using oru_sim::CountingPatternSource;
using oru_sim::SimulatedCamera;
using Action = ScriptedBulkSource::Action;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kMiB = 0x100000;
constexpr uint8_t kBulkIn = 0x81;
constexpr uint32_t kWaitMs = 5000;
constexpr uint32_t kPollMs = 100;

// Log lines also go to the log file under HOME.
class TempHomeEnvironment : public ::testing::Environment {
    TempHome home_;
};
const ::testing::Environment *const g_homeEnvironment =
    ::testing::AddGlobalTestEnvironment(new TempHomeEnvironment);

std::string CaptureLog(const std::function<void()> &action)
{
    g_bDebugPrint = true;
    testing::internal::CaptureStderr();
    action();
    std::string log = testing::internal::GetCapturedStderr();
    g_bDebugPrint = false;
    return log;
}

int Occurrences(const std::string &text, const std::string &part)
{
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

bool Contains(const std::string &text, const std::string &part)
{
    return Occurrences(text, part) > 0;
}

long MillisecondsSince(Clock::time_point start)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Waits (up to 10 s) until the condition holds; false if it never did.
bool Eventually(const std::function<bool()> &condition)
{
    const Clock::time_point start = Clock::now();
    while (!condition()) {
        if (MillisecondsSince(start) > 10000)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

int Pieces(int bytes)
{
    return (bytes + kMiB - 1) / kMiB;
}

} // namespace

class BulkXferTest : public SimCameraTest {
protected:
    std::shared_ptr<ScriptedBulkSource> Script(std::vector<ScriptedBulkSource::Step> steps = {})
    {
        auto source = std::make_shared<ScriptedBulkSource>(std::move(steps));
        sim_->setDataSource(source);
        return source;
    }

    // One pipelined frame of `bytes` into a fresh buffer; returns *received.
    int PipelinedFrame(std::vector<uint8_t> &frame, int bytes, uint32_t waitMs = kWaitMs)
    {
        frame.assign(static_cast<size_t>(bytes), 0xEE);
        EXPECT_EQ(camera_.initAsyncXfer(bytes, Pieces(bytes), kMiB, kBulkIn, frame.data()), 1);
        int received = -1;
        EXPECT_EQ(camera_.startAsyncXfer(waitMs, kPollMs, &received, nullptr, bytes), 1);
        return received;
    }
};

TEST_F(BulkXferTest, FrameIsCutIntoMiBPiecesAndLandsBitExact)
{
    struct Case {
        int bytes;
        std::vector<size_t> pieces;
    };
    const Case cases[] = {
        {0x380000, {0x100000, 0x100000, 0x100000, 0x80000}},
        {0x400000, {0x100000, 0x100000, 0x100000, 0x100000}},
    };
    Plug();
    for (const Case &c : cases) {
        std::vector<uint8_t> expected(static_cast<size_t>(c.bytes));
        CountingPatternSource::fillPattern(expected.data(), expected.size(), 0);

        SCOPED_TRACE("pipelined, " + std::to_string(c.bytes) + " bytes");
        auto source = Script();
        std::vector<uint8_t> frame;
        EXPECT_EQ(PipelinedFrame(frame, c.bytes), c.bytes);
        EXPECT_EQ(source->requestedLengths(), c.pieces);
        EXPECT_TRUE(frame == expected);
        camera_.releaseAsyncXfer();

        SCOPED_TRACE("step");
        source = Script();
        std::fill(frame.begin(), frame.end(), 0xEE);
        const int count = camera_.beginAsyncXfer(kBulkIn, frame.data(), c.bytes, 1000);
        ASSERT_EQ(count, static_cast<int>(c.pieces.size()));
        for (int i = 0; i < count; ++i) {
            int received = -1;
            EXPECT_EQ(camera_.waitForAsyncXfer(i, &received), 0);
            EXPECT_EQ(received, static_cast<int>(c.pieces[static_cast<size_t>(i)]));
        }
        camera_.finishAsyncXfer(count);
        EXPECT_EQ(source->requestedLengths(), c.pieces);
        EXPECT_TRUE(frame == expected);
    }
}

// Completes every waiting transfer, without writing to it, once their number
// has stayed the same for 200 ms; returns the largest number seen then.
size_t FeedWhenSettled(SimulatedCamera &camera, size_t transfers)
{
    size_t peak = 0;
    size_t completed = 0;
    size_t last = 0;
    Clock::time_point since = Clock::now();
    const Clock::time_point start = Clock::now();
    while (completed < transfers && MillisecondsSince(start) < 30000) {
        const size_t waiting = camera.waitingBulkTransfers();
        if (waiting != last) {
            last = waiting;
            since = Clock::now();
        } else if (waiting > 0 && MillisecondsSince(since) >= 200) {
            peak = std::max(peak, waiting);
            while (camera.completeBulkTransfer([](uint8_t *, size_t capacity) { return capacity; }))
                ++completed;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return peak;
}

TEST_F(BulkXferTest, InFlightLimitKeepsSubmittedMemoryBelow200MiB)
{
    struct Case {
        int pieces;
        size_t mostAtOnce;
    };
    const Case cases[] = {{250, 199}, {200, 199}, {150, 150}};
    Plug();
    sim_->setDataSource(nullptr);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pieces);
        const int bytes = c.pieces * kMiB;
        // Never written: the pages stay untouched.
        std::unique_ptr<uint8_t[]> frame(new uint8_t[static_cast<size_t>(bytes)]);
        size_t peak = 0;
        std::thread feeder([&] { peak = FeedWhenSettled(*sim_, static_cast<size_t>(c.pieces)); });
        ASSERT_EQ(camera_.initAsyncXfer(bytes, c.pieces, kMiB, kBulkIn, frame.get()), 1);
        int received = -1;
        camera_.startAsyncXfer(10000, kPollMs, &received, nullptr, bytes);
        feeder.join();
        camera_.releaseAsyncXfer();
        EXPECT_EQ(peak, c.mostAtOnce);
        EXPECT_EQ(received, bytes);
    }
}

TEST_F(BulkXferTest, FrameShortByOneFinalPacketCountsAsComplete)
{
    struct Case {
        size_t shortBy;
        int received; // relative to the frame size
        bool logged;
    };
    const Case cases[] = {{512, 0, true}, {513, -513, false}};
    Plug();
    const int bytes = 0x380000;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.shortBy);
        Script({{Action::Fill}, {Action::Fill}, {Action::Fill}, {Action::Fill, c.shortBy}});
        std::vector<uint8_t> frame;
        int received = -1;
        const std::string log = CaptureLog([&] { received = PipelinedFrame(frame, bytes); });
        EXPECT_EQ(received, bytes + c.received);
        EXPECT_EQ(Contains(log, "startAsyncXfer]: +512\n"), c.logged) << log;
    }
}

TEST_F(BulkXferTest, FailedTransferGivesUpTheRestOfTheFrame)
{
    struct Case {
        const char *name;
        Action second; // what happens to the second of four transfers
        uint32_t waitMs;
        long mostMs; // well below what waiting for the later transfers costs
        libusb_transfer_status secondStatus;
    };
    const Case cases[] = {
        {"stall", Action::Stall, 20000, 5000, LIBUSB_TRANSFER_STALL},
        {"wait budget used up", Action::Hold, 2000, 3500, LIBUSB_TRANSFER_CANCELLED},
    };
    Plug();
    const int bytes = 4 * kMiB;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Script({{Action::Fill}, {c.second}, {Action::Hold}});
        std::vector<uint8_t> frame;
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(PipelinedFrame(frame, bytes, c.waitMs), kMiB) << "only the first transfer counts";
        EXPECT_LT(MillisecondsSince(start), c.mostMs)
            << "the transfers after the failed one are cancelled, not waited for";
        EXPECT_EQ(camera_.PipelinedXferStatus(1), c.secondStatus);
        EXPECT_EQ(camera_.PipelinedXferStatus(2), LIBUSB_TRANSFER_CANCELLED);
        EXPECT_EQ(camera_.PipelinedXferStatus(3), LIBUSB_TRANSFER_CANCELLED);
        EXPECT_EQ(sim_->waitingBulkTransfers(), 0u);

        // Every transfer is back from libusb: the next frame uses all of them.
        Script();
        int received = -1;
        camera_.startAsyncXfer(kWaitMs, kPollMs, &received, nullptr, bytes);
        EXPECT_EQ(received, bytes);
        camera_.releaseAsyncXfer();
    }
}

// Frames queued ahead land in their own buffers, oldest first, each carrying
// on where the stream left off; no more than kAsyncFrameSets are queued, and
// giving them up leaves no transfer with libusb.
TEST_F(BulkXferTest, QueuedFramesArriveInTurnBitExactAndGivingThemUpLeavesNothingQueued)
{
    Plug();
    const int bytes = 0x380000;
    std::vector<uint8_t> spare(bytes), first(bytes, 0xEE), second(bytes, 0xEE), third(bytes);
    Script({{Action::Fill},
            {Action::Fill},
            {Action::Fill},
            {Action::Fill},
            {Action::Fill},
            {Action::Fill},
            {Action::Fill},
            {Action::Fill},
            {Action::Hold}});
    ASSERT_EQ(camera_.initAsyncXfer(bytes, Pieces(bytes), kMiB, kBulkIn, spare.data()), 1);
    ASSERT_EQ(CCameraFX3::kAsyncFrameSets, 2);
    ASSERT_TRUE(camera_.queueAsyncFrame(first.data()));
    ASSERT_TRUE(camera_.queueAsyncFrame(second.data()));
    EXPECT_FALSE(camera_.queueAsyncFrame(third.data())) << "both frame sets are queued";

    std::vector<uint8_t> expected(bytes);
    uint16_t next = 0;
    for (std::vector<uint8_t> *frame : {&first, &second}) {
        int received = -1;
        bool cut = true;
        EXPECT_EQ(camera_.waitAsyncFrame(kWaitMs, kPollMs, &received, &cut), frame->data());
        EXPECT_EQ(received, bytes);
        EXPECT_FALSE(cut);
        next = CountingPatternSource::fillPattern(expected.data(), expected.size(), next);
        EXPECT_TRUE(*frame == expected);
    }

    ASSERT_TRUE(camera_.queueAsyncFrame(third.data()));
    ASSERT_TRUE(Eventually([&] { return sim_->waitingBulkTransfers() == 4; }));
    camera_.cancelAsyncFrames();
    EXPECT_EQ(camera_.queuedAsyncFrames(), 0);
    EXPECT_EQ(sim_->waitingBulkTransfers(), 0u);
    int received = -1;
    bool cut = true;
    EXPECT_EQ(camera_.waitAsyncFrame(kWaitMs, kPollMs, &received, &cut), nullptr);
    camera_.releaseAsyncXfer();
}

// The camera ends every frame with a short transfer: one that comes short
// before the frame's last ends the frame at once, and says the frame was cut.
TEST_F(BulkXferTest, TransferShortBeforeTheLastEndsTheFrame)
{
    Plug();
    const int bytes = 4 * kMiB;
    std::vector<uint8_t> spare(bytes), frame(bytes);
    Script({{Action::Fill}, {Action::Fill, 1000}, {Action::Hold}});
    ASSERT_EQ(camera_.initAsyncXfer(bytes, Pieces(bytes), kMiB, kBulkIn, spare.data()), 1);
    ASSERT_TRUE(camera_.queueAsyncFrame(frame.data()));
    int received = -1;
    bool cut = false;
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(camera_.waitAsyncFrame(20000, kPollMs, &received, &cut), frame.data());
    EXPECT_LT(MillisecondsSince(start), 5000) << "the held transfers are not waited for";
    EXPECT_EQ(received, 2 * kMiB - 1000);
    EXPECT_TRUE(cut);
    EXPECT_EQ(sim_->waitingBulkTransfers(), 0u);
    camera_.releaseAsyncXfer();
}

TEST_F(BulkXferTest, UnplugMidFrameEndsTheFrameAtOnce)
{
    Plug();
    const int bytes = 24 * kMiB;
    auto source = Script({{Action::Fill}, {Action::Fill}, {Action::Hold}});
    std::thread unplugger([&] {
        auto midFrame = [&] {
            return source->filledTransfers() == 2 && sim_->waitingBulkTransfers() == 22;
        };
        if (Eventually(midFrame))
            bus_.unplug(*sim_);
    });
    std::vector<uint8_t> frame;
    const Clock::time_point start = Clock::now();
    const int received = PipelinedFrame(frame, bytes, 20000);
    const long elapsed = MillisecondsSince(start);
    unplugger.join();
    EXPECT_EQ(received, 2 * kMiB);
    EXPECT_LT(elapsed, 5000) << "neither the 20 s budget nor half a second per transfer";
    EXPECT_EQ(camera_.PipelinedXferStatus(23), LIBUSB_TRANSFER_NO_DEVICE);
}

TEST_F(BulkXferTest, StepWaitReturnsTheMappedTransferStatus)
{
    struct Case {
        const char *name;
        Action action;
        bool unplug;
        uint32_t timeoutMs;
        int result;
        int received;
    };
    const Case cases[] = {
        {"completed", Action::Fill, false, 5000, 0, kMiB},
        {"timed out", Action::Hold, false, 200, LIBUSB_ERROR_TIMEOUT, 0},
        {"stall", Action::Stall, false, 5000, LIBUSB_ERROR_PIPE, 0},
        {"no device", Action::Hold, true, 5000, LIBUSB_ERROR_NO_DEVICE, 0},
    };
    Plug();
    for (const Case &c : cases) { // the unplug comes last
        SCOPED_TRACE(c.name);
        Script({{c.action}});
        std::vector<uint8_t> frame(kMiB);
        ASSERT_EQ(camera_.beginAsyncXfer(kBulkIn, frame.data(), kMiB, c.timeoutMs), 1);
        std::thread unplugger([&] {
            if (c.unplug && Eventually([&] { return sim_->waitingBulkTransfers() == 1; }))
                bus_.unplug(*sim_);
        });
        int received = -1;
        int result = 0;
        const std::string log =
            CaptureLog([&] { result = camera_.waitForAsyncXfer(0, &received); });
        unplugger.join();
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(received, c.received);
        const std::string line =
            "waitForAsyncXfer]: wait for length = " + std::to_string(c.received);
        EXPECT_TRUE(Contains(log, line)) << log;
        camera_.finishAsyncXfer(1);
    }
}

TEST_F(BulkXferTest, ReleaseAndFinishLogOnlyWhenTablesExist)
{
    Plug();
    std::vector<uint8_t> frame(2 * kMiB);
    EXPECT_EQ(CaptureLog([&] {
                  camera_.releaseAsyncXfer();
                  camera_.finishAsyncXfer(2);
              }),
              "");

    ASSERT_EQ(camera_.initAsyncXfer(2 * kMiB, 2, kMiB, kBulkIn, frame.data()), 1);
    ASSERT_EQ(camera_.beginAsyncXfer(kBulkIn, frame.data(), 2 * kMiB, 1000), 2);
    const std::string log = CaptureLog([&] {
        camera_.releaseAsyncXfer();
        camera_.finishAsyncXfer(2);
        camera_.releaseAsyncXfer();
        camera_.finishAsyncXfer(2);
    });
    EXPECT_EQ(Occurrences(log, "releaseAsyncXfer]: free transfer!\n"), 1) << log;
    EXPECT_EQ(Occurrences(log, "finishAsyncXfer]: free transfer!\n"), 1) << log;
}
