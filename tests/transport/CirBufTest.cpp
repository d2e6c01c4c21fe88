// Runs in its own process: the log lines checked here go through the log
// singleton, which reads HOME once; main points it at a temporary folder.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "log/DbgPrint.h"
#include "tests/TempHome.h"
#include "transport/CirBuf.h"

namespace {

using namespace std::chrono_literals;
using Frame = std::vector<uint8_t>;

constexpr uint16_t kHead = 0x5A7E;
constexpr uint16_t kTail = 0x3CF0;
constexpr long kSlotSize = 64;

void PutWord(Frame &frame, size_t pos, uint16_t value)
{
    frame[2 * pos] = static_cast<uint8_t>(value);
    frame[2 * pos + 1] = static_cast<uint8_t>(value >> 8);
}

// A standard FPGA frame: markers at both ends, the counter twice, and a
// body derived from the counter so that mixed frames show.
Frame MakeFrame(size_t bytes, uint16_t counter)
{
    Frame frame(bytes);
    for (size_t i = 0; i < bytes; ++i)
        frame[i] = static_cast<uint8_t>(counter * 31 + i);
    const size_t words = bytes / 2;
    PutWord(frame, 0, kHead);
    PutWord(frame, 1, counter);
    PutWord(frame, words - 2, counter);
    PutWord(frame, words - 1, kTail);
    return frame;
}

int InsertStandard(CirBuf &ring, Frame &frame)
{
    const int words = static_cast<int>(frame.size() / 2);
    return ring.InsertBuff(frame.data(), static_cast<int>(frame.size()), kHead, 0, kTail, words - 1,
                           1, words - 2);
}

Frame Read(CirBuf &ring, size_t bytes, int timeoutMs)
{
    Frame out(bytes);
    if (!ring.ReadBuff(out.data(), static_cast<int>(bytes), timeoutMs, nullptr))
        out.clear();
    return out;
}

// Takes a free slot, writes the frame into it as the transfers would and
// publishes it; the verdict of EndInsert, or 1 when no slot was free.
int FillStandard(CirBuf &ring, const Frame &frame)
{
    uint8_t *slot = ring.BeginInsert();
    if (slot == nullptr)
        return 1;
    std::memcpy(slot, frame.data(), frame.size());
    const int words = static_cast<int>(frame.size() / 2);
    return ring.EndInsert(slot, static_cast<int>(frame.size()), kHead, 0, kTail, words - 1, 1,
                          words - 2);
}

class CirBufRing : public testing::Test {
protected:
    void Put(Frame &frame) { ASSERT_EQ(InsertStandard(ring, frame), 0); }

    CirBuf ring{kSlotSize, 2};
};

} // namespace

