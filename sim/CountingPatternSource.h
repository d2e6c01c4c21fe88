// The simplest data source: while streaming is on, every bulk-IN transfer is
// filled at once, completely, with 16-bit little-endian words counting up by
// one and carrying on from one transfer to the next (wrapping at 0xFFFF).
#pragma once

#include <atomic>
#include <cstdint>

#include "sim/BulkDataSource.h"

namespace oru_sim {

class CountingPatternSource : public BulkDataSource {
public:
    void streamingStarted(SimulatedCamera& camera) override;
    void streamingStopped(SimulatedCamera& camera) override;
    void transferQueued(SimulatedCamera& camera) override;

    // Writes the pattern starting with word `first`; returns the next word.
    static uint16_t fillPattern(uint8_t* destination, size_t bytes, uint16_t first);

private:
    void fillWaiting(SimulatedCamera& camera);

    std::atomic<bool> streaming_{false};
    uint16_t nextWord_ = 0;  // touched only inside BulkFill calls, which are serialised
};

}  // namespace oru_sim
