// The vendor requests only the legacy USB2 cameras' controller firmware and
// its EEPROM loader answer. Requests the legacy cameras share with the FX3
// cameras (streaming, registers, RAM download) are in FX3Protocol.h.
#pragma once

#include <cstdint>

namespace LegacyUsb2Request {
constexpr uint8_t kClockReprogrammed = 0xA3;  // after the sensor clock was reprogrammed
constexpr uint8_t kClockSwitching = 0xA4;     // before the sensor clock leaves 24 MHz
constexpr uint8_t kLoaderEEPROMAccess = 0xA9; // EEPROM loader only: boot EEPROM write and read-back
constexpr uint8_t kPixels8Bit = 0xAB;
constexpr uint8_t kPixels16Bit = 0xAC;
constexpr uint8_t kSensorClockStop = 0xAE;
constexpr uint8_t kSensorClockStart = 0xAF;
} // namespace LegacyUsb2Request

// The first byte of a boot EEPROM image the controller loads by itself.
constexpr uint8_t kLegacyUsb2BootImageMarker = 0xC2;
