#include "Formats.h"

#include "FormatIo.h"
#include "OutputFile.h"

#include <algorithm>
#include <cctype>
#include <cstring>

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

// The format the first bytes of a file show; PCD ascii (the reader then says what is wrong)
// when they show none.
Format sniff(InputFile& in) {
    char start[4] = {};
    const bool four = in.read(start, 4);
    in.seek(0);
    if (four && std::memcmp(start, "LASF", 4) == 0) {
        return Format::Las;
    }
    if (four && std::memcmp(start, "ply", 3) == 0 && (start[3] == '\n' || start[3] == '\r')) {
        return Format::PlyBinary;
    }
    return Format::PcdAscii;
}

bool isPcd(Format f) {
    return f == Format::PcdAscii || f == Format::PcdBinary || f == Format::PcdBinaryCompressed;
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
    OutputFile file(path);
    if (!file.open(outcome.error)) {
        return outcome;
    }
    Ticker ticker(points.size(), progress, cancel);
    const std::vector<Field> fields = selectedFields(options.fields);
    std::ostream& out = file.stream();
    switch (format) {
    case Format::PcdAscii:
        outcome.error = options.lx20
                            ? io::writePcdLx20(out, points, options.fields, *options.lx20, ticker)
                            : io::writePcd(out, points, fields, io::PcdData::Ascii, ticker);
        break;
    case Format::PcdBinary:
        outcome.error = io::writePcd(out, points, fields, io::PcdData::Binary, ticker);
        break;
    case Format::PcdBinaryCompressed:
        outcome.error = io::writePcd(out, points, fields, io::PcdData::BinaryCompressed, ticker);
        break;
    case Format::PlyBinary:
    case Format::PlyAscii:
        outcome.error = io::writePly(out, points, fields, format == Format::PlyBinary, ticker);
        break;
    case Format::Las:
        outcome.error = io::writeLas(out, points, options.fields, ticker);
        break;
    case Format::Csv:
        outcome.error = io::writeCsv(out, points, fields, ticker);
        break;
    }
    if (ticker.cancelled()) {
        file.discard();
        outcome.cancelled = true;
        outcome.error.clear();
        return outcome;
    }
    if (!outcome.error.empty()) {
        file.discard();
        return outcome;
    }
    outcome.ok = file.commit(outcome.error);
    if (outcome.ok) {
        ticker.finish();
    }
    return outcome;
}

ReadResult read(const std::string& path, const Progress& progress, const Cancel& cancel) {
    if (const std::optional<Format> byName = formatFromExtension(path)) {
        return read(path, *byName, progress, cancel);
    }
    InputFile in;
    ReadResult result;
    if (!in.open(path, result.error)) {
        return result;
    }
    const Format format = sniff(in);
    return read(path, format, progress, cancel);
}

ReadResult read(const std::string& path, Format format, const Progress& progress,
                const Cancel& cancel) {
    ReadResult result;
    result.format = format;
    if (isPcd(format)) {
        Ticker ticker(0, progress, cancel);
        io::readPcd(path, result, ticker);
        result.cancelled = ticker.cancelled();
        if (result.ok) {
            ticker.finish();
        }
    } else {
        InputFile in;
        if (!in.open(path, result.error)) {
            return result;
        }
        Ticker ticker(in.size(), progress, cancel);
        switch (format) {
        case Format::PlyBinary:
        case Format::PlyAscii:
            io::readPly(in, result, ticker);
            break;
        case Format::Las:
            io::readLas(in, result, ticker);
            break;
        case Format::Csv:
            io::readCsv(in, result, ticker);
            break;
        default:
            break;
        }
        if (!ticker.cancelled() && result.error.empty() && in.failed()) {
            result.error = "the file could not be read to its end";
        }
        result.cancelled = ticker.cancelled();
        result.ok = result.error.empty() && !result.cancelled;
        if (result.ok) {
            ticker.finish();
        }
    }
    if (result.cancelled) {
        result.ok = false;
        result.error.clear();
    }
    if (!result.ok) {
        result.points.clear();
    }
    return result;
}

} // namespace formats
