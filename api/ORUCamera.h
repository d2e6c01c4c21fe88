/*
 * tav_oru camera library: the public flat API.
 *
 * Cameras are addressed by a camera ID (0..127) that stays the same while a
 * camera stays on its USB port. Call ORUGetNumOfConnectedCameras() first; it
 * enumerates the bus and hands out the IDs.
 *
 * Records and enumerations below form a binary interface: every field has a
 * fixed width and position on every platform (checked at compile time at the
 * end of this file). "long" values of the interface are 32-bit signed and are
 * declared as int32_t.
 *
 * Thread safety: every function may be called from any thread. Calls of the
 * same function on the same camera are serialised; calls of different
 * functions on one camera run concurrently (a blocking ORUGetVideoData does not
 * hold up ORUSetControlValue). ORUCloseCamera and ORUInitCamera wait until
 * every other call on their camera has left and run alone on it. Enumeration,
 * open and close are serialised among themselves. Once a camera has been
 * pulled out, every call on it returns ORU_ERROR_CAMERA_REMOVED; a call that
 * failed because the camera did not answer a request in time returns
 * ORU_ERROR_TIMEOUT.
 */
#ifndef ORU_CAMERA_H
#define ORU_CAMERA_H

#include <stdint.h>

#if defined(__GNUC__)
#define ORU_API __attribute__((visibility("default")))
#define ORU_ALIGN8 __attribute__((aligned(8)))
#else
#define ORU_API
#define ORU_ALIGN8
#endif

/* C callers may pass any number where an enumeration is declared. In C++ every
   enumeration of the interface has a fixed 32-bit underlying type, so that any
   such number is a value of the type (the library refuses those it does not
   know); in C it is a plain enum of the same size. */
#ifdef __cplusplus
#define ORU_ENUM(name) enum name : int32_t
#else
#define ORU_ENUM(name) enum name
#endif

