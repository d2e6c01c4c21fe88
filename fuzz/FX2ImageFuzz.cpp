// An EZ-USB FX2 boot image as the legacy USB2 cameras' firmware load walks
// it: every record handed to the loader must lie inside the image, in order,
// one after the other.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "transport/FX2LoadRecords.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A copy of exactly the input's size, so that a read past it is caught.
    std::vector<uint8_t> image(data, data + size);
    uint8_t *const begin = image.data();
    const long length = static_cast<long>(image.size());
    long next = 8 + 4; // where the first record's bytes start
    ForEachFX2LoadRecord(begin, length, [&](const FX2LoadRecord &record) {
        const long at = record.pData - begin;
        if (at != next || record.lLength < 0 || record.lLength > length - at)
            std::abort();
        next = at + record.lLength + 4;
    });
    return 0;
}
