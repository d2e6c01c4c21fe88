// The camera's hardware and firmware as seen over endpoint 0: the USB
// controller (FX3 firmware, FX3 boot loader or FX2 with its RAM download and
// EEPROM loader) and what it reaches: FPGA registers, 16-bit camera and 8-bit
// sensor registers, SPI flash, I2C EEPROM, the board's temperature, humidity
// and cooler, and the guide port. Request handling is table
// driven: one dispatcher per controller mode, filled in the constructor.
//
// Thread-safe: every member takes the controller's lock.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "sim/CameraBoard.h"
#include "sim/CameraConfig.h"
#include "sim/ControlAnswer.h"
#include "sim/FpgaRegisterFile.h"
#include "sim/GuidePort.h"
#include "sim/I2cEeprom.h"
#include "sim/RegisterSpace.h"
#include "sim/RequestDispatcher.h"
#include "sim/SetupPacket.h"
#include "sim/SparseMemory.h"
#include "sim/SpiFlash.h"
#include "sim/UsbDescriptors.h"

namespace oru_sim {

class CameraController {
public:
    // A register write that arrived over USB.
    struct RegisterWrite {
        RegisterSpace space;
        uint16_t address;
        uint16_t value;
    };

    CameraController(const CameraConfig& config, const SerialNumber& serial);

    // Answers one request; register writes it made are appended to `writes`.
    ControlAnswer handle(const SetupPacket& setup, std::vector<uint8_t>& data, std::vector<RegisterWrite>& writes);
    // Back to the power-on state; flash and EEPROM keep their contents. An
    // FX2 whose boot EEPROM holds a camera firmware image starts that image.
    void powerCycle();
    // FX2: the CPU was let go on a camera firmware in RAM, which now wants
    // the device to enumerate again. True once per such start.
    bool takeRenumeration();
    // FX2: the re-enumeration itself: registers and streaming start afresh;
    // RAM, EEPROM, flash and the running firmware stay.
    void renumerate();

    const UsbDescriptors& descriptors() const { return descriptors_; }
    // Thread-safe on their own.
    CameraBoard& board() { return board_; }
    const CameraBoard& board() const { return board_; }
    GuidePort& guidePort() { return guidePort_; }
    const GuidePort& guidePort() const { return guidePort_; }

    uint8_t fpgaRegister(uint8_t reg) const;
    void setFpgaRegister(uint8_t reg, uint8_t value);
    // Sets the bits of `mask` to those of `value`, the others unchanged.
    void setFpgaRegisterBits(uint8_t reg, uint8_t mask, uint8_t value);
    uint16_t cameraRegister(uint16_t address) const;
    void setCameraRegister(uint16_t address, uint16_t value);
    uint8_t sensorRegister(uint16_t address) const;
    void setSensorRegister(uint16_t address, uint8_t value);

    std::vector<uint8_t> readFlash(uint32_t address, size_t length) const;
    void writeFlash(uint32_t address, const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> readEeprom(uint8_t deviceSelect, uint16_t offset, size_t length) const;
    void writeEeprom(uint8_t deviceSelect, uint16_t offset, const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> readRam(uint32_t address, size_t length) const;

    bool streaming() const;
    bool gpif32BitBus() const;
    void setGpifStatus(uint8_t status);
    bool cpuHeld() const;
    bool eepromLoaderRunning() const;
    // FX2: RAM held no known program when the CPU was let go; nothing but
    // the RAM request (0xA0) is answered until the next power cycle.
    bool fx2Crashed() const;
    uint8_t firmwareVersion() const;
    // FX2 camera firmware: sensor clock (0xAF on, 0xAE off) and pixel width
    // (0xAC 16-bit, 0xAB 8-bit).
    bool sensorClockRunning() const;
    bool wideOutput() const;
    std::optional<uint32_t> programEntry() const;

private:
    enum class Fx2Program { CameraFirmware, EepromLoader, Crashed };

    void buildStandardRequests();
    void buildFirmwareRequests();
    void buildEepromLoaderRequests();
    void buildBootLoaderRequests();
    void buildBoardRequests();
    ControlAnswer fx2RamAccess(const SetupPacket& setup, std::vector<uint8_t>& data);
    // With mutex_ held: what the CPU runs once let go.
    void startFx2Program();
    ControlAnswer fx2CameraRequest(const SetupPacket& setup, std::vector<uint8_t>& data);
    void resetDeviceState();
    void bootFromEeprom();
    ControlAnswer dispatchVendor(const SetupPacket& setup, std::vector<uint8_t>& data);
    void acceptOnly(uint8_t request, RequestDispatcher::Direction direction);
    void addRegisterWrite(RegisterSpace space, uint16_t address, uint16_t value);

    const CameraConfig config_;
    const SerialNumber serial_;
    const UsbDescriptors descriptors_;

    RequestDispatcher standard_;
    RequestDispatcher firmware_;
    RequestDispatcher eepromLoader_;
    RequestDispatcher bootLoader_;
    CameraBoard board_;
    GuidePort guidePort_;

    mutable std::mutex mutex_;
    std::vector<RegisterWrite>* writes_ = nullptr;  // set while a request is handled
    FpgaRegisterFile fpga_;
    std::vector<uint16_t> cameraRegisters_;
    std::vector<uint8_t> sensorRegisters_;
    SpiFlash flash_;
    I2cEeprom eeprom_;
    SparseMemory ram_;
    bool streaming_ = false;
    bool gpif32Bit_ = false;
    uint8_t gpifStatus_;
    bool cpuHeld_ = false;
    Fx2Program fx2Program_ = Fx2Program::CameraFirmware;
    uint8_t firmwareVersion_;
    bool renumerationPending_ = false;
    bool sensorClockRunning_ = true;
    bool wideOutput_ = false;
    std::optional<uint32_t> programEntry_;
};

}  // namespace oru_sim
