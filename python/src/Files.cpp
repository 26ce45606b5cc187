// Point files and recordings: sentova.read, sentova.write, sentova.formats and
// sentova.Recording.
#include "Files.h"

#include "Errors.h"
#include "FileChunks.h"
#include "Points.h"
#include "Waiting.h"

#include "Formats.h"
#include "SentovaPcap/CapturePoints.h"
#include "SentovaPcap/FrameCollector.h"

#include <pybind11/stl.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace py = pybind11;

namespace sentova::python {

namespace {

std::string formatNames() {
    std::string names;
    for (const formats::FormatInfo& f : formats::allFormats()) {
        names += (names.empty() ? "" : ", ") + std::string(f.name);
    }
    return names;
}

void requireFile(const std::string& path) {
    std::error_code ignored;
    if (!std::filesystem::exists(path, ignored)) {
        raiseFileNotFound(path);
    }
}

py::object readPoints(const std::string& path, std::optional<std::string> formatName,
                      std::optional<long long> chunkPoints) {
    std::optional<formats::Format> format;
    if (formatName) {
        format = formats::formatFromName(*formatName);
        if (!format) {
            throw py::value_error("unknown format '" + *formatName +
                                  "' (formats: " + formatNames() + ")");
        }
    }
    requireFile(path);
    if (chunkPoints) {
        return readChunks(path, format, *chunkPoints);
    }
    const auto read =
        runCancellably<formats::ReadResult>([path, format](const std::atomic<bool>& cancelled) {
            const formats::Cancel cancel = [&cancelled] { return cancelled.load(); };
            return format ? formats::read(path, *format, {}, cancel)
                          : formats::read(path, {}, cancel);
        });
    if (!read.ok) {
        raiseFormatError(path, read.error);
    }
    Points points;
    {
        const GilReleased released;
        points.reserve(read.points.size());
        for (const DataPoint& p : read.points) {
            points.push_back(fromDataPoint(p));
        }
    }
    return toArray(std::move(points));
}

void writePoints(const std::string& path, const py::object& given,
                 std::optional<std::string> formatName, std::optional<unsigned long long> count) {
    std::optional<formats::Format> format =
        formatName ? formats::formatFromName(*formatName) : formats::formatFromExtension(path);
    if (!format) {
        throw py::value_error(
            (formatName ? "unknown format '" + *formatName + "'"
                        : "the extension of '" + path + "' names no format: give format=") +
            " (formats: " + formatNames() + ")");
    }
    if (!py::isinstance<py::array>(given)) {
        writeChunks(path, given, *format, count);
        return;
    }
    const auto array = py::reinterpret_borrow<py::array>(given);
    formats::WriteOptions options;
    auto points =
        std::make_shared<const std::deque<DataPoint>>(toDataPoints(array, options.fields));
    if (count && *count != points->size()) {
        throw py::value_error("the array holds " + std::to_string(points->size()) +
                              " points, not the " + std::to_string(*count) + " of count");
    }
    const auto outcome = runCancellably<formats::Outcome>(
        [path, format, points, options](const std::atomic<bool>& cancelled) {
            return formats::write(path, *format, *points, options, {},
                                  [&cancelled] { return cancelled.load(); });
        });
    if (!outcome.ok) {
        PyErr_SetString(PyExc_OSError, ("cannot write '" + path + "': " + outcome.error).c_str());
        throw py::error_already_set();
    }
}

// A recording read whole at construction: its frames' points and what the reader said of them.
struct RecordingData {
    std::string path;
    std::vector<Points> frames; // by frame index
    std::vector<tavrel::scan_frame_t> info;
    std::string device;
    std::string problems;
};

std::shared_ptr<RecordingData> readRecording(const std::string& path) {
    requireFile(path);
    struct Read {
        sentova::pcap::CaptureRead read;
        std::vector<Points> frames;
    };
    auto read = runCancellably<std::shared_ptr<Read>>([path](const std::atomic<bool>& cancelled) {
        auto r = std::make_shared<Read>();
        // The whole recording is kept: the open frames are not bounded either.
        sentova::pcap::FrameCollector<Points> collector;
        r->read = sentova::pcap::readCaptureObservations(
            path,
            [&collector](const std::vector<tavrel::tavrel_rbe_obs_t>& batch,
                         const std::vector<tavrel::scan_frame_piece_t>& pieces) {
                collector.add(batch.data(), pieces, fromObservation);
            },
            [&r, &collector](const tavrel::scan_frame_t& f) {
                r->frames.push_back(collector.close(f).points);
                return true;
            },
            {}, [&cancelled] { return cancelled.load(); });
        return r;
    });
    if (!read->read.ok) {
        raiseFormatError(path, read->read.error);
    }
    auto data = std::make_shared<RecordingData>();
    data->path = path;
    data->info = read->read.frames;
    data->frames = std::move(read->frames);
    data->frames.resize(data->info.size());
    data->device = read->read.device;
    data->problems = read->read.problems;
    if (!data->problems.empty()) {
        PyErr_WarnEx(PyExc_RuntimeWarning, (path + ": " + data->problems).c_str(), 1);
    }
    return data;
}

using Recording = std::shared_ptr<RecordingData>;

// Frames one at a time, so that iterating holds one copy at most.
struct RecordingIterator {
    Recording recording;
    std::size_t next = 0;
};

py::array copyOf(const Points& points) {
    return toArray(Points(points));
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

void addFiles(py::module_& m) {
    std::vector<std::string> names;
    for (const formats::FormatInfo& f : formats::allFormats()) {
        names.push_back(f.name);
    }
    m.attr("formats") = py::tuple(py::cast(names));
    addFileChunks(m);
    m.def("read", &readPoints, py::arg("path"), py::arg("format") = py::none(),
          py::arg("chunk_points") = py::none(),
          "The points of a point file (every field the file lacks is zero). With chunk_points=N, "
          "a PointChunks to iterate over instead: arrays of N points at a time, so that a file "
          "of any size is read in memory bounded by a chunk");
    m.def("write", &writePoints, py::arg("path"), py::arg("points"), py::arg("format") = py::none(),
          py::arg("count") = py::none(),
          "Writes the points' fields that the format holds (x, y, z needed); the format by name "
          "or from the extension. points is an array, or an iterable of arrays (chunks, all with "
          "the fields of the first) written one after the other in memory bounded by a chunk, "
          "to the same bytes as their concatenation. PCD, PLY and LAS headers need the number "
          "of points first (LAS their bounds too): it comes from count=, from a PointChunks' "
          "header, or from a first pass over chunks that can be iterated twice (a list, a "
          "PointChunks); a one-time iterator (a generator) needs count= and is refused for LAS. "
          "Nothing is left behind when writing fails or the chunks raise");

    py::class_<RecordingIterator>(m, "_RecordingIterator")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", [](RecordingIterator& it) {
            if (it.next >= it.recording->frames.size()) {
                throw py::stop_iteration();
            }
            return copyOf(it.recording->frames[it.next++]);
        });
    py::class_<RecordingData, Recording>(m, "Recording",
                                         "A recording (.pcap, .pcapng) as scan frames of points")
        .def(py::init(&readRecording), py::arg("path"))
        .def("__len__", [](const RecordingData& r) { return r.frames.size(); })
        .def("__getitem__",
             [](const RecordingData& r, py::ssize_t k) {
                 const auto n = static_cast<py::ssize_t>(r.frames.size());
                 if (k < 0) {
                     k += n;
                 }
                 if (k < 0 || k >= n) {
                     throw py::index_error("no frame " + std::to_string(k) +
                                           " (the recording "
                                           "holds " +
                                           std::to_string(n) + ")");
                 }
                 return copyOf(r.frames[static_cast<std::size_t>(k)]);
             })
        .def("__iter__", [](const Recording& r) { return RecordingIterator{r}; })
        .def("points",
             [](const RecordingData& r) {
                 std::size_t total = 0;
                 for (const Points& f : r.frames) {
                     total += f.size();
                 }
                 Points all;
                 all.reserve(total);
                 for (const Points& f : r.frames) {
                     all.insert(all.end(), f.begin(), f.end());
                 }
                 return toArray(std::move(all));
             })
        .def_property_readonly("frame_info",
                               [](const RecordingData& r) {
                                   py::list list;
                                   for (const tavrel::scan_frame_t& f : r.info) {
                                       list.append(frameInfo(f));
                                   }
                                   return list;
                               })
        .def_property_readonly("path", [](const RecordingData& r) { return r.path; })
        .def_property_readonly("device", [](const RecordingData& r) { return r.device; })
        .def_property_readonly("problems", [](const RecordingData& r) { return r.problems; });
}

} // namespace sentova::python
