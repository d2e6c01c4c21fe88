// Process-wide registry behind the flat API: USB paths of the connected
// cameras, the slot table that turns them into stable camera IDs, and the
// list of the last enumeration.
// Thread safety: enumeration and the table look-ups are serialised by one
// registry lock.
#pragma once

#include <libusb.h>

#include <cstdint>

#include "api/ORUCamera.h"

constexpr int kMaxCameras = 128;
constexpr int kDevicePathSize = 512;

// Opens the index-th device (counted from 1, in libusb list order) with this
// vendor and product ID; null when there is none or it cannot be opened.
extern "C" ORU_API libusb_device_handle *libusb_open_device_with_vid_pid_index(
    libusb_context *ctx, uint16_t vid, uint16_t pid, uint8_t index);
