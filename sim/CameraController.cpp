#include "sim/CameraController.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "sim/FactoryFlash.h"
#include "sim/FpgaRegister.h"
#include "sim/SimulatedCamera.h"
#include "sim/VendorRequest.h"

namespace oru_sim {

namespace {

using Direction = RequestDispatcher::Direction;

constexpr uint16_t kFx2CpuControl = 0xE600;  // bit 0: CPU held in reset
// Programs in FX2 RAM name themselves from byte 3 on; a camera firmware
// follows its name with the version it reports.
constexpr uint32_t kSignatureAddress = 0x0003;
constexpr char kLoaderSignature[] = "ORU-EEPROM-LOADER";
constexpr char kCameraSignature[] = "ORU-FX2-CAMERA";
constexpr uint32_t kCameraVersionAddress = kSignatureAddress + sizeof kCameraSignature - 1;
// The boot EEPROM image format: 0xC2, IDs and a configuration byte, then
// load records up to the one that starts the CPU.
constexpr uint8_t kBootImageMark = 0xC2;
constexpr size_t kBootRecordsStart = 8;
constexpr uint8_t kRunRecord[4] = {0x80, 0x01, 0xE6, 0x00};
constexpr size_t kLoaderEepromBlock = 4096;
constexpr uint16_t kHumidityMeasure = 0xF5;  // the humidity sensor's measure command

bool holdsProgram(const SparseMemory& ram, const char* signature)
{
    std::vector<uint8_t> name = ram.read(kSignatureAddress, std::strlen(signature));
    return std::equal(name.begin(), name.end(), signature);
}

// What RAM holds while the camera firmware it started with runs.
void storeCameraFirmware(SparseMemory& ram, uint8_t version)
{
    ram.write(kSignatureAddress, reinterpret_cast<const uint8_t*>(kCameraSignature), sizeof kCameraSignature - 1);
    ram.write(kCameraVersionAddress, &version, 1);
}

enum StandardRequest : uint8_t {
    kGetStatus = 0,
    kClearFeature = 1,
    kSetFeature = 3,
    kGetDescriptor = 6,
    kGetConfiguration = 8,
    kSetConfiguration = 9,
};

}  // namespace

CameraController::CameraController(const CameraConfig& config, const SerialNumber& serial)
    : config_(config),
      serial_(serial),
      descriptors_(config),
      board_(config.temperatureChip, config.humiditySensor, config.coolerDrive),
      fpga_(config.fpgaVersion, config.ddr),
      cameraRegisters_(0x10000, 0),
      sensorRegisters_(0x10000, 0),
      flash_(SimulatedCamera::kFlashSize, SimulatedCamera::kFlashSectorSize, config.flashBusyPolls),
      gpifStatus_(config.gpifStatus),
      firmwareVersion_(config.firmwareVersion)
{
    if (config.controller == ControllerKind::FX2)
        storeCameraFirmware(ram_, config.firmwareVersion);
    for (const FactoryFlash::Area& area : FactoryFlash::contents(config))
        flash_.store(area.address, area.bytes.data(), area.bytes.size());
    buildStandardRequests();
    buildFirmwareRequests();
    buildBoardRequests();
    buildEepromLoaderRequests();
    buildBootLoaderRequests();
}

void CameraController::buildStandardRequests()
{
    standard_.add(kGetStatus, Direction::In, [](const SetupPacket&, std::vector<uint8_t>& data) {
        data = {0, 0};
        return ControlAnswer::Ack;
    });
    standard_.add(kGetConfiguration, Direction::In, [](const SetupPacket&, std::vector<uint8_t>& data) {
        data = {1};
        return ControlAnswer::Ack;
    });
    for (uint8_t request : {kClearFeature, kSetFeature, kSetConfiguration})
        standard_.add(request, Direction::Out,
                      [](const SetupPacket&, std::vector<uint8_t>&) { return ControlAnswer::Ack; });
    standard_.add(kGetDescriptor, Direction::In, [this](const SetupPacket& setup, std::vector<uint8_t>& data) {
        uint8_t type = static_cast<uint8_t>(setup.value >> 8);
        uint8_t index = static_cast<uint8_t>(setup.value & 0xFF);
        if (type == 1 && index == 0)
            data = descriptors_.device();
        else if (type == 2 && index == 0)
            data = descriptors_.configuration();
        else if (type == 3 && descriptors_.string(index))
            data = *descriptors_.string(index);
        else
            return ControlAnswer::Stall;
        return ControlAnswer::Ack;
    });
}

void CameraController::acceptOnly(uint8_t request, Direction direction)
{
    // Accepted and logged; an IN request gets zeros.
    firmware_.add(request, direction, [](const SetupPacket& setup, std::vector<uint8_t>& data) {
        if (setup.deviceToHost())
            data.assign(setup.length, 0);
        return ControlAnswer::Ack;
    });
}

void CameraController::buildFirmwareRequests()
{
    for (uint8_t request :
         {kClockReprogrammed, kClockSwitching, kPixels8Bit, kPixels16Bit, kInitDone, kAfterFpgaReset, kTransferCount})
        acceptOnly(request, Direction::Out);

    firmware_.add(kFirmwareVersion, Direction::In, [this](const SetupPacket&, std::vector<uint8_t>& data) {
        data = {config_.firmwareTag, firmwareVersion_};
        return ControlAnswer::Ack;
    });
    firmware_.add(kHostType, Direction::In, [this](const SetupPacket&, std::vector<uint8_t>& data) {
        data = {static_cast<uint8_t>(config_.superSpeed ? 1 : 0)};
        return ControlAnswer::Ack;
    });
    firmware_.add(kSerialNumber, Direction::In, [this](const SetupPacket&, std::vector<uint8_t>& data) {
        data.assign(serial_.begin(), serial_.end());
        return ControlAnswer::Ack;
    });
    firmware_.add(kGpifStatus, Direction::In, [this](const SetupPacket&, std::vector<uint8_t>& data) {
        data = {gpifStatus_};
        return ControlAnswer::Ack;
    });
    firmware_.add(kGpif32Bit, Direction::Out, [this](const SetupPacket& setup, std::vector<uint8_t>&) {
        gpif32Bit_ = setup.value != 0;
        return ControlAnswer::Ack;
    });
    firmware_.add(kStartStreaming, Direction::Out, [this](const SetupPacket&, std::vector<uint8_t>&) {
        streaming_ = true;
        return ControlAnswer::Ack;
    });
    firmware_.add(kStopStreaming, Direction::Out, [this](const SetupPacket&, std::vector<uint8_t>&) {
        streaming_ = false;
        return ControlAnswer::Ack;
    });

    firmware_.add(kWriteCameraRegister, Direction::Out, [this](const SetupPacket& setup, std::vector<uint8_t>&) {
        cameraRegisters_[setup.value] = setup.index;
        addRegisterWrite(RegisterSpace::Camera, setup.value, setup.index);
        return ControlAnswer::Ack;
    });
    firmware_.add(kReadCameraRegister, Direction::In, [this](const SetupPacket& setup, std::vector<uint8_t>& data) {
        uint16_t value = cameraRegisters_[setup.value];
        data = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value & 0xFF)};
        return ControlAnswer::Ack;
    });
    firmware_.add(kWriteSensorRegister, Direction::Out, [this](const SetupPacket& setup, std::vector<uint8_t>&) {
        uint8_t value = static_cast<uint8_t>(setup.index & 0xFF);
        sensorRegisters_[setup.value] = value;
        addRegisterWrite(RegisterSpace::Sensor, setup.value, value);
        return ControlAnswer::Ack;
    });
    firmware_.add(kReadSensorRegister, Direction::In, [this](const SetupPacket& setup, std::vector<uint8_t>& data) {
        data = {sensorRegisters_[setup.value]};
        return ControlAnswer::Ack;
    });
    firmware_.add(kWriteFpgaRegister, Direction::Out, [this](const SetupPacket& setup, std::vector<uint8_t>&) {
        if (setup.value >= FpgaRegisterFile::kRegisterCount)
            return ControlAnswer::Stall;
        uint8_t value = static_cast<uint8_t>(setup.index & 0xFF);
        fpga_.write(static_cast<uint8_t>(setup.value), value);
        if (setup.value == fpga::kCoolerPowerRegister)
            board_.coolerPowerRegister(value);
        addRegisterWrite(RegisterSpace::Fpga, setup.value, value);
        return ControlAnswer::Ack;
    });
    firmware_.add(kReadFpgaRegister, Direction::In, [this](const SetupPacket& setup, std::vector<uint8_t>& data) {
        if (setup.value >= FpgaRegisterFile::kRegisterCount)
            return ControlAnswer::Stall;
        data = {fpga_.read(static_cast<uint8_t>(setup.value))};
        return ControlAnswer::Ack;
    });

    firmware_.add(kFlashWrite, Direction::Out, [this](const SetupPacket& setup, std::vector<uint8_t>& data) {
        bool done = flash_.program(uint32_t{setup.index} * 256, data.data(), data.size());
        return done ? ControlAnswer::Ack : ControlAnswer::Stall;
    });
    firmware_.add(kFlashRead, Direction::In, [this](const SetupPacket& setup, std::vector<uint8_t>& data) {
        data.resize(setup.length);
        bool done = flash_.read(uint32_t{setup.index} * 256, data.data(), data.size());
        return done ? ControlAnswer::Ack : ControlAnswer::Stall;
    });
    firmware_.add(kFlashErase, Direction::Both, [this](const SetupPacket& setup, std::vector<uint8_t>& data) {
        if (!setup.deviceToHost() && setup.value == 1)
            return flash_.eraseSector(setup.index) ? ControlAnswer::Ack : ControlAnswer::Stall;
        if (setup.deviceToHost() && setup.value == 0) {
            data = {flash_.pollBusy()};
            return ControlAnswer::Ack;
        }
        return ControlAnswer::Stall;
    });

    firmware_.add(kEepromWrite, Direction::Out, [this](const SetupPacket& setup, std::vector<uint8_t>& data) {
        bool done = eeprom_.write(setup.value, setup.index, data.data(), data.size());
        return done ? ControlAnswer::Ack : ControlAnswer::Stall;
    });
    firmware_.add(kEepromRead, Direction::In, [this](const SetupPacket& setup, std::vector<uint8_t>& data) {
        data.resize(setup.length);
        bool done = eeprom_.read(setup.value, setup.index, data.data(), data.size());
        return done ? ControlAnswer::Ack : ControlAnswer::Stall;
    });
}

