// Everything that makes one simulated camera what it is, fixed when it is
// plugged in. Defaults describe a SuperSpeed FX3 camera with an FPGA and DDR.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/FpgaVersion.h"
#include "sim/PortAddress.h"
#include "sim/SensorModel.h"

namespace oru_sim {

// USB vendor ID of every camera of the family.
constexpr uint16_t kCameraVendorId = 0x3A7E;

enum class ControllerKind {
    FX3,            // USB3 controller running the camera firmware
    FX2,            // legacy USB2 controller: 8051 RAM download, EEPROM loader
    FX3BootLoader,  // FX3 without firmware: only the boot loader's 0xA0 request
};

enum class DdrBehaviour {
    ReadyAfterSelfTest,  // register 35 bit 0 appears after 0x80 is written to register 24
    NeverReady,          // a broken DDR: bit 0 never appears
};

// The chip that answers the board-temperature (0xB3) or temperature-ADC
// (0xC7) request; the other request reads zeros.
enum class TemperatureChip {
    None,    // no chip: both requests read zeros
    TMP100,  // 0xB3: 12-bit two's complement, 0.0625 degC steps
    TMP451,  // 0xB3: whole degrees and sixteenths, 0 to 127.9375 degC
    AD7142,  // 0xC7: 12-bit code of an NTC thermistor divider
    ADC081,  // 0xC7: 8-bit code of the same divider
};

// What sets the thermo-electric cooler's DAC.
enum class CoolerDrive {
    None,           // no cooler: drive requests and register 38 are ignored
    VendorRequest,  // request 0xB2, value = DAC
    FpgaRegister,   // FPGA register 38 = 220 x (272 - DAC) / 256
};

using SerialNumber = std::array<uint8_t, 8>;
using CameraId = std::array<uint8_t, 8>;

struct CameraConfig {
    uint16_t productId = 0x1001;
    // Unset: the bus takes the next free port of bus 1.
    std::optional<PortAddress> address;
    bool superSpeed = true;  // 5000 Mbit/s, else 480 Mbit/s
    uint8_t bulkEndpoint = 0x81;
    ControllerKind controller = ControllerKind::FX3;

    // Reply of request 0xAD: {firmwareTag, firmwareVersion}.
    uint8_t firmwareTag = 'V';
    uint8_t firmwareVersion = 0x30;
    // Unset: the bus gives each camera a serial number of its own.
    std::optional<SerialNumber> serialNumber;
    uint8_t gpifStatus = 0;

    FpgaVersion fpgaVersion;
    DdrBehaviour ddr = DdrBehaviour::ReadyAfterSelfTest;
    // How many busy polls (0xC4 in) read non-zero after a sector erase.
    int flashBusyPolls = 3;

    // Factory hot pixels (x, y) on the full sensor: stored in the flash's
    // hot-pixel map and saturated in every frame.
    std::vector<std::pair<int, int>> hotPixels;
    // Full sensor size. When known, the flash holds the compressed hot-pixel
    // map at 0x40000 (empty without hot pixels); zero: the area is erased.
    int sensorWidth = 0;
    int sensorHeight = 0;
    // The camera ID in the flash's ID page at 0x70000; unset: erased page.
    std::optional<CameraId> flashCameraId;

    TemperatureChip temperatureChip = TemperatureChip::None;
    bool humiditySensor = false;  // else request 0x85 reads zeros
    CoolerDrive coolerDrive = CoolerDrive::None;
    // The heater's power follows FPGA register 42; else it runs at full
    // power while switched on.
    bool heaterPowerRegister = false;
    // Decodes the sensor registers; null: SensorState defaults. A model
    // that keeps state of its own must not be shared between cameras.
    std::shared_ptr<SensorModel> sensorModel;

    std::string manufacturer = "TAV";
    std::string product = "ORU Camera";

    // A SuperSpeed FX3 camera (the defaults above).
    static CameraConfig usb3Camera(uint16_t productId);
    // A legacy USB2 camera: FX2 controller, high speed, bulk endpoint 0x82.
    static CameraConfig usb2Camera(uint16_t productId);
};

}  // namespace oru_sim
