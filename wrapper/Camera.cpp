#include "wrapper/Camera.h"

#include <algorithm>
#include <cstring>
#include <iomanip>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "wrapper/CameraException.h"
#include "wrapper/ControllableException.h"
#include "wrapper/ExposureWait.h"
#include "wrapper/Formatting.h"
#include "wrapper/Sdk.h"
#include "wrapper/UnknownControllableException.h"

namespace tav_oru {

namespace {

void throw_on_failure(ORU_ERROR_CODE code, const std::string &message, int camera_index)
{
    if (code != ORU_SUCCESS)
        throw CameraException(message, camera_index, code);
}

} // namespace

CameraInfo get_camera_info(int index)
{
    get_nb_cameras();
    ORU_CAMERA_INFO record{};
    throw_on_failure(ORUGetCameraProperty(&record, index), "failed to read camera infos", index);
    return CameraInfo::from_native(record);
}

void close_camera(int camera_id)
{
    throw_on_failure(ORUCloseCamera(camera_id), "failed to close the camera", camera_id);
}

Camera::Camera(int index) : info(get_camera_info(index)), camera_index(index)
{
    check(ORUOpenCamera(id()), "failed to open the camera");
    check(ORUInitCamera(id()), "failed to init the camera");
    read_control_caps(control_caps);
}

Camera::~Camera()
{
    ORUCloseCamera(id());
}

CameraInfo Camera::get_info() const
{
    ORU_CAMERA_INFO record{};
    check(ORUGetCameraPropertyByID(id(), &record), "failed to read camera infos");
    return CameraInfo::from_native(record);
}

void Camera::set_roi(const ROI &roi)
{
    roi.valid(info);
    check(ORUSetROIFormat(id(), roi.width, roi.height, roi.bins, get_native(roi.type)),
          "failed to set the ROI");
    check(ORUSetStartPos(id(), roi.start_x, roi.start_y),
          "failed to set the ROI starting position");
}

ROI Camera::get_roi() const
{
    ROI roi;
    ORU_IMG_TYPE type = ORU_IMG_END;
    check(ORUGetROIFormat(id(), &roi.width, &roi.height, &roi.bins, &type),
          "failed to read the current ROI");
    if (type >= ORU_IMG_RAW8 && type <= ORU_IMG_Y8)
        roi.type = static_cast<ImageType>(type);
    check(ORUGetStartPos(id(), &roi.start_x, &roi.start_y), "failed to read the current ROI");
    return roi;
}

std::map<std::string, Controllable> Camera::get_controls() const
{
    std::map<std::string, Controllable> controls;
    for (const auto &[name, caps] : control_caps)
        controls.emplace(name, get_controllable(*caps));
    return controls;
}

Controllable Camera::get_control(const std::string &name) const
{
    return get_controllable(get_control_caps(name));
}

long Camera::set_control(const std::string &name, long value)
{
    const ORU_CONTROL_CAPS &caps = get_control_caps(name);
    // The camera would take the value and ignore it.
    if (caps.is_writable == ORU_FALSE)
        throw ControllableException(name, false, true, false);
    // A control the camera cannot report is not changed.
    get_controllable(caps);
    // The camera clamps to the control's range; saturating keeps a value
    // beyond 32 bits (long is 64-bit on some hosts) on the side it was meant.
    const long clamped = std::clamp<long>(value, std::numeric_limits<int32_t>::min(),
                                          std::numeric_limits<int32_t>::max());
    check(ORUSetControlValue(id(), caps.control_type, static_cast<int32_t>(clamped), ORU_FALSE),
          "failed to set values for controllable: " + name);
    return get_controllable(caps).value;
}

void Camera::set_auto(const std::string &name)
{
    const ORU_CONTROL_CAPS &caps = get_control_caps(name);
    if (caps.supports_auto == ORU_FALSE)
        throw ControllableException(name, false, false, true);
    const Controllable current = get_controllable(caps);
    check(ORUSetControlValue(id(), caps.control_type, current.value, ORU_TRUE),
          "failed to set auto-mode for controllable: " + name);
}

void Camera::configure(const ROI &roi, const std::map<std::string, Controllable> &controllables)
{
    set_roi(roi);
    for (const auto &[name, controllable] : controllables) {
        if (!controllable.is_writable)
            continue;
        if (controllable.is_auto)
            set_auto(name);
        else
            set_control(name, controllable.value);
    }
}

void Camera::set_camera_mode(CameraMode mode)
{
    check(ORUSetCameraMode(id(), get_native(mode)), "failed to set camera mode");
}

CameraMode Camera::get_camera_mode() const
{
    ORU_CAMERA_MODE mode = ORU_MODE_NORMAL;
    check(ORUGetCameraMode(id(), &mode), "failed to read camera mode");
    return static_cast<CameraMode>(mode);
}

std::vector<CameraMode> Camera::get_supported_modes() const
{
    ORU_SUPPORTED_MODE record{};
    check(ORUGetCameraSupportMode(id(), &record), "failed to read the supported camera modes");
    std::vector<CameraMode> modes;
    for (const ORU_CAMERA_MODE mode : record.SupportedCameraMode) {
        if (mode < ORU_MODE_NORMAL || mode > ORU_MODE_TRIG_LOW_LEVEL)
            break;
        modes.push_back(static_cast<CameraMode>(mode));
    }
    return modes;
}

void Camera::send_soft_trigger(bool start)
{
    check(ORUSendSoftTrigger(id(), start ? ORU_TRUE : ORU_FALSE), "failed to send soft trigger");
}

void Camera::set_trigger_output(TriggerOutput pin, const TriggerOutputConfig &config)
{
    check(ORUSetTriggerOutputIOConf(id(), get_native(pin), config.pin_high ? ORU_TRUE : ORU_FALSE,
                                    config.delay_us, config.duration_us),
          "failed to set the trigger output");
}

TriggerOutputConfig Camera::get_trigger_output(TriggerOutput pin) const
{
    TriggerOutputConfig config;
    ORU_BOOL high = ORU_FALSE;
    check(ORUGetTriggerOutputIOConf(id(), get_native(pin), &high, &config.delay_us,
                                    &config.duration_us),
          "failed to read the trigger output");
    config.pin_high = high == ORU_TRUE;
    return config;
}

GainOffsetPresets Camera::get_gain_offset_presets() const
{
    GainOffsetPresets presets;
    check(ORUGetGainOffset(id(), &presets.offset_highest_dr, &presets.offset_unity_gain,
                           &presets.gain_lowest_rn, &presets.offset_lowest_rn),
          "failed to read the gain and offset presets");
    check(ORUGetLMHGainOffset(id(), &presets.low_gain, &presets.medium_gain, &presets.high_gain,
                              &presets.high_offset),
          "failed to read the gain and offset presets");
    return presets;
}

std::string Camera::get_serial_number() const
{
    ORU_ID serial{};
    check(ORUGetSerialNumber(id(), &serial), "failed to read the serial number");
    std::ostringstream text;
    text << std::hex << std::setfill('0');
    for (const unsigned char byte : serial.id)
        text << std::setw(2) << static_cast<int>(byte);
    return text.str();
}

std::string Camera::get_user_id() const
{
    ORU_ID user_id{};
    check(ORUGetID(id(), &user_id), "failed to read the camera's user ID");
    std::string text(reinterpret_cast<const char *>(user_id.id), sizeof user_id.id);
    text.erase(text.find_last_not_of('\0') + 1);
    return text;
}

void Camera::set_user_id(const std::string &text)
{
    ORU_ID user_id{};
    if (text.size() > sizeof user_id.id)
        throw std::invalid_argument("a user ID holds at most " + std::to_string(sizeof user_id.id) +
                                    " bytes, not " + std::to_string(text.size()));
    std::memcpy(user_id.id, text.data(), text.size());
    check(ORUSetID(id(), user_id), "failed to write the camera's user ID");
}

void Camera::start_video()
{
    check(ORUStartVideoCapture(id()), "failed to start video capture");
}

void Camera::stop_video()
{
    check(ORUStopVideoCapture(id()), "failed to stop video capture");
}

bool Camera::get_video_data(uint8_t *buffer, int size, int wait_ms)
{
    const ORU_ERROR_CODE code = ORUGetVideoData(id(), buffer, size, wait_ms);
    if (code == ORU_ERROR_TIMEOUT)
        return false;
    check(code, "failed to read video data");
    return true;
}

int Camera::get_dropped_frames() const
{
    int dropped = 0;
    check(ORUGetDroppedFrames(id(), &dropped), "failed to read the dropped frames");
    return dropped;
}

void Camera::set_pulse_guide_on(GuideDirection direction)
{
    check(ORUPulseGuideOn(id(), get_native(direction)), "failed to set pulse guide on");
}

void Camera::set_pulse_guide_off(GuideDirection direction)
{
    check(ORUPulseGuideOff(id(), get_native(direction)), "failed to set off pulse guide");
}

void Camera::enable_dark_substract(const std::filesystem::path &path)
{
    std::error_code status_error;
    std::string text = path.string();
    if (!std::filesystem::exists(path, status_error)) {
        std::ostringstream message;
        message << "file not found: " << std::quoted(text);
        throw std::runtime_error(message.str());
    }
    check(ORUEnableDarkSubtract(id(), text.data()), "failed to enable dark substract");
}

void Camera::disable_dark_substract()
{
    check(ORUDisableDarkSubtract(id()), "failed to disable dark substract");
}

void Camera::capture(uint8_t *buffer, int size)
{
    capture(buffer, size, nullptr);
}

void Camera::capture(uint8_t *buffer, int size, const std::function<bool()> &keep_waiting)
{
    check_camera_ready();
    check_buffer_size(size);
    check(ORUStartExposure(id(), ORU_FALSE), "failed to start exposure");
    wait_for_status_change(ORU_EXP_IDLE, keep_waiting);
    if (wait_for_status_change(ORU_EXP_WORKING, keep_waiting) == ORU_EXP_FAILED)
        throw std::runtime_error("failed to get exposure");
    check(ORUGetDataAfterExp(id(), buffer, size), "failed to read image after capture");
}

std::string Camera::to_string() const
{
    std::vector<Controllable> controls;
    for (auto &[name, controllable] : get_controls())
        controls.push_back(std::move(controllable));
    return internal::camera_to_string(get_sdk_version(), info, controls);
}

void Camera::read_control_caps(ControlCaps &caps)
{
    int count = 0;
    check(ORUGetNumOfControls(id(), &count),
          "failed to read the number of controllable parameters");
    for (int i = 0; i < count; ++i) {
        auto record = std::make_shared<ORU_CONTROL_CAPS>();
        check(ORUGetControlCaps(id(), i, record.get()),
              "failed to get parameter value for controllable " + std::to_string(i));
        caps[std::string(record->name, strnlen(record->name, sizeof record->name))] = record;
    }
}

const ORU_CONTROL_CAPS &Camera::get_control_caps(const std::string &name) const
{
    const auto found = control_caps.find(name);
    if (found == control_caps.end()) {
        std::vector<std::string> names;
        for (const auto &entry : control_caps)
            names.push_back(entry.first);
        throw UnknownControllableException(name, std::move(names));
    }
    return *found->second;
}

Controllable Camera::get_controllable(const ORU_CONTROL_CAPS &caps) const
{
    Controllable controllable;
    controllable.name.assign(caps.name, strnlen(caps.name, sizeof caps.name));
    controllable.min_value = caps.min_value;
    controllable.max_value = caps.max_value;
    controllable.default_value = caps.default_value;
    controllable.is_writable = caps.is_writable != ORU_FALSE;
    controllable.supports_auto = caps.supports_auto != ORU_FALSE;
    ORU_BOOL is_auto = ORU_FALSE;
    check(ORUGetControlValue(id(), caps.control_type, &controllable.value, &is_auto),
          "failed to read values for parameter " + controllable.name);
    controllable.is_auto = is_auto == ORU_TRUE;
    return controllable;
}

ORU_EXPOSURE_STATUS Camera::get_exposition_status() const
{
    ORU_EXPOSURE_STATUS status = ORU_EXP_IDLE;
    check(ORUGetExpStatus(id(), &status), "failed to read the exposure status");
    return status;
}

void Camera::check_camera_ready() const
{
    // A failed exposure is over: it stays reported until the next one starts
    // (stopping a video capture leaves it too), and nothing else clears it.
    const ORU_EXPOSURE_STATUS status = get_exposition_status();
    if (status != ORU_EXP_IDLE && status != ORU_EXP_FAILED)
        throw std::runtime_error("could not take a picture: camera busy");
}

void Camera::check_buffer_size(int size) const
{
    // Refused only after the exposure, a too small buffer would leave the
    // image uncollected and the camera busy for good.
    if (size < get_roi().frame_size())
        throw CameraException("failed to read image after capture", camera_index,
                              ORU_ERROR_BUFFER_TOO_SMALL);
}

ORU_EXPOSURE_STATUS Camera::wait_for_status_change(ORU_EXPOSURE_STATUS status,
                                                   const std::function<bool()> &keep_waiting)
{
    const auto changed = internal::wait_for_status_change(
        status, [this] { return get_exposition_status(); }, keep_waiting);
    if (!changed) {
        ORUStopExposure(id());
        throw std::runtime_error("exposure aborted");
    }
    return *changed;
}

void Camera::check(ORU_ERROR_CODE code, const std::string &message) const
{
    throw_on_failure(code, message, camera_index);
}

} // namespace tav_oru