#ifdef __cplusplus
extern "C" {
#endif

// The enumerations stay one value per line; the formatter cannot see through ORU_ENUM.
// clang-format off
typedef ORU_ENUM(ORU_BOOL) {
    ORU_FALSE = 0,
    ORU_TRUE = 1
} ORU_BOOL;

typedef ORU_ENUM(ORU_ERROR_CODE) {
    ORU_SUCCESS = 0,
    ORU_ERROR_INVALID_INDEX = 1,
    ORU_ERROR_ID = 2,
    ORU_ERROR_INVALID_CONTROL_TYPE = 3,
    ORU_ERROR_CAMERA_CLOSED = 4,
    ORU_ERROR_CAMERA_REMOVED = 5,
    ORU_ERROR_INVALID_PATH = 6,
    ORU_ERROR_INVALID_FILEFORMAT = 7,
    ORU_ERROR_INVALID_SIZE = 8,
    ORU_ERROR_INVALID_IMGTYPE = 9,
    ORU_ERROR_OUTOF_BOUNDARY = 10,
    ORU_ERROR_TIMEOUT = 11,
    ORU_ERROR_INVALID_SEQUENCE = 12,
    ORU_ERROR_BUFFER_TOO_SMALL = 13,
    ORU_ERROR_VIDEO_MODE_ACTIVE = 14,
    ORU_ERROR_EXPOSURE_IN_PROGRESS = 15,
    ORU_ERROR_GENERAL_ERROR = 16,
    ORU_ERROR_INVALID_MODE = 17
} ORU_ERROR_CODE;

typedef ORU_ENUM(ORU_IMG_TYPE) {
    ORU_IMG_RAW8 = 0,
    ORU_IMG_RGB24 = 1,
    ORU_IMG_RAW16 = 2,
    ORU_IMG_Y8 = 3,
    ORU_IMG_END = -1
} ORU_IMG_TYPE;

typedef ORU_ENUM(ORU_BAYER_PATTERN) {
    ORU_BAYER_RG = 0,
    ORU_BAYER_BG = 1,
    ORU_BAYER_GR = 2,
    ORU_BAYER_GB = 3
} ORU_BAYER_PATTERN;

typedef ORU_ENUM(ORU_GUIDE_DIRECTION) {
    ORU_GUIDE_NORTH = 0,
    ORU_GUIDE_SOUTH = 1,
    ORU_GUIDE_EAST = 2,
    ORU_GUIDE_WEST = 3
} ORU_GUIDE_DIRECTION;

typedef ORU_ENUM(ORU_FLIP_STATUS) {
    ORU_FLIP_NONE = 0,
    ORU_FLIP_HORIZ = 1,
    ORU_FLIP_VERT = 2,
    ORU_FLIP_BOTH = 3
} ORU_FLIP_STATUS;

typedef ORU_ENUM(ORU_CAMERA_MODE) {
    ORU_MODE_NORMAL = 0,
    ORU_MODE_TRIG_SOFT_EDGE = 1,
    ORU_MODE_TRIG_RISE_EDGE = 2,
    ORU_MODE_TRIG_FALL_EDGE = 3,
    ORU_MODE_TRIG_SOFT_LEVEL = 4,
    ORU_MODE_TRIG_HIGH_LEVEL = 5,
    ORU_MODE_TRIG_LOW_LEVEL = 6,
    ORU_MODE_END = -1
} ORU_CAMERA_MODE;

typedef ORU_ENUM(ORU_TRIG_OUTPUT) {
    ORU_TRIG_OUTPUT_PINA = 0,
    ORU_TRIG_OUTPUT_PINB = 1
} ORU_TRIG_OUTPUT;

typedef ORU_ENUM(ORU_EXPOSURE_STATUS) {
    ORU_EXP_IDLE = 0,
    ORU_EXP_WORKING = 1,
    ORU_EXP_SUCCESS = 2,
    ORU_EXP_FAILED = 3
} ORU_EXPOSURE_STATUS;

typedef ORU_ENUM(ORU_CONTROL_TYPE) {
    ORU_GAIN = 0,
    ORU_EXPOSURE = 1,
    ORU_GAMMA = 2,
    ORU_WB_R = 3,
    ORU_WB_B = 4,
    ORU_OFFSET = 5,
    ORU_BANDWIDTH = 6,
    ORU_OVERCLK = 7,
    ORU_TEMPERATURE = 8,
    ORU_FLIP = 9,
    ORU_AUTO_EXP_MAX_GAIN = 10,
    ORU_AUTO_EXP_MAX_EXP_MS = 11,
    ORU_AUTO_EXP_TARGET_BRIGHTNESS = 12,
    ORU_HARDWARE_BIN = 13,
    ORU_HIGH_SPEED_MODE = 14,
    ORU_COOL_POWER_PERC = 15,
    ORU_TARGET_TEMP = 16,
    ORU_COOLER_ON = 17,
    ORU_MONO_BIN = 18,
    ORU_FAN_ON = 19,
    ORU_PATTERN_ADJUST = 20,
    ORU_ANTI_DEW_HEATER = 21
} ORU_CONTROL_TYPE;
// clang-format on

typedef struct ORU_ID {
    unsigned char id[8];
} ORU_ID;

/* Filled by ORUGetCameraSupportMode: modes in order, ended by ORU_MODE_END. */
typedef struct ORU_SUPPORTED_MODE {
    ORU_CAMERA_MODE SupportedCameraMode[8];
} ORU_SUPPORTED_MODE;

typedef struct ORU_CONTROL_CAPS {
    char name[64];
    char description[128];
    int32_t max_value;
    int32_t min_value;
    int32_t default_value;
    ORU_BOOL supports_auto;
    ORU_BOOL is_writable;
    ORU_CONTROL_TYPE control_type;
    char reserved[32];
} ORU_CONTROL_CAPS;

typedef struct ORU_CAMERA_INFO {
    char name[64];
    int32_t camera_id;
    int32_t max_height;
    int32_t max_width;
    ORU_BOOL is_color;
    ORU_BAYER_PATTERN bayer;
    int32_t supported_bins[16];
    ORU_IMG_TYPE supported_image_types[8];
    /* 8-aligned everywhere (32-bit x86 would otherwise place it at 180). */
    double pixel_size_um ORU_ALIGN8;
    ORU_BOOL mechanical_shutter;
    ORU_BOOL st4_port;
    ORU_BOOL has_cooler;
    ORU_BOOL is_usb3_host;
    ORU_BOOL is_usb3;
    float elec_per_adu;
    int32_t bit_depth;
    ORU_BOOL is_trigger;
    char reserved[16];
} ORU_CAMERA_INFO;

/* Version text of this library. */
#define ORU_SDK_VERSION "1, 26, 0, 0"

/* USB vendor ID of every camera of the family. */
#define ORU_VENDOR_ID 0x3A7E
/* Number of supported USB product IDs (see ORUGetProductIDs). */
#define ORU_PRODUCT_ID_COUNT 113

/* Registry: enumeration, open and close. */
ORU_API int ORUGetNumOfConnectedCameras(void);
ORU_API int ORUGetProductIDs(int *product_ids);
ORU_API int ORUCameraCheck(int vid, int pid);
ORU_API ORU_ERROR_CODE ORUGetCameraProperty(ORU_CAMERA_INFO *info, int index);
ORU_API ORU_ERROR_CODE ORUGetCameraPropertyByID(int id, ORU_CAMERA_INFO *info);
ORU_API ORU_ERROR_CODE ORUOpenCamera(int id);
ORU_API ORU_ERROR_CODE ORUInitCamera(int id);
ORU_API ORU_ERROR_CODE ORUCloseCamera(int id);

/* Controls. */
ORU_API ORU_ERROR_CODE ORUGetNumOfControls(int id, int *count);
ORU_API ORU_ERROR_CODE ORUGetControlCaps(int id, int index, ORU_CONTROL_CAPS *caps);
ORU_API ORU_ERROR_CODE ORUGetControlValue(int id, ORU_CONTROL_TYPE type, int32_t *value,
                                          ORU_BOOL *is_auto);
ORU_API ORU_ERROR_CODE ORUSetControlValue(int id, ORU_CONTROL_TYPE type, int32_t value,
                                          ORU_BOOL is_auto);

/* Region of interest. Start positions are in binned pixels. */
ORU_API ORU_ERROR_CODE ORUSetROIFormat(int id, int width, int height, int bin, ORU_IMG_TYPE type);
ORU_API ORU_ERROR_CODE ORUGetROIFormat(int id, int *width, int *height, int *bin,
                                       ORU_IMG_TYPE *type);
ORU_API ORU_ERROR_CODE ORUSetStartPos(int id, int x, int y);
ORU_API ORU_ERROR_CODE ORUGetStartPos(int id, int *x, int *y);
ORU_API ORU_ERROR_CODE ORUGetDroppedFrames(int id, int *dropped);

/* Dark-frame subtraction from an 8-bit bitmap of the full sensor. */
ORU_API ORU_ERROR_CODE ORUEnableDarkSubtract(int id, char *bmp_path);
ORU_API ORU_ERROR_CODE ORUDisableDarkSubtract(int id);

/* Video capture. */
ORU_API ORU_ERROR_CODE ORUStartVideoCapture(int id);
ORU_API ORU_ERROR_CODE ORUStopVideoCapture(int id);
ORU_API ORU_ERROR_CODE ORUGetVideoData(int id, unsigned char *buffer, int32_t buffer_size,
                                       int wait_ms);

/* Snap exposures. */
ORU_API ORU_ERROR_CODE ORUStartExposure(int id, ORU_BOOL is_dark);
ORU_API ORU_ERROR_CODE ORUStopExposure(int id);
ORU_API ORU_ERROR_CODE ORUGetExpStatus(int id, ORU_EXPOSURE_STATUS *status);
ORU_API ORU_ERROR_CODE ORUGetDataAfterExp(int id, unsigned char *buffer, int32_t buffer_size);

/* Guiding. */
ORU_API ORU_ERROR_CODE ORUPulseGuideOn(int id, ORU_GUIDE_DIRECTION direction);
ORU_API ORU_ERROR_CODE ORUPulseGuideOff(int id, ORU_GUIDE_DIRECTION direction);

/* User ID kept in the camera's flash, and the factory serial number. */
ORU_API ORU_ERROR_CODE ORUGetID(int id, ORU_ID *user_id);
ORU_API ORU_ERROR_CODE ORUSetID(int id, ORU_ID user_id);
ORU_API ORU_ERROR_CODE ORUGetSerialNumber(int id, ORU_ID *serial);

/* Model reference values for gain and offset. */
ORU_API ORU_ERROR_CODE ORUGetGainOffset(int id, int *offset_highest_dr, int *offset_unity_gain,
                                        int *gain_lowest_rn, int *offset_lowest_rn);
ORU_API ORU_ERROR_CODE ORUGetLMHGainOffset(int id, int *low_gain, int *medium_gain, int *high_gain,
                                           int *high_offset);

/* Camera modes and triggers. */
ORU_API ORU_ERROR_CODE ORUGetCameraSupportMode(int id, ORU_SUPPORTED_MODE *modes);
ORU_API ORU_ERROR_CODE ORUGetCameraMode(int id, ORU_CAMERA_MODE *mode);
ORU_API ORU_ERROR_CODE ORUSetCameraMode(int id, ORU_CAMERA_MODE mode);
ORU_API ORU_ERROR_CODE ORUSendSoftTrigger(int id, ORU_BOOL start);
ORU_API ORU_ERROR_CODE ORUSetTriggerOutputIOConf(int id, ORU_TRIG_OUTPUT pin, ORU_BOOL pin_high,
                                                 int32_t delay, int32_t duration);
ORU_API ORU_ERROR_CODE ORUGetTriggerOutputIOConf(int id, ORU_TRIG_OUTPUT pin, ORU_BOOL *pin_high,
                                                 int32_t *delay, int32_t *duration);

/* Diagnostic log (standard error and ~/.TAV/orucamerasdk/orucamerasdk.log). */
ORU_API ORU_ERROR_CODE ORUEnableDebugLog(int id, ORU_BOOL enable);
ORU_API ORU_ERROR_CODE ORUGetDebugLogIsEnabled(int id, ORU_BOOL *enabled);

/* ORU_SDK_VERSION; needs no camera. */
ORU_API const char *ORUGetSDKVersion(void);

#ifdef __cplusplus
}
#endif

