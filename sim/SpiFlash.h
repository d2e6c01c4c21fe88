// A serial NOR flash: sectors erase to 0xFF, programming can only clear bits
// (new = old AND data), and after an erase the chip is busy for a number of
// status polls, during which programming is ignored as on the real part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace oru_sim {

class SpiFlash {
public:
    SpiFlash(uint32_t size, uint32_t sectorSize, int busyPolls);

    // False when the range leaves the chip.
    bool program(uint32_t address, const uint8_t* data, size_t length);
    bool read(uint32_t address, uint8_t* out, size_t length) const;
    bool eraseSector(uint32_t sector);
    // Status poll: non-zero while an erase is in progress.
    uint8_t pollBusy();

    // Raw access for tests: no NOR rules.
    void store(uint32_t address, const uint8_t* data, size_t length);
    void endBusy() { busyPollsLeft_ = 0; }
    uint32_t size() const { return static_cast<uint32_t>(bytes_.size()); }

private:
    bool inRange(uint32_t address, size_t length) const;

    std::vector<uint8_t> bytes_;
    uint32_t sectorSize_;
    int busyPolls_;
    int busyPollsLeft_ = 0;
};

}  // namespace oru_sim