// Each offer goes to a fresh ring of one slot. Whatever a refused or
// rejected offer did, a good frame must be accepted after it; after an
// accepted one it must be refused, since the first is still unread.
TEST(CirBufInsert, VerdictsAndWhatTheyLeaveBehind)
{
    struct Case {
        const char *name;
        int length;
        uint16_t head;
        int headPos;
        uint16_t tail;
        int tailPos;
        int count0;
        int count1;
        void (*damage)(Frame &);
        bool nullFrame;
        int expected;
    };
    const int last = kSlotSize / 2 - 1;
    auto none = [](Frame &) {};
    const Case cases[] = {
        {"standard frame", kSlotSize, kHead, 0, kTail, last, 1, last - 1, none, false, 0},
        {"null frame", kSlotSize, kHead, 0, kTail, last, 1, last - 1, none, true, 1},
        {"empty frame", 0, 0, 0, 0, 0, 0, 0, none, false, 1},
        {"longer than a slot", kSlotSize + 2, 0, 0, 0, 0, 0, 0, none, false, 1},
        {"head differs", kSlotSize, kHead, 0, kTail, last, 1, last - 1, [](Frame &f) { f[0] ^= 1; },
         false, 2},
        {"tail differs", kSlotSize, kHead, 0, kTail, last, 1, last - 1,
         [](Frame &f) { f[kSlotSize - 1] ^= 1; }, false, 2},
        {"counters differ", kSlotSize, kHead, 0, kTail, last, 1, last - 1,
         [](Frame &f) { f[2] ^= 1; }, false, 2},
        {"unchecked markers take anything", kSlotSize, 0, 0, 0, 0, 0, 0,
         [](Frame &f) { std::memset(f.data(), 0xEE, f.size()); }, false, 0},
        {"one counter position 0 skips the comparison", kSlotSize, kHead, 0, kTail, last, 0,
         last - 1, [](Frame &f) { f[2] ^= 1; }, false, 0},
        {"alternate markers, shorter frame", 40, 0xAA11, 0, 0x11AA, 19, 0, 0,
         [](Frame &f) {
             PutWord(f, 0, 0xAA11);
             PutWord(f, 19, 0x11AA);
         },
         false, 0},
        {"tail position past the frame", kSlotSize, kHead, 0, kTail, last + 1, 0, 0, none, false,
         2},
        {"negative head position", kSlotSize, kHead, -1, 0, 0, 0, 0, none, false, 2},
        {"counter position past the frame", kSlotSize, 0, 0, 0, 0, 1, last + 1, none, false, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        CirBuf ring(kSlotSize, 1);
        Frame frame = MakeFrame(kSlotSize, 5);
        c.damage(frame);
        EXPECT_EQ(ring.InsertBuff(c.nullFrame ? nullptr : frame.data(), c.length, c.head, c.headPos,
                                  c.tail, c.tailPos, c.count0, c.count1),
                  c.expected);
        Frame good = MakeFrame(kSlotSize, 6);
        EXPECT_EQ(InsertStandard(ring, good), c.expected == 0 ? 1 : 0);
    }
}

TEST(CirBufLog, CounterMismatchAndNullDestinationAreLogged)
{
    g_bDebugPrint = true;
    CirBuf ring(kSlotSize, 2);
    Frame frame = MakeFrame(kSlotSize, 7);
    PutWord(frame, kSlotSize / 2 - 2, 8);

    testing::internal::CaptureStderr();
    const int verdict = InsertStandard(ring, frame);
    const bool read = ring.ReadBuff(nullptr, kSlotSize, 0, nullptr);
    const std::string log = testing::internal::GetCapturedStderr();
    g_bDebugPrint = false;

    EXPECT_EQ(verdict, 2);
    EXPECT_FALSE(read);
    EXPECT_NE(log.find("Count Addrcount0= 07, Addrcount1=08 \n"), std::string::npos) << log;
    EXPECT_NE(log.find("error, pData is 0\n"), std::string::npos) << log;
}

TEST_F(CirBufRing, TwoFramesFillTheRingAndComeOutInOrderBitExact)
{
    Frame first = MakeFrame(kSlotSize, 1);
    Frame second = MakeFrame(kSlotSize, 2);
    Frame third = MakeFrame(kSlotSize, 3);
    Put(first);
    Put(second);
    EXPECT_EQ(InsertStandard(ring, third), 1) << "a full ring must refuse";
    EXPECT_EQ(InsertStandard(ring, third), 1);

    EXPECT_EQ(Read(ring, kSlotSize, 0), first);
    Put(third);
    EXPECT_EQ(Read(ring, kSlotSize, 0), second);
    EXPECT_EQ(Read(ring, kSlotSize, 0), third);
    EXPECT_TRUE(Read(ring, kSlotSize, 0).empty());
}

TEST_F(CirBufRing, ShortReadTakesTheFrameHeadAndConsumesTheFrame)
{
    Frame first = MakeFrame(kSlotSize, 1);
    Frame second = MakeFrame(kSlotSize, 2);
    Put(first);
    Put(second);
    EXPECT_EQ(Read(ring, 10, 0), Frame(first.begin(), first.begin() + 10));
    EXPECT_EQ(Read(ring, kSlotSize, 0), second);
}

TEST_F(CirBufRing, ReadsOfAnEmptyRingTimeOut)
{
    Frame dest(kSlotSize);
    for (int timeoutMs : {0, 50, -7}) {
        SCOPED_TRACE(timeoutMs);
        EXPECT_FALSE(ring.ReadBuff(dest.data(), kSlotSize, timeoutMs, nullptr));
    }
    EXPECT_FALSE(ring.IsBuffHeadCorrect(0, 0));
}

TEST_F(CirBufRing, ReadsOutsideTheSlotAreRefused)
{
    Frame frame = MakeFrame(kSlotSize, 1);
    Put(frame);
    Frame dest(kSlotSize + 2);
    EXPECT_FALSE(ring.ReadBuff(dest.data(), kSlotSize + 2, 0, nullptr));
    EXPECT_FALSE(ring.ReadBuff(dest.data(), -1, 0, nullptr));
    EXPECT_EQ(Read(ring, kSlotSize, 0), frame) << "a refused read must consume nothing";
}

TEST_F(CirBufRing, ReadWithoutLimitReturnsWhenAFrameArrives)
{
    Frame received;
    std::thread reader([&] { received = Read(ring, kSlotSize, -1); });
    std::this_thread::sleep_for(20ms); // lets the reader block first
    Frame frame = MakeFrame(kSlotSize, 9);
    ASSERT_EQ(InsertStandard(ring, frame), 0);
    reader.join();
    EXPECT_EQ(received, frame);
}

TEST_F(CirBufRing, HeadCheckComparesTheFirstWordAndConsumesNothing)
{
    Frame frame = MakeFrame(kSlotSize, 0x1234);
    Put(frame);
    uint32_t head = 0;
    std::memcpy(&head, frame.data(), sizeof head);
    EXPECT_TRUE(ring.IsBuffHeadCorrect(head, 0));
    EXPECT_FALSE(ring.IsBuffHeadCorrect(head ^ 0x10000u, 0));
    EXPECT_EQ(Read(ring, kSlotSize, 0), frame);
}

TEST_F(CirBufRing, AfterResetTheNextReadWaitsAndIndexesStartAfresh)
{
    Frame first = MakeFrame(kSlotSize, 1);
    Frame second = MakeFrame(kSlotSize, 2);
    Put(first);
    EXPECT_EQ(Read(ring, kSlotSize, 0), first); // read index now 1
    Put(second);
    ring.ResetCirBuff();
    EXPECT_TRUE(Read(ring, kSlotSize, 30).empty());

    Frame third = MakeFrame(kSlotSize, 3);
    Put(third);
    EXPECT_EQ(Read(ring, kSlotSize, 0), third);
}

// A reset drops the unread frames only: a slot being filled stays with its
// producer, who may still publish it.
TEST(CirBufReset, DropsUnreadFramesAndLeavesASlotBeingFilled)
{
    CirBuf ring(kSlotSize, 2);
    Frame first = MakeFrame(kSlotSize, 1);
    Frame second = MakeFrame(kSlotSize, 2);
    ASSERT_EQ(InsertStandard(ring, first), 0);
    uint8_t *filling = ring.BeginInsert();
    ASSERT_NE(filling, nullptr);

    ring.ResetCirBuff();
    EXPECT_TRUE(Read(ring, kSlotSize, 30).empty());
    std::memcpy(filling, second.data(), second.size());
    const int words = kSlotSize / 2;
    EXPECT_EQ(ring.EndInsert(filling, kSlotSize, kHead, 0, kTail, words - 1, 1, words - 2), 0);
    EXPECT_EQ(Read(ring, kSlotSize, 0), second);
}

TEST(CirBufSlots, SlotCountIsHeldToTheTable)
{
    struct Case {
        int requested;
        int expected;
    };
    for (const Case c : {Case{0, 1}, Case{1, 1}, Case{2, 2}, Case{4, 4}, Case{5, 4}}) {
        SCOPED_TRACE(c.requested);
        CirBuf ring(kSlotSize, c.requested);
        EXPECT_EQ(ring.SlotCount(), c.expected);
    }
}

// The transfers fill slots in place: every slot held (being filled, unread
// or being read) is out of reach of the next BeginInsert, frames come out
// in the order they were published whatever slot they took, and a slot
// given back or rejected is free again.
TEST(CirBufSlots, SlotsFilledInPlaceAreHandedOutOnlyWhenFree)
{
    CirBuf ring(kSlotSize, 3);
    uint8_t *a = ring.BeginInsert();
    uint8_t *b = ring.BeginInsert();
    uint8_t *c = ring.BeginInsert();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(c, nullptr);
    EXPECT_NE(a, b);
    EXPECT_NE(b, c);
    EXPECT_NE(a, c);
    EXPECT_EQ(ring.BeginInsert(), nullptr) << "every slot is being filled";

    const int words = kSlotSize / 2;
    auto publish = [&](uint8_t *slot, const Frame &frame) {
        std::memcpy(slot, frame.data(), frame.size());
        return ring.EndInsert(slot, kSlotSize, kHead, 0, kTail, words - 1, 1, words - 2);
    };
    const Frame one = MakeFrame(kSlotSize, 1), two = MakeFrame(kSlotSize, 2);
    EXPECT_EQ(publish(b, one), 0);
    EXPECT_EQ(publish(a, two), 0);
    ring.CancelInsert(c);
    uint8_t *again = ring.BeginInsert();
    EXPECT_EQ(again, c) << "the only free slot is the one given back";
    Frame damaged = MakeFrame(kSlotSize, 3);
    damaged[0] ^= 1;
    EXPECT_EQ(publish(again, damaged), 2);
    EXPECT_EQ(ring.BeginInsert(), c) << "a rejected frame's slot is free again";
    EXPECT_EQ(ring.BeginInsert(), nullptr) << "two unread, one being filled";

    EXPECT_EQ(Read(ring, kSlotSize, 0), one);
    EXPECT_EQ(Read(ring, kSlotSize, 0), two);
}

// The newest frame stays readable for the automatic controls: read or not,
// it is not handed out for filling while locked, and there is none after a
// reset or while its slot is being filled again.
TEST(CirBufNewest, LockedNewestFrameIsNotRefilled)
{
    CirBuf ring(kSlotSize, 2);
    int length = -1;
    EXPECT_EQ(ring.LockNewest(&length), nullptr) << "nothing published yet";

    Frame first = MakeFrame(kSlotSize, 1);
    ASSERT_EQ(InsertStandard(ring, first), 0);
    EXPECT_EQ(Read(ring, kSlotSize, 0), first);
    const uint8_t *newest = ring.LockNewest(&length);
    ASSERT_NE(newest, nullptr);
    EXPECT_EQ(length, kSlotSize);
    EXPECT_EQ(Frame(newest, newest + kSlotSize), first);

    uint8_t *other = ring.BeginInsert();
    EXPECT_NE(other, newest);
    EXPECT_EQ(ring.BeginInsert(), nullptr) << "the locked slot must not be refilled";
    ring.CancelInsert(other);
    ring.UnlockNewest(newest);

    Frame second = MakeFrame(kSlotSize, 2);
    ASSERT_EQ(FillStandard(ring, second), 0);
    const uint8_t *latest = ring.LockNewest(nullptr);
    ASSERT_NE(latest, nullptr);
    EXPECT_EQ(Frame(latest, latest + kSlotSize), second);
    ring.UnlockNewest(latest);

    ring.ResetCirBuff();
    EXPECT_EQ(ring.LockNewest(nullptr), nullptr) << "a reset starts a new run";
}

// A producer filling slots in place while a reader drains the ring, as the
// working loop and a caller do: every frame must come out whole, in order.
TEST(CirBufProducer, SlotsFilledWhileReadingNeverTearAFrame)
{
    constexpr size_t kBytes = 256 * 1024;
    constexpr int kFrames = 200;
    CirBuf ring(kBytes, 4);

    std::atomic<bool> producing{true};
    std::thread producer([&] {
        for (int counter = 1; counter <= kFrames; ++counter)
            FillStandard(ring, MakeFrame(kBytes, static_cast<uint16_t>(counter)));
        producing = false;
    });

    int received = 0;
    int lastCounter = 0;
    bool whole = true;
    for (;;) {
        const bool more = producing;
        Frame frame = Read(ring, kBytes, 20);
        if (frame.empty()) {
            if (!more)
                break;
            continue;
        }
        const int counter = frame[2] | frame[3] << 8;
        whole = whole && frame == MakeFrame(kBytes, static_cast<uint16_t>(counter));
        EXPECT_GT(counter, lastCounter);
        lastCounter = counter;
        ++received;
    }
    producer.join();
    EXPECT_TRUE(whole) << "a frame came out mixed with its successor";
    EXPECT_GT(received, 0);
}

int main(int argc, char **argv)
{
    TempHome home;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
