// A small libusb program for the launcher tests. It prints UMOCKDEV_DIR, then
// one line per camera of the family it finds ("3a7e:1001 1-2.3 5000 V30":
// IDs, port chain, speed, firmware reply) and exits with the code given by
// --exit. --bulk also streams two transfers from each camera and prints
// "bulk ok" when they carry the counting pattern. --wait waits to be killed
// after printing UMOCKDEV_DIR.
#include <libusb.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint16_t kVendorId = 0x3A7E;

bool bulkCarriesCountingPattern(libusb_device_handle* handle)
{
    std::vector<uint8_t> bytes(2 * 65536);
    int actual = 0;
    if (libusb_claim_interface(handle, 0) != 0 || libusb_control_transfer(handle, 0x40, 0xA9, 0, 0, nullptr, 0, 1000) != 0)
        return false;
    for (size_t offset = 0; offset < bytes.size(); offset += 65536)
        if (libusb_bulk_transfer(handle, 0x81, bytes.data() + offset, 65536, &actual, 1000) != 0 || actual != 65536)
            return false;
    libusb_control_transfer(handle, 0x40, 0xAA, 0, 0, nullptr, 0, 1000);
    for (size_t i = 2; i < bytes.size(); i += 2) {
        uint16_t previous = static_cast<uint16_t>(bytes[i - 2] | (bytes[i - 1] << 8));
        if (static_cast<uint16_t>(bytes[i] | (bytes[i + 1] << 8)) != static_cast<uint16_t>(previous + 1))
            return false;
    }
    return true;
}

void printCamera(libusb_device* device, const libusb_device_descriptor& descriptor, bool bulk)
{
    uint8_t ports[8];
    int depth = libusb_get_port_numbers(device, ports, sizeof ports);
    std::string chain = std::to_string(libusb_get_bus_number(device)) + "-";
    for (int i = 0; i < depth; ++i)
        chain += (i > 0 ? "." : "") + std::to_string(ports[i]);
    int speed = libusb_get_device_speed(device) == LIBUSB_SPEED_SUPER ? 5000 : 480;

    std::string firmware = "none";
    libusb_device_handle* handle = nullptr;
    if (libusb_open(device, &handle) == 0) {
        unsigned char reply[2] = {0, 0};
        if (libusb_control_transfer(handle, 0xC0, 0xAD, 0, 0, reply, 2, 1000) == 2) {
            char text[8];
            std::snprintf(text, sizeof text, "%c%02X", reply[0], reply[1]);
            firmware = text;
        }
        if (bulk)
            firmware += bulkCarriesCountingPattern(handle) ? " bulk ok" : " bulk broken";
        libusb_close(handle);
    }
    std::printf("%04x:%04x %s %d %s\n", descriptor.idVendor, descriptor.idProduct, chain.c_str(), speed,
                firmware.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    int exitCode = 0;
    bool wait = false;
    bool bulk = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--exit") == 0 && i + 1 < argc)
            exitCode = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--wait") == 0)
            wait = true;
        else if (std::strcmp(argv[i], "--bulk") == 0)
            bulk = true;
    }
    const char* directory = std::getenv("UMOCKDEV_DIR");
    std::printf("%s\n", directory ? directory : "");
    std::fflush(stdout);
    while (wait)
        pause();

    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0)
        return 100;
    libusb_device** devices = nullptr;
    ssize_t count = libusb_get_device_list(context, &devices);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor;
        if (libusb_get_device_descriptor(devices[i], &descriptor) == 0 && descriptor.idVendor == kVendorId)
            printCamera(devices[i], descriptor, bulk);
    }
    libusb_free_device_list(devices, 1);
    libusb_exit(context);
    return exitCode;
}