void CameraController::buildBoardRequests()
{
    firmware_.add(kGuideOn, Direction::Out, [this](const SetupPacket& setup, std::vector<uint8_t>&) {
        return guidePort_.on(setup.value) ? ControlAnswer::Ack : ControlAnswer::Stall;
    });
    firmware_.add(kGuideOff, Direction::Out, [this](const SetupPacket& setup, std::vector<uint8_t>&) {
        return guidePort_.off(setup.value) ? ControlAnswer::Ack : ControlAnswer::Stall;
    });
    firmware_.add(kCoolerDrive, Direction::Out, [this](const SetupPacket& setup, std::vector<uint8_t>&) {
        board_.coolerRequest(setup.value);
        return ControlAnswer::Ack;
    });
    firmware_.add(kBoardTemperature, Direction::In, [this](const SetupPacket&, std::vector<uint8_t>& data) {
        data = board_.boardTemperatureReply();
        return ControlAnswer::Ack;
    });
    firmware_.add(kTemperatureAdc, Direction::In, [this](const SetupPacket&, std::vector<uint8_t>& data) {
        data = board_.temperatureAdcReply();
        return ControlAnswer::Ack;
    });
    firmware_.add(kHumidity, Direction::In, [this](const SetupPacket& setup, std::vector<uint8_t>& data) {
        if (setup.value != kHumidityMeasure)
            return ControlAnswer::Stall;
        data = board_.humidityReply();
        return ControlAnswer::Ack;
    });
}

