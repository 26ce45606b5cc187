// sentova.Recording: a recording's scan frames, read from the file as they are asked for.
#pragma once

#include <pybind11/pybind11.h>

namespace sentova::python {

void addRecording(pybind11::module_& module);

} // namespace sentova::python
