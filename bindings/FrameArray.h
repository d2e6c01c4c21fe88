// numpy arrays that frames of a ROI are written into.
#pragma once

#include <pybind11/numpy.h>

#include <cstdint>
#include <string>

#include "wrapper/ROI.h"

namespace tav_oru::python {

// A new array for one frame of roi: uint8 (height, width) for raw8 and y8,
// uint8 (height, width, 3) for rgb24 (bytes blue, green, red), little-endian
// uint16 (height, width) for raw16.
pybind11::array frame_array(const ROI &roi);

// Raises ValueError, naming who, unless array is C-contiguous, writable and
// holds at least bytes bytes.
void check_fillable(const pybind11::array &array, int64_t bytes, const std::string &who);

} // namespace tav_oru::python
