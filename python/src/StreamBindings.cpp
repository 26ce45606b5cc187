// sentova.Listener and sentova.Session: the laser stream, on its own or with the device session
// that starts it, read as batches and frames of points.
#include "StreamBindings.h"

#include "Device.h"
#include "Errors.h"
#include "Stream.h"
#include "Waiting.h"

#include "DeviceSession.h"
#include "Sentova/DeviceAddress.h"
#include "Sentova/DeviceModel.h"
#include "Sentova/Protocol.h"
#include "Sentova/ScanFrames.h"
#include "Sentova/SentovaEventManager.h"

#include <boost/system/system_error.hpp>
#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

namespace py = pybind11;
using sentova::session::DeviceSession;
using tavrel::tavrel_error_t;

namespace sentova::python {

namespace {

// What the iterators read from: a listener of its own or a session's.
class StreamOwner {
public:
    explicit StreamOwner(std::size_t queuePoints) : reader(queuePoints) {}
    virtual ~StreamOwner() = default;
    virtual bool listening() const = 0;
    StreamReader reader;
};

[[noreturn]] void raiseCannotListen(unsigned short port) {
    PyErr_SetString(PyExc_OSError,
                    ("cannot listen for laser data on UDP port " + std::to_string(port)).c_str());
    throw py::error_already_set();
}

py::dict statisticsDict(const StreamOwner& owner) {
    const tavrel::stream_statistics_t s = owner.reader.statistics();
    py::dict d;
    d["datagrams"] = s.datagrams;
    d["points"] = s.points;
    d["bytes"] = s.bytes;
    d["refused_sender"] = s.refusedSender;
    d["refused_header"] = s.refusedHeader;
    d["kernel_drops"] = s.kernelDrops;
    d["queue_drops"] = s.queueDrops;
    d["reader_batches_dropped"] = owner.reader.queue().droppedBatches();
    d["queue_points_dropped"] = owner.reader.queue().droppedPoints();
    d["frame_points_dropped"] = owner.reader.droppedFramePoints();
    d["events_dropped"] = owner.reader.queue().droppedEvents();
    d["points_missing"] = s.pointsMissing;
    d["last_datagram_micros"] = s.lastDatagramMicros;
    return d;
}

py::object batchArray(std::optional<Batch> batch) {
    if (!batch) {
        return py::none();
    }
    Points points;
    points.reserve(batch->observations.size());
    for (const tavrel::tavrel_rbe_obs_t& o : batch->observations) {
        points.push_back(fromObservation(o));
    }
    return toArray(std::move(points));
}

py::object frameArray(std::optional<Frame> frame) {
    return frame ? py::object(toArray(std::move(frame->points))) : py::object(py::none());
}

// Waits slice by slice for what take gives, up to the timeout (none: no limit), and gives up
// once the stream is closed and nothing is left, so that closing it from another thread ends
// the wait.
template <class Take>
py::object untilClosed(const StreamOwner& owner, std::optional<double> timeout, Take take) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const double slice = std::chrono::duration<double>(kWaitSlice).count();
    for (;;) {
        double wait = slice;
        if (timeout) {
            const double left =
                *timeout - std::chrono::duration<double>(Clock::now() - start).count();
            wait = std::max(0.0, std::min(slice, left));
        }
        py::object got = take(wait);
        if (!got.is_none()) {
            return got;
        }
        if (!owner.listening() || (timeout && wait < slice)) {
            return py::none();
        }
    }
}

py::object nextBatch(StreamOwner& owner, std::optional<double> timeout) {
    return untilClosed(owner, timeout,
                       [&](double wait) { return batchArray(owner.reader.nextBatch(wait)); });
}

py::object nextFrame(StreamOwner& owner, std::optional<double> timeout, bool wholeOnly) {
    return untilClosed(owner, timeout, [&](double wait) {
        return frameArray(owner.reader.nextFrame(wait, wholeOnly));
    });
}

// Iterate until the stream is closed.
struct BatchIterator {
    std::shared_ptr<StreamOwner> owner;
    py::object next() {
        py::object batch = nextBatch(*owner, std::nullopt);
        if (batch.is_none()) {
            throw py::stop_iteration();
        }
        return batch;
    }
};

struct FrameIterator {
    std::shared_ptr<StreamOwner> owner;
    bool wholeOnly = true;
    py::object next() {
        py::object frame = nextFrame(*owner, std::nullopt, wholeOnly);
        if (frame.is_none()) {
            throw py::stop_iteration();
        }
        return frame;
    }
};

// The reading methods that Listener and Session share.
template <class Class> void addReading(Class& c) {
    using Owner = typename Class::type;
    c.def(
         "next_batch",
         [](Owner& self, std::optional<double> timeout) { return nextBatch(self, timeout); },
         py::arg("timeout") = py::none(),
         "The next batch of points; None after timeout seconds, or once closed and read")
        .def(
            "next_frame",
            [](Owner& self, std::optional<double> timeout, bool wholeOnly) {
                return nextFrame(self, timeout, wholeOnly);
            },
            py::arg("timeout") = py::none(), py::arg("whole_only") = true,
            "The points of the next scan frame; None after timeout seconds, or once closed")
        .def("batches", [](const std::shared_ptr<Owner>& self) { return BatchIterator{self}; })
        .def(
            "frames",
            [](const std::shared_ptr<Owner>& self, bool wholeOnly) {
                return FrameIterator{self, wholeOnly};
            },
            py::arg("whole_only") = true)
        .def_property_readonly("statistics", [](const Owner& self) { return statisticsDict(self); })
        .def_property_readonly("listening", &Owner::listening)
        .def_property_readonly("port", [](const Owner& self) { return self.port; });
}

class ListenerHandle : public StreamOwner {
public:
    ListenerHandle(const std::string& address, unsigned short p, std::size_t queuePoints)
        : StreamOwner(queuePoints), port(p) {
        reader.countDropsOf(&m_grabber);
        // The listener takes IPv6 as well; an IPv4-looking text gets the library's own words.
        if (address.find(':') == std::string::npos) {
            tavrel::ParseIPv4Address(address);
        }
        bool started = false;
        try {
            py::gil_scoped_release released;
            started = m_grabber.StartListening(address, port, &reader.queue());
        } catch (const boost::system::system_error& e) {
            throw py::value_error("'" + address + "' is not an IP address (" + e.what() + ")");
        }
        if (!started) {
            raiseCannotListen(port);
        }
        m_listening = true;
    }
    ~ListenerHandle() override { close(); }

