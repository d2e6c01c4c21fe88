// A simulated USB bus: a umockdev testbed whose devices are simulated cameras
// that the real libusb-1.0 finds, opens and talks to. The process must run
// under umockdev's preload (UmockdevPreload::kLibrary in LD_PRELOAD): tests get
// it from oru_add_sim_test(), programs from the oru-sim launcher.
//
// Only one bus may exist per process at a time (umockdev keeps its testbed in
// the environment). Create libusb contexts after the bus, so that they see
// it, and close every libusb handle on its devices before the bus is
// destroyed: a handle left open would wait for answers forever. The destructor removes the testbed directory; a new bus
// also removes those that buses of dead processes left behind.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/CameraConfig.h"
#include "sim/PortAddress.h"
#include "sim/SimulatedCamera.h"

namespace oru_sim {

class SimulatedBus {
public:
    // Throws std::runtime_error when the process is not under the preload or
    // another bus exists.
    SimulatedBus();
    ~SimulatedBus();
    SimulatedBus(const SimulatedBus&) = delete;
    SimulatedBus& operator=(const SimulatedBus&) = delete;

    // Plugs in a new camera; libusb sees it at once (and gets a hot-plug
    // event). Throws std::invalid_argument for a bad or occupied address.
    SimulatedCamera& addCamera(const CameraConfig& config);
    // Pulls the camera out: its pending transfers end with no-device, every
    // later call on an open handle fails with no-device.
    void unplug(SimulatedCamera& camera);
    // Plugs the camera in again (unplugging it first if needed) at `address`,
    // or where it was. This is a power cycle: registers, RAM, streaming and
    // fault switches start afresh; flash, EEPROM, the request log and the
    // data source stay.
    //
    // An FX2 camera whose CPU is let go on a camera firmware in RAM leaves
    // and comes back by itself, 50 ms later, at the same port with a new
    // device number (registers and streaming afresh, RAM and firmware kept).
    SimulatedCamera& replug(SimulatedCamera& camera, std::optional<PortAddress> address = {});

    std::vector<SimulatedCamera*> cameras() const;
    // The testbed directory (UMOCKDEV_DIR).
    std::string rootDirectory() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace oru_sim
