/*
 * Opens and initialises the first camera and prints its properties and its
 * controls with their limits and current values.
 *
 *   oru-sim --camera oru6200mc-pro -- oru_camera_info
 */
#include <stdio.h>

#include "ORUCamera.h"

int main(void)
{
    if (ORUGetNumOfConnectedCameras() < 1) {
        fprintf(stderr, "no camera connected\n");
        return 1;
    }
    ORU_CAMERA_INFO info;
    ORU_ERROR_CODE result = ORUGetCameraProperty(&info, 0);
    if (result != ORU_SUCCESS) {
        fprintf(stderr, "reading the camera properties failed: error %d\n", result);
        return 1;
    }
    const int id = info.camera_id;
    if ((result = ORUOpenCamera(id)) != ORU_SUCCESS ||
        (result = ORUInitCamera(id)) != ORU_SUCCESS) {
        fprintf(stderr, "opening camera %d failed: error %d\n", id, result);
        return 1;
    }

    printf("%s (camera ID %d)\n", info.name, id);
    printf("  sensor %d x %d, %.2f um pixels, %d bit, %s, bayer %d\n", info.max_width,
           info.max_height, info.pixel_size_um, info.bit_depth, info.is_color ? "colour" : "mono",
           info.bayer);
    printf("  cooler %s, ST4 %s, trigger %s, USB3 %s on a USB%d host, %.3f e-/ADU\n",
           info.has_cooler ? "yes" : "no", info.st4_port ? "yes" : "no",
           info.is_trigger ? "yes" : "no", info.is_usb3 ? "yes" : "no", info.is_usb3_host ? 3 : 2,
           info.elec_per_adu);
    printf("  bins:");
    for (int i = 0; i < 16 && info.supported_bins[i] != 0; ++i)
        printf(" %d", info.supported_bins[i]);
    printf("\n");

    int count = 0;
    ORUGetNumOfControls(id, &count);
    printf("  %-24s %10s %10s %12s  auto\n", "control", "value", "min", "max");
    for (int i = 0; i < count; ++i) {
        ORU_CONTROL_CAPS caps;
        int32_t value = 0;
        ORU_BOOL isAuto = ORU_FALSE;
        if (ORUGetControlCaps(id, i, &caps) != ORU_SUCCESS ||
            ORUGetControlValue(id, caps.control_type, &value, &isAuto) != ORU_SUCCESS)
            continue;
        printf("  %-24s %10d %10d %12d  %s\n", caps.name, value, caps.min_value, caps.max_value,
               isAuto ? "on" : (caps.supports_auto ? "off" : "-"));
    }
    ORUCloseCamera(id);
    return 0;
}
