#include "FileChunks.h"

#include "Errors.h"
#include "Points.h"
#include "Waiting.h"

#include "PointStream.h"

#include <pybind11/stl.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace py = pybind11;

namespace sentova::python {

namespace {

// What read(path, chunk_points=N) returns: the file, checked once, opened again by each pass.
struct PointChunks {
    std::string path;
    std::optional<formats::Format> asked; // none: the extension's or the first bytes' format
    std::size_t chunkPoints = 0;
    formats::Format format = formats::Format::PcdAscii;
    std::optional<std::uint64_t> count; // the header's
};

struct ChunkIterator {
    std::shared_ptr<PointChunks> source;
    std::unique_ptr<formats::PointReader> reader; // null once the points are all handed out
    std::vector<DataPoint> pending;               // the reader's last chunk, from `at` on
    std::size_t at = 0;
};

std::unique_ptr<formats::PointReader> openOrRaise(const PointChunks& chunks) {
    std::string error;
    std::unique_ptr<formats::PointReader> reader;
    {
        const GilReleased released;
        reader = formats::openReader(chunks.path, chunks.asked, formats::everyField(), error);
    }
    if (!reader) {
        raiseFormatError(chunks.path, error);
    }
    return reader;
}

// The next chunk_points points (fewer at the end). The reader's chunks are taken one at a time
// with the GIL released, and an interrupt is looked for between them, so that a large chunk
// neither holds the interpreter nor ignores Ctrl-C.
py::array nextChunk(ChunkIterator& it) {
    if (!it.reader) {
        throw py::stop_iteration();
    }
    const PointChunks& source = *it.source;
    Points out;
    std::string error;
    bool end = false;
    while (out.size() < source.chunkPoints && !end) {
        {
            const GilReleased released;
            if (it.at == it.pending.size()) {
                it.at = 0;
                if (!it.reader->next(it.pending)) {
                    it.pending.clear();
                    error = it.reader->error();
                    end = true;
                }
            }
            const std::size_t take =
                std::min(source.chunkPoints - out.size(), it.pending.size() - it.at);
            if (out.capacity() == 0 && take > 0) {
                const std::size_t left = it.reader->count().value_or(source.chunkPoints);
                out.reserve(std::min(source.chunkPoints, left));
            }
            for (std::size_t i = 0; i < take; ++i) {
                out.push_back(fromDataPoint(it.pending[it.at + i]));
            }
            it.at += take;
        }
        if (PyErr_CheckSignals() != 0) {
            throw py::error_already_set();
        }
    }
    if (end) {
        it.reader.reset();
    }
    if (!error.empty()) {
        raiseFormatError(source.path, error);
    }
    if (out.empty()) {
        throw py::stop_iteration();
    }
    return toArray(std::move(out));
}

bool sameExtent(const formats::Extent& a, const formats::Extent& b) {
    return a.count == b.count && a.firstNotFinite == b.firstNotFinite &&
           std::equal(a.lo, a.lo + 3, b.lo) && std::equal(a.hi, a.hi + 3, b.hi);
}

std::string fieldList(const formats::FieldSelection& fields) {
    std::string names;
    for (formats::Field f : formats::selectedFields(fields)) {
        names += (names.empty() ? "" : " ") + std::string(formats::fieldName(f));
    }
    return names;
}

[[noreturn]] void raiseWriteError(const std::string& path, const std::string& why) {
    PyErr_SetString(PyExc_OSError, ("cannot write '" + path + "': " + why).c_str());
    throw py::error_already_set();
}

// The chunks one after the other as point records, checked to hold the fields of the first.
class ChunkSource {
public:
    explicit ChunkSource(const py::handle& chunks) : m_chunks(chunks) {}

    // Starts a pass; false at the end of one.
    void start() {
        m_iterator = py::iter(m_chunks);
        m_index = 0;
    }
    bool next(std::vector<DataPoint>& points) {
        if (m_iterator == py::iterator::sentinel()) {
            return false;
        }
        const py::handle item = *m_iterator;
        if (!py::isinstance<py::array>(item)) {
            throw py::type_error("chunk " + std::to_string(m_index) + " is a " +
                                 std::string(py::str(item.get_type().attr("__name__"))) +
                                 ", not a NumPy structured array");
        }
        formats::FieldSelection present;
        try {
            points = toDataPointChunk(py::reinterpret_borrow<py::array>(item), present);
        } catch (const py::value_error& e) {
            throw py::value_error("chunk " + std::to_string(m_index) + ": " + e.what());
        }
        if (!m_fields) {
            m_fields = present;
        } else if (formats::selectedFields(present) != formats::selectedFields(*m_fields)) {
            throw py::value_error("chunk " + std::to_string(m_index) + " has the fields " +
                                  fieldList(present) + ", the first chunk " + fieldList(*m_fields));
        }
        ++m_index;
        ++m_iterator;
        if (PyErr_CheckSignals() != 0) {
            throw py::error_already_set();
        }
        return true;
    }

