// How the camera's pixels are laid out and how INDI wants them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ORUCamera.h"

namespace oru_indi {

// The library's 24-bit colour pixels are blue, green, red. FITS colour images
// are three planes: red, then green, then blue.
void BgrToRgbPlanes(const uint8_t *bgr, uint8_t *planes, size_t pixels);
// Streams carry interleaved red, green, blue.
void BgrToRgbInPlace(uint8_t *pixels, size_t count);

// The colour filter pattern as FITS names it ("RGGB"), after the image was
// mirrored as the camera's flip control asks.
std::string BayerPatternName(ORU_BAYER_PATTERN pattern, bool flipHorizontal, bool flipVertical);

int BytesPerPixel(ORU_IMG_TYPE type);

} // namespace oru_indi
