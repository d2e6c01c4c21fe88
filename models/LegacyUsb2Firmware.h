// The controller firmware of the ORU120 (legacy USB2) cameras: one EZ-USB FX2
// boot EEPROM image in the "C2" format per product ID, loaded by the open path
// when a camera reports firmware 0x2F or lower.
//
// Image: kLegacyUsb2BootImageMarker; vendor, product and device ID (16-bit
// little-endian each); the configuration byte 0x04; five load records, each a
// 16-bit big-endian length and RAM address followed by that many bytes; then
// the record 0x80 0x01 0xE6 0x00 with the byte 0x00, which lets the CPU run.
//
// Controller RAM once loaded: byte 0 a jump to the program, bytes 3..16 the
// text "ORU-FX2-CAMERA", byte 17 the firmware version the camera then reports
// (kLegacyUsb2FirmwareVersion). That is how a camera tells its firmware from
// other RAM contents; the program and its descriptors are opaque to the host.
#pragma once

#include <cstdint>

constexpr uint8_t kLegacyUsb2FirmwareVersion = 0x30;

struct LegacyUsb2FirmwareImage {
    int iProductId;
    const uint8_t *pImage;
    long lLength;
};

// The image for the product ID; null when the product has none.
const LegacyUsb2FirmwareImage *LegacyUsb2FirmwareFor(int productId);
