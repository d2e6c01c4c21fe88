// Enumerations that refuse numbers no member has.
#pragma once

#include <pybind11/pybind11.h>

#include <set>
#include <string>

namespace tav_oru::python {

// Replaces the constructor from a number: one that no member has raises
// ValueError ("9 is not a valid ImageType"). Call after the last member.
template <typename Enum>
void refuse_unknown_values(pybind11::enum_<Enum> &enumeration)
{
    namespace py = pybind11;
    using Scalar = typename py::enum_<Enum>::Scalar;
    std::set<Scalar> values;
    for (const auto &member : py::dict(enumeration.attr("__members__")))
        values.insert(
            py::cast<Scalar>(py::int_(py::reinterpret_borrow<py::object>(member.second))));
    const std::string name = py::str(enumeration.attr("__name__"));
    py::delattr(enumeration, "__init__");
    enumeration.def(py::init([values, name](Scalar value) {
                        if (values.count(value) == 0)
                            throw py::value_error(std::to_string(value) + " is not a valid " +
                                                  name);
                        return static_cast<Enum>(value);
                    }),
                    py::arg("value"));
}

} // namespace tav_oru::python
