// A byte-addressed 32-bit memory that only stores the 4 KiB pages written to;
// unwritten bytes read as the blank value. Controller RAM of the FX2 and of
// the FX3 boot loader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace oru_sim {

class SparseMemory {
public:
    explicit SparseMemory(uint8_t blank = 0) : blank_(blank) {}

    void write(uint32_t address, const uint8_t* data, size_t length);
    std::vector<uint8_t> read(uint32_t address, size_t length) const;
    void clear() { pages_.clear(); }

private:
    static constexpr uint32_t kPageSize = 4096;

    uint8_t blank_;
    std::unordered_map<uint32_t, std::vector<uint8_t>> pages_;
};

}  // namespace oru_sim