void CameraController::buildEepromLoaderRequests()
{
    // The loader reaches the boot EEPROM (device 0) with request 0xA9.
    eepromLoader_.add(kStartStreaming, Direction::Both, [this](const SetupPacket& setup, std::vector<uint8_t>& data) {
        if (setup.length > kLoaderEepromBlock)
            return ControlAnswer::Stall;
        if (!setup.deviceToHost())
            return eeprom_.write(0, setup.value, data.data(), data.size()) ? ControlAnswer::Ack : ControlAnswer::Stall;
        data.resize(setup.length);
        return eeprom_.read(0, setup.value, data.data(), data.size()) ? ControlAnswer::Ack : ControlAnswer::Stall;
    });
}

void CameraController::buildBootLoaderRequests()
{
    bootLoader_.add(kControllerRam, Direction::Both, [this](const SetupPacket& setup, std::vector<uint8_t>& data) {
        uint32_t address = setup.value | (uint32_t{setup.index} << 16);
        if (setup.deviceToHost())
            data = ram_.read(address, setup.length);
        else if (data.empty())
            programEntry_ = address;
        else
            ram_.write(address, data.data(), data.size());
        return ControlAnswer::Ack;
    });
}

ControlAnswer CameraController::fx2RamAccess(const SetupPacket& setup, std::vector<uint8_t>& data)
{
    // The FX2 serves 0xA0 in hardware, whatever its CPU does.
    if (setup.deviceToHost()) {
        data = ram_.read(setup.value, setup.length);
        return ControlAnswer::Ack;
    }
    if (setup.value == kFx2CpuControl && data.size() == 1) {
        bool wasHeld = cpuHeld_;
        cpuHeld_ = (data[0] & 1) != 0;
        ram_.write(kFx2CpuControl, data.data(), 1);
        if (wasHeld && !cpuHeld_)
            startFx2Program();
        return ControlAnswer::Ack;
    }
    if (!cpuHeld_)
        return ControlAnswer::Stall;
    ram_.write(setup.value, data.data(), data.size());
    return ControlAnswer::Ack;
}

