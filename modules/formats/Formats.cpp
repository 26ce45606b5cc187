#include "Formats.h"

#include "PointStream.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>

namespace formats {

namespace {

bool endsWithNoCase(const std::string& s, const char* tail) {
    const std::size_t n = std::strlen(tail);
    if (s.size() < n) {
        return false;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != tail[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

const std::vector<FormatInfo>& allFormats() {
    static const std::vector<FormatInfo> formats = {
        {Format::PcdAscii, "pcd", ".pcd", "PCD ascii"},
        {Format::PcdBinary, "pcd-binary", ".pcd", "PCD binary"},
        {Format::PcdBinaryCompressed, "pcd-compressed", ".pcd", "PCD binary compressed"},
        {Format::PlyBinary, "ply", ".ply", "PLY binary"},
        {Format::PlyAscii, "ply-ascii", ".ply", "PLY ascii"},
        {Format::Las, "las", ".las", "LAS 1.4"},
        {Format::Csv, "csv", ".csv", "CSV"},
    };
    return formats;
}

const FormatInfo& formatInfo(Format format) {
    for (const FormatInfo& info : allFormats()) {
        if (info.format == format) {
            return info;
        }
    }
    return allFormats().front();
}

std::optional<Format> formatFromName(std::string_view name) {
    for (const FormatInfo& info : allFormats()) {
        if (name == info.name) {
            return info.format;
        }
    }
    return std::nullopt;
}

std::optional<Format> formatFromExtension(const std::string& path) {
    for (const FormatInfo& info : allFormats()) {
        if (endsWithNoCase(path, info.extension)) {
            return info.format; // the first format of an extension is its default
        }
    }
    return std::nullopt;
}

Outcome write(const std::string& path, Format format, const std::deque<DataPoint>& points,
              const WriteOptions& options, const Progress& progress, const Cancel& cancel) {
    Outcome outcome;
    Extent extent;
    if (needsBounds(format)) {
        for (const DataPoint& p : points) {
            extent.add(p);
        }
    } else {
        extent.count = points.size();
    }
    std::unique_ptr<PointWriter> writer =
        createWriter(path, format, options, extent, outcome.error);
    if (!writer) {
        return outcome;
    }
    Ticker ticker(points.size(), progress, cancel);
    std::vector<DataPoint> chunk;
    chunk.reserve(std::min(points.size(), kChunkPoints));
    std::uint64_t done = 0;
    for (auto at = points.begin(); at != points.end();) {
        if (!ticker.at(done)) {
            outcome.cancelled = true;
            return outcome; // the writer, unfinished, leaves no file
        }
        const std::size_t n = std::min<std::size_t>(kChunkPoints, points.end() - at);
        chunk.assign(at, at + static_cast<std::ptrdiff_t>(n));
        at += static_cast<std::ptrdiff_t>(n);
        done += n;
        if (!writer->write(chunk.data(), n)) {
            outcome.error = writer->error();
            return outcome;
        }
    }
    outcome = writer->finish();
    if (outcome.ok) {
        ticker.finish();
    }
    return outcome;
}

Outcome write(const std::string& path, Format format, const DataPoint* points, std::size_t n,
              const WriteOptions& options, const Progress& progress, const Cancel& cancel) {
    Outcome outcome;
    Extent extent;
    if (needsBounds(format)) {
        extent.add(points, n);
    } else {
        extent.count = n;
    }
    std::unique_ptr<PointWriter> writer =
        createWriter(path, format, options, extent, outcome.error);
    if (!writer) {
        return outcome;
    }
    Ticker ticker(n, progress, cancel);
    for (std::size_t done = 0; done < n;) {
        if (!ticker.at(done)) {
            outcome.cancelled = true;
            return outcome;
        }
        const std::size_t take = std::min(kChunkPoints, n - done);
        if (!writer->write(points + done, take)) {
            outcome.error = writer->error();
            return outcome;
        }
        done += take;
    }
    outcome = writer->finish();
    if (outcome.ok) {
        ticker.finish();
    }
    return outcome;
}

namespace {

// The whole file through a reader into result.points, gathered by add(reader), which is false
// at their end or on damage; a failed read leaves none, by clear(points).
template <class Result, class Add, class Clear>
Result readWhole(Result result, const std::string& path, Format format, const Progress& progress,
                 const Cancel& cancel, Add add, Clear clear) {
    result.format = format;
    std::unique_ptr<PointReader> reader = openReader(path, format, everyField(), result.error);
    if (!reader) {
        clear(result.points);
        return result;
    }
    result.format = reader->format();
    result.fields = reader->fields();
    Ticker ticker(reader->size(), progress, cancel);
    while (ticker.at(reader->position()) && add(*reader, result.points)) {
    }
    result.cancelled = ticker.cancelled();
    result.error = result.cancelled ? std::string() : reader->error();
    result.ok = !result.cancelled && result.error.empty();
    if (result.ok) {
        ticker.finish();
    } else {
        clear(result.points);
    }
    return result;
}

// Through nextInto, into the storage's block where it is large enough. (Faulting a fresh block
// in on a second thread ahead of the reader, with MADV_POPULATE_WRITE, cost a tenth more time
// and processor time on two shared cores: it is not done.)
ArrayReadResult readIntoArray(const std::string& path, Format format, PointArray storage, bool keep,
                              const Progress& progress, const Cancel& cancel) {
    ArrayReadResult start;
    storage.resize(0);
    start.points = std::move(storage);
    try {
        return readWhole(
            std::move(start), path, format, progress, cancel,
            [](PointReader& reader, PointArray& points) { return reader.nextInto(points); },
            [keep](PointArray& points) {
                if (keep) {
                    points.resize(0);
                } else {
                    points.clear();
                }
            });
    } catch (const std::bad_alloc&) {
        ArrayReadResult result;
        result.format = format;
        result.error = "not enough memory for the file's points";
        return result;
    }
}

} // namespace

ReadResult read(const std::string& path, const Progress& progress, const Cancel& cancel) {
    return read(path, guessFormat(path), progress, cancel);
}

ReadResult read(const std::string& path, Format format, const Progress& progress,
                const Cancel& cancel) {
    std::vector<DataPoint> chunk;
    chunk.reserve(kChunkPoints);
    return readWhole(
        ReadResult(), path, format, progress, cancel,
        [&chunk](PointReader& reader, std::deque<DataPoint>& points) {
            if (!reader.next(chunk)) {
                return false;
            }
            points.insert(points.end(), chunk.begin(), chunk.end());
            return true;
        },
        [](std::deque<DataPoint>& points) { points.clear(); });
}

ArrayReadResult readArray(const std::string& path, const Progress& progress, const Cancel& cancel) {
    return readArray(path, guessFormat(path), progress, cancel);
}

ArrayReadResult readArray(const std::string& path, Format format, const Progress& progress,
                          const Cancel& cancel) {
    return readIntoArray(path, format, PointArray(), false, progress, cancel);
}

ArrayReadResult readArray(const std::string& path, PointArray storage, const Progress& progress,
                          const Cancel& cancel) {
    return readArray(path, guessFormat(path), std::move(storage), progress, cancel);
}

ArrayReadResult readArray(const std::string& path, Format format, PointArray storage,
                          const Progress& progress, const Cancel& cancel) {
    return readIntoArray(path, format, std::move(storage), true, progress, cancel);
}

} // namespace formats
