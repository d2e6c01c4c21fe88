// One opened camera. Every failing flat call becomes a CameraException that
// names the step, the camera's index and the flat error code.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "api/ORUCamera.h"
#include "wrapper/CameraInfo.h"
#include "wrapper/Controllable.h"
#include "wrapper/Enums.h"
#include "wrapper/GainOffsetPresets.h"
#include "wrapper/ROI.h"
#include "wrapper/TriggerOutputConfig.h"

namespace tav_oru {

// Enumerates afresh and reads the properties of the camera at this
// enumeration index.
CameraInfo get_camera_info(int index);

void close_camera(int camera_id);

// Thread safety: adds no locking of its own; concurrent calls on one camera
// rely on the flat API's per-function serialisation. capture and the status
// waits block the calling thread while they poll.
class Camera {
public:
    // Enumerates, opens and initialises the camera at this enumeration index.
    // A failure after the open leaves the flat camera open: another Camera
    // object may be using it.
    explicit Camera(int index);
    // Closes the flat camera; never throws.
    ~Camera();
    Camera(const Camera &) = delete;
    Camera &operator=(const Camera &) = delete;

    // Read now: the electrons per ADU follow the gain.
    CameraInfo get_info() const;

    // Validates against the camera's info, sets size, bins and type, then the
    // start position (in binned pixels of the new format).
    void set_roi(const ROI &roi);
    // The current format and the start position the camera uses, so that
    // set_roi(get_roi()) leaves the frame where it is.
    ROI get_roi() const;

    // Every listed control, read now, by name.
    std::map<std::string, Controllable> get_controls() const;
    // One control, read now. An unknown name throws UnknownControllableException.
    Controllable get_control(const std::string &name) const;
    // Sets a manual value and returns the value the camera applied (it
    // clamps to the control's range). A read-only control throws
    // ControllableException before the camera is asked.
    long set_control(const std::string &name, long value);
    // Switches a control to automatic mode, starting from its current value.
    void set_auto(const std::string &name);
    // Sets the ROI, then every writable control of the map in key order. The
    // first failure throws and leaves the earlier settings applied.
    void configure(const ROI &roi, const std::map<std::string, Controllable> &controllables);

    void set_camera_mode(CameraMode mode);
    CameraMode get_camera_mode() const;
    // The modes the camera offers, normal first.
    std::vector<CameraMode> get_supported_modes() const;
    // Starts (or, with start false, ends) a software trigger.
    void send_soft_trigger(bool start);
    void set_trigger_output(TriggerOutput pin, const TriggerOutputConfig &config);
    TriggerOutputConfig get_trigger_output(TriggerOutput pin) const;
    GainOffsetPresets get_gain_offset_presets() const;

    // The factory serial number as 16 hexadecimal digits.
    std::string get_serial_number() const;
    // The user ID kept in the camera's flash: up to 8 bytes, trailing zero
    // bytes left out.
    std::string get_user_id() const;
    // Longer than 8 bytes throws std::invalid_argument.
    void set_user_id(const std::string &id);

    // Video capture: frames are read with get_video_data between the start
    // and the stop.
    void start_video();
    void stop_video();
    // One frame into buffer (size bytes, at least one frame of the current
    // ROI); false when none came within wait_ms.
    bool get_video_data(uint8_t *buffer, int size, int wait_ms);
    // Frames the camera lost since the video capture started.
    int get_dropped_frames() const;

    void set_pulse_guide_on(GuideDirection direction);
    void set_pulse_guide_off(GuideDirection direction);
    void enable_dark_substract(const std::filesystem::path &path);
    void disable_dark_substract();

    // Takes one snap exposure into buffer, which holds size bytes; nothing is
    // written beyond them. A buffer smaller than one frame of the current ROI
    // is refused before the exposure starts.
    void capture(uint8_t *buffer, int size);
    // The same; keep_waiting is asked at every status poll, and answering
    // false stops the exposure and throws a runtime error "exposure aborted".
    void capture(uint8_t *buffer, int size, const std::function<bool()> &keep_waiting);

    // The SDK version, the camera info and a table of the controls.
    std::string to_string() const;

private:
    using ControlCaps = std::map<std::string, std::shared_ptr<ORU_CONTROL_CAPS>>;

    void read_control_caps(ControlCaps &caps);
    const ORU_CONTROL_CAPS &get_control_caps(const std::string &name) const;
    Controllable get_controllable(const ORU_CONTROL_CAPS &caps) const;
    ORU_EXPOSURE_STATUS get_exposition_status() const;
    void check_camera_ready() const;
    void check_buffer_size(int size) const;
    ORU_EXPOSURE_STATUS wait_for_status_change(ORU_EXPOSURE_STATUS status,
                                               const std::function<bool()> &keep_waiting);
    // Throws CameraException(message, camera_index, code) unless code is success.
    void check(ORU_ERROR_CODE code, const std::string &message) const;
    int id() const { return info.camera_id; }

    CameraInfo info;
    int camera_index;
    ControlCaps control_caps;
};

} // namespace tav_oru
