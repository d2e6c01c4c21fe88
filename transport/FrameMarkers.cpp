#include "transport/FrameMarkers.h"

#include <cstring>

uint16_t FrameWordAt(const uint8_t *frame, int pos)
{
    return static_cast<uint16_t>(frame[2 * pos] | frame[2 * pos + 1] << 8);
}

FrameCheck FrameMarkers::Check(const uint8_t *frame, int length) const
{
    const int words = length / 2;
    auto inFrame = [words](int pos) { return pos >= 0 && pos < words; };
    if (usHead != 0 && (!inFrame(iHeadPos) || FrameWordAt(frame, iHeadPos) != usHead))
        return FrameCheck::kBadMarker;
    if (usTail != 0 && (!inFrame(iTailPos) || FrameWordAt(frame, iTailPos) != usTail))
        return FrameCheck::kBadMarker;
    if (iCountPos0 == 0 || iCountPos1 == 0)
        return FrameCheck::kGood;
    if (!inFrame(iCountPos0) || !inFrame(iCountPos1))
        return FrameCheck::kBadMarker;
    return FrameWordAt(frame, iCountPos0) == FrameWordAt(frame, iCountPos1)
               ? FrameCheck::kGood
               : FrameCheck::kCounterMismatch;
}

uint32_t FrameHeadWord(const uint8_t *frame)
{
    uint32_t head = 0;
    std::memcpy(&head, frame, sizeof head);
    return head;
}
