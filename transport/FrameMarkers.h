// The marks by which a received frame is told whole: marker words at known
// word positions (16-bit little-endian words) and two copies of the frame
// counter that must agree. A marker of 0 is not checked; the counter copies
// are compared only when both positions are non-zero. Pure: no state.
#pragma once

#include <cstdint>

enum class FrameCheck {
    kGood,
    kBadMarker,       // a marker differs, or a marker or counter lies outside the frame
    kCounterMismatch, // the counter copies, both inside the frame, differ
};

struct FrameMarkers {
    uint16_t usHead;
    int iHeadPos;
    uint16_t usTail;
    int iTailPos;
    int iCountPos0;
    int iCountPos1;

    // The frame is `length` bytes long.
    FrameCheck Check(const uint8_t *frame, int length) const;
};

// The 16-bit little-endian word at word position pos.
uint16_t FrameWordAt(const uint8_t *frame, int pos);

// The legacy USB2 controller begins every frame with this 32-bit word, in
// the host's byte order.
constexpr uint32_t kLegacyFrameHead = 0xBB00AA11;
// The first 32-bit word of a frame of at least four bytes, in host order.
uint32_t FrameHeadWord(const uint8_t *frame);
