#include "sim/SimulatedCamera.h"

#include <thread>
#include <utility>

#include "sim/BulkTransferPort.h"
#include "sim/CameraController.h"
#include "sim/CountingPatternSource.h"
#include "sim/FpgaRegister.h"
#include "sim/FrameStream.h"
#include "sim/LegacyFrameStream.h"

namespace oru_sim {

SimulatedCamera::SimulatedCamera(const CameraConfig& config)
    : config_(config),
      controller_(std::make_unique<CameraController>(config, config.serialNumber.value_or(SerialNumber{}))),
      sensor_(config.sensorModel),
      address_(config.address.value_or(PortAddress{}))
{
    // Made last: a frame stream reads the camera from its own thread.
    if (config.controller == ControllerKind::FX3)
        source_ = std::make_shared<FrameStream>(*this);
    else if (config.controller == ControllerKind::FX2)
        source_ = std::make_shared<LegacyFrameStream>(*this);
    else
        source_ = std::make_shared<CountingPatternSource>();
}

SimulatedCamera::~SimulatedCamera()
{
    // The source may run a thread that uses this camera: end it first.
    setDataSource(nullptr);
}

const CameraConfig& SimulatedCamera::config() const
{
    return config_;
}

PortAddress SimulatedCamera::address() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return address_;
}

int SimulatedCamera::deviceNumber() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return deviceNumber_;
}

bool SimulatedCamera::pluggedIn() const
{
    std::lock_guard<std::mutex> lock(portMutex_);
    return port_ != nullptr;
}

std::vector<ControlRequest> SimulatedCamera::requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
}

std::vector<ControlRequest> SimulatedCamera::requests(uint8_t request) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ControlRequest> matching;
    for (const ControlRequest& entry : log_)
        if (entry.setup.request == request)
            matching.push_back(entry);
    return matching;
}

void SimulatedCamera::clearRequests()
{
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
}

uint8_t SimulatedCamera::fpgaRegister(uint8_t reg) const
{
    return controller_->fpgaRegister(reg);
}
void SimulatedCamera::setFpgaRegister(uint8_t reg, uint8_t value)
{
    controller_->setFpgaRegister(reg, value);
}
void SimulatedCamera::setFpgaRegisterBits(uint8_t reg, uint8_t mask, uint8_t value)
{
    controller_->setFpgaRegisterBits(reg, mask, value);
}
uint32_t SimulatedCamera::fpgaValue(uint8_t first, int bytes) const
{
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | fpgaRegister(static_cast<uint8_t>(first + i));
    return value;
}

uint32_t SimulatedCamera::sensorValue(uint16_t first, int bytes) const
{
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | sensorRegister(static_cast<uint16_t>(first + i));
    return value;
}

uint16_t SimulatedCamera::cameraRegister(uint16_t address) const
{
    return controller_->cameraRegister(address);
}
void SimulatedCamera::setCameraRegister(uint16_t address, uint16_t value)
{
    controller_->setCameraRegister(address, value);
}
uint8_t SimulatedCamera::sensorRegister(uint16_t address) const
{
    return controller_->sensorRegister(address);
}
void SimulatedCamera::setSensorRegister(uint16_t address, uint8_t value)
{
    controller_->setSensorRegister(address, value);
}

void SimulatedCamera::setRegisterObserver(RegisterObserver observer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    observer_ = std::move(observer);
}

void SimulatedCamera::setSensorModel(std::shared_ptr<SensorModel> model)
{
    std::lock_guard<std::mutex> lock(mutex_);
    sensor_ = std::move(model);
}

SensorState SimulatedCamera::sensorState() const
{
    std::shared_ptr<SensorModel> sensor;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sensor = sensor_;
    }
    return sensor ? sensor->state(*this) : SensorState{};
}

CameraBoard& SimulatedCamera::board()
{
    return controller_->board();
}
const CameraBoard& SimulatedCamera::board() const
{
    return controller_->board();
}
GuidePort& SimulatedCamera::guidePort()
{
    return controller_->guidePort();
}
const GuidePort& SimulatedCamera::guidePort() const
{
    return controller_->guidePort();
}

bool SimulatedCamera::triggerInput() const
{
    return triggerInput_;
}

void SimulatedCamera::setTriggerInput(bool high)
{
    triggerInput_ = high;
    if (std::shared_ptr<BulkDataSource> source = dataSource())
        source->triggerInputChanged(*this, high);
}

