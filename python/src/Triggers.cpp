#include "Triggers.h"

#include "Errors.h"
#include "Waiting.h"

#include "Sentova/SentovaError.h"

#include <pybind11/stl.h>

#include <string>

namespace py = pybind11;
using tavrel::Sentova;
using tavrel::tavrel_error_t;

namespace sentova::python {

TriggerQueue& TriggerQueue::instance() {
    static TriggerQueue* const queue = new TriggerQueue;
    return *queue;
}

void TriggerQueue::HighPerfTriggerCallback(unsigned int index, unsigned int tStamp, double azimuth,
                                           double elevation, unsigned int exp) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_records.size() >= kCapacity) {
            ++m_dropped;
            return;
        }
        m_records.push_back({index, tStamp, azimuth, elevation, exp});
    }
    m_arrived.notify_one();
}

std::optional<TriggerRecord> TriggerQueue::take(std::chrono::milliseconds slice) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_arrived.wait_for(lock, slice, [this] { return !m_records.empty(); })) {
        return std::nullopt;
    }
    const TriggerRecord record = m_records.front();
    m_records.pop_front();
    return record;
}

std::uint64_t TriggerQueue::dropped() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dropped;
}

namespace {

// A trigger operation sends nothing until the controller has a trigger callback: the queue is
// registered first (a controller keeps its first registration, so a repeat is no failure).
template <class Operation>
void runTriggerOperation(const DeviceHandle& self, const char* name, Operation operation) {
    std::shared_ptr<Sentova> device = self.get();
    check(runInterruptibly<tavrel_error_t>([device, operation] {
              const tavrel_error_t registered =
                  device->RegisterHighPerfTriggerCallback(&TriggerQueue::instance());
              if (registered != tavrel::NoError && registered != tavrel::DriverBusy) {
                  return registered;
              }
              return operation(*device);
          }),
          name);
}

} // namespace

void addTriggerRecord(py::module_& m) {
    py::class_<TriggerRecord>(m, "TriggerRecord",
                              "A trigger record: the device's index and time stamp (exact "
                              "integers), the aperture's angles in degrees and the Exp value.")
        .def_readonly("index", &TriggerRecord::index)
        .def_readonly("timestamp", &TriggerRecord::timestamp)
        .def_readonly("azimuth", &TriggerRecord::azimuth)
        .def_readonly("elevation", &TriggerRecord::elevation)
        .def_readonly("exp", &TriggerRecord::exp)
        .def("__repr__", [](const TriggerRecord& r) {
            return "TriggerRecord(index=" + std::to_string(r.index) +
                   ", timestamp=" + std::to_string(r.timestamp) +
                   ", azimuth=" + std::to_string(r.azimuth) +
                   ", elevation=" + std::to_string(r.elevation) + ", exp=" + std::to_string(r.exp) +
                   ")";
        });
}

void addTriggerOperations(py::class_<DeviceHandle, std::shared_ptr<DeviceHandle>>& device) {
    device
        .def(
            "move_to_with_trigger",
            [](const DeviceHandle& s, double azimuth, double elevation, double speed,
               unsigned int p, unsigned int q) {
                runTriggerOperation(s, "SetApertureAnglesWithTrigger", [=](Sentova& d) {
                    return d.SetApertureAnglesWithTrigger(azimuth, elevation, speed, p, q);
                });
            },
            py::arg("azimuth"), py::arg("elevation"), py::arg("speed"), py::arg("p"), py::arg("q"),
            "Moves the aperture; the device reports trigger records on the way.")
        .def(
            "test_trigger",
            [](const DeviceHandle& s, unsigned int p, unsigned int q) {
                runTriggerOperation(s, "TestHighPerformanceTrigger",
                                    [=](Sentova& d) { return d.TestHighPerformanceTrigger(p, q); });
            },
            py::arg("p"), py::arg("q"), "Asks the device for test trigger records.")
        .def(
            "next_trigger",
            [](const DeviceHandle&, std::optional<double> timeout) -> std::optional<TriggerRecord> {
                std::optional<TriggerRecord> record;
                waitInSlices(
                    [&](std::chrono::milliseconds slice) {
                        record = TriggerQueue::instance().take(slice);
                        return record.has_value();
                    },
                    timeout);
                return record;
            },
            py::arg("timeout") = py::none(),
            "The oldest trigger record not yet taken (of any device in this process), waiting "
            "up to timeout seconds (none: without limit); None when none came.")
        .def_property_readonly(
            "triggers_dropped",
            [](const DeviceHandle&) { return TriggerQueue::instance().dropped(); },
            "Trigger records dropped because the queue was full (of any device in this process).");
}

} // namespace sentova::python
