// Point files: sentova.read, sentova.write and sentova.formats.
#include "Files.h"

#include "Errors.h"
#include "FileChunks.h"
#include "Points.h"
#include "Waiting.h"

#include "Formats.h"
#include "PointStream.h"

#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
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

// Points of an array converted at a time as it is written: the reader's chunk, small enough
// that the slice and its records stay in the processor's cache over the passes that convert
// it column by column (ten million points in slices of 65,536 took 0.82 s, in these 0.57 s).
constexpr std::size_t kArraySlice = formats::kChunkPoints;

void requireFile(const std::string& path) {
    std::error_code ignored;
    if (!std::filesystem::exists(path, ignored)) {
        raiseFileNotFound(path);
    }
}

// The file's points straight from the reader's chunks into the records NumPy takes over, with no
// whole-file buffer of the formats' own beside them: for ten million points 560 MB less at the
// peak, and one pass over the points instead of two.
struct WholeFile {
    Points points;
    std::string error;
};

WholeFile readWholeFile(const std::string& path, formats::Format format,
                        const std::atomic<bool>& cancelled) {
    WholeFile file;
    const std::unique_ptr<formats::PointReader> reader =
        formats::openReader(path, format, formats::everyField(), file.error);
    if (!reader) {
        return file;
    }
    if (const std::optional<std::uint64_t> count = reader->count()) {
        // The declared count is room asked for, not points: no point of any format takes under
        // four bytes (a compressed one may, and the records then grow as they come).
        file.points.reserve(static_cast<std::size_t>(std::min(*count, reader->size() / 4)));
    }
    std::vector<DataPoint> chunk;
    while (!cancelled && reader->next(chunk)) {
        for (const DataPoint& p : chunk) {
            file.points.push_back(fromDataPoint(p));
        }
    }
    file.error = reader->error();
    if (!file.error.empty()) {
        file.points = {};
    }
    return file;
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
    WholeFile read = runCancellably<WholeFile>([path, format](const std::atomic<bool>& cancelled) {
        return readWholeFile(path, format ? *format : formats::guessFormat(path), cancelled);
    });
    if (!read.error.empty()) {
        raiseFormatError(path, read.error);
    }
    return toArray(std::move(read.points));
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
    // The array as views of a slice each, converted and written one at a time: its points are
    // never all held as records beside it. Fields are checked on the whole array first, so
    // that its errors name no chunk; a view of no points gives an empty array its fields.
    const py::object flat = py::reinterpret_borrow<py::array>(given).attr("reshape")(-1);
    formats::FieldSelection fields;
    (void)toDataPointChunk(flat[py::slice(0, 0, 1)].cast<py::array>(), fields);
    const std::size_t n = py::len(flat);
    if (count && *count != n) {
        throw py::value_error("the array holds " + std::to_string(n) + " points, not the " +
                              std::to_string(*count) + " of count");
    }
    py::list views;
    std::size_t from = 0;
    do {
        const std::size_t to = std::min(n, from + kArraySlice);
        views.append(flat[py::slice(from, to, 1)]);
        from = to;
    } while (from < n);
    writeChunks(path, views, *format, n);
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
}

} // namespace sentova::python
