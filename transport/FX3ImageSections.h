// The sections of an FX3 "CY" boot image: after a 4-byte header, each a
// 32-bit little-endian length in words and load address followed by its
// bytes, up to a section of length 0 whose address is the program entry.
// Pure: no device.
#pragma once

#include <cstdint>
#include <functional>

struct FX3ImageChunk {
    uint32_t ulAddress;
    const uint8_t *pData; // inside the image
    uint32_t ulLength;
};

// Hands the image's sections to load in order, cut into chunks of at most
// chunkSize bytes, then the entry address to start. Returns the first
// non-zero result of load or start, else 0 (FX3_FW_OK); FX3_FW_BAD_SIGNATURE
// without "CY", FX3_FW_CHUNK_TOO_LARGE for an image shorter than a chunk it
// needs, FX3_FW_TRUNCATED when a section or the entry section runs past the
// end. Nothing is loaded from a section that does not lie whole in the image.
int ForEachFX3ImageChunk(const uint8_t *image, uint32_t length, uint32_t chunkSize,
                         const std::function<int(const FX3ImageChunk &)> &load,
                         const std::function<int(uint32_t entry)> &start);
