// The library and the simulator each keep their own copy of the wire
// protocol: vendor request codes, FPGA register numbers and bits. The two
// copies are compared entry by entry, so a drift in either fails here.
#include <gtest/gtest.h>

#include <set>

#include "sim/FpgaRegister.h"
#include "sim/VendorRequest.h"
#include "transport/FX3Protocol.h"
#include "transport/LegacyUsb2Protocol.h"

namespace {

namespace fpga = oru_sim::fpga;

struct CodePair {
    const char *name;
    int library;
    int simulator;
};

const CodePair kFX3Requests[] = {
    {"humidity", FX3Request::kHumidity, oru_sim::kHumidity},
    {"RAM access", FX3Request::kRamAccess, oru_sim::kControllerRam},
    {"write camera register", FX3Request::kWriteCameraReg, oru_sim::kWriteCameraRegister},
    {"read camera register", FX3Request::kReadCameraReg, oru_sim::kReadCameraRegister},
    {"start streaming", FX3Request::kStartStreaming, oru_sim::kStartStreaming},
    {"stop streaming", FX3Request::kStopStreaming, oru_sim::kStopStreaming},
    {"firmware version", FX3Request::kFirmwareVer, oru_sim::kFirmwareVersion},
    {"after FPGA reset", FX3Request::kAfterFPGAReset, oru_sim::kAfterFpgaReset},
    {"guide on", FX3Request::kGuideOn, oru_sim::kGuideOn},
    {"guide off", FX3Request::kGuideOff, oru_sim::kGuideOff},
    {"cooler drive", FX3Request::kCoolerDrive, oru_sim::kCoolerDrive},
    {"board temperature", FX3Request::kBoardTemp, oru_sim::kBoardTemperature},
    {"USB3 host", FX3Request::kUSB3Host, oru_sim::kHostType},
    {"transfer count", FX3Request::kTransferCount, oru_sim::kTransferCount},
    {"write sensor register", FX3Request::kWriteSensorReg, oru_sim::kWriteSensorRegister},
    {"read sensor register", FX3Request::kReadSensorReg, oru_sim::kReadSensorRegister},
    {"I2C EEPROM write", FX3Request::kI2CE2PROMWrite, oru_sim::kEepromWrite},
    {"I2C EEPROM read", FX3Request::kI2CE2PROMRead, oru_sim::kEepromRead},
    {"read FPGA register", FX3Request::kReadFPGAReg, oru_sim::kReadFpgaRegister},
    {"write FPGA register", FX3Request::kWriteFPGAReg, oru_sim::kWriteFpgaRegister},
    {"32-bit GPIF", FX3Request::kGPIF32DQ, oru_sim::kGpif32Bit},
    {"SPI flash write", FX3Request::kSPIFlashWrite, oru_sim::kFlashWrite},
    {"SPI flash read", FX3Request::kSPIFlashRead, oru_sim::kFlashRead},
    {"SPI flash erase", FX3Request::kSPIFlashErase, oru_sim::kFlashErase},
    {"temperature ADC", FX3Request::kTempAdc, oru_sim::kTemperatureAdc},
    {"serial number", FX3Request::kSerialNumber, oru_sim::kSerialNumber},
    {"GPIF status", FX3Request::kGPIFStatus, oru_sim::kGpifStatus},
};

const CodePair kLegacyUsb2Requests[] = {
    {"clock reprogrammed", LegacyUsb2Request::kClockReprogrammed, oru_sim::kClockReprogrammed},
    {"clock switching", LegacyUsb2Request::kClockSwitching, oru_sim::kClockSwitching},
    {"loader EEPROM access", LegacyUsb2Request::kLoaderEEPROMAccess, oru_sim::kStartStreaming},
    {"8-bit pixels", LegacyUsb2Request::kPixels8Bit, oru_sim::kPixels8Bit},
    {"16-bit pixels", LegacyUsb2Request::kPixels16Bit, oru_sim::kPixels16Bit},
    {"sensor clock stop", LegacyUsb2Request::kSensorClockStop, oru_sim::kSensorClockStop},
    {"sensor clock start", LegacyUsb2Request::kSensorClockStart, oru_sim::kSensorClockStart},
};

const CodePair kFPGARegisters[] = {
    {"control", FPGARegister::kControl, fpga::kControlRegister},
    {"width", FPGARegister::kWidth, fpga::kWidthRegister},
    {"height", FPGARegister::kHeight, fpga::kHeightRegister},
    {"output", FPGARegister::kOutput, fpga::kOutputRegister},
    {"sensor signals", FPGARegister::kSensorSignals, fpga::kTriggerSignalRegister},
    {"first gain", FPGARegister::kFirstGain, fpga::kFirstGainRegister},
    {"buffer control", FPGARegister::kBufferControl, fpga::kBufferControlRegister},
    {"fan and heater", FPGARegister::kPower, fpga::kFanHeaterRegister},
    {"version layout", FPGARegister::kVersionLayout, fpga::kVersionLayoutRegister},
    {"buffer status", FPGARegister::kBufferStatus, fpga::kStatusRegister},
    {"bandwidth", FPGARegister::kBandwidth, fpga::kBandwidthRegister},
    {"cooler power", FPGARegister::kCoolPower, fpga::kCoolerPowerRegister},
    {"trigger input", FPGARegister::kTriggerInput, fpga::kTriggerSetupRegister},
    {"sync output", FPGARegister::kSyncOutput, fpga::kSyncOutputRegister},
    {"heater power", FPGARegister::kHeaterPower, fpga::kHeaterPowerRegister},
    {"trigger exposure time", FPGARegister::kTrigExpTime, fpga::kTriggerExposureRegister},
    {"sync A delay", FPGARegister::kSyncADelay, fpga::kSyncTimesRegister},
    {"sync A keep", FPGARegister::kSyncAKeep, fpga::kSyncTimesRegister + 4},
    {"sync B delay", FPGARegister::kSyncBDelay, fpga::kSyncTimesRegister + 8},
    {"sync B keep", FPGARegister::kSyncBKeep, fpga::kSyncTimesRegister + 12},
};

struct BitPair {
    const char *name;
    FPGABit library;
    int simulatorRegister;
    int simulatorMask;
};

const BitPair kFPGABits[] = {
    {"stop", FPGABits::kStop, fpga::kControlRegister, fpga::kStopBit},
    {"wait mode", FPGABits::kWaitMode, fpga::kControlRegister, fpga::kWaitModeBit},
    {"trigger mode", FPGABits::kTriggerMode, fpga::kControlRegister, fpga::kTriggerModeBit},
    {"DDR bypass", FPGABits::kDDRBypass, fpga::kOutputRegister, fpga::kDdrBypassBit},
    {"trigger signal", FPGABits::kTriggerSignal, fpga::kTriggerSignalRegister,
     fpga::kTriggerSignalBit},
    {"reload", FPGABits::kReload, fpga::kBufferControlRegister, fpga::kReloadBit},
    {"heater", FPGABits::kHeater, fpga::kFanHeaterRegister, fpga::kHeaterOnBit},
    {"fan off", FPGABits::kFanOff, fpga::kFanHeaterRegister, fpga::kFanOffBit},
    {"trigger source", FPGABits::kTrigSource, fpga::kTriggerSetupRegister,
     fpga::kExternalSourceBit},
    {"trigger type", FPGABits::kTrigType, fpga::kTriggerSetupRegister, fpga::kLevelTypeBit},
    {"trigger valid type", FPGABits::kTrigValidType, fpga::kTriggerSetupRegister,
     fpga::kActiveLowBit},
    {"sync A", FPGABits::kSyncA, fpga::kSyncOutputRegister, 0x01},
    {"sync B", FPGABits::kSyncB, fpga::kSyncOutputRegister, 0x02},
    {"sync A level", FPGABits::kSyncALevel, fpga::kSyncOutputRegister, 0x10},
    {"sync B level", FPGABits::kSyncBLevel, fpga::kSyncOutputRegister, 0x20},
};

const CodePair kFPGABufferValues[] = {
    {"DDR self-test", FPGABuffer::kSelfTest, fpga::kDdrTestValue},
    {"DDR ready", FPGABuffer::kDDRReady, fpga::kDdrReadyBit},
    {"holds a frame", FPGABuffer::kHoldsFrame, fpga::kFrameHeldBit},
    {"in sync", FPGABuffer::kInSync, fpga::kSyncBit},
};

template <size_t N>
void ExpectSame(const CodePair (&table)[N])
{
    for (const CodePair &entry : table)
        EXPECT_EQ(entry.library, entry.simulator) << entry.name;
}

template <size_t N>
void ExpectDistinct(const CodePair (&table)[N])
{
    std::set<int> seen;
    for (const CodePair &entry : table)
        EXPECT_TRUE(seen.insert(entry.library).second) << entry.name << " shares its code";
}

} // namespace

TEST(ProtocolTablesTest, VendorRequestsMatchTheSimulator)
{
    ExpectSame(kFX3Requests);
    ExpectSame(kLegacyUsb2Requests);
}

TEST(ProtocolTablesTest, EachDeviceGivesEveryRequestItsOwnCode)
{
    ExpectDistinct(kFX3Requests);
    ExpectDistinct(kLegacyUsb2Requests);
}

TEST(ProtocolTablesTest, FPGARegistersMatchTheSimulator)
{
    ExpectSame(kFPGARegisters);
    ExpectDistinct(kFPGARegisters);
}

TEST(ProtocolTablesTest, FPGABitsMatchTheSimulator)
{
    for (const BitPair &entry : kFPGABits) {
        EXPECT_EQ(entry.library.reg, entry.simulatorRegister) << entry.name;
        EXPECT_EQ(FPGABitMask(entry.library), entry.simulatorMask) << entry.name;
    }
    ExpectSame(kFPGABufferValues);
}
