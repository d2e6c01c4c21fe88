// The module's exception family and the translation of the wrapper's
// exceptions into it:
//
//   CameraError(RuntimeError)            code, code_name (None when no flat code)
//     CameraException                     a failed flat call; camera_index
//       CameraValueError(ValueError)      the camera refused a value (size, type, position)
//     ControllableException               a control that cannot be set; name
//       UnknownControlError(KeyError)     valid_names, closest
//     ROIException(ValueError)            a region of interest the camera cannot take
#pragma once

#include <pybind11/pybind11.h>

namespace tav_oru::python {

// Creates the types in m and registers the translation. Once per process.
void add_error_types(pybind11::module_ &m);

} // namespace tav_oru::python