/* The binary layout may not drift. */
#ifdef __cplusplus
#include <cstddef>
#define ORU_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#include <stddef.h>
#if defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define ORU_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#else
/* Before C11: an array of negative size stops the compiler. */
#define ORU_STATIC_ASSERT_NAMED(cond, line) typedef char oru_layout_check_##line[(cond) ? 1 : -1]
#define ORU_STATIC_ASSERT_AT(cond, line) ORU_STATIC_ASSERT_NAMED(cond, line)
#define ORU_STATIC_ASSERT(cond, msg) ORU_STATIC_ASSERT_AT(cond, __LINE__)
#endif
#endif

ORU_STATIC_ASSERT(sizeof(ORU_BOOL) == 4, "ORU_BOOL is 32-bit");
ORU_STATIC_ASSERT(sizeof(ORU_ERROR_CODE) == 4, "ORU_ERROR_CODE is 32-bit");
ORU_STATIC_ASSERT(sizeof(ORU_IMG_TYPE) == 4, "ORU_IMG_TYPE is 32-bit");
ORU_STATIC_ASSERT(sizeof(ORU_CONTROL_TYPE) == 4, "ORU_CONTROL_TYPE is 32-bit");
ORU_STATIC_ASSERT(sizeof(ORU_CAMERA_MODE) == 4, "ORU_CAMERA_MODE is 32-bit");
ORU_STATIC_ASSERT(sizeof(ORU_ID) == 8, "ORU_ID is 8 bytes");
ORU_STATIC_ASSERT(sizeof(ORU_SUPPORTED_MODE) == 32, "ORU_SUPPORTED_MODE is 8 modes");

