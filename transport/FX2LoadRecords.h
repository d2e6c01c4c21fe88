// The load records of an EZ-USB FX2 "C2" boot image: from byte 8 on, each a
// 16-bit big-endian length and RAM address followed by that many bytes, up to
// the record 0x80 0x01 0xE6 0x00 that lets the CPU run. Pure: no device.
#pragma once

#include <cstdint>
#include <functional>

struct FX2LoadRecord {
    uint16_t usAddress;
    uint8_t *pData; // inside the image
    long lLength;
};

// Calls load with each record in order. The walk ends at the run record, at
// the image's end, or at a record that would run past the end (not loaded).
void ForEachFX2LoadRecord(uint8_t *image, long length,
                          const std::function<void(const FX2LoadRecord &)> &load);