    void close() {
        const GilReleased released;
        m_grabber.StopListening();
        m_listening = false;
    }
    bool listening() const override { return m_listening; }

    const unsigned short port;

private:
    // Listens into the reader's queue, which the base class holds: destroyed after it.
    tavrel::SentovaGrabber m_grabber;
    std::atomic<bool> m_listening{false};
};

// The device's notifications of a frame's start and end, queued among the laser data so that
// frames are cut where the device says they begin and end.
class FrameNotifications : public tavrel::SentovaEventCallbackClass {
public:
    explicit FrameNotifications(BatchQueue& queue) : m_queue(queue) {}
    void EventCallback(unsigned int kind, unsigned int event, char*) override {
        if (kind == 0) { // the event occurred (the other kinds answer its configuration)
            m_queue.pushEvent(event);
        }
    }

private:
    BatchQueue& m_queue;
};

class SessionHandle : public StreamOwner {
public:
    SessionHandle(const std::string& address, std::optional<LIDAR_TYPE> m, unsigned short p,
                  std::size_t queuePoints)
        : StreamOwner(queuePoints), port(p), model(m),
          session(std::make_unique<DeviceSession>(address)), m_notifications(reader.queue()) {
        reader.countDropsOf(&session->prepareListener());
        for (unsigned event : {tavrel::kFrameStartEvent, tavrel::kFrameEndEvent}) {
            session->eventManager()->RegisterEventCallback(event, &m_notifications);
        }
    }
    // The last owner may be a worker thread, without the GIL.
    ~SessionHandle() override {
        const GilReleased released;
        for (unsigned event : {tavrel::kFrameStartEvent, tavrel::kFrameEndEvent}) {
            session->eventManager()->DeregisterEventCallback(event, &m_notifications);
        }
        session->stopListening();
    }
    bool listening() const override { return m_listening; }

    bool listen(unsigned short on) {
        m_listening = session->listen(on, &reader.queue());
        return m_listening;
    }
    void stopListening() {
        session->stopListening();
        m_listening = false;
    }

    const unsigned short port;
    std::optional<LIDAR_TYPE> model; // found from the serial number when first needed
    tavrel::LaserSettings settings;
    bool closed = false;
    // Device calls run on worker threads that hold this object: it is never destroyed under
    // them.
    const std::unique_ptr<DeviceSession> session;

private:
    std::atomic<bool> m_listening{false};
    FrameNotifications m_notifications;
};

using Session = std::shared_ptr<SessionHandle>;

// The laser settings for the session's model, asking the device for its serial number first
// when the model was not given.
tavrel::LaserSettings settingsFor(const Session& s) {
    if (!s->model) {
        const auto [result, serial] = runInterruptibly<std::pair<tavrel_error_t, std::string>>([s] {
            std::string serial;
            const tavrel_error_t result = s->session->device()->GetSerial(serial);
            return std::make_pair(result, serial);
        });
        check(result, "GetSerial");
        s->model = tavrel::ModelFromSerial(serial);
    }
    tavrel::LaserSettings settings = s->settings;
    settings.model = *s->model;
    return settings;
}

std::optional<LIDAR_TYPE> modelFromName(const std::optional<std::string>& name) {
    if (!name) {
        return std::nullopt;
    }
    const std::optional<LIDAR_TYPE> model = tavrel::ModelFromName(*name);
    if (!model) {
        throw py::value_error("unknown model '" + *name + "' (models: lx30, lx20, generic)");
    }
    return model;
}

// Every stop is tried; the first that failed is raised.
void closeSession(const Session& s) {
    if (s->closed) {
        return;
    }
    s->closed = true;
    const auto stops = runInterruptibly<std::vector<DeviceSession::Stop>>([s] {
        auto stops = s->session->stopWhatWasStarted();
        s->stopListening();
        return stops;
    });
    for (const DeviceSession::Stop& stop : stops) {
        check(stop.result, stop.what.c_str());
    }
}

} // namespace

