// One simulated camera: the device model behind a simulated USB device. It
// answers the vendor requests of the camera family, keeps the FPGA, camera and
// sensor registers, the SPI flash, the I2C EEPROM and the controller RAM, logs
// every control request and carries the fault switches. Owned by a
// SimulatedBus; it keeps its flash and EEPROM across unplug and replug.
//
// All members are safe to call from any thread while the bus runs.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "sim/BulkDataSource.h"
#include "sim/CameraConfig.h"
#include "sim/ControlRequest.h"
#include "sim/ControlAnswer.h"
#include "sim/PortAddress.h"
#include "sim/RegisterSpace.h"
#include "sim/SensorModel.h"
#include "sim/SetupPacket.h"

namespace oru_sim {

class BulkTransferPort;
class CameraBoard;
class CameraController;
class GuidePort;

enum class FailureKind {
    Stall,    // the request is stalled: LIBUSB_ERROR_PIPE
    Timeout,  // the request is never answered: LIBUSB_ERROR_TIMEOUT
};

// Told of every register write that arrives over USB, after it is stored.
using RegisterObserver = std::function<void(RegisterSpace space, uint16_t address, uint16_t value)>;

class SimulatedCamera {
public:
    static constexpr uint32_t kFlashSize = 1u << 20;
    static constexpr uint32_t kFlashSectorSize = 1u << 16;

    explicit SimulatedCamera(const CameraConfig& config);
    ~SimulatedCamera();
    SimulatedCamera(const SimulatedCamera&) = delete;
    SimulatedCamera& operator=(const SimulatedCamera&) = delete;

    const CameraConfig& config() const;
    // Where the camera is plugged in now, or was last.
    PortAddress address() const;
    int deviceNumber() const;
    bool pluggedIn() const;

    // Every control request in arrival order, standard ones included.
    std::vector<ControlRequest> requests() const;
    std::vector<ControlRequest> requests(uint8_t request) const;
    void clearRequests();

    // Register files. The setters bypass the device's rules (read-only
    // registers too) and are not logged or observed.
    uint8_t fpgaRegister(uint8_t reg) const;
    void setFpgaRegister(uint8_t reg, uint8_t value);
    // Sets the bits of `mask` to those of `value` (status bits the device
    // drives itself); not logged or observed.
    void setFpgaRegisterBits(uint8_t reg, uint8_t mask, uint8_t value);
    // Least significant byte first: the value of `bytes` consecutive
    // registers from `first`.
    uint32_t fpgaValue(uint8_t first, int bytes) const;
    uint32_t sensorValue(uint16_t first, int bytes) const;
    uint16_t cameraRegister(uint16_t address) const;
    void setCameraRegister(uint16_t address, uint16_t value);
    uint8_t sensorRegister(uint16_t address) const;
    void setSensorRegister(uint16_t address, uint8_t value);
    void setRegisterObserver(RegisterObserver observer);

    // The sensor behind the registers, at first the camera description's.
    // Without a model, state() reports the defaults of SensorState.
    void setSensorModel(std::shared_ptr<SensorModel> model);
    SensorState sensorState() const;

    // Temperature chips, humidity, cooler and sensor temperature; the ST4
    // guide port with its record of pulses.
    CameraBoard& board();
    const CameraBoard& board() const;
    GuidePort& guidePort();
    const GuidePort& guidePort() const;
    // The external trigger input line, low at first. A pulse drives it to
    // the other level for `duration` and back; it returns once the line is
    // back.
    bool triggerInput() const;
    void setTriggerInput(bool high);
    void pulseTriggerInput(std::chrono::microseconds duration);

    // Fan and anti-dew heater as FPGA register 25 (bit 7 clear: fan on;
    // bit 6: heater on) and, with a heater power register, 42 set them.
    bool fanOn() const;
    bool heaterOn() const;
    int heaterPowerPercent() const;

