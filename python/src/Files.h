// sentova.read, sentova.write (whole files and chunk by chunk) and sentova.formats.
#pragma once

#include <pybind11/pybind11.h>

namespace sentova::python {

void addFiles(pybind11::module_& module);

} // namespace sentova::python
