#include "Errors.h"

#include <pybind11/eval.h>

#include <cerrno>
#include <cstring>

namespace py = pybind11;

namespace sentova::python {

namespace {

// Created once at import and kept for the life of the process, as the module is.
PyObject* g_deviceError = nullptr;
PyObject* g_deviceTimeout = nullptr;
PyObject* g_formatError = nullptr;

// Python classes: the attributes are set by their constructors, which pybind11's own exception
// registration does not offer.
const char* const kDefinitions = R"(
class DeviceError(Exception):
    """A device operation failed: code is the library's result code, operation its name."""

    def __init__(self, message, code, operation=None):
        super().__init__(message)
        self.code = code
        self.operation = operation


class DeviceTimeout(DeviceError):
    """No reply came from the device within the time-out (code 254)."""


class FormatError(Exception):
    """A file could not be read: damaged, or not in the format it claims."""

    def __init__(self, message, filename):
        super().__init__(message)
        self.filename = filename
)";

[[noreturn]] void raise(PyObject* type, const py::tuple& arguments) {
    py::object error = py::reinterpret_borrow<py::object>(type)(*arguments);
    PyErr_SetObject(type, error.ptr());
    throw py::error_already_set();
}

} // namespace

void addErrors(py::module_& module) {
    py::dict scope;
    scope["__builtins__"] = py::module_::import("builtins");
    scope["__name__"] = module.attr("__name__");
    py::exec(kDefinitions, scope);
    for (const char* name : {"DeviceError", "DeviceTimeout", "FormatError"}) {
        module.attr(name) = scope[name];
    }
    g_deviceError = scope["DeviceError"].ptr();
    g_deviceTimeout = scope["DeviceTimeout"].ptr();
    g_formatError = scope["FormatError"].ptr();
    Py_INCREF(g_deviceError);
    Py_INCREF(g_deviceTimeout);
    Py_INCREF(g_formatError);
}

void check(tavrel::tavrel_error_t result, const char* operation) {
    if (result != tavrel::NoError) {
        raiseDeviceError(result, operation);
    }
}

void raiseDeviceError(tavrel::tavrel_error_t result, const std::string& operation) {
    PyObject* type = result == tavrel::Timeout ? g_deviceTimeout : g_deviceError;
    raise(type,
          py::make_tuple(tavrel::FormatErrorString(result), static_cast<int>(result), operation));
}

void raiseFormatError(const std::string& path, const std::string& why) {
    raise(g_formatError, py::make_tuple(path + ": " + why, path));
}

void raiseFileNotFound(const std::string& path) {
    py::object error = py::reinterpret_borrow<py::object>(PyExc_FileNotFoundError)(
        ENOENT, std::strerror(ENOENT), path);
    PyErr_SetObject(PyExc_FileNotFoundError, error.ptr());
    throw py::error_already_set();
}

} // namespace sentova::python
