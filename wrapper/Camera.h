// One opened camera. Every failing flat call becomes a CameraException that
// names the step, the camera's index and the flat error code.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "api/ORUCamera.h"
#include "wrapper/CameraInfo.h"
#include "wrapper/Controllable.h"
#include "wrapper/Enums.h"
#include "wrapper/ROI.h"

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

    CameraInfo get_info() const;

    // Validates against the camera's info, sets size, bins and type, then the
    // start position (in binned pixels of the new format).
    void set_roi(const ROI &roi);
    // The current format; the start position is reported as (0, 0).
    ROI get_roi() const;

    // Every listed control, read now, by name.
    std::map<std::string, Controllable> get_controls() const;
    // Sets a manual value; the camera clamps it to the control's range.
    void set_control(const std::string &name, long value);
    // Switches a control to automatic mode, starting from its current value.
    void set_auto(const std::string &name);
    // Sets the ROI, then every writable control of the map in key order. The
    // first failure throws and leaves the earlier settings applied.
    void configure(const ROI &roi, const std::map<std::string, Controllable> &controllables);

    void set_camera_mode(CameraMode mode);
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