void CameraController::startFx2Program()
{
    if (holdsProgram(ram_, kLoaderSignature)) {
        fx2Program_ = Fx2Program::EepromLoader;
    } else if (holdsProgram(ram_, kCameraSignature)) {
        // The new firmware takes the bus: the device goes and comes back.
        fx2Program_ = Fx2Program::CameraFirmware;
        firmwareVersion_ = ram_.read(kCameraVersionAddress, 1)[0];
        renumerationPending_ = true;
    } else {
        fx2Program_ = Fx2Program::Crashed;
    }
}

ControlAnswer CameraController::fx2CameraRequest(const SetupPacket& setup, std::vector<uint8_t>& data)
{
    ControlAnswer answer = firmware_.dispatch(setup, data);
    if (answer != ControlAnswer::Ack)
        return answer;
    switch (setup.request) {
    case kSensorClockStop: sensorClockRunning_ = false; break;
    case kSensorClockStart: sensorClockRunning_ = true; break;
    case kPixels8Bit: wideOutput_ = false; break;
    case kPixels16Bit: wideOutput_ = true; break;
    default: break;
    }
    return answer;
}

ControlAnswer CameraController::dispatchVendor(const SetupPacket& setup, std::vector<uint8_t>& data)
{
    switch (config_.controller) {
    case ControllerKind::FX3: return firmware_.dispatch(setup, data);
    case ControllerKind::FX3BootLoader: return bootLoader_.dispatch(setup, data);
    case ControllerKind::FX2:
        if (setup.request == kControllerRam)
            return fx2RamAccess(setup, data);
        if (cpuHeld_ || fx2Program_ == Fx2Program::Crashed)
            return ControlAnswer::None;
        if (fx2Program_ == Fx2Program::EepromLoader)
            return eepromLoader_.dispatch(setup, data);
        return fx2CameraRequest(setup, data);
    }
    return ControlAnswer::Stall;
}

ControlAnswer CameraController::handle(const SetupPacket& setup, std::vector<uint8_t>& data,
                                       std::vector<RegisterWrite>& writes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    writes_ = &writes;
    ControlAnswer answer = ControlAnswer::Stall;
    if (setup.isStandard())
        answer = standard_.dispatch(setup, data);
    else if (setup.isVendor())
        answer = dispatchVendor(setup, data);
    writes_ = nullptr;
    return answer;
}

void CameraController::addRegisterWrite(RegisterSpace space, uint16_t address, uint16_t value)
{
    writes_->push_back(RegisterWrite{space, address, value});
}

void CameraController::resetDeviceState()
{
    fpga_.reset();
    std::fill(cameraRegisters_.begin(), cameraRegisters_.end(), 0);
    std::fill(sensorRegisters_.begin(), sensorRegisters_.end(), 0);
    flash_.endBusy();
    streaming_ = false;
    gpif32Bit_ = false;
    gpifStatus_ = config_.gpifStatus;
    cpuHeld_ = false;
    renumerationPending_ = false;
    sensorClockRunning_ = true;
    wideOutput_ = false;
}

void CameraController::powerCycle()
{
    std::lock_guard<std::mutex> lock(mutex_);
    resetDeviceState();
    ram_.clear();
    fx2Program_ = Fx2Program::CameraFirmware;
    firmwareVersion_ = config_.firmwareVersion;
    if (config_.controller == ControllerKind::FX2) {
        storeCameraFirmware(ram_, config_.firmwareVersion);
        bootFromEeprom();
    }
    programEntry_.reset();
    board_.powerCycle();
    guidePort_.powerCycle();
}

