// The FPGA's register numbers and bits as the simulated FPGA decodes them.
// Values spanning several registers are stored least significant byte first.
#pragma once

#include <cstdint>

namespace oru_sim::fpga {

// The image data path.
constexpr uint8_t kControlRegister = 0;
constexpr uint8_t kStopBit = 0x10;
constexpr uint8_t kWaitModeBit = 0x40;
constexpr uint8_t kTriggerModeBit = 0x80;
constexpr uint8_t kWidthRegister = 4;   // and 5
constexpr uint8_t kHeightRegister = 8;  // and 9
constexpr uint8_t kOutputRegister = 10;
constexpr uint8_t kWideOutputBit = 0x10;
constexpr uint8_t kDdrBypassBit = 0x40;
constexpr uint8_t kTriggerSignalRegister = 11;
constexpr uint8_t kTriggerSignalBit = 0x01;
constexpr uint8_t kFirstGainRegister = 12;  // to 15

// The DDR frame buffer: reload and self-test go to one register, its state
// comes back in a read-only status register.
constexpr uint8_t kBufferControlRegister = 24;
constexpr uint8_t kReloadBit = 0x01;
constexpr uint8_t kDdrTestValue = 0x80;
constexpr uint8_t kStatusRegister = 35;
constexpr uint8_t kDdrReadyBit = 0x01;
constexpr uint8_t kFrameHeldBit = 0x04;  // DDR holds a complete frame
constexpr uint8_t kSyncBit = 0x10;       // sensor and FPGA in sync

// Fan and lens heater.
constexpr uint8_t kFanHeaterRegister = 25;
constexpr uint8_t kHeaterOnBit = 0x40;
constexpr uint8_t kFanOffBit = 0x80;
constexpr uint8_t kHeaterPowerRegister = 42;
constexpr uint8_t kCoolerPowerRegister = 38;

// Read only: the layout selector, then the version bytes 29 to 33.
constexpr uint8_t kVersionLayoutRegister = 28;

// The divider of the DDR's output rate (registers 36/37).
constexpr uint8_t kBandwidthRegister = 36;

// The trigger unit: source, type and polarity, and the exposure time of
// edge triggers in microseconds (registers 44 to 47).
constexpr uint8_t kTriggerSetupRegister = 40;
constexpr uint8_t kExternalSourceBit = 0x01;
constexpr uint8_t kLevelTypeBit = 0x10;  // clear: edge
constexpr uint8_t kActiveLowBit = 0x20;  // clear: rising edge or high level
constexpr uint8_t kTriggerExposureRegister = 44;

// Sync outputs A and B: enables (bits 0, 1) and inverted levels (bits 4,
// 5) in register 41; delay and keep times in microseconds from register
// 48 on, four bytes each, A before B.
constexpr uint8_t kSyncOutputRegister = 41;
constexpr uint8_t kSyncTimesRegister = 48;

}  // namespace oru_sim::fpga
