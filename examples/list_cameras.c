/*
 * Lists the connected cameras: USB path, product ID, camera ID and name.
 * The library numbers cameras in the order libusb lists them, so walking the
 * libusb list and keeping the devices ORUCameraCheck accepts gives the same
 * order as the library's enumeration index.
 *
 *   oru-sim --camera 0x1001 --camera 0x1001@1-2.3 -- oru_list_cameras
 */
#include <stdio.h>

#include <libusb.h>

#include "ORUCamera.h"

int main(void)
{
    printf("tav_oru SDK %s\n", ORUGetSDKVersion());
    const int count = ORUGetNumOfConnectedCameras();
    printf("connected cameras: %d\n", count);

    libusb_context *context = NULL;
    if (libusb_init(&context) < 0) {
        fprintf(stderr, "libusb_init failed\n");
        return 1;
    }
    libusb_device **devices = NULL;
    const ssize_t listed = libusb_get_device_list(context, &devices);
    int index = 0;
    for (ssize_t i = 0; i < listed && index < count; ++i) {
        struct libusb_device_descriptor descriptor;
        if (libusb_get_device_descriptor(devices[i], &descriptor) < 0 ||
            !ORUCameraCheck(descriptor.idVendor, descriptor.idProduct))
            continue;

        char path[64];
        int used = snprintf(path, sizeof path, "bus%d.port:", libusb_get_bus_number(devices[i]));
        uint8_t ports[8];
        const int depth = libusb_get_port_numbers(devices[i], ports, 8);
        for (int p = 0; p < depth && used < (int)sizeof path - 1; ++p)
            used += snprintf(path + used, sizeof path - used, "%d,", ports[p]);

        ORU_CAMERA_INFO info;
        const ORU_ERROR_CODE result = ORUGetCameraProperty(&info, index);
        if (result == ORU_SUCCESS)
            printf("[%d] %-20s product 0x%04x  camera ID %d  %s\n", index, path,
                   descriptor.idProduct, info.camera_id, info.name);
        else
            printf("[%d] %-20s product 0x%04x  (no properties: error %d)\n", index, path,
                   descriptor.idProduct, result);
        ++index;
    }
    libusb_free_device_list(devices, 1);
    libusb_exit(context);
    return 0;
}
