#include "sim/CountingPatternSource.h"

#include "sim/SimulatedCamera.h"

namespace oru_sim {

uint16_t CountingPatternSource::fillPattern(uint8_t* destination, size_t bytes, uint16_t first)
{
    size_t words = bytes / 2;
    for (size_t i = 0; i < words; ++i) {
        uint16_t word = static_cast<uint16_t>(first + i);
        destination[2 * i] = static_cast<uint8_t>(word & 0xFF);
        destination[2 * i + 1] = static_cast<uint8_t>(word >> 8);
    }
    uint16_t next = static_cast<uint16_t>(first + words);
    if (bytes % 2 != 0)
        destination[bytes - 1] = static_cast<uint8_t>(next & 0xFF);
    return next;
}

void CountingPatternSource::streamingStarted(SimulatedCamera& camera)
{
    streaming_ = true;
    fillWaiting(camera);
}

void CountingPatternSource::streamingStopped(SimulatedCamera&)
{
    streaming_ = false;
}

void CountingPatternSource::transferQueued(SimulatedCamera& camera)
{
    fillWaiting(camera);
}

void CountingPatternSource::fillWaiting(SimulatedCamera& camera)
{
    auto fill = [this](uint8_t* destination, size_t capacity) {
        nextWord_ = fillPattern(destination, capacity, nextWord_);
        return capacity;
    };
    while (streaming_ && camera.completeBulkTransfer(fill)) {
    }
}

}  // namespace oru_sim
