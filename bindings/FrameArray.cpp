#include "bindings/FrameArray.h"

#include <vector>

namespace py = pybind11;

namespace tav_oru::python {

py::array frame_array(const ROI &roi)
{
    std::vector<py::ssize_t> shape{roi.height, roi.width};
    if (roi.type == ImageType::rgb24)
        shape.push_back(3);
    // The camera writes little-endian samples whatever the host's byte order.
    const py::dtype type =
        roi.type == ImageType::raw16 ? py::dtype("<u2") : py::dtype::of<uint8_t>();
    return py::array(type, shape);
}

void check_fillable(const py::array &array, int64_t bytes, const std::string &who)
{
    if ((array.flags() & py::array::c_style) == 0)
        throw py::value_error(who + ": the array must be C-contiguous");
    if (!array.writeable())
        throw py::value_error(who + ": the array must be writable");
    if (bytes > array.nbytes())
        throw py::value_error(who + ": size " + std::to_string(bytes) +
                              " is larger than the array's " + std::to_string(array.nbytes()) +
                              " bytes");
}

} // namespace tav_oru::python