ORU_STATIC_ASSERT(offsetof(ORU_CONTROL_CAPS, description) == 64, "caps layout");
ORU_STATIC_ASSERT(offsetof(ORU_CONTROL_CAPS, max_value) == 192, "caps layout");
ORU_STATIC_ASSERT(offsetof(ORU_CONTROL_CAPS, min_value) == 196, "caps layout");
ORU_STATIC_ASSERT(offsetof(ORU_CONTROL_CAPS, default_value) == 200, "caps layout");
ORU_STATIC_ASSERT(offsetof(ORU_CONTROL_CAPS, supports_auto) == 204, "caps layout");
ORU_STATIC_ASSERT(offsetof(ORU_CONTROL_CAPS, is_writable) == 208, "caps layout");
ORU_STATIC_ASSERT(offsetof(ORU_CONTROL_CAPS, control_type) == 212, "caps layout");
ORU_STATIC_ASSERT(offsetof(ORU_CONTROL_CAPS, reserved) == 216, "caps layout");
ORU_STATIC_ASSERT(sizeof(ORU_CONTROL_CAPS) == 248, "caps size");

ORU_STATIC_ASSERT(offsetof(ORU_CAMERA_INFO, camera_id) == 64, "info layout");
ORU_STATIC_ASSERT(offsetof(ORU_CAMERA_INFO, max_height) == 68, "info layout");
ORU_STATIC_ASSERT(offsetof(ORU_CAMERA_INFO, max_width) == 72, "info layout");
ORU_STATIC_ASSERT(offsetof(ORU_CAMERA_INFO, is_color) == 76, "info layout");
ORU_STATIC_ASSERT(offsetof(ORU_CAMERA_INFO, bayer) == 80, "info layout");
ORU_STATIC_ASSERT(offsetof(ORU_CAMERA_INFO, supported_bins) == 84, "info layout");
ORU_STATIC_ASSERT(offsetof(ORU_CAMERA_INFO, supported_image_types) == 148, "info layout");
ORU_STATIC_ASSERT(offsetof(ORU_CAMERA_INFO, pixel_size_um) == 184, "info layout");
ORU_STATIC_ASSERT(offsetof(ORU_CAMERA_INFO, mechanical_shutter) == 192, "info layout");
ORU_STATIC_ASSERT(offsetof(ORU_CAMERA_INFO, st4_port) == 196, "info layout");
ORU_STATIC_ASSERT(offsetof(ORU_CAMERA_INFO, has_cooler) == 200, "info layout");
ORU_STATIC_ASSERT(offsetof(ORU_CAMERA_INFO, is_usb3_host) == 204, "info layout");
ORU_STATIC_ASSERT(offsetof(ORU_CAMERA_INFO, is_usb3) == 208, "info layout");
ORU_STATIC_ASSERT(offsetof(ORU_CAMERA_INFO, elec_per_adu) == 212, "info layout");
ORU_STATIC_ASSERT(offsetof(ORU_CAMERA_INFO, bit_depth) == 216, "info layout");
ORU_STATIC_ASSERT(offsetof(ORU_CAMERA_INFO, is_trigger) == 220, "info layout");
ORU_STATIC_ASSERT(offsetof(ORU_CAMERA_INFO, reserved) == 224, "info layout");
ORU_STATIC_ASSERT(sizeof(ORU_CAMERA_INFO) == 240, "info size");

#undef ORU_STATIC_ASSERT
#undef ORU_STATIC_ASSERT_AT
#undef ORU_STATIC_ASSERT_NAMED
#undef ORU_ENUM

#endif /* ORU_CAMERA_H */
