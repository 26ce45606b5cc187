// sentova.Listener and sentova.Session.
#pragma once

#include <pybind11/pybind11.h>

namespace sentova::python {

void addStreams(pybind11::module_& module);

} // namespace sentova::python