    // Whether the chunks can be gone through again: not a one-time iterator.
    bool iterableAgain() const { return !py::iter(m_chunks).is(m_chunks); }
    // The fields of the first chunk; with no chunk at all, those of point_dtype (every one).
    formats::FieldSelection fields() const { return m_fields.value_or(formats::everyField()); }

private:
    py::handle m_chunks;
    py::iterator m_iterator;
    std::size_t m_index = 0;
    std::optional<formats::FieldSelection> m_fields;
};

} // namespace

py::object readChunks(const std::string& path, std::optional<formats::Format> format,
                      long long chunkPoints) {
    if (chunkPoints < 1) {
        throw py::value_error("chunk_points must be 1 or more, not " + std::to_string(chunkPoints));
    }
    auto chunks = std::make_shared<PointChunks>();
    chunks->path = path;
    chunks->asked = format;
    chunks->chunkPoints = static_cast<std::size_t>(chunkPoints);
    const std::unique_ptr<formats::PointReader> reader = openOrRaise(*chunks);
    chunks->format = reader->format();
    chunks->count = reader->count();
    return py::cast(chunks);
}

void writeChunks(const std::string& path, const py::handle& chunks, formats::Format format,
                 std::optional<unsigned long long> count) {
    std::optional<std::uint64_t> known;
    if (count) {
        known = *count;
    } else if (py::isinstance<PointChunks>(chunks)) {
        known = chunks.cast<const PointChunks&>().count;
    }
    const bool bounds = formats::needsBounds(format);
    const bool twoPasses = bounds || (formats::needsCount(format) && !known);
    ChunkSource source(chunks);
    std::vector<DataPoint> points;
    formats::Extent extent;
    if (twoPasses) {
        if (!source.iterableAgain()) {
            throw py::value_error(
                std::string("a ") + formats::formatInfo(format).description +
                " file needs the number of points" + (bounds ? " and their bounds" : "") +
                " before them: give chunks that can be gone through twice (a list, or what "
                "read(path, chunk_points=N) returns)" +
                (bounds ? "" : ", or their number as count="));
        }
        source.start();
        while (source.next(points)) {
            const GilReleased released;
            extent.add(points.data(), points.size());
        }
        if (!bounds) {
            // As the whole-file write gives it: the count alone.
            const std::uint64_t n = extent.count;
            extent = formats::Extent{};
            extent.count = n;
        }
    } else {
        extent.count = known.value_or(0);
    }
    // The header holds the fields, known at the first chunk: the file is created there.
    std::unique_ptr<formats::PointWriter> writer;
    const auto create = [&](const formats::FieldSelection& fields) {
        formats::WriteOptions options;
        options.fields = fields;
        std::string error;
        {
            const GilReleased released;
            writer = formats::createWriter(path, format, options, extent, error);
        }
        if (!writer) {
            raiseWriteError(path, error);
        }
    };
    formats::Extent seen;
    source.start();
    while (source.next(points)) {
        if (!writer) {
            create(source.fields());
        }
        bool written = false;
        {
            const GilReleased released;
            // The bounds only where the first pass took them, to be compared.
            if (bounds) {
                seen.add(points.data(), points.size());
            } else {
                seen.count += points.size();
            }
            written = writer->write(points.data(), points.size());
        }
        if (!written) {
            raiseWriteError(path, writer->error());
        }
    }
    if (!writer) {
        create(source.fields());
    }
    // Returning before finish() leaves no file behind.
    if (twoPasses && (bounds ? !sameExtent(seen, extent) : seen.count != extent.count)) {
        throw py::value_error("the chunks changed between the two passes over them: the first "
                              "gave " +
                              std::to_string(extent.count) + " points, the second " +
                              std::to_string(seen.count));
    }
    if (!twoPasses && known && seen.count != *known) {
        throw py::value_error("the chunks held " + std::to_string(seen.count) +
                              " points, not the " + std::to_string(*known) + " of count");
    }
    formats::Outcome outcome;
    {
        const GilReleased released;
        outcome = writer->finish();
    }
    if (!outcome.ok) {
        raiseWriteError(path, outcome.error);
    }
}

void addFileChunks(py::module_& m) {
    py::class_<ChunkIterator>(m, "_ChunkIterator")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &nextChunk);
    py::class_<PointChunks, std::shared_ptr<PointChunks>>(
        m, "PointChunks",
        "A point file read chunk by chunk, as read(path, chunk_points=N) returns it: each pass "
        "over it opens the file and yields arrays of point_dtype of chunk_points points (the "
        "last one fewer; none for a file without points). A damaged file raises FormatError at "
        "the chunk where the damage shows.")
        .def("__iter__",
             [](const std::shared_ptr<PointChunks>& chunks) {
                 ChunkIterator it;
                 it.source = chunks;
                 it.reader = openOrRaise(*chunks);
                 return it;
             })
        .def_property_readonly("path", [](const PointChunks& c) { return c.path; })
        .def_property_readonly(
            "format",
            [](const PointChunks& c) { return std::string(formats::formatInfo(c.format).name); })
        .def_property_readonly(
            "count", [](const PointChunks& c) { return c.count; },
            "The number of points the header declares; None for CSV")
        .def_property_readonly("chunk_points", [](const PointChunks& c) { return c.chunkPoints; });
}

} // namespace sentova::python
