#include "PointStream.h"

#include "FormatIo.h"
#include "OutputFile.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace formats {

namespace {

Format sniff(const std::string& path) {
    InputFile in;
    std::string ignored;
    char start[4] = {};
    if (!in.open(path, ignored) || !in.read(start, 4)) {
        return Format::PcdAscii;
    }
    if (std::memcmp(start, "LASF", 4) == 0) {
        return Format::Las;
    }
    if (std::memcmp(start, "ply", 3) == 0 && (start[3] == '\n' || start[3] == '\r')) {
        return Format::PlyBinary;
    }
    return Format::PcdAscii;
}

} // namespace

Format guessFormat(const std::string& path) {
    if (const std::optional<Format> byName = formatFromExtension(path)) {
        return *byName;
    }
    return sniff(path);
}

bool PointReader::finished() {
    if (m_error.empty() && m_in.failed()) {
        m_error = "the file could not be read to its end";
    }
    return false;
}

std::size_t PointReader::nextChunkSize() const {
    const std::uint64_t count = m_count.value_or(0);
    return static_cast<std::size_t>(
        std::min<std::uint64_t>(kChunkPoints, count > m_done ? count - m_done : 0));
}

bool PointReader::decode(DataPoint*, std::size_t) {
    m_error = "the file does not declare its number of points";
    return false;
}

bool PointReader::next(std::vector<DataPoint>& chunk) {
    const std::size_t n = nextChunkSize();
    if (n == 0) {
        return finished();
    }
    chunk.assign(n, DataPoint{});
    if (!decode(chunk.data(), n)) {
        return false;
    }
    m_done += n;
    return true;
}

bool PointReader::nextInto(PointArray& points) {
    if (!m_count) {
        if (!next(m_chunk)) {
            return false;
        }
        points.append(m_chunk.data(), m_chunk.size());
        return true;
    }
    const std::size_t n = nextChunkSize();
    if (n == 0) {
        return finished();
    }
    const std::size_t at = points.size();
    if (points.capacity() < at + n) {
        try {
            points.reserve(at + static_cast<std::size_t>(*m_count - m_done));
        } catch (const std::bad_alloc&) {
            // A text file's header may declare more points than it holds or memory takes: then
            // the array grows as the points come.
            points.reserve(std::max(at + n, 2 * points.capacity()));
        }
    }
    // In a reused block the chunk's points are cleared whole unless the decoder writes them
    // whole: clearing only the fields it leaves measured 10-25% slower, as partial stores make
    // the processor read the old lines from memory first, while memset's whole lines spare that.
    // Memory faulted in now is in the caches, and stays written there; other memory is written
    // past them.
    bool fresh = true;
    if (writesWholePoints()) {
        fresh = points.resizeForOverwrite(at + n);
    } else {
        points.resize(at + n);
    }
    m_pastCaches = !fresh;
    const bool decoded = decode(points.data() + at, n);
    m_pastCaches = false;
    if (!decoded) {
        points.resize(at);
        return false;
    }
    m_done += n;
    return true;
}

std::unique_ptr<PointReader> openReader(const std::string& path, std::optional<Format> format,
                                        const FieldSelection& wanted, std::string& error) {
    if (!format) {
        format = guessFormat(path);
    }
    std::unique_ptr<PointReader> reader;
    switch (*format) {
    case Format::PcdAscii:
    case Format::PcdBinary:
    case Format::PcdBinaryCompressed:
        reader = io::pcdReader();
        break;
    case Format::PlyBinary:
    case Format::PlyAscii:
        reader = io::plyReader();
        break;
    case Format::Las:
        reader = io::lasReader();
        break;
    case Format::Csv:
        reader = io::csvReader();
        break;
    }
    reader->m_format = *format;
    reader->m_wanted = wanted;
    if (!reader->m_in.open(path, error)) {
        return nullptr;
    }
    if (!reader->start(path)) {
        error = reader->m_error;
        return nullptr;
    }
    return reader;
}

bool needsBounds(Format format) {
    return format == Format::Las;
}

bool needsCount(Format format) {
    return format != Format::Csv;
}

FieldSelection writtenFields(Format format, const WriteOptions& options) {
    FieldSelection s = options.fields;
    if (format == Format::Las) {
        s = noFields();
        s.x = s.y = s.z = s.intensity = s.timestamp = true;
        s.reflectance = options.fields.reflectance;
        s.pulseShapeDeviation = options.fields.pulseShapeDeviation;
    } else if (format == Format::PcdAscii && options.lx20) {
        s.reflectance = s.pulseShapeDeviation = s.timestamp = false;
    }
    return s;
}

PointWriter::PointWriter() = default;
PointWriter::~PointWriter() = default;

bool PointWriter::write(const DataPoint* points, std::size_t n) {
    if (!m_error.empty()) {
        return false;
    }
    m_error = put(points, n);
    m_written += n;
    return m_error.empty();
}

void PointWriter::reserveFile(std::uint64_t bytes) {
    if (m_file) {
        m_file->reserve(bytes);
    }
}