    // Memories. The writers store bytes as given (no NOR rules).
    std::vector<uint8_t> readFlash(uint32_t address, size_t length) const;
    void writeFlash(uint32_t address, const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> readEeprom(uint8_t deviceSelect, uint16_t offset, size_t length) const;
    void writeEeprom(uint8_t deviceSelect, uint16_t offset, const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> readControllerRam(uint32_t address, size_t length) const;

    // Controller state.
    bool streaming() const;
    bool gpif32BitBus() const;
    void setGpifStatus(uint8_t status);
    bool cpuHeld() const;                          // FX2: CPU held in reset
    bool eepromLoaderRunning() const;              // FX2: the EEPROM loader runs
    bool fx2Crashed() const;                       // FX2: started on no known program
    uint8_t firmwareVersion() const;               // what request 0xAD reports
    bool sensorClockRunning() const;               // FX2: 0xAF on, 0xAE off
    bool wideOutput() const;                       // FX2: 0xAC 16-bit, 0xAB 8-bit pixels
    std::optional<uint32_t> programEntry() const;  // FX3 boot loader: last entry request
    int deviceResets() const;                      // USBDEVFS_RESET calls

    // Bulk data. A new FX3 camera has a FrameStream, an FX2 camera a
    // LegacyFrameStream, any other a CountingPatternSource; null leaves
    // transfers waiting until the host cancels them.
    void setDataSource(std::shared_ptr<BulkDataSource> source);
    std::shared_ptr<BulkDataSource> dataSource() const;
    size_t waitingBulkTransfers() const;
    // Length of the oldest waiting bulk-IN transfer; none when none waits.
    std::optional<size_t> nextBulkTransferSize() const;
    // Completes the oldest waiting bulk-IN transfer with what `fill` writes.
    // False when none waits or the camera is unplugged.
    bool completeBulkTransfer(const BulkFill& fill);
    // Ends the oldest waiting bulk-IN transfer with a stall (libusb reports
    // LIBUSB_TRANSFER_STALL). False when none waits or the camera is unplugged.
    bool stallBulkTransfer();
    // Pulls the camera out of its bus as SimulatedBus::unplug does (a cable
    // fault of a data source). Call it with no lock held that the data
    // source's callbacks take.
    void unplugFromBus();

    // Fault switches. Failures apply to the next `count` control requests,
    // or to the next `count` with request code `onlyRequest`; switches set
    // earlier are used up first.
    void failNextRequests(int count, FailureKind kind, std::optional<uint8_t> onlyRequest = {});
    // While on, no control request is answered.
    void setUnresponsive(bool unresponsive);

private:
    friend class SimulatedBus;
    friend class UsbFsDevice;

    struct FailureRule {
        int remaining;
        FailureKind kind;
        std::optional<uint8_t> onlyRequest;
    };

    // USB side, used by the bus and its usbfs emulation.
    ControlAnswer handleControlRequest(const SetupPacket& setup, std::vector<uint8_t>& data);
    void bulkTransferQueued();
    void noteDeviceReset();
    void connect(BulkTransferPort* port, const PortAddress& address, int deviceNumber);
    void disconnect();
    void powerCycle();
    // The device enumerates again on its port, keeping RAM and EEPROM.
    void renumerate();
    // Set once by the bus that owns the camera; cleared when the bus goes.
    void setUnplugHandler(std::function<void()> handler);
    // Called when the camera wants to enumerate again; the bus does it later
    // on a thread of its own. Set and cleared like the unplug handler.
    void setRenumerateHandler(std::function<void()> handler);

    std::optional<FailureKind> takeFailure(uint8_t request);  // with mutex_ held

    const CameraConfig config_;
    std::unique_ptr<CameraController> controller_;

    mutable std::mutex mutex_;  // log, faults, address, source, observer
    std::vector<ControlRequest> log_;
    std::vector<FailureRule> failures_;
    bool unresponsive_ = false;
    std::shared_ptr<BulkDataSource> source_;
    RegisterObserver observer_;
    std::shared_ptr<SensorModel> sensor_;
    PortAddress address_;
    int deviceNumber_ = 0;
    int deviceResets_ = 0;
    std::atomic<bool> triggerInput_{false};

    mutable std::mutex portMutex_;  // held while a transfer is filled
    BulkTransferPort* port_ = nullptr;

    std::mutex unplugMutex_;  // held while a handler runs
    std::function<void()> unplugHandler_;
    std::function<void()> renumerateHandler_;
};

}  // namespace oru_sim
