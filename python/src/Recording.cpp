#include "Recording.h"

#include "Errors.h"
#include "Points.h"
#include "RecordingPass.h"
#include "Stream.h"
#include "Waiting.h"

#include "SentovaPcap/FrameCollector.h"

#include <pybind11/stl.h>

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace py = pybind11;

namespace sentova::python {

namespace {

// Frames read ahead of the interpreter during an iteration: enough that the reading runs while
// Python works on a frame, few enough that they cost no more than the open frames.
constexpr std::size_t kFramesAhead = 2;

// What is known of a recording. Touched only with the GIL held.
struct RecordingData {
    std::string path;
    std::size_t framePoints = 0; // the open frames' bound while iterating
    std::string device;
    // Once a pass has gone through the file; set once, never changed after.
    std::optional<FrameIndex> index;
    std::string problems;
};

using Recording = std::shared_ptr<RecordingData>;

// Keeps what the first whole pass found; raises when the file could not be read.
void finishPass(RecordingData& r, PassResult&& pass) {
    if (!pass.ok) {
        raiseFormatError(r.path, pass.error);
    }
    if (r.index) {
        return;
    }
    r.index = std::move(pass.index);
    r.problems = pass.problems;
    if (!r.problems.empty()) {
        PyErr_WarnEx(PyExc_RuntimeWarning, (r.path + ": " + r.problems).c_str(), 1);
    }
}

// Reads the file until its laser source is known: a file that is no capture, or holds no laser
// data, is refused at once, and one that is gets no further pass until asked.
Recording openRecording(const std::string& path, long long framePoints) {
    if (framePoints < 1) {
        throw py::value_error("frame_points must be 1 or more, not " + std::to_string(framePoints));
    }
    std::error_code ignored;
    if (!std::filesystem::exists(path, ignored)) {
        raiseFileNotFound(path);
    }
    const PassResult probe = runCancellably<PassResult>([path](const std::atomic<bool>& cancelled) {
        PassSinks sinks;
        sinks.source = [](std::uint32_t address) { return address == 0; };
        return readRecordingPass(path, sinks, [&cancelled] { return cancelled.load(); });
    });
    if (!probe.ok && !probe.stopped) {
        raiseFormatError(path, probe.error);
    }
    auto r = std::make_shared<RecordingData>();
    r->path = path;
    r->framePoints = static_cast<std::size_t>(framePoints);
    r->device = probe.device;
    return r;
}

const FrameIndex& indexOf(RecordingData& r) {
    if (!r.index) {
        const std::string path = r.path;
        finishPass(r, runCancellably<PassResult>([path](const std::atomic<bool>& cancelled) {
                       return readRecordingPass(path, {},
                                                [&cancelled] { return cancelled.load(); });
                   }));
    }
    return *r.index;
}

// One iteration: a pass on a thread of its own, whose frames wait here for the interpreter. While
// kFramesAhead wait, the pass waits too, so that memory stays bounded by the open frames and
// those, whatever the file's size.
class FrameStream {
public:
    FrameStream(const std::string& path, std::size_t framePoints) : m_collector(framePoints) {
        m_thread = std::thread([this, path] { run(path); });
    }
    ~FrameStream() {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        const GilReleased released;
        m_thread.join();
    }
    FrameStream(const FrameStream&) = delete;
    FrameStream& operator=(const FrameStream&) = delete;

    // The next frame's points, waiting for them with the GIL released; none once the pass has
    // ended, and then its result is in result().
    std::optional<Points> next() {
        std::optional<Points> frame;
        waitInSlices([&](std::chrono::milliseconds slice) {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (!m_changed.wait_for(lock, slice, [&] { return !m_ready.empty() || m_done; })) {
                return false;
            }
            if (!m_ready.empty()) {
                frame = std::move(m_ready.front());
                m_ready.pop_front();
            }
            return true;
        });
        m_changed.notify_all();
        return frame;
    }
    PassResult result() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return std::move(m_result);
    }

private:
    void run(const std::string& path) {
        PassSinks sinks;
        sinks.observations = [this](const std::vector<tavrel::tavrel_rbe_obs_t>& batch,
                                    const std::vector<tavrel::scan_frame_piece_t>& pieces) {
            m_collector.add(batch.data(), pieces, fromObservation);
        };
        sinks.frame = [this](const tavrel::scan_frame_t& f) {
            Points points = m_collector.close(f).points;
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stop || m_ready.size() < kFramesAhead; });
            if (m_stop) {
                return false;
            }
            m_ready.push_back(std::move(points));
            m_changed.notify_all();
            return true;
        };
        PassResult result = readRecordingPass(path, sinks, [this] {
            const std::lock_guard<std::mutex> lock(m_mutex);
            return m_stop;
        });
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_result = std::move(result);
            m_done = true;
        }
        m_changed.notify_all();
    }

    sentova::pcap::FrameCollector<Points> m_collector; // the pass's thread alone

    std::mutex m_mutex; // guards the five below
    std::condition_variable m_changed;
    std::deque<Points> m_ready; // at most kFramesAhead
    bool m_stop = false;        // the iterator is gone: the pass ends
    bool m_done = false;        // the pass has ended, m_result is its result
    PassResult m_result;

    std::thread m_thread;
};

