// Where a simulated device sits: a bus number and the chain of hub ports from
// the root hub down to the device, as Linux names it in sysfs ("1-2.3").
#pragma once

#include <string>
#include <vector>

namespace oru_sim {

struct PortAddress {
    int bus = 1;
    std::vector<int> ports{1};

    // "2.3": the devpath attribute, also what libusb_get_port_numbers follows.
    std::string devpath() const;
    // "1-2.3": the kernel's device name.
    std::string sysfsName() const;
    // The address of the hub port this one hangs from; only for chains of two
    // ports or more.
    PortAddress parent() const;

    // Parses "BUS-PORT[.PORT...]"; throws std::invalid_argument on bad text.
    static PortAddress parse(const std::string& text);
    // Throws std::invalid_argument unless bus is 1..255, the chain 1..7 ports
    // deep and every port 1..255.
    void validate() const;

    bool operator==(const PortAddress& other) const;
    bool operator!=(const PortAddress& other) const { return !(*this == other); }
};

}  // namespace oru_sim
