// A small libusb program for the launcher tests. It prints UMOCKDEV_DIR, then
// one line per camera of the family it finds ("3a7e:1001 1-2.3 5000 V30":
// IDs, port chain, speed, firmware reply) and exits with the code given by
// --exit. --bulk also streams six small frames from each camera and prints
// "bulk ok" when all came whole and well marked ("bulk short=S bad=B
// [stalled=T]" otherwise); --temperature appends the board-temperature reply
// ("B3:0014"). --wait waits to be killed after printing UMOCKDEV_DIR.
// --replug-watch SECONDS opens the first camera, asks it for its firmware
// until it is gone ("removed") and then waits for a camera to come back
// ("back 1-2 V30"); each wait ends after SECONDS ("still there", "not back").
// --guide sends a 30 ms pulse east on the ST4 port and appends "guide" when
// both requests went through.
#include <libusb.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint16_t kVendorId = 0x3A7E;

constexpr int kFrameWidth = 64;
constexpr int kFrameHeight = 16;
constexpr int kFrameBytes = kFrameWidth * kFrameHeight;
constexpr int kFramesRead = 6;

bool writeFpga(libusb_device_handle* handle, uint16_t reg, uint16_t value)
{
    return libusb_control_transfer(handle, 0x40, 0xBD, reg, value, nullptr, 0, 1000) == 0;
}

uint16_t wordAt(const std::vector<uint8_t>& bytes, size_t index)
{
    return static_cast<uint16_t>(bytes[2 * index] | (bytes[2 * index + 1] << 8));
}

// Streams small 8-bit frames through the DDR; "ok" when all came whole with
// their markers and rising counters, else how many were short or broken.
std::string streamFrames(libusb_device_handle* handle)
{
    bool setUp = libusb_claim_interface(handle, 0) == 0 && writeFpga(handle, 4, kFrameWidth) &&
                 writeFpga(handle, 8, kFrameHeight) && writeFpga(handle, 24, 0x80) &&
                 libusb_control_transfer(handle, 0x40, 0xA9, 0, 0, nullptr, 0, 1000) == 0;
    if (!setUp)
        return "broken";
    int shortFrames = 0;
    int badFrames = 0;
    int stalledFrames = 0;
    int lastCounter = -1;
    std::vector<uint8_t> frame(4 * kFrameBytes);
    for (int i = 0; i < kFramesRead; ++i) {
        int actual = 0;
        int result = libusb_bulk_transfer(handle, 0x81, frame.data(), static_cast<int>(frame.size()), &actual, 1000);
        if (result == LIBUSB_ERROR_PIPE) {
            ++stalledFrames;
            continue;
        }
        if (result != 0)
            return "broken";
        if (actual < kFrameBytes) {
            ++shortFrames;
            continue;
        }
        size_t last = kFrameBytes / 2 - 1;
        int counter = wordAt(frame, 1);
        if (actual != kFrameBytes || wordAt(frame, 0) != 0x5A7E || wordAt(frame, last) != 0x3CF0 ||
            wordAt(frame, last - 1) != counter || counter <= lastCounter)
            ++badFrames;
        lastCounter = counter;
    }
    libusb_control_transfer(handle, 0x40, 0xAA, 0, 0, nullptr, 0, 1000);
    if (shortFrames == 0 && badFrames == 0 && stalledFrames == 0)
        return "ok";
    return "short=" + std::to_string(shortFrames) + " bad=" + std::to_string(badFrames) +
           (stalledFrames > 0 ? " stalled=" + std::to_string(stalledFrames) : "");
}

constexpr uint16_t kGuideEast = 2;

bool guidePulse(libusb_device_handle* handle)
{
    if (libusb_control_transfer(handle, 0x40, 0xB0, kGuideEast, 0, nullptr, 0, 1000) != 0)
        return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    return libusb_control_transfer(handle, 0x40, 0xB1, kGuideEast, 0, nullptr, 0, 1000) == 0;
}

std::string portChain(libusb_device* device)
{
    uint8_t ports[8];
    int depth = libusb_get_port_numbers(device, ports, sizeof ports);
    std::string chain = std::to_string(libusb_get_bus_number(device)) + "-";
    for (int i = 0; i < depth; ++i)
        chain += (i > 0 ? "." : "") + std::to_string(ports[i]);
    return chain;
}

