// Everything that makes one simulated camera what it is, fixed when it is
// plugged in. Defaults describe a SuperSpeed FX3 camera with an FPGA and DDR.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "sim/FpgaVersion.h"
#include "sim/PortAddress.h"

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

using SerialNumber = std::array<uint8_t, 8>;

struct CameraSpec {
    uint16_t productId = 0x1001;
    // Unset: the bus takes the next free port of bus 1.
    std::optional<PortAddress> address;
    bool superSpeed = true;               // 5000 Mbit/s, else 480 Mbit/s
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

    std::string manufacturer = "TAV";
    std::string product = "ORU Camera";

    // A SuperSpeed FX3 camera (the defaults above).
    static CameraSpec usb3Camera(uint16_t productId);
    // A legacy USB2 camera: FX2 controller, high speed, bulk endpoint 0x82.
    static CameraSpec usb2Camera(uint16_t productId);
};

}  // namespace oru_sim
