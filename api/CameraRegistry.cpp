#include "api/CameraRegistry.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "api/ProductTable.h"
#include "log/DbgPrint.h"

namespace {

constexpr int kMaxPortNumbers = 8;

struct ConnectedList {
    int count = 0;
    char paths[kMaxCameras][kDevicePathSize] = {};
    int productIds[kMaxCameras] = {};
};

std::recursive_mutex g_registryLock;
char g_slots[kMaxCameras][kDevicePathSize];
ConnectedList g_connected;

void FormatDevicePath(libusb_device *device, char *path)
{
    uint8_t ports[kMaxPortNumbers] = {};
    const int portCount = libusb_get_port_numbers(device, ports, kMaxPortNumbers);
    int used = snprintf(path, kDevicePathSize, "bus%d.port:", libusb_get_bus_number(device));
    for (int i = 0; i < portCount && used < kDevicePathSize - 1; ++i)
        used += snprintf(path + used, kDevicePathSize - used, "%d,", ports[i]);
}

// Keeps the IDs of devices that stayed on their ports, frees the others and
// gives new devices the lowest free IDs.
void FindDevPathIndex()
{
    bool slotPresent[kMaxCameras] = {};
    bool deviceIsNew[kMaxCameras] = {};
    for (int i = 0; i < g_connected.count; ++i) {
        int slot = 0;
        while (slot < kMaxCameras && strcmp(g_slots[slot], g_connected.paths[i]) != 0)
            ++slot;
        if (slot < kMaxCameras) {
            DbgPrint(-1, "FindDevPathIndex", "index: %d, %s, ID: %d, %s\n", i,
                     g_connected.paths[i], slot, g_slots[slot]);
            slotPresent[slot] = true;
        } else {
            deviceIsNew[i] = true;
        }
    }
    for (int slot = 0; slot < kMaxCameras; ++slot)
        if (!slotPresent[slot])
            g_slots[slot][0] = '\0';
    for (int i = 0; i < g_connected.count; ++i) {
        if (!deviceIsNew[i])
            continue;
        for (int slot = 0; slot < kMaxCameras; ++slot) {
            if (g_slots[slot][0] == '\0') {
                memcpy(g_slots[slot], g_connected.paths[i], kDevicePathSize);
                break;
            }
        }
    }
}

} // namespace

int ORUGetNumOfConnectedCameras(void)
{
    std::lock_guard<std::recursive_mutex> lock(g_registryLock);
    DbgPrint(-1, "ORUGetNumOfConnectedCameras", "ORUGetNumOfConnectedCameras >>\n");
    g_connected.count = 0;
    libusb_context *context = nullptr;
    if (libusb_init(&context) < 0) {
        DbgPrint(-1, "ORUGetNumOfConnectedCameras", "libusb_init fail!\n");
        return 0;
    }
    DbgPrint(-1, "ORUGetNumOfConnectedCameras", "libusb_init OK\n");

    libusb_device **devices = nullptr;
    const ssize_t deviceCount = libusb_get_device_list(context, &devices);
    for (ssize_t i = 0; i < deviceCount; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(devices[i], &descriptor) < 0) {
            fprintf(stderr, "failed to get device descriptor");
            libusb_free_device_list(devices, 1);
            libusb_exit(context);
            return 0;
        }
        if (!IsSupportedProduct(descriptor.idVendor, descriptor.idProduct) ||
            g_connected.count >= kMaxCameras)
            continue;
        char *path = g_connected.paths[g_connected.count];
        FormatDevicePath(devices[i], path);
        DbgPrint(-1, "ORUGetNumOfConnectedCameras", "%04x:%04x %s\n", descriptor.idVendor,
                 descriptor.idProduct, path);
        g_connected.productIds[g_connected.count] = descriptor.idProduct;
        ++g_connected.count;
    }
    if (deviceCount >= 0)
        libusb_free_device_list(devices, 1);

    FindDevPathIndex();

    libusb_exit(context);
    DbgPrint(-1, "ORUGetNumOfConnectedCameras", "libusb_exit\n");
    DbgPrint(-1, "ORUGetNumOfConnectedCameras", "num %d <<\n", g_connected.count);
    return g_connected.count;
}

int ORUGetProductIDs(int *product_ids)
{
    if (product_ids != nullptr)
        memcpy(product_ids, kProductIds, sizeof kProductIds);
    return ORU_PRODUCT_ID_COUNT;
}

int ORUCameraCheck(int vid, int pid)
{
    return IsSupportedProduct(vid, pid) ? 1 : 0;
}

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
