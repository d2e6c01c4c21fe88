// The wire protocol of the FX3-controller cameras as the host speaks it: the
// controller's vendor request codes and the FPGA's register map. Everything
// the library sends to these cameras takes its codes and register numbers
// from here.
#pragma once

#include <cstdint>

// Vendor requests of the camera controller's firmware.
namespace FX3Request {
constexpr uint8_t kHumidity = 0x85;       // in: humidity sensor reading
constexpr uint8_t kRamAccess = 0xA0;      // controller RAM download, read-back and program entry
constexpr uint8_t kWriteCameraReg = 0xA6; // 16-bit camera register
constexpr uint8_t kReadCameraReg = 0xA7;
constexpr uint8_t kStartStreaming = 0xA9; // sensor data to the bulk-in endpoint
constexpr uint8_t kStopStreaming = 0xAA;
constexpr uint8_t kFirmwareVer = 0xAD;
constexpr uint8_t kAfterFPGAReset = 0xAF; // sent during initialisation after an FPGA reset
constexpr uint8_t kGuideOn = 0xB0;        // wValue: guide direction
constexpr uint8_t kGuideOff = 0xB1;
constexpr uint8_t kCoolerDrive = 0xB2; // wValue: cooler drive (DA) value
constexpr uint8_t kBoardTemp = 0xB3;   // in: on-board temperature sensor
constexpr uint8_t kUSB3Host = 0xB4;    // in: 1 when the host is USB3
constexpr uint8_t kTransferCount = 0xB5;
constexpr uint8_t kWriteSensorReg = 0xB6; // 8-bit sensor register
constexpr uint8_t kReadSensorReg = 0xB7;
constexpr uint8_t kI2CE2PROMWrite = 0xBA;
constexpr uint8_t kI2CE2PROMRead = 0xBB;
constexpr uint8_t kReadFPGAReg = 0xBC;
constexpr uint8_t kWriteFPGAReg = 0xBD;
constexpr uint8_t kGPIF32DQ = 0xBE; // wValue 1: 32-bit GPIF data bus
constexpr uint8_t kSPIFlashWrite = 0xC2;
constexpr uint8_t kSPIFlashRead = 0xC3;
constexpr uint8_t kSPIFlashErase = 0xC4; // wValue 1 erases a sector, 0 polls busy
constexpr uint8_t kTempAdc = 0xC7;       // in: temperature ADC reading
constexpr uint8_t kSerialNumber = 0xC8;
constexpr uint8_t kGPIFStatus = 0xFD;
} // namespace FX3Request

// The FPGA's 8-bit registers. A value spanning several registers is written
// least significant byte first from the register named here upwards.
namespace FPGARegister {
constexpr uint16_t kControl = 0;        // reset, LVDS channels, stop, master, wait and trigger mode
constexpr uint16_t kUpdateHold = 1;     // 1 while a multi-register value is written
constexpr uint16_t kHBLK = 2;           // 2 bytes
constexpr uint16_t kWidth = 4;          // 2 bytes
constexpr uint16_t kVBLK = 6;           // 2 bytes
constexpr uint16_t kHeight = 8;         // 2 bytes
constexpr uint16_t kOutput = 10;        // ADC and output width, test pattern, DDR use
constexpr uint16_t kSensorSignals = 11; // trigger signal, XHS stop, sensor reset
constexpr uint16_t kFirstGain = 12;     // one per colour channel, 12 to 15
constexpr uint16_t kVMAX = 16;          // 3 bytes
constexpr uint16_t kHMAX = 19;          // 2 bytes
constexpr uint16_t kBufferControl = 24; // DDR reload; DDR self-test
constexpr uint16_t kPower = 25;         // low power, lens heater, fan
constexpr uint16_t kOutputSetup = 26;
constexpr uint16_t kVersionLayout = 28; // read only; also tells the trigger modes
constexpr uint16_t kVersion = 29;       // read only, 29 to 33
constexpr uint16_t kExtendIO = 34;
constexpr uint16_t kBufferStatus = 35; // read only
constexpr uint16_t kBandwidth = 36;    // 2 bytes
constexpr uint16_t kCoolPower = 38;
constexpr uint16_t kBinning = 39; // bin mode in bits 0-1, bin type in bit 7
constexpr uint16_t kTriggerInput = 40;
constexpr uint16_t kSyncOutput = 41;
constexpr uint16_t kHeaterPower = 42; // lens heater power in percent
constexpr uint16_t kTrigExpTime = 44; // 4 bytes
constexpr uint16_t kSyncADelay = 48;  // 4 bytes
constexpr uint16_t kSyncAKeep = 52;   // 4 bytes
constexpr uint16_t kSyncBDelay = 56;  // 4 bytes
constexpr uint16_t kSyncBKeep = 60;   // 4 bytes
constexpr uint16_t kBinDataLen = 64;  // 4 bytes
} // namespace FPGARegister