void CameraController::bootFromEeprom()
{
    std::vector<uint8_t> image(I2cEeprom::kDeviceSize);
    eeprom_.read(0, 0, image.data(), image.size());
    if (image[0] != kBootImageMark)
        return;
    SparseMemory loaded;
    for (size_t at = kBootRecordsStart;
         at + 4 <= image.size() && !std::equal(kRunRecord, kRunRecord + 4, &image[at]);) {
        size_t length = static_cast<size_t>(image[at] << 8 | image[at + 1]);
        uint32_t address = static_cast<uint32_t>(image[at + 2] << 8 | image[at + 3]);
        if (at + 4 + length > image.size())
            return;
        loaded.write(address, &image[at + 4], length);
        at += 4 + length;
    }
    if (!holdsProgram(loaded, kCameraSignature))
        return;
    ram_ = loaded;
    firmwareVersion_ = ram_.read(kCameraVersionAddress, 1)[0];
}

bool CameraController::takeRenumeration()
{
    std::lock_guard<std::mutex> lock(mutex_);
    bool pending = renumerationPending_;
    renumerationPending_ = false;
    return pending;
}

void CameraController::renumerate()
{
    std::lock_guard<std::mutex> lock(mutex_);
    resetDeviceState();
}

uint8_t CameraController::fpgaRegister(uint8_t reg) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return fpga_.read(reg);
}

void CameraController::setFpgaRegister(uint8_t reg, uint8_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    fpga_.store(reg, value);
}

void CameraController::setFpgaRegisterBits(uint8_t reg, uint8_t mask, uint8_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    fpga_.store(reg, static_cast<uint8_t>((fpga_.read(reg) & ~mask) | (value & mask)));
}

uint16_t CameraController::cameraRegister(uint16_t address) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return cameraRegisters_[address];
}

void CameraController::setCameraRegister(uint16_t address, uint16_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    cameraRegisters_[address] = value;
}

uint8_t CameraController::sensorRegister(uint16_t address) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return sensorRegisters_[address];
}

void CameraController::setSensorRegister(uint16_t address, uint8_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    sensorRegisters_[address] = value;
}

std::vector<uint8_t> CameraController::readFlash(uint32_t address, size_t length) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<uint8_t> bytes(length);
    if (!flash_.read(address, bytes.data(), length))
        throw std::out_of_range("flash read outside the chip");
    return bytes;
}

void CameraController::writeFlash(uint32_t address, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (address > flash_.size() || bytes.size() > flash_.size() - address)
        throw std::out_of_range("flash write outside the chip");
    flash_.store(address, bytes.data(), bytes.size());
}

std::vector<uint8_t> CameraController::readEeprom(uint8_t deviceSelect, uint16_t offset, size_t length) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<uint8_t> bytes(length);
    if (!eeprom_.read(deviceSelect, offset, bytes.data(), length))
        throw std::out_of_range("EEPROM read outside the device");
    return bytes;
}

void CameraController::writeEeprom(uint8_t deviceSelect, uint16_t offset, const std::vector<uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!eeprom_.write(deviceSelect, offset, bytes.data(), bytes.size()))
        throw std::out_of_range("EEPROM write outside the device");
}

std::vector<uint8_t> CameraController::readRam(uint32_t address, size_t length) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return ram_.read(address, length);
}

bool CameraController::streaming() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return streaming_;
}

bool CameraController::gpif32BitBus() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return gpif32Bit_;
}

void CameraController::setGpifStatus(uint8_t status)
{
    std::lock_guard<std::mutex> lock(mutex_);
    gpifStatus_ = status;
}

bool CameraController::cpuHeld() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return cpuHeld_;
}

bool CameraController::eepromLoaderRunning() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return config_.controller == ControllerKind::FX2 && !cpuHeld_ && fx2Program_ == Fx2Program::EepromLoader;
}

bool CameraController::fx2Crashed() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return config_.controller == ControllerKind::FX2 && fx2Program_ == Fx2Program::Crashed;
}

uint8_t CameraController::firmwareVersion() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return firmwareVersion_;
}

bool CameraController::sensorClockRunning() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return sensorClockRunning_;
}

bool CameraController::wideOutput() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return wideOutput_;
}

std::optional<uint32_t> CameraController::programEntry() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return programEntry_;
}

}  // namespace oru_sim
