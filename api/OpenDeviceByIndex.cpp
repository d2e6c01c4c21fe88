// Kept apart from the registry so that the camera object, which opens its
// device through this function, links without the rest of the flat API.
#include "api/CameraRegistry.h"

libusb_device_handle *libusb_open_device_with_vid_pid_index(libusb_context *ctx, uint16_t vid,
                                                            uint16_t pid, uint8_t index)
{
    libusb_device **devices = nullptr;
    const ssize_t deviceCount = libusb_get_device_list(ctx, &devices);
    if (deviceCount < 0)
        return nullptr;
    libusb_device_handle *handle = nullptr;
    int matches = 0;
    for (ssize_t i = 0; i < deviceCount; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(devices[i], &descriptor) < 0)
            break;
        if (descriptor.idVendor != vid || descriptor.idProduct != pid)
            continue;
        if (++matches == index) {
            if (libusb_open(devices[i], &handle) < 0)
                handle = nullptr;
            break;
        }
    }
    libusb_free_device_list(devices, 1);
    return handle;
}
