// Process-wide registry behind the flat API: USB paths of the connected
// cameras, the slot table that turns them into stable camera IDs, the open
// camera objects and one lock set per camera ID.
// Thread safety: enumeration, open and close are serialised by the registry
// lock; flat calls on an opened camera go through CameraCall, which takes
// only that camera's lock for the function and never the registry lock.
#pragma once

#include <libusb.h>

#include <cstdint>

#include "api/ORUCamera.h"
#include "transport/OruStatus.h"
#include "transport/UsbFailureScope.h"

class CCameraBase;

constexpr int kMaxCameras = 128;
constexpr int kDevicePathSize = 512;

// Opens the index-th device (counted from 1, in libusb list order) with this
// vendor and product ID; null when there is none or it cannot be opened.
extern "C" ORU_API libusb_device_handle *libusb_open_device_with_vid_pid_index(libusb_context *ctx,
                                                                               uint16_t vid,
                                                                               uint16_t pid,
                                                                               uint8_t index);

// The common guard of a flat function: checks the ID, takes the function's
// lock of that camera and runs body(camera). Returns ORU_ERROR_ID for an
// invalid ID, ORU_ERROR_CAMERA_CLOSED when the camera is not (or no longer)
// open, else the body's result as FlatErrorCode makes it.
template <typename Body>
ORU_ERROR_CODE CameraCall(int id, int lockNo, Body body);

// Building blocks of CameraCall.
bool RegistryIdIsValid(int id);
bool RegistryEnter(int id, int lockNo);
CCameraBase *RegistryCamera(int id);
// The body's result with the USB failures of the calling thread's call.
ORU_ERROR_CODE RegistryResult(CCameraBase *camera, ORU_ERROR_CODE result);

// The one place where a USB failure becomes a flat error code. A camera
// pulled out gives ORU_ERROR_CAMERA_REMOVED whatever the body made of a
// device that no longer answers; a failed body takes the code of the last
// USB failure under it where it has one (a time-out: ORU_ERROR_TIMEOUT) and
// keeps its own otherwise.
ORU_ERROR_CODE FlatErrorCode(ORU_ERROR_CODE result, const OruStatus &usbFailure, bool removed);
void RegistryLeave(int id, int lockNo);

template <typename Body>
ORU_ERROR_CODE CameraCall(int id, int lockNo, Body body)
{
    if (!RegistryIdIsValid(id))
        return ORU_ERROR_ID;
    if (!RegistryEnter(id, lockNo))
        return ORU_ERROR_CAMERA_CLOSED;
    CCameraBase *camera = RegistryCamera(id);
    ORU_ERROR_CODE result = ORU_ERROR_CAMERA_CLOSED;
    if (camera != nullptr) {
        UsbFailureScope usbFailures;
        result = RegistryResult(camera, body(camera));
    }
    RegistryLeave(id, lockNo);
    return result;
}