struct RecordingIterator {
    Recording recording;
    std::unique_ptr<FrameStream> stream; // null once the frames are all handed out
};

py::array nextRecordingFrame(RecordingIterator& it) {
    if (!it.stream) {
        throw py::stop_iteration();
    }
    std::optional<Points> frame = it.stream->next();
    if (frame) {
        return toArray(std::move(*frame));
    }
    PassResult pass = it.stream->result();
    it.stream.reset();
    finishPass(*it.recording, std::move(pass));
    throw py::stop_iteration();
}

py::array frameAt(const Recording& r, py::ssize_t k) {
    const FrameIndex& index = indexOf(*r);
    const auto n = static_cast<py::ssize_t>(index.frames.size());
    if (k < 0) {
        k += n;
    }
    if (k < 0 || k >= n) {
        throw py::index_error("no frame " + std::to_string(k) + " (the recording holds " +
                              std::to_string(n) + ")");
    }
    const auto observations = runInterruptibly<std::vector<tavrel::tavrel_rbe_obs_t>>(
        [r, k] { return readIndexedFrame(r->path, *r->index, static_cast<std::size_t>(k)); });
    Points points;
    points.reserve(observations.size());
    for (const tavrel::tavrel_rbe_obs_t& o : observations) {
        points.push_back(fromObservation(o));
    }
    return toArray(std::move(points));
}

// Every point of the recording, frame after frame: the observations in file order.
py::array allPoints(const Recording& r) {
    struct Read {
        PassResult pass;
        Points points;
    };
    const std::string path = r->path;
    auto read = runCancellably<std::shared_ptr<Read>>([path](const std::atomic<bool>& cancelled) {
        auto out = std::make_shared<Read>();
        PassSinks sinks;
        sinks.observations = [&out](const std::vector<tavrel::tavrel_rbe_obs_t>& batch,
                                    const std::vector<tavrel::scan_frame_piece_t>&) {
            for (const tavrel::tavrel_rbe_obs_t& o : batch) {
                out->points.push_back(fromObservation(o));
            }
        };
        out->pass = readRecordingPass(path, sinks, [&cancelled] { return cancelled.load(); });
        return out;
    });
    finishPass(*r, std::move(read->pass));
    return toArray(std::move(read->points));
}

py::dict frameInfo(const tavrel::scan_frame_t& f) {
    py::dict d;
    d["index"] = f.index;
    d["points"] = f.points;
    d["first_timestamp"] = f.firstTimestamp;
    d["last_timestamp"] = f.lastTimestamp;
    d["duration_us"] = f.durationMicros();
    d["complete"] = f.complete();
    return d;
}

} // namespace

void addRecording(py::module_& m) {
    py::class_<RecordingIterator>(m, "_RecordingIterator")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &nextRecordingFrame);
    py::class_<RecordingData, Recording>(
        m, "Recording",
        "A recording (.pcap, .pcapng) as scan frames of points. Iterating reads the file as it "
        "goes, in memory bounded by the frames still open (frame_points points together; a "
        "frame's points beyond it are dropped). The number of frames, indexing and frame_info "
        "need one pass over the file first, which keeps where each frame begins, not its points")
        .def(py::init(&openRecording), py::arg("path"),
             py::arg("frame_points") = BatchQueue::kDefaultPointLimit)
        .def("__len__", [](RecordingData& r) { return indexOf(r).frames.size(); })
        .def("__getitem__", &frameAt)
        .def(
            "__iter__",
            [](const Recording& r) {
                return RecordingIterator{r, std::make_unique<FrameStream>(r->path, r->framePoints)};
            })
        .def("points", &allPoints)
        .def_property_readonly("frame_info",
                               [](RecordingData& r) {
                                   py::list list;
                                   for (const tavrel::scan_frame_t& f : indexOf(r).frames) {
                                       list.append(frameInfo(f));
                                   }
                                   return list;
                               })
        .def_property_readonly("path", [](const RecordingData& r) { return r.path; })
        .def_property_readonly("device", [](const RecordingData& r) { return r.device; })
        .def_property_readonly("problems", [](RecordingData& r) {
            indexOf(r);
            return r.problems;
        });
}

} // namespace sentova::python
