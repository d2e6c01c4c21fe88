#include "sim/SparseMemory.h"

#include <algorithm>

namespace oru_sim {

void SparseMemory::write(uint32_t address, const uint8_t* data, size_t length)
{
    while (length > 0) {
        uint32_t offset = address % kPageSize;
        size_t chunk = std::min<size_t>(length, kPageSize - offset);
        auto& page = pages_[address - offset];
        if (page.empty())
            page.assign(kPageSize, blank_);
        std::copy(data, data + chunk, page.begin() + offset);
        address += static_cast<uint32_t>(chunk);
        data += chunk;
        length -= chunk;
    }
}

std::vector<uint8_t> SparseMemory::read(uint32_t address, size_t length) const
{
    std::vector<uint8_t> bytes(length, blank_);
    size_t done = 0;
    while (done < length) {
        uint32_t offset = address % kPageSize;
        size_t chunk = std::min<size_t>(length - done, kPageSize - offset);
        auto page = pages_.find(address - offset);
        if (page != pages_.end())
            std::copy_n(page->second.begin() + offset, chunk, bytes.begin() + static_cast<long>(done));
        address += static_cast<uint32_t>(chunk);
        done += chunk;
    }
    return bytes;
}

}  // namespace oru_sim