// The first camera of the family, opened, with its port chain; null if none.
libusb_device_handle* openFirstCamera(libusb_context* context, std::string& chain)
{
    libusb_device_handle* handle = nullptr;
    libusb_device** devices = nullptr;
    ssize_t count = libusb_get_device_list(context, &devices);
    for (ssize_t i = 0; i < count && !handle; ++i) {
        libusb_device_descriptor descriptor;
        if (libusb_get_device_descriptor(devices[i], &descriptor) == 0 && descriptor.idVendor == kVendorId &&
            libusb_open(devices[i], &handle) == 0)
            chain = portChain(devices[i]);
    }
    libusb_free_device_list(devices, 1);
    return handle;
}

int firmwareRequest(libusb_device_handle* handle, unsigned char (&reply)[2])
{
    return libusb_control_transfer(handle, 0xC0, 0xAD, 0, 0, reply, 2, 1000);
}

// What a program sees of a cable pulled out and plugged in again.
void watchReplug(libusb_context* context, double seconds)
{
    using Clock = std::chrono::steady_clock;
    auto limit = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    constexpr auto kPoll = std::chrono::milliseconds(10);
    std::string chain;
    libusb_device_handle* handle = openFirstCamera(context, chain);
    if (!handle) {
        std::printf("no camera\n");
        return;
    }
    unsigned char reply[2];
    Clock::time_point end = Clock::now() + limit;
    int result = firmwareRequest(handle, reply);
    while (result != LIBUSB_ERROR_NO_DEVICE && Clock::now() < end) {
        std::this_thread::sleep_for(kPoll);
        result = firmwareRequest(handle, reply);
    }
    libusb_close(handle);
    if (result != LIBUSB_ERROR_NO_DEVICE) {
        std::printf("still there\n");
        return;
    }
    std::printf("removed\n");
    std::fflush(stdout);

    // Back once a camera opens and answers: libusb may still list the
    // device that went, or list the new one before it can be used.
    end = Clock::now() + limit;
    for (;;) {
        if ((handle = openFirstCamera(context, chain))) {
            if (firmwareRequest(handle, reply) == 2)
                break;
            libusb_close(handle);
        }
        if (Clock::now() >= end) {
            std::printf("not back\n");
            return;
        }
        std::this_thread::sleep_for(kPoll);
    }
    std::printf("back %s %c%02X\n", chain.c_str(), reply[0], reply[1]);
    libusb_close(handle);
}

void printCamera(libusb_device* device, const libusb_device_descriptor& descriptor, bool bulk, bool temperature,
                 bool guide)
{
    std::string chain = portChain(device);
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
            firmware += " bulk " + streamFrames(handle);
        if (temperature && libusb_control_transfer(handle, 0xC0, 0xB3, 0, 0, reply, 2, 1000) == 2) {
            char text[16];
            std::snprintf(text, sizeof text, " B3:%02X%02X", reply[0], reply[1]);
            firmware += text;
        }
        if (guide && guidePulse(handle))
            firmware += " guide";
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
    bool temperature = false;
    double replugWatch = 0.0;
    bool guide = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--exit") == 0 && i + 1 < argc)
            exitCode = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--wait") == 0)
            wait = true;
        else if (std::strcmp(argv[i], "--bulk") == 0)
            bulk = true;
        else if (std::strcmp(argv[i], "--temperature") == 0)
            temperature = true;
        else if (std::strcmp(argv[i], "--replug-watch") == 0 && i + 1 < argc)
            replugWatch = std::atof(argv[++i]);
        else if (std::strcmp(argv[i], "--guide") == 0)
            guide = true;
    }
    const char* directory = std::getenv("UMOCKDEV_DIR");
    std::printf("%s\n", directory ? directory : "");
    std::fflush(stdout);
    while (wait)
        pause();

    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0)
        return 100;
    if (replugWatch > 0.0) {
        watchReplug(context, replugWatch);
        libusb_exit(context);
        return exitCode;
    }
    libusb_device** devices = nullptr;
    ssize_t count = libusb_get_device_list(context, &devices);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor;
        if (libusb_get_device_descriptor(devices[i], &descriptor) == 0 && descriptor.idVendor == kVendorId)
            printCamera(devices[i], descriptor, bulk, temperature, guide);
    }
    libusb_free_device_list(devices, 1);
    libusb_exit(context);
    return exitCode;
}
