#include "FormatIo.h"
#include "PcdFile.h"
#include "TextNumbers.h"

#include <pcl/PCLPointCloud2.h>
#include <pcl/io/pcd_io.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>
#include <vector>

namespace formats {

namespace {

double readScalar(const std::uint8_t* p, std::uint8_t datatype) {
    switch (datatype) {
    case pcl::PCLPointField::INT8: {
        std::int8_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    case pcl::PCLPointField::UINT8: {
        std::uint8_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    case pcl::PCLPointField::INT16: {
        std::int16_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    case pcl::PCLPointField::UINT16: {
        std::uint16_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    case pcl::PCLPointField::INT32: {
        std::int32_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    case pcl::PCLPointField::UINT32: {
        std::uint32_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    case pcl::PCLPointField::FLOAT32: {
        float v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    case pcl::PCLPointField::FLOAT64: {
        double v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    default:
        return 0.0;
    }
}

std::size_t scalarSize(std::uint8_t datatype) {
    switch (datatype) {
    case pcl::PCLPointField::INT8:
    case pcl::PCLPointField::UINT8:
        return 1;
    case pcl::PCLPointField::INT16:
    case pcl::PCLPointField::UINT16:
        return 2;
    case pcl::PCLPointField::INT32:
    case pcl::PCLPointField::UINT32:
    case pcl::PCLPointField::FLOAT32:
        return 4;
    case pcl::PCLPointField::FLOAT64:
        return 8;
    default:
        return 0;
    }
}

// Where one value sits in a point: byte offset and type; offset < 0 when absent.
struct Source {
    long long offset = -1;
    std::uint8_t datatype = 0;
};

// Where each column named as in Fields.h sits in a point; "amplitude" is preferred to
// "intensity" when a file has both.
void namedSources(const pcl::PCLPointCloud2& cloud, FieldSelection& present,
                  Source (&sources)[kFieldCount]) {
    present = noFields();
    for (const auto& f : cloud.fields) {
        const std::optional<Field> field = fieldFromName(f.name);
        if (!field || f.count == 0 || scalarSize(f.datatype) == 0) {
            continue;
        }
        Source& s = sources[static_cast<int>(*field)];
        if (s.offset < 0 || f.name == "amplitude") {
            s = {static_cast<long long>(f.offset), f.datatype};
        }
        setSelected(present, *field, true);
    }
}

// True when every field lies inside its point. A header whose sizes do not add up (for example
// one without SIZE and TYPE lines) would otherwise make fields reach past the end of a point.
bool fieldsFitThePoint(const pcl::PCLPointCloud2& cloud) {
    for (const auto& f : cloud.fields) {
        const std::uint64_t end =
            std::uint64_t{f.offset} + std::uint64_t{f.count} * scalarSize(f.datatype);
        if (end > cloud.point_step) {
            return false;
        }
    }
    return true;
}

// The value at position `index` of a data row, counting every element of every field.
Source valueAt(const pcl::PCLPointCloud2& cloud, std::size_t index) {
    for (const auto& f : cloud.fields) {
        if (f.name == "_") {
            continue;
        }
        const std::size_t count = f.count;
        if (index < count) {
            const std::size_t size = scalarSize(f.datatype);
            if (size == 0) {
                return {};
            }
            return {static_cast<long long>(f.offset + index * size), f.datatype};
        }
        index -= count;
    }
    return {};
}

// The reader sizes its buffers from the header before it reads any data, takes a keyword by its
// first letters and a number by its leading digits, and stops at the first line it does not know.
// A corrupt or hostile header must not make it ask for more memory than the file could fill, so
// the header is checked first, strictly enough that it can only be read one way: printable
// words, each keyword once and spelt in full, numbers that are all digits. An ascii row then
// takes at least two bytes per point, binary data exactly its size, and compressed data at most
// about a hundredth of it.
const char* const kHeaderKeywords[] = {"VERSION", "FIELDS", "COLUMNS",   "SIZE",   "TYPE", "COUNT",
                                       "WIDTH",   "HEIGHT", "VIEWPOINT", "POINTS", "DATA"};

std::vector<std::string> headerWords(const std::string& line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        const std::size_t start = line.find_first_not_of(" \t\r", i);
        if (start == std::string::npos) {
            break;
        }
        i = line.find_first_of(" \t\r", start);
        words.push_back(line.substr(start, i == std::string::npos ? i : i - start));
    }
    return words;
}

bool printableHeaderLine(const std::string& line) {
    return std::all_of(line.begin(), line.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return c == '\t' || c == '\r' || (u >= 0x20 && u < 0x7f);
    });
}

// The reader does not stop at the DATA line: it goes on taking lines of the data as header lines
// for as long as they begin with a comment mark or a keyword. Such a file is not one we can
// check, nor one any writer makes.
bool headerGoesOnAfterData(std::istream& in) {
    auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    std::string line;
    while (std::getline(in, line)) {
        const auto first = std::find_if_not(line.begin(), line.end(), space);
        const std::string word(first, std::find_if(first, line.end(), space));
        if (line.empty() || (!word.empty() && word[0] == '#')) {
            continue;
        }
        return std::any_of(std::begin(kHeaderKeywords), std::end(kHeaderKeywords),
                           [&](const char* k) { return word.rfind(k, 0) == 0; });
    }
    return false;
}

bool declaredSizeFits(std::istream& in, std::string& error) {
    // The reader keeps counts and sizes in ints.
    constexpr std::uint64_t kLargest = std::numeric_limits<std::int32_t>::max();
    std::vector<std::uint64_t> sizes;
    std::vector<std::uint64_t> counts;
    std::uint64_t fields = 0;
    std::uint64_t points = 0;
    std::uint64_t width = 0;
    std::uint64_t height = 1;
    std::vector<std::string> seen;
    std::vector<std::string> names;
    std::string kind;
    std::string line;
    const std::string unreadable = "not a readable PCD file";
    for (int lines = 0; lines < 64 && kind.empty() && std::getline(in, line); ++lines) {
        const std::vector<std::string> words = headerWords(line);
        if (line.empty() || (!words.empty() && words[0][0] == '#')) {
            continue;
        }
        if (!printableHeaderLine(line) || words.empty() ||
            std::find(std::begin(kHeaderKeywords), std::end(kHeaderKeywords), words[0]) ==
                std::end(kHeaderKeywords) ||
            std::find(seen.begin(), seen.end(), words[0]) != seen.end()) {
            error = unreadable;
            return false;
        }
        const std::string& key = words[0];
        seen.push_back(key);
        std::vector<std::uint64_t> numbers;
        if (key == "SIZE" || key == "COUNT" || key == "WIDTH" || key == "HEIGHT" ||
            key == "POINTS") {
            for (std::size_t i = 1; i < words.size(); ++i) {
                std::uint64_t v = 0;
                const std::string& w = words[i];
                const auto r = std::from_chars(w.data(), w.data() + w.size(), v);
                if (r.ec != std::errc() || r.ptr != w.data() + w.size() || v > kLargest) {
                    error = "the header declares an impossible size";
                    return false;
                }
                numbers.push_back(v);
            }
            if (numbers.empty()) {
                error = unreadable;
                return false;
            }
        }
        if (key == "FIELDS" || key == "COLUMNS") {
            fields = words.size() - 1;
            names = words;
        } else if (key == "SIZE") {
            if (!std::all_of(numbers.begin(), numbers.end(), [](std::uint64_t n) {
                    return n == 1 || n == 2 || n == 4 || n == 8;
                })) {
                error = unreadable;
                return false;
            }
            sizes = numbers;
        } else if (key == "COUNT") {
            counts = numbers;
        } else if (key == "WIDTH") {
            width = numbers[0];
        } else if (key == "HEIGHT") {
            height = numbers[0];
        } else if (key == "POINTS") {
            points = numbers[0];
        } else if (key == "DATA") {
            kind = words.size() > 1 ? words[1] : "?";
        }
    }
    const std::streampos dataStart = in.tellg();
    if (!kind.empty() && headerGoesOnAfterData(in)) {
        error = unreadable;
        return false;
    }
    // Every number is below 2^31, so single products fit; sums saturate, and the checks
    // below compare products by division.
    auto add = [](std::uint64_t a, std::uint64_t b) {
        return a > std::numeric_limits<std::uint64_t>::max() - b
                   ? std::numeric_limits<std::uint64_t>::max()
                   : a + b;
    };
    // The reader's point size depends on which of FIELDS, SIZE and COUNT it has seen: bound it
    // by the largest.
    std::uint64_t sized = 0;
    std::uint64_t counted = 0;
    std::uint64_t values = 0;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const std::uint64_t count = i < counts.size() ? counts[i] : 1;
        sized = add(sized, sizes[i]);
        counted = add(counted, sizes[i] * count);
        values = add(values, count);
    }
    const std::uint64_t pointStep = std::max({fields * 4, sized, counted});
    if (pointStep > kLargest) {
        error = "the header declares an impossible size";
        return false;
    }
    values = std::max(values, fields);
    const std::uint64_t declared = std::max(points, width * height);
    in.clear();
    in.seekg(0, std::ios::end);
    const std::streampos end = in.tellg();
    const std::uint64_t body =
        dataStart >= 0 && end > dataStart ? static_cast<std::uint64_t>(end - dataStart) : 0;
    auto atMost = [](std::uint64_t a, std::uint64_t b, std::uint64_t limit) {
        return a == 0 || b == 0 || a <= limit / b;
    };
    bool fits = true;
    if (kind == "ascii") {
        // Every value of a row takes at least a digit and a separator, and is stored in at
        // most 8 bytes.
        fits = atMost(declared, std::max<std::uint64_t>(values, 1), body / 2) &&
               atMost(declared, pointStep, body * 4);
    } else if (kind == "binary") {
        fits = atMost(declared, pointStep, body);
    } else if (kind == "binary_compressed") {
        fits = body <= std::numeric_limits<std::uint64_t>::max() / 100 &&
               atMost(declared, pointStep, body * 100);
        // The reader sizes its buffers by the stored sizes and then unpacks every declared
        // point into them without checking: the stored sizes must agree with the header.
        // Padding fields ("_") are not stored.
        std::uint64_t packed = 0;
        for (std::size_t i = 0; i < fields; ++i) {
            if (names[i + 1] != "_") {
                packed = add(packed, (i < sizes.size() ? sizes[i] : 4) *
                                         (i < counts.size() ? counts[i] : 1));
            }
        }
        auto product = [](std::uint64_t a, std::uint64_t b) {
            return a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a
                       ? std::numeric_limits<std::uint64_t>::max()
                       : a * b;
        };
        unsigned char stored[8] = {};
        in.clear();
        in.seekg(dataStart);
        if (body >= 8 && in.read(reinterpret_cast<char*>(stored), 8)) {
            auto le32 = [&stored](int at) {
                return std::uint64_t{stored[at]} | std::uint64_t{stored[at + 1]} << 8 |
                       std::uint64_t{stored[at + 2]} << 16 | std::uint64_t{stored[at + 3]} << 24;
            };
            const std::uint64_t compressedSize = le32(0);
            const std::uint64_t uncompressedSize = le32(4);
            fits = fits && compressedSize <= body - 8 &&
                   product(declared, packed) <= uncompressedSize &&
                   uncompressedSize <= product(declared, pointStep);
        } else {
            fits = fits && declared == 0;
        }
    } else {
        error = unreadable;
        return false;
    }
    if (!fits) {
        error = "the file holds fewer points than its header declares";
    }
    return fits;
}

// Where each column is read from in a point, the intensity falling back on the fourth value;
// false with the reason when the file has no coordinates.
bool pointSources(const pcl::PCLPointCloud2& cloud, ReadResult& result,
                  Source (&sources)[kFieldCount]) {
    namedSources(cloud, result.fields, sources);
    if (!result.fields.x && !result.fields.y && !result.fields.z) {
        result.error = "the file has no x, y or z field";
        return false;
    }
    const int intensity = static_cast<int>(Field::Intensity);
    if (sources[intensity].offset < 0) {
        sources[intensity] = valueAt(cloud, 3);
    }
    return true;
}

// The data rows of an ascii file, read here rather than by PCL: with progress and cancellation,
// several times faster, and every row checked. Each row holds one value per element of every
// field, separated by blanks; a value is stored as its field's type holds it (a float for F4,
// truncated toward zero for integers).
bool readAsciiBody(const std::string& path, std::uint64_t dataStart,
                   const pcl::PCLPointCloud2& cloud, ReadResult& result, Ticker& ticker) {
    Source sources[kFieldCount];
    if (!pointSources(cloud, result, sources)) {
        return false;
    }
    // The byte offset of every value of a row in the point, as PCL lays the point out.
    std::vector<long long> valueOffsets;
    for (const auto& f : cloud.fields) {
        for (std::uint32_t k = 0; k < f.count; ++k) {
            valueOffsets.push_back(static_cast<long long>(f.offset + k * scalarSize(f.datatype)));
        }
    }
    // For each value of a row, the column it fills (-1: none) and its type.
    std::vector<int> target(valueOffsets.size(), -1);
    std::vector<std::uint8_t> type(valueOffsets.size(), 0);
    for (int field = 0; field < kFieldCount; ++field) {
        for (std::size_t v = 0; v < valueOffsets.size(); ++v) {
            if (sources[field].offset >= 0 && valueOffsets[v] == sources[field].offset) {
                target[v] = field;
                type[v] = sources[field].datatype;
                break;
            }
        }
    }

    InputFile in;
    if (!in.open(path, result.error)) {
        return false;
    }
    if (!in.seek(dataStart)) {
        result.error = "the file holds fewer points than its header declares";
        return false;
    }
    ticker.setTotal(in.size());
    const std::uint64_t count = std::uint64_t{cloud.width} * cloud.height;
    std::string_view line;
    std::uint64_t row = 0;
    while (result.points.size() < count && in.line(line)) {
        if (!ticker.at(in.position())) {
            result.points.clear();
            return false;
        }
        if (trimmed(line).empty()) {
            continue;
        }
        ++row;
        DataPoint p;
        std::size_t v = 0;
        for (std::string_view word = nextWord(line); !word.empty(); word = nextWord(line), ++v) {
            if (v >= target.size() || target[v] < 0) {
                continue;
            }
            double value = 0.0;
            if (!parseNumber(word, value)) {
                result.error = "row " + std::to_string(row) + ": '" +
                               std::string(word.substr(0, 40)) + "' is not a number";
                return false;
            }
            if (type[v] == pcl::PCLPointField::FLOAT32) {
                value = static_cast<float>(value);
            } else if (type[v] != pcl::PCLPointField::FLOAT64) {
                value = std::trunc(value);
            }
            setFieldValue(p, static_cast<Field>(target[v]), value);
        }
        if (v != target.size()) {
            result.error = "row " + std::to_string(row) + " has " + std::to_string(v) +
                           " values, not " + std::to_string(target.size());
            return false;
        }
        result.points.push_back(p);
    }
    if (in.tooLong()) {
        result.error = "row " + std::to_string(row + 1) + " is too long";
        return false;
    }
    if (result.points.size() < count) {
        result.error = "the file holds fewer points than its header declares";
        return false;
    }
    return true;
}

bool readPcdPoints(const std::string& path, ReadResult& result, Ticker& ticker) {
    {
        std::ifstream in(path, std::ios::in | std::ios::binary);
        if (!in) {
            result.error = std::strerror(errno);
            return false;
        }
        if (!declaredSizeFits(in, result.error)) {
            return false;
        }
    }

    // The reader trusts the header: check it first, as files without fields or points make the
    // body reader fail badly.
    pcl::PCLPointCloud2 cloud;
    pcl::PCDReader reader;
    Eigen::Vector4f origin;
    Eigen::Quaternionf orientation;
    int version = 0;
    int dataType = 0;
    unsigned int dataStart = 0;
    int header = -1;
    try {
        header = reader.readHeader(path, cloud, origin, orientation, version, dataType, dataStart);
    } catch (const std::exception&) {
        header = -1;
    }
    if (header < 0 || cloud.fields.empty()) {
        result.error = "not a readable PCD file";
        return false;
    }
    if (!fieldsFitThePoint(cloud)) {
        result.error = "the sizes of the file's fields do not match its layout";
        return false;
    }
    result.format = dataType == 2   ? Format::PcdBinaryCompressed
                    : dataType == 1 ? Format::PcdBinary
                                    : Format::PcdAscii;
    if (std::uint64_t{cloud.width} * cloud.height == 0) {
        Source unused[kFieldCount];
        namedSources(cloud, result.fields, unused);
        return true;
    }
    if (!ticker.at(0)) {
        return false;
    }
    if (dataType == 0) {
        // The header reader sized the data for a binary body; rows are read into the points.
        std::vector<std::uint8_t>().swap(cloud.data);
        return readAsciiBody(path, dataStart, cloud, result, ticker);
    }
    try {
        if (reader.read(path, cloud) < 0) {
            result.error = "not a readable PCD file";
            return false;
        }
    } catch (const std::exception& e) {
        result.error = std::string("not a readable PCD file (") + e.what() + ")";
        return false;
    }

    Source sources[kFieldCount];
    if (!pointSources(cloud, result, sources)) {
        return false;
    }

    const std::size_t width = cloud.width;
    const std::size_t count = width * cloud.height;
    const std::size_t needed =
        count == 0 ? 0
                   : (cloud.height - 1) * std::size_t{cloud.row_step} + width * cloud.point_step;
    if (cloud.data.size() < needed) {
        result.error = "the file holds fewer points than its header declares";
        return false;
    }
    ticker.setTotal(count);
    result.points.resize(count);
    auto out = result.points.begin();
    for (std::size_t i = 0; i < count; ++i, ++out) {
        if (!ticker.at(i)) {
            result.points.clear();
            return false;
        }
        const std::uint8_t* point =
            cloud.data.data() + (i / width) * cloud.row_step + (i % width) * cloud.point_step;
        for (int f = 0; f < kFieldCount; ++f) {
            if (sources[f].offset >= 0) {
                setFieldValue(*out, static_cast<Field>(f),
                              readScalar(point + sources[f].offset, sources[f].datatype));
            }
        }
    }
    return true;
}

} // namespace

PcdLoadResult readPcdFile(const std::string& path) {
    ReadResult read;
    Ticker ticker(0, {}, {});
    PcdLoadResult result;
    result.ok = readPcdPoints(path, read, ticker);
    result.error = std::move(read.error);
    result.points = std::move(read.points);
    return result;
}

namespace io {

void readPcd(const std::string& path, ReadResult& result, Ticker& ticker) {
    result.ok = readPcdPoints(path, result, ticker);
}

} // namespace io

} // namespace formats