// One bit of an FPGA control register and whether `true` sets or clears it.
struct FPGABit {
    uint16_t reg;
    uint8_t bit;
    bool setWhenOn;
};

constexpr uint8_t FPGABitMask(const FPGABit &field)
{
    return static_cast<uint8_t>(1u << field.bit);
}

// The single-bit controls of the FPGA register map.
namespace FPGABits {
constexpr FPGABit kStop{FPGARegister::kControl, 4, true};
constexpr FPGABit kMaster{FPGARegister::kControl, 5, true};
constexpr FPGABit kWaitMode{FPGARegister::kControl, 6, true};
constexpr FPGABit kTriggerMode{FPGARegister::kControl, 7, true};
constexpr FPGABit kPatternSelect{FPGARegister::kOutput, 1, false};
constexpr FPGABit kDDRMultiFrame{FPGARegister::kOutput, 5, true};
constexpr FPGABit kDDRBypass{FPGARegister::kOutput, 6, false};
constexpr FPGABit kTriggerSignal{FPGARegister::kSensorSignals, 0, true};
constexpr FPGABit kXHSStop{FPGARegister::kSensorSignals, 4, true};
constexpr FPGABit kSensorReset{FPGARegister::kSensorSignals, 7, true};
constexpr FPGABit kReload{FPGARegister::kBufferControl, 0, true};
constexpr FPGABit kLowPower{FPGARegister::kPower, 0, true};
constexpr FPGABit kHeater{FPGARegister::kPower, 6, true};
constexpr FPGABit kFanOff{FPGARegister::kPower, 7, false};
constexpr FPGABit kBinType{FPGARegister::kBinning, 7, false};
constexpr FPGABit kTrigSource{FPGARegister::kTriggerInput, 0, true};
constexpr FPGABit kTrigExp{FPGARegister::kTriggerInput, 1, false};
constexpr FPGABit kTrigSoftMode{FPGARegister::kTriggerInput, 2, false};
constexpr FPGABit kTrigType{FPGARegister::kTriggerInput, 4, false};
constexpr FPGABit kTrigValidType{FPGARegister::kTriggerInput, 5, false};
constexpr FPGABit kSyncA{FPGARegister::kSyncOutput, 0, true};
constexpr FPGABit kSyncB{FPGARegister::kSyncOutput, 1, true};
constexpr FPGABit kSyncALevel{FPGARegister::kSyncOutput, 4, false};
constexpr FPGABit kSyncBLevel{FPGARegister::kSyncOutput, 5, false};
} // namespace FPGABits

// The DDR frame buffer: the self-test value for FPGARegister::kBufferControl
// and the bits of FPGARegister::kBufferStatus.
namespace FPGABuffer {
constexpr uint8_t kSelfTest = 0x80;
constexpr uint8_t kDDRReady = 0x01;
constexpr uint8_t kHoldsFrame = 0x04; // a complete frame can be reloaded
constexpr uint8_t kInSync = 0x10;     // sensor and FPGA in sync
constexpr uint8_t kIdle = 0x15;       // the status after a normal transfer
} // namespace FPGABuffer
