// The Python face of one opened camera: the wrapper's Camera, which Python
// can close before the object itself goes away (a `with` block, close()).
#pragma once

#include <pybind11/numpy.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

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
    void set_control(const std::string &name, long value);
    void set_auto(const std::string &name);
    void set_camera_mode(CameraMode mode);
    void set_pulse_guide_on(GuideDirection direction);
    void set_pulse_guide_off(GuideDirection direction);
    void enable_dark_substract(const std::filesystem::path &path);
    void disable_dark_substract();
    std::string to_string() const;

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
};

} // namespace tav_oru::python
