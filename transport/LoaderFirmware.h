// The two-part EEPROM loader for the legacy USB2 controller. Once loaded into
// controller RAM (Vendor1 at 0x0000, Vendor2 at 0x0800) and started, it
// answers LegacyUsb2Request::kLoaderEEPROMAccess as boot EEPROM write and
// read-back.
// Vendor1 opens with a jump to 0x0020 followed by the text "ORU-EEPROM-LOADER",
// which is how a device recognises this loader.
#pragma once

#include <cstdint>

constexpr long kVendor1Size = 2048;
constexpr long kVendor2Size = 1427;

extern const uint8_t Vendor1[kVendor1Size];
extern const uint8_t Vendor2[kVendor2Size];
