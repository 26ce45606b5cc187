#include "Device.h"

#include "Errors.h"
#include "Triggers.h"
#include "Waiting.h"

#include "Sentova/DeviceAddress.h"

#include <pybind11/stl.h>

#include <string>
#include <tuple>

namespace py = pybind11;
using tavrel::Sentova;
using tavrel::tavrel_error_t;

namespace sentova::python {

std::shared_ptr<Sentova> DeviceHandle::get() const {
    if (!device) {
        throw py::value_error("the device is closed");
    }
    return device;
}

namespace {

using Handle = std::shared_ptr<DeviceHandle>;

// An operation without results: raises on failure.
template <class Operation> void run(const Handle& self, const char* name, Operation operation) {
    std::shared_ptr<Sentova> device = self->get();
    check(runInterruptibly<tavrel_error_t>([device, operation] { return operation(*device); }),
          name);
}

// An operation that writes out-parameters: they live in the worker's function object, which
// outlives an interrupted wait.
template <class Values, class Operation>
Values query(const Handle& self, const char* name, Operation operation) {
    std::shared_ptr<Sentova> device = self->get();
    const auto [result, values] =
        runInterruptibly<std::pair<tavrel_error_t, Values>>([device, operation] {
            Values values{};
            const tavrel_error_t result = operation(*device, values);
            return std::make_pair(result, values);
        });
    check(result, name);
    return values;
}

using Pair = std::tuple<double, double>;
using Triple = std::tuple<double, double, double>;

} // namespace

void addDevice(py::module_& m) {
    addTriggerRecord(m);
    py::class_<DeviceHandle, Handle> device(m, "Device", R"(A connected device.

Every operation blocks until the device replies (or its time-out, raising DeviceTimeout) and
raises DeviceError with the library's result code when the device refuses it.)");
    device
        .def(py::init([](const std::string& address) {
                 tavrel::ParseIPv4Address(address); // ValueError with the library's text
                 auto handle = std::make_shared<DeviceHandle>();
                 py::gil_scoped_release released;
                 handle->device = std::make_shared<Sentova>(address);
                 return handle;
             }),
             py::arg("address"))
        .def("close", [](DeviceHandle& self) { self.device.reset(); })
        .def("__enter__", [](const Handle& self) { return self; })
        .def("__exit__", [](DeviceHandle& self, py::args) { self.device.reset(); })
        .def_property_readonly("closed", [](const DeviceHandle& self) { return !self.device; })

        .def("home", [](const Handle& s) { run(s, "Home", [](Sentova& d) { return d.Home(); }); })
        .def("stop", [](const Handle& s) { run(s, "Stop", [](Sentova& d) { return d.Stop(); }); })
        .def("serial",
             [](const Handle& s) {
                 return query<std::string>(
                     s, "GetSerial", [](Sentova& d, std::string& v) { return d.GetSerial(v); });
             })
        .def("state",
             [](const Handle& s) {
                 return query<std::string>(
                     s, "GetState", [](Sentova& d, std::string& v) { return d.GetState(v); });
             })
        .def("verify_lib_version",
             [](const Handle& s) {
                 run(s, "VerifyLibVersion", [](Sentova& d) { return d.VerifyLibVersion(); });
             })
        .def(
            "aperture_angles",
            [](const Handle& s) {
                return query<Pair>(s, "GetApertureAngles", [](Sentova& d, Pair& v) {
                    return d.GetApertureAngles(std::get<0>(v), std::get<1>(v));
                });
            },
            "(azimuth, elevation) in degrees")
        .def(
            "move_to",
            [](const Handle& s, double azimuth, double elevation, double speed) {
                run(s, "SetApertureAngles",
                    [=](Sentova& d) { return d.SetApertureAngles(azimuth, elevation, speed); });
            },
            py::arg("azimuth"), py::arg("elevation"), py::arg("speed"))
        .def(
            "track_to",
            [](const Handle& s, double azimuth, double elevation, double speed) {
                run(s, "TrackApertureAngles",
                    [=](Sentova& d) { return d.TrackApertureAngles(azimuth, elevation, speed); });
            },
            py::arg("azimuth"), py::arg("elevation"), py::arg("speed"))
        .def(
            "start_full_field_scan",
            [](const Handle& s, double speed, double lines) {
                run(s, "StartFullFieldScan",
                    [=](Sentova& d) { return d.StartFullFieldScan(speed, lines); });
            },
            py::arg("speed"), py::arg("lines"))
        .def(
            "start_bounded_elevation_scan",
            [](const Handle& s, double speed, double elevationMin, double elevationMax,
               double lines) {
                run(s, "StartBoundedElevationScan", [=](Sentova& d) {
                    return d.StartBoundedElevationScan(speed, elevationMin, elevationMax, lines);
                });
            },
            py::arg("speed"), py::arg("elevation_min"), py::arg("elevation_max"), py::arg("lines"))
        .def(
            "start_region_scan",
            [](const Handle& s, double speed, double azimuthMin, double azimuthMax,
               double elevationMin, double elevationMax, double lines) {
                run(s, "StartRegionScan", [=](Sentova& d) {
                    return d.StartRegionScan(speed, azimuthMin, azimuthMax, elevationMin,
                                             elevationMax, lines);
                });
            },
            py::arg("speed"), py::arg("azimuth_min"), py::arg("azimuth_max"),
            py::arg("elevation_min"), py::arg("elevation_max"), py::arg("lines"))
        .def(
            "start_laser",
            [](const Handle& s, unsigned short a, unsigned short b, bool flag, unsigned short d) {
                run(s, "StartLaser", [=](Sentova& dev) { return dev.StartLaser(a, b, flag, d); });
            },
            py::arg("a"), py::arg("b"), py::arg("flag"), py::arg("d"))
        .def("stop_laser",
             [](const Handle& s) { run(s, "StopLaser", [](Sentova& d) { return d.StopLaser(); }); })
        .def(
            "set_acceleration",
            [](const Handle& s, double acceleration) {
                run(s, "SetAcceleration",
                    [=](Sentova& d) { return d.SetAcceleration(acceleration); });
            },
            py::arg("acceleration"))
        .def(
            "set_ip_settings",
            [](const Handle& s, const std::string& settings, const std::string& address) {
                tavrel::ParseIPv4Address(address);
                run(s, "SetIPSettings",
                    [=](Sentova& d) { return d.SetIPSettings(settings, address); });
            },
            py::arg("settings"), py::arg("address"))
        .def(
            "set_laser_gain",
            [](const Handle& s, int gain) {
                run(s, "SetLaserGain", [=](Sentova& d) { return d.SetLaserGain(gain); });
            },
            py::arg("gain"))
        .def(
            "set_motors",
            [](const Handle& s, bool on) {
                run(s, "SetMotors", [=](Sentova& d) { return d.SetMotors(on); });
            },
            py::arg("on"))
        .def("start_stabilisation",
             [](const Handle& s) {
                 run(s, "StartStabilisation", [](Sentova& d) { return d.StartStabilisation(); });
             })
        .def("stop_stabilisation",
             [](const Handle& s) {
                 run(s, "StopStabilisation", [](Sentova& d) { return d.StopStabilisation(); });
             })
        .def(
            "set_stabilised_target",
            [](const Handle& s, double t1, double t2, double t3) {
                run(s, "SetStabilisedTarget",
                    [=](Sentova& d) { return d.SetStabilisedTarget(t1, t2, t3); });
            },
            py::arg("t1"), py::arg("t2"), py::arg("t3"))
        .def("stabilised_target",
             [](const Handle& s) {
                 return query<Triple>(s, "GetStabilisedTarget", [](Sentova& d, Triple& v) {
                     return d.GetStabilisedTarget(std::get<0>(v), std::get<1>(v), std::get<2>(v));
                 });
             })
        .def("stabilised_target_distance",
             [](const Handle& s) {
                 return query<double>(s, "GetStabilisedTargetDistance", [](Sentova& d, double& v) {
                     return d.GetStabilisedTargetDistance(v);
                 });
             })
        .def("stabilised_roll",
             [](const Handle& s) {
                 return query<double>(s, "GetStabilisedRoll",
                                      [](Sentova& d, double& v) { return d.GetStabilisedRoll(v); });
             })
        .def(
            "set_stabilised_speed",
            [](const Handle& s, double speed) {
                run(s, "SetStabilisedSpeed",
                    [=](Sentova& d) { return d.SetStabilisedSpeed(speed); });
            },
            py::arg("speed"))
        .def_property(
            "response_timeout", [](const DeviceHandle& s) { return s.get()->GetResponseTimeout(); },
            [](const DeviceHandle& s, unsigned ms) { s.get()->SetResponseTimeout(ms); },
            "milliseconds; 0 waits without limit")
        .def_property(
            "motion_timeout", [](const DeviceHandle& s) { return s.get()->GetMotionTimeout(); },
            [](const DeviceHandle& s, unsigned ms) { s.get()->SetMotionTimeout(ms); },
            "milliseconds; 0 waits without limit")
        .def_property_readonly(
            "refused_sender_count",
            [](const DeviceHandle& s) { return s.get()->GetRefusedSenderCount(); })
        .def_static(
            "error_string",
            [](int code) { return Sentova::GetErrorString(static_cast<tavrel_error_t>(code)); },
            py::arg("code"));
    addTriggerOperations(device);
}

} // namespace sentova::python
