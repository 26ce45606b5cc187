// The module's exceptions and the translation of the library's results into them.
#pragma once

#include "Sentova/SentovaError.h"

#include <pybind11/pybind11.h>

#include <string>

namespace sentova::python {

// DeviceError, DeviceTimeout and FormatError, added to the module.
void addErrors(pybind11::module_& module);

// Raises DeviceError (DeviceTimeout for a time-out) with the library's text for the code, unless
// the operation succeeded.
void check(tavrel::tavrel_error_t result, const char* operation);
[[noreturn]] void raiseDeviceError(tavrel::tavrel_error_t result, const std::string& operation);

// FormatError for a file that could not be read: the message names the file.
[[noreturn]] void raiseFormatError(const std::string& path, const std::string& why);
// FileNotFoundError, as open() raises it.
[[noreturn]] void raiseFileNotFound(const std::string& path);

} // namespace sentova::python
