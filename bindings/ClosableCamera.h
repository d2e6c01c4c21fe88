// The Python face of one opened camera: the wrapper's Camera, which Python
// can close before the object itself goes away (a `with` block, close()).
#pragma once

#include <pybind11/numpy.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bindings/VideoStream.h"
#include "wrapper/Camera.h"

namespace tav_oru::python {

// Thread safety: called with the interpreter lock held, except that capture
// releases it while the exposure runs. A capture keeps its own reference to
// the camera, so closing from another thread meanwhile takes effect when the
// capture returns.
class ClosableCamera {
public:
    // Enumerates, opens and initialises the camera at this enumeration index.
    explicit ClosableCamera(int index);

    // Closes the camera; closing a closed camera does nothing.
    void close();

    CameraInfo get_info() const;
    void set_roi(const ROI &roi);
    ROI get_roi() const;
    std::map<std::string, Controllable> get_controls() const;
    Controllable get_control(const std::string &name) const;
    long set_control(const std::string &name, long value);
    void set_auto(const std::string &name);
    void set_camera_mode(CameraMode mode);
    CameraMode get_camera_mode() const;
    std::vector<CameraMode> get_supported_modes() const;
    void send_soft_trigger(bool start);
    void set_trigger_output(TriggerOutput pin, bool pin_high, int32_t delay_us,
                            int32_t duration_us);
    TriggerOutputConfig get_trigger_output(TriggerOutput pin) const;
    GainOffsetPresets get_gain_offset_presets() const;
    std::string get_serial_number() const;
    pybind11::bytes get_user_id() const;
    void set_user_id(const std::string &id);
    int get_dropped_frames() const;
    void set_pulse_guide_on(GuideDirection direction);
    void set_pulse_guide_off(GuideDirection direction);
    void enable_dark_substract(const std::filesystem::path &path);
    void disable_dark_substract();
    std::string to_string() const;
    // "<tav_oru.Camera 0: 'ORU6200MC Pro', camera ID 0>", or "... closed>".
    std::string repr() const;

    // A video stream of this camera (see VideoStream); it keeps the camera
    // open until it is closed itself.
    std::unique_ptr<VideoStream> stream(std::optional<int> timeout_ms,
                                        const pybind11::object &buffers) const;

    // Takes one exposure into image, a writable C-contiguous uint8 array of
    // at least size bytes; anything else raises ValueError before the camera
    // is touched.
    void capture(pybind11::array image, int size);
    // Takes one exposure into a new array shaped for the current ROI.
    pybind11::array capture();

private:
    // The open camera; raises the closed-camera error once closed.
    std::shared_ptr<Camera> camera() const;
    // Runs the exposure without the interpreter lock. A pending signal
    // (Ctrl-C) stops the exposure and its Python exception is raised.
    void capture_unlocked(uint8_t *buffer, int size);

    std::shared_ptr<Camera> camera_;
    int camera_index_;
    CameraInfo opened_as_;
};

} // namespace tav_oru::python
