// Trigger records from Python: the device's trigger operations and a bounded queue that the
// records wait in until Python takes them.
#pragma once

#include "Device.h"

#include "Sentova/SentovaCallbacks.h"

#include <pybind11/pybind11.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace sentova::python {

struct TriggerRecord {
    unsigned int index = 0;
    unsigned int timestamp = 0;
    double azimuth = 0.0;
    double elevation = 0.0;
    unsigned int exp = 0;
};

// The library hands every controller's records to the first callback registered in the
// process, so one queue serves every device. Records beyond its capacity are dropped and
// counted rather than held without bound.
class TriggerQueue : public tavrel::SentovaHighPerfTriggerCallbackClass {
public:
    static constexpr std::size_t kCapacity = 4096;

    // Lives as long as the process: controllers keep the pointer until they are destroyed,
    // which for a device held by a detached operation may be after the module is gone.
    static TriggerQueue& instance();

    void HighPerfTriggerCallback(unsigned int index, unsigned int tStamp, double azimuth,
                                 double elevation, unsigned int exp) override;

    // The oldest record, once one is there within the slice.
    std::optional<TriggerRecord> take(std::chrono::milliseconds slice);
    std::uint64_t dropped();

private:
    TriggerQueue() = default;

    std::mutex m_mutex; // guards the three below
    std::condition_variable m_arrived;
    std::deque<TriggerRecord> m_records;
    std::uint64_t m_dropped = 0;
};

// Device.move_to_with_trigger, test_trigger, next_trigger and triggers_dropped.
void addTriggerOperations(pybind11::class_<DeviceHandle, std::shared_ptr<DeviceHandle>>& device);
void addTriggerRecord(pybind11::module_& module);

} // namespace sentova::python