void addStreams(py::module_& m) {
    py::class_<BatchIterator>(m, "_BatchIterator")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &BatchIterator::next);
    py::class_<FrameIterator>(m, "_FrameIterator")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &FrameIterator::next);

    py::class_<ListenerHandle, std::shared_ptr<ListenerHandle>> listener(
        m, "Listener", "The laser stream from a device, received on a local UDP port.");
    listener
        .def(py::init([](const std::string& address, std::optional<int> port,
                         std::size_t queuePoints) {
                 return std::make_shared<ListenerHandle>(
                     address,
                     static_cast<unsigned short>(port.value_or(tavrel::protocol::kDefaultDataPort)),
                     queuePoints);
             }),
             py::arg("device_address"), py::arg("port") = py::none(),
             py::arg("queue_points") = BatchQueue::kDefaultPointLimit)
        .def("close", &ListenerHandle::close)
        .def("__enter__", [](const std::shared_ptr<ListenerHandle>& self) { return self; })
        .def("__exit__", [](ListenerHandle& self, py::args) { self.close(); })
        .def("__iter__",
             [](const std::shared_ptr<ListenerHandle>& self) { return BatchIterator{self}; });
    addReading(listener);

    py::class_<SessionHandle, Session> session(
        m, "Session",
        "A session with one device: its facade, its laser stream and what this session started.");
    session
        .def(py::init([](const std::string& address, std::optional<std::string> model,
                         std::optional<int> port, std::size_t queuePoints) {
                 const std::optional<LIDAR_TYPE> known = modelFromName(model);
                 py::gil_scoped_release released;
                 return std::make_shared<SessionHandle>(
                     address, known,
                     static_cast<unsigned short>(port.value_or(tavrel::protocol::kDefaultDataPort)),
                     queuePoints);
             }),
             py::arg("address"), py::arg("model") = py::none(), py::arg("port") = py::none(),
             py::arg("queue_points") = BatchQueue::kDefaultPointLimit)
        .def_property_readonly("device",
                               [](const Session& s) {
                                   auto handle = std::make_shared<DeviceHandle>();
                                   handle->device =
                                       std::shared_ptr<tavrel::Sentova>(s, s->session->device());
                                   return handle;
                               })
        .def_property_readonly("model",
                               [](const Session& s) -> std::optional<std::string> {
                                   if (!s->model) {
                                       return std::nullopt;
                                   }
                                   return std::string(tavrel::ModelName(*s->model));
                               })
        .def(
            "configure_laser",
            [](const Session& s, int measurement, int target, int sampleRate, int average, int gain,
               bool highSpeed) {
                s->settings.measurement = measurement;
                s->settings.target = target;
                s->settings.sampleRate = sampleRate;
                s->settings.average = average;
                s->settings.gain = gain;
                s->settings.highSpeed = highSpeed;
            },
            py::arg("measurement") = 0, py::arg("target") = 0,
            py::arg("sample_rate") = tavrel::kLX20MaximumRate, py::arg("average") = 1,
            py::arg("gain") = 0, py::arg("high_speed") = false,
            "The laser settings the stream starts with (LX30: measurement, target; LX20: "
            "sample_rate, average, gain, high_speed)")
        .def("start_stream",
             [](const Session& s) {
                 const tavrel::LaserSettings settings = settingsFor(s);
                 {
                     py::gil_scoped_release released;
                     if (!s->listen(s->port)) {
                         py::gil_scoped_acquire held;
                         raiseCannotListen(s->port);
                     }
                 }
                 check(runInterruptibly<tavrel_error_t>(
                           [s, settings] { return s->session->startStream(settings, s->port); }),
                       "StartLaser");
             })
        .def("stop_stream",
             [](const Session& s) {
                 check(runInterruptibly<tavrel_error_t>([s] { return s->session->stopStream(); }),
                       "StopLaser");
             })
        .def("arm_frame_capture",
             [](const Session& s) {
                 const tavrel::LaserSettings settings = settingsFor(s);
                 const auto outcome = runInterruptibly<DeviceSession::Outcome>([s, settings] {
                     DeviceSession::FrameCaptureHooks hooks;
                     hooks.afterReset = [s](unsigned short& port) { return s->listen(port); };
                     return s->session->armFrameCapture(settings, s->port, hooks);
                 });
                 if (outcome.result != tavrel::NoError) {
                     raiseDeviceError(outcome.result, outcome.step);
                 }
                 if (!outcome.completed()) {
                     raiseCannotListen(s->port);
                 }
             })
        .def("close", &closeSession, "Stops what the session started, then the listening")
        .def("__enter__", [](const Session& s) { return s; })
        .def("__exit__", [](const Session& s, py::object type, py::object, py::object) {
            try {
                closeSession(s);
            } catch (py::error_already_set&) {
                if (type.is_none()) {
                    throw;
                }
                // The exception that ended the block is the one to see.
            }
        });
    addReading(session);
}

} // namespace sentova::python
