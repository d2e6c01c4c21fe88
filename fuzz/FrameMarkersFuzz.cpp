// The checks every model makes on a received frame: the FPGA's standard frame
// (head 0x5A7E at word 0, tail 0x3CF0 at the last word, counter copies at
// words 1 and second-to-last, as the FPGA loops pass them to the ring), the
// same checks at positions the input chooses (its first eight bytes: four
// signed 16-bit positions), and the legacy USB2 head word.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "transport/FrameMarkers.h"

namespace {

constexpr uint16_t kFpgaHead = 0x5A7E;
constexpr uint16_t kFpgaTail = 0x3CF0;
constexpr size_t kPositionBytes = 8;

// A good verdict must rest on the words it names.
void Expect(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckFpgaFrame(const std::vector<uint8_t> &frame)
{
    const int length = static_cast<int>(frame.size());
    const int words = length / 2;
    const FrameMarkers markers{kFpgaHead, 0, kFpgaTail, words - 1, 1, words - 2};
    if (markers.Check(frame.data(), length) == FrameCheck::kGood)
        Expect(words >= 2 && FrameWordAt(frame.data(), 0) == kFpgaHead &&
               FrameWordAt(frame.data(), words - 1) == kFpgaTail &&
               (words < 3 || FrameWordAt(frame.data(), 1) == FrameWordAt(frame.data(), words - 2)));
}

int16_t PositionAt(const uint8_t *data, size_t index)
{
    int16_t position = 0;
    std::memcpy(&position, data + 2 * index, sizeof position);
    return position;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < kPositionBytes)
        return 0;
    // Copies of exactly the frame's size, so that a read past it is caught.
    const std::vector<uint8_t> frame(data + kPositionBytes, data + size);
    const std::vector<uint8_t> whole(data, data + size);
    CheckFpgaFrame(frame);
    CheckFpgaFrame(whole);

    const FrameMarkers chosen{kFpgaHead,           PositionAt(data, 0), kFpgaTail,
                              PositionAt(data, 1), PositionAt(data, 2), PositionAt(data, 3)};
    chosen.Check(frame.data(), static_cast<int>(frame.size()));

    if (frame.size() >= sizeof(uint32_t) && FrameHeadWord(frame.data()) == kLegacyFrameHead)
        Expect(frame[0] == 0x11 && frame[1] == 0xAA && frame[2] == 0x00 && frame[3] == 0xBB);
    return 0;
}
