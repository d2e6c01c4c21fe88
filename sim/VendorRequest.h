// Vendor request codes of the camera family's USB controllers.
#pragma once

#include <cstdint>

namespace oru_sim {

enum VendorRequest : uint8_t {
    kHumidity = 0x85,
    kControllerRam = 0xA0,  // FX2 RAM / CPU control; FX3 boot loader download
    kClockReprogrammed = 0xA3,
    kClockSwitching = 0xA4,
    kWriteCameraRegister = 0xA6,
    kReadCameraRegister = 0xA7,
    kStartStreaming = 0xA9,  // also the FX2 EEPROM loader's EEPROM access
    kStopStreaming = 0xAA,
    kPixels8Bit = 0xAB,
    kPixels16Bit = 0xAC,
    kFirmwareVersion = 0xAD,
    kInitDone = 0xAE,
    kAfterFpgaReset = 0xAF,
    kSensorClockStop = 0xAE,  // what 0xAE and 0xAF mean to the FX2 camera firmware
    kSensorClockStart = 0xAF,
    kGuideOn = 0xB0,
    kGuideOff = 0xB1,
    kCoolerDrive = 0xB2,
    kBoardTemperature = 0xB3,
    kHostType = 0xB4,
    kTransferCount = 0xB5,
    kWriteSensorRegister = 0xB6,
    kReadSensorRegister = 0xB7,
    kEepromWrite = 0xBA,
    kEepromRead = 0xBB,
    kReadFpgaRegister = 0xBC,
    kWriteFpgaRegister = 0xBD,
    kGpif32Bit = 0xBE,
    kFlashWrite = 0xC2,
    kFlashRead = 0xC3,
    kFlashErase = 0xC4,
    kTemperatureAdc = 0xC7,
    kSerialNumber = 0xC8,
    kGpifStatus = 0xFD,
};

}  // namespace oru_sim
