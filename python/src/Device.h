// sentova.Device: the device facade's operations under Python names.
#pragma once

#include "Sentova/Sentova.h"

#include <pybind11/pybind11.h>

#include <memory>

namespace sentova::python {

// A facade of its own, or a session's (then the pointer shares the session's ownership).
// Operations run on threads of their own that hold the pointer, so that one interrupted by
// Ctrl-C may end by itself after the Python object is gone.
struct DeviceHandle {
    std::shared_ptr<tavrel::Sentova> device;

    // Raises ValueError once closed.
    std::shared_ptr<tavrel::Sentova> get() const;
};

void addDevice(pybind11::module_& module);

} // namespace sentova::python
