#include "bindings/ErrorTypes.h"

#include <pybind11/stl.h>

#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "wrapper/CameraException.h"
#include "wrapper/ControllableException.h"
#include "wrapper/ROIException.h"
#include "wrapper/UnknownControllableException.h"

namespace py = pybind11;

namespace tav_oru::python {

namespace {

// Module attributes, alive as long as the process: the translation needs
// them after the module object itself may be gone.
struct Types {
    PyObject *camera_error = nullptr;
    PyObject *camera_exception = nullptr;
    PyObject *camera_value_error = nullptr;
    PyObject *controllable_exception = nullptr;
    PyObject *unknown_control_error = nullptr;
    PyObject *roi_exception = nullptr;
};
Types types;

// Flat codes that mean the camera refused a value it was given.
bool refuses_a_value(ORU_ERROR_CODE code)
{
    return code == ORU_ERROR_INVALID_SIZE || code == ORU_ERROR_INVALID_IMGTYPE ||
           code == ORU_ERROR_OUTOF_BOUNDARY;
}

py::handle base_exception()
{
    return PyExc_BaseException;
}

py::object make_type(py::module_ &m, const char *name, const py::tuple &bases, const char *doc)
{
    py::dict attributes;
    attributes["__module__"] = m.attr("__name__");
    attributes["__doc__"] = doc;
    py::object type = py::reinterpret_borrow<py::object>(
        reinterpret_cast<PyObject *>(&PyType_Type))(name, bases, attributes);
    m.attr(name) = type;
    return type;
}

// Adds an overload of type.__init__. The function is not named "__init__":
// pybind11 would take it for the constructor of one of its own classes.
template <typename Function, typename... Extra>
void def_init(const py::object &type, Function &&function, const Extra &...extra)
{
    py::cpp_function method(std::forward<Function>(function), py::name("init"), py::is_method(type),
                            py::sibling(type.attr("__dict__").attr("get")("__init__")), extra...);
    py::setattr(type, "__init__", method);
}

// What every error of the family carries.
void init_error(const py::object &self, const std::string &text, const py::object &code)
{
    base_exception().attr("__init__")(self, text);
    self.attr("code") = code;
    self.attr("code_name") =
        code.is_none()
            ? py::object(py::none())
            : py::object(py::str(error_code_name(static_cast<ORU_ERROR_CODE>(code.cast<int>()))));
}

void init_camera_exception(const py::object &self, const CameraException &error)
{
    init_error(self, error.what(), py::int_(static_cast<int>(error.code())));
    self.attr("camera_index") = error.camera_index();
}

// "no such controllable: Gian (did you mean 'Gain'? the camera's controls: ...)".
void init_unknown_control(const py::object &self, const std::string &name,
                          const std::vector<std::string> &valid_names)
{
    py::list names = py::cast(valid_names);
    py::list lowered;
    for (const std::string &valid : valid_names)
        lowered.append(py::str(valid).attr("lower")());
    const py::list close = py::module_::import("difflib").attr("get_close_matches")(
        py::str(name).attr("lower")(), lowered, 1, 0.5);
    py::object closest = py::none();
    if (!close.empty())
        closest = names[lowered.attr("index")(close[0]).cast<std::size_t>()];
    std::string text = ControllableException(name, true, false, false).what();
    text += " (";
    if (!closest.is_none())
        text += "did you mean " + py::repr(closest).cast<std::string>() + "? ";
    text += "the camera's controls: " + py::str(", ").attr("join")(names).cast<std::string>() + ")";
    init_error(self, text, py::none());
    self.attr("name") = name;
    self.attr("valid_names") = names;
    self.attr("closest") = closest;
}

// An instance of type without running its __init__, set up by init.
template <typename Init>
void raise_error(PyObject *type, const Init &init)
{
    py::object error = base_exception().attr("__new__")(py::handle(type));
    init(error);
    PyErr_SetObject(type, error.ptr());
}

void translate(std::exception_ptr pending)
{
    try {
        std::rethrow_exception(pending);
    } catch (const UnknownControllableException &error) {
        raise_error(types.unknown_control_error, [&error](const py::object &self) {
            init_unknown_control(self, error.name(), error.known_names());
        });
    } catch (const ControllableException &error) {
        raise_error(types.controllable_exception, [&error](const py::object &self) {
            init_error(self, error.what(), py::none());
            self.attr("name") = error.name();
        });
    } catch (const ROIException &error) {
        raise_error(types.roi_exception, [&error](const py::object &self) {
            init_error(self, error.what(), py::none());
        });
    } catch (const CameraException &error) {
        raise_error(refuses_a_value(error.code()) ? types.camera_value_error
                                                  : types.camera_exception,
                    [&error](const py::object &self) { init_camera_exception(self, error); });
    } catch (const py::builtin_exception &) {
        throw;
    } catch (const std::runtime_error &error) {
        raise_error(types.camera_error, [&error](const py::object &self) {
            init_error(self, error.what(), py::none());
        });
    }
}

} // namespace

void add_error_types(py::module_ &m)
{
    const py::object camera_error =
        make_type(m, "CameraError", py::make_tuple(py::handle(PyExc_RuntimeError)),
                  "Any error of the camera library. code is the flat error code and code_name "
                  "its name (\"ORU_ERROR_TIMEOUT\"), both None when the error has no code.");
    def_init(
        camera_error,
        [](const py::object &self, const std::string &message, const py::object &code) {
            init_error(self, message, code);
        },
        py::arg("message"), py::arg("code") = py::none());

    const py::object camera_exception =
        make_type(m, "CameraException", py::make_tuple(camera_error),
                  "A failed call of the flat API; camera_index is the camera's enumeration index.");
    def_init(
        camera_exception,
        [](const py::object &self, const std::string &message, int camera_index, int code,
           bool udev_issue) {
            init_camera_exception(self,
                                  CameraException(message, camera_index,
                                                  static_cast<ORU_ERROR_CODE>(code), udev_issue));
        },
        py::arg("message"), py::arg("camera_index"), py::arg("code"), py::arg("udev_issue"));

    const py::object camera_value_error = make_type(
        m, "CameraValueError", py::make_tuple(camera_exception, py::handle(PyExc_ValueError)),
        "The camera refused a value: a size, image type or start position it cannot take.");

    const py::object controllable_exception =
        make_type(m, "ControllableException", py::make_tuple(camera_error),
                  "A control that does not exist, cannot be changed, or got a value out of "
                  "range; name is the control's name.");
    const auto init_controllable = [](const py::object &self, const ControllableException &error) {
        init_error(self, error.what(), py::none());
        self.attr("name") = error.name();
    };
    // The flag form first: True and False are ints too.
    def_init(
        controllable_exception,
        [init_controllable](const py::object &self, const std::string &name,
                            bool no_such_controllable, bool not_writable, bool no_auto_mode) {
            init_controllable(self, ControllableException(name, no_such_controllable, not_writable,
                                                          no_auto_mode));
        },
        py::arg("name"), py::arg("no_such_controllable"), py::arg("not_writable"),
        py::arg("no_auto_mode"));
    def_init(
        controllable_exception,
        [init_controllable](const py::object &self, const std::string &name, long value, long min,
                            long max) {
            init_controllable(self, ControllableException(name, value, min, max));
        },
        py::arg("name"), py::arg("value"), py::arg("min"), py::arg("max"));

    const py::object unknown_control_error = make_type(
        m, "UnknownControlError",
        py::make_tuple(controllable_exception, py::handle(PyExc_KeyError)),
        "A control name the camera does not have; valid_names lists those it has, closest "
        "is the most similar of them (or None).");
    def_init(
        unknown_control_error,
        [](const py::object &self, const std::string &name,
           const std::vector<std::string> &valid_names) {
            init_unknown_control(self, name, valid_names);
        },
        py::arg("name"), py::arg("valid_names"));
    // KeyError would quote the whole text.
    unknown_control_error.attr("__str__") = base_exception().attr("__str__");

    const py::object roi_exception =
        make_type(m, "ROIException", py::make_tuple(camera_error, py::handle(PyExc_ValueError)),
                  "A region of interest that breaks the camera's rules.");

    types = {camera_error.inc_ref().ptr(),          camera_exception.inc_ref().ptr(),
             camera_value_error.inc_ref().ptr(),    controllable_exception.inc_ref().ptr(),
             unknown_control_error.inc_ref().ptr(), roi_exception.inc_ref().ptr()};
    py::register_exception_translator(translate);
}

} // namespace tav_oru::python