void SimulatedCamera::pulseTriggerInput(std::chrono::microseconds duration)
{
    const bool idle = triggerInput_;
    setTriggerInput(!idle);
    std::this_thread::sleep_for(duration);
    setTriggerInput(idle);
}

bool SimulatedCamera::fanOn() const
{
    return (fpgaRegister(fpga::kFanHeaterRegister) & fpga::kFanOffBit) == 0;
}

bool SimulatedCamera::heaterOn() const
{
    return (fpgaRegister(fpga::kFanHeaterRegister) & fpga::kHeaterOnBit) != 0;
}

int SimulatedCamera::heaterPowerPercent() const
{
    if (!heaterOn())
        return 0;
    return config_.heaterPowerRegister ? fpgaRegister(fpga::kHeaterPowerRegister) : 100;
}

std::vector<uint8_t> SimulatedCamera::readFlash(uint32_t address, size_t length) const
{
    return controller_->readFlash(address, length);
}

void SimulatedCamera::writeFlash(uint32_t address, const std::vector<uint8_t>& bytes)
{
    controller_->writeFlash(address, bytes);
}

std::vector<uint8_t> SimulatedCamera::readEeprom(uint8_t deviceSelect, uint16_t offset, size_t length) const
{
    return controller_->readEeprom(deviceSelect, offset, length);
}

void SimulatedCamera::writeEeprom(uint8_t deviceSelect, uint16_t offset, const std::vector<uint8_t>& bytes)
{
    controller_->writeEeprom(deviceSelect, offset, bytes);
}

std::vector<uint8_t> SimulatedCamera::readControllerRam(uint32_t address, size_t length) const
{
    return controller_->readRam(address, length);
}

bool SimulatedCamera::streaming() const
{
    return controller_->streaming();
}
bool SimulatedCamera::gpif32BitBus() const
{
    return controller_->gpif32BitBus();
}
void SimulatedCamera::setGpifStatus(uint8_t status)
{
    controller_->setGpifStatus(status);
}
bool SimulatedCamera::cpuHeld() const
{
    return controller_->cpuHeld();
}
bool SimulatedCamera::eepromLoaderRunning() const
{
    return controller_->eepromLoaderRunning();
}
bool SimulatedCamera::fx2Crashed() const
{
    return controller_->fx2Crashed();
}
uint8_t SimulatedCamera::firmwareVersion() const
{
    return controller_->firmwareVersion();
}
bool SimulatedCamera::sensorClockRunning() const
{
    return controller_->sensorClockRunning();
}
bool SimulatedCamera::wideOutput() const
{
    return controller_->wideOutput();
}
std::optional<uint32_t> SimulatedCamera::programEntry() const
{
    return controller_->programEntry();
}

int SimulatedCamera::deviceResets() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return deviceResets_;
}

void SimulatedCamera::setDataSource(std::shared_ptr<BulkDataSource> source)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        source_.swap(source);
    }
    // The old source ends here, outside the lock its thread may want.
    source.reset();
}

std::shared_ptr<BulkDataSource> SimulatedCamera::dataSource() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return source_;
}

size_t SimulatedCamera::waitingBulkTransfers() const
{
    std::lock_guard<std::mutex> lock(portMutex_);
    return port_ ? port_->waitingTransfers() : 0;
}

std::optional<size_t> SimulatedCamera::nextBulkTransferSize() const
{
    std::lock_guard<std::mutex> lock(portMutex_);
    return port_ ? port_->nextCapacity() : std::nullopt;
}

bool SimulatedCamera::completeBulkTransfer(const BulkFill& fill)
{
    std::lock_guard<std::mutex> lock(portMutex_);
    return port_ && port_->completeNext(fill);
}

bool SimulatedCamera::stallBulkTransfer()
{
    std::lock_guard<std::mutex> lock(portMutex_);
    return port_ && port_->stallNext();
}

void SimulatedCamera::unplugFromBus()
{
    std::lock_guard<std::mutex> lock(unplugMutex_);
    if (unplugHandler_)
        unplugHandler_();
}

void SimulatedCamera::setUnplugHandler(std::function<void()> handler)
{
    std::lock_guard<std::mutex> lock(unplugMutex_);
    unplugHandler_ = std::move(handler);
}

void SimulatedCamera::setRenumerateHandler(std::function<void()> handler)
{
    std::lock_guard<std::mutex> lock(unplugMutex_);
    renumerateHandler_ = std::move(handler);
}