Outcome PointWriter::finish() {
    Outcome outcome;
    if (m_error.empty() && m_written != m_extent.count && needsCount(m_format)) {
        m_error = "the input gave " + std::to_string(m_written) + " points, not the " +
                  std::to_string(m_extent.count) + " its header declares";
    }
    if (m_error.empty()) {
        m_error = end();
    }
    if (!m_error.empty()) {
        m_file->discard();
        outcome.error = m_error;
        return outcome;
    }
    outcome.ok = m_file->commit(outcome.error);
    return outcome;
}

std::unique_ptr<PointWriter> createWriter(const std::string& path, Format format,
                                          const WriteOptions& options, const Extent& extent,
                                          std::string& error) {
    const std::vector<Field> fields = selectedFields(options.fields);
    std::unique_ptr<PointWriter> writer;
    switch (format) {
    case Format::PcdAscii:
        writer = options.lx20 ? io::pcdLx20Writer(options.fields, *options.lx20)
                              : io::pcdWriter(fields, io::PcdData::Ascii);
        break;
    case Format::PcdBinary:
        writer = io::pcdWriter(fields, io::PcdData::Binary);
        break;
    case Format::PcdBinaryCompressed:
        writer = io::pcdWriter(fields, io::PcdData::BinaryCompressed);
        break;
    case Format::PlyBinary:
    case Format::PlyAscii:
        writer = io::plyWriter(fields, format == Format::PlyBinary);
        break;
    case Format::Las:
        writer = io::lasWriter(options.fields);
        break;
    case Format::Csv:
        writer = io::csvWriter(fields);
        break;
    }
    writer->m_extent = extent;
    writer->m_format = format;
    writer->m_file = std::make_unique<OutputFile>(path);
    if (!writer->m_file->open(error)) {
        return nullptr;
    }
    error = writer->begin(writer->m_file->stream());
    if (!error.empty()) {
        writer->m_file->discard();
        return nullptr;
    }
    return writer;
}

namespace io {

void writeStream(PointWriter& writer, std::ostream& out, const std::deque<DataPoint>& points) {
    writer.m_extent.count = points.size();
    writer.begin(out);
    std::vector<DataPoint> chunk;
    for (auto at = points.begin(); at != points.end();) {
        const std::size_t n = std::min<std::size_t>(kChunkPoints, points.end() - at);
        chunk.assign(at, at + static_cast<std::ptrdiff_t>(n));
        at += static_cast<std::ptrdiff_t>(n);
        writer.put(chunk.data(), n);
    }
    writer.end();
}

} // namespace io

ConvertResult convert(const std::string& input, std::optional<Format> inputFormat,
                      const std::string& output, Format outputFormat,
                      std::optional<FieldSelection> fields, const Progress& progress,
                      const Cancel& cancel) {
    ConvertResult result;
    result.inputFormat = inputFormat ? *inputFormat : guessFormat(input);
    WriteOptions options;
    if (fields) {
        options.fields = *fields;
    } else {
        // The input's columns, from its header: opening a reader reads no points.
        const std::unique_ptr<PointReader> header =
            openReader(input, inputFormat, everyField(), result.readError);
        if (!header) {
            return result;
        }
        options.fields = header->fields();
    }
    // Only the columns the output holds are read.
    const FieldSelection wanted = writtenFields(outputFormat, options);
    std::unique_ptr<PointReader> reader = openReader(input, inputFormat, wanted, result.readError);
    if (!reader) {
        return result;
    }
    result.inputFormat = reader->format();

    std::vector<DataPoint> chunk;
    chunk.reserve(kChunkPoints);
    Extent extent;
    const bool twice = needsBounds(outputFormat) || (needsCount(outputFormat) && !reader->count());
    // Each pass counts as the input's size.
    const std::uint64_t passes = twice ? 2 : 1;
    Ticker ticker(reader->size() * passes, progress, cancel);
    if (twice) {
        FieldSelection xyz = noFields();
        xyz.x = xyz.y = xyz.z = true;
        std::unique_ptr<PointReader> first = openReader(input, inputFormat, xyz, result.readError);
        if (!first) {
            return result;
        }
        while (ticker.at(first->position()) && first->next(chunk)) {
            extent.add(chunk.data(), chunk.size());
        }
        if (ticker.cancelled()) {
            result.cancelled = true;
            return result;
        }
        if (!first->error().empty()) {
            result.readError = first->error();
            return result;
        }
    } else {
        extent.count = *reader->count();
    }

    std::unique_ptr<PointWriter> writer =
        createWriter(output, outputFormat, options, extent, result.writeError);
    if (!writer) {
        return result;
    }
    const std::uint64_t before = twice ? reader->size() : 0;
    while (ticker.at(before + reader->position()) && reader->next(chunk)) {
        if (!writer->write(chunk.data(), chunk.size())) {
            result.writeError = writer->error();
            return result;
        }
    }
    if (ticker.cancelled()) {
        result.cancelled = true;
        return result;
    }
    if (!reader->error().empty()) {
        result.readError = reader->error();
        return result;
    }
    const Outcome written = writer->finish();
    if (!written.ok) {
        result.writeError = written.error;
        return result;
    }
    ticker.finish();
    result.ok = true;
    return result;
}

} // namespace formats
