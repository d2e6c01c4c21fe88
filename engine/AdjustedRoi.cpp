#include "engine/AdjustedRoi.h"

namespace {

constexpr int8_t kNoOffset = 127;

} // namespace

int AdjustedRoi::AxisOffsets(int parity, int axis, int offsets[4]) const
{
    int count = 0;
    for (int index = parity; index < 8; index += 2) {
        const int8_t value = sensorRow ? sensorRow[2 * index + axis] : kNoOffset;
        if (value == kNoOffset) {
            if (index != parity)
                break;
            offsets[count++] = 0;
        } else {
            offsets[count++] = value;
        }
    }
    return count;
}

int AdjustedRoi::BinnedCoord(int c, int offset) const
{
    return (c + offset) / (2 * binEff) * 2 + c % 2;
}