void SimulatedCamera::failNextRequests(int count, FailureKind kind, std::optional<uint8_t> onlyRequest)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (count > 0)
        failures_.push_back(FailureRule{count, kind, onlyRequest});
}

void SimulatedCamera::setUnresponsive(bool unresponsive)
{
    std::lock_guard<std::mutex> lock(mutex_);
    unresponsive_ = unresponsive;
}

std::optional<FailureKind> SimulatedCamera::takeFailure(uint8_t request)
{
    if (unresponsive_)
        return FailureKind::Timeout;
    for (auto rule = failures_.begin(); rule != failures_.end(); ++rule) {
        if (rule->onlyRequest && *rule->onlyRequest != request)
            continue;
        FailureKind kind = rule->kind;
        if (--rule->remaining == 0)
            failures_.erase(rule);
        return kind;
    }
    return std::nullopt;
}

ControlAnswer SimulatedCamera::handleControlRequest(const SetupPacket& setup, std::vector<uint8_t>& data)
{
    ControlRequest entry{setup, setup.deviceToHost() ? std::vector<uint8_t>{} : data, RequestOutcome::Completed};
    std::optional<FailureKind> failure;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failure = takeFailure(setup.request);
    }

    ControlAnswer answer;
    std::vector<CameraController::RegisterWrite> writes;
    bool wasStreaming = controller_->streaming();
    bool clockWasRunning = controller_->sensorClockRunning();
    if (failure)
        answer = *failure == FailureKind::Stall ? ControlAnswer::Stall : ControlAnswer::None;
    else
        answer = controller_->handle(setup, data, writes);

    if (answer == ControlAnswer::Ack && setup.deviceToHost())
        entry.data = data;
    if (answer != ControlAnswer::Ack)
        entry.outcome = answer == ControlAnswer::Stall ? RequestOutcome::Stalled : RequestOutcome::Unanswered;

    RegisterObserver observer;
    std::shared_ptr<SensorModel> sensor;
    std::shared_ptr<BulkDataSource> source;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.push_back(std::move(entry));
        observer = observer_;
        sensor = sensor_;
        source = source_;
    }
    for (const auto& write : writes) {
        if (sensor)
            sensor->registerWritten(*this, write.space, write.address, write.value);
        if (source)
            source->registerWritten(*this, write.space, write.address, write.value);
        if (observer)
            observer(write.space, write.address, write.value);
    }
    if (source && controller_->streaming() != wasStreaming) {
        if (wasStreaming)
            source->streamingStopped(*this);
        else
            source->streamingStarted(*this);
    }
    bool clockRunning = controller_->sensorClockRunning();
    if (source && clockRunning != clockWasRunning)
        source->sensorClockChanged(*this, clockRunning);
    if (controller_->takeRenumeration()) {
        std::lock_guard<std::mutex> lock(unplugMutex_);
        if (renumerateHandler_)
            renumerateHandler_();
    }
    return answer;
}

void SimulatedCamera::bulkTransferQueued()
{
    std::shared_ptr<BulkDataSource> source;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        source = source_;
    }
    if (source)
        source->transferQueued(*this);
}

void SimulatedCamera::noteDeviceReset()
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++deviceResets_;
}

void SimulatedCamera::connect(BulkTransferPort* port, const PortAddress& address, int deviceNumber)
{
    std::lock_guard<std::mutex> portLock(portMutex_);
    std::lock_guard<std::mutex> lock(mutex_);
    port_ = port;
    address_ = address;
    deviceNumber_ = deviceNumber;
}

void SimulatedCamera::disconnect()
{
    {
        std::lock_guard<std::mutex> portLock(portMutex_);
        port_ = nullptr;
    }
    std::shared_ptr<BulkDataSource> source;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        source = source_;
    }
    if (source && controller_->streaming())
        source->streamingStopped(*this);
}

void SimulatedCamera::renumerate()
{
    controller_->renumerate();
    std::shared_ptr<BulkDataSource> source;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        source = source_;
    }
    if (source)
        source->powerCycled(*this);
}

void SimulatedCamera::powerCycle()
{
    controller_->powerCycle();
    std::shared_ptr<BulkDataSource> source;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failures_.clear();
        unresponsive_ = false;
        source = source_;
    }
    if (source)
        source->powerCycled(*this);
}

}  // namespace oru_sim
