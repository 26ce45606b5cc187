// The PCD reader: ascii, binary and binary_compressed bodies read straight into the points, a
// chunk at a time (a compressed body is unpacked whole first: its columns follow one another).
#include "FormatIo.h"
#include "PcdFile.h"
#include "Scalars.h"
#include "TextNumbers.h"

#include <pcl/io/lzf.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace formats {

namespace {

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

struct PcdField {
    std::string name;
    Scalar type = Scalar::Float32;
    std::size_t size = 4;
    std::size_t count = 1;
    std::size_t offset = 0; // in a binary point
};

// The header as the checks above let it be read: one way.
struct PcdLayout {
    std::vector<PcdField> fields;
    std::uint64_t points = 0;
    std::size_t pointStep = 0;
    std::string data;
    std::uint64_t dataStart = 0;
};

std::optional<Scalar> pcdType(const std::string& type, std::uint64_t size) {
    if (type == "F") {
        return size == 4   ? std::optional(Scalar::Float32)
               : size == 8 ? std::optional(Scalar::Float64)
                           : std::nullopt;
    }
    if (type == "I" || type == "U") {
        const bool u = type == "U";
        switch (size) {
        case 1:
            return u ? Scalar::Uint8 : Scalar::Int8;
        case 2:
            return u ? Scalar::Uint16 : Scalar::Int16;
        case 4:
            return u ? Scalar::Uint32 : Scalar::Int32;
        default:
            break;
        }
    }
    return std::nullopt;
}

// After declaredSizeFits: the fields, their types and places, the number of points and where the
// data begins. FIELDS, SIZE and TYPE must be there, with an entry for every field.
bool readLayout(std::istream& in, PcdLayout& layout, std::string& error) {
    std::vector<std::string> names;
    std::vector<std::string> sizes;
    std::vector<std::string> types;
    std::vector<std::string> counts;
    std::optional<std::uint64_t> width;
    std::uint64_t height = 1;
    std::optional<std::uint64_t> points;
    auto number = [](const std::string& w) {
        std::uint64_t v = 0;
        std::from_chars(w.data(), w.data() + w.size(), v);
        return v;
    };
    std::string line;
    while (layout.data.empty() && std::getline(in, line)) {
        std::vector<std::string> words = headerWords(line);
        if (words.empty() || words[0][0] == '#') {
            continue;
        }
        const std::string key = words[0];
        words.erase(words.begin());
        if (key == "FIELDS" || key == "COLUMNS") {
            names = words;
        } else if (key == "SIZE") {
            sizes = words;
        } else if (key == "TYPE") {
            types = words;
        } else if (key == "COUNT") {
            counts = words;
        } else if (key == "WIDTH") {
            width = number(words[0]);
        } else if (key == "HEIGHT") {
            height = number(words[0]);
        } else if (key == "POINTS") {
            points = number(words[0]);
        } else if (key == "DATA") {
            layout.data = words.empty() ? "?" : words[0];
        }
    }
    layout.dataStart = static_cast<std::uint64_t>(in.tellg());
    const std::size_t n = names.size();
    if (n == 0 || sizes.size() != n || types.size() != n ||
        (!counts.empty() && counts.size() != n)) {
        error = "not a readable PCD file";
        return false;
    }
    const std::uint64_t declared = width ? *width * height : points.value_or(0);
    if (points && *points != declared) {
        error = "not a readable PCD file";
        return false;
    }
    layout.points = declared;
    for (std::size_t i = 0; i < n; ++i) {
        PcdField f;
        f.name = names[i];
        f.size = number(sizes[i]);
        f.count = counts.empty() ? 1 : number(counts[i]);
        const std::optional<Scalar> type = pcdType(types[i], f.size);
        if (!type) {
            error = "not a readable PCD file";
            return false;
        }
        f.type = *type;
        f.offset = layout.pointStep;
        layout.pointStep += f.size * f.count;
        layout.fields.push_back(f);
    }
    return true;
}

class PcdReader : public PointReader {
protected:
    bool start(const std::string& path) override {
        {
            std::ifstream in(path, std::ios::in | std::ios::binary);
            if (!in) {
                m_error = std::strerror(errno);
                return false;
            }
            if (!declaredSizeFits(in, m_error)) {
                return false;
            }
            in.clear();
            in.seekg(0);
            if (!readLayout(in, m_layout, m_error)) {
                return false;
            }
        }
        m_format = m_layout.data == "binary_compressed" ? Format::PcdBinaryCompressed
                   : m_layout.data == "binary"          ? Format::PcdBinary
                                                        : Format::PcdAscii;
        if (!sources()) {
            return false;
        }
        m_count = m_layout.points;
        if (!m_in.seek(m_layout.dataStart)) {
            m_error = "the file holds fewer points than its header declares";
            return false;
        }
        return true;
    }

    std::uint64_t position() const override {
        if (m_format != Format::PcdBinaryCompressed || m_layout.points == 0) {
            return m_in.position();
        }
        return m_layout.dataStart + m_packedSize * m_done / m_layout.points;
    }

    bool next(std::vector<DataPoint>& chunk) override {
        const std::uint64_t count = m_layout.points;
        if (m_done == count) {
            return finished();
        }
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(kChunkPoints, count - m_done));
        chunk.assign(n, DataPoint{});
        switch (m_format) {
        case Format::PcdBinary:
            m_bytes.resize(n * m_layout.pointStep);
            if (!m_in.read(m_bytes.data(), m_bytes.size())) {
                m_error = "the file holds fewer points than its header declares";
                return false;
            }
            decodeColumns(m_bytes.data(), 0, n, m_plan, chunk.data());
            break;
        case Format::PcdBinaryCompressed:
            if (m_done == 0 && !unpack()) {
                return false;
            }
            decodeColumns(m_bytes.data(), m_done, n, m_plan, chunk.data());
            if (m_done + n == count) {
                std::vector<unsigned char>().swap(m_bytes);
            }
            break;
        default:
            if (!readRows(chunk)) {
                return false;
            }
            break;
        }
        m_done += n;
        return true;
    }

private:
    // Where each column is read from, the intensity falling back on the fourth value of a
    // point; false when the file has no coordinates.
    bool sources() {
        struct Source {
            const PcdField* field = nullptr;
            std::size_t element = 0;
        };
        Source named[kFieldCount];
        for (const PcdField& f : m_layout.fields) {
            const std::optional<Field> field = fieldFromName(f.name);
            if (!field || f.count == 0) {
                continue;
            }
            Source& s = named[static_cast<int>(*field)];
            if (s.field == nullptr || f.name == "amplitude") {
                s.field = &f;
            }
            setSelected(m_fields, *field, true);
        }
        if (!m_fields.x && !m_fields.y && !m_fields.z && m_layout.points > 0) {
            m_error = "the file has no x, y or z field";
            return false;
        }
        Source& intensity = named[static_cast<int>(Field::Intensity)];
        if (intensity.field == nullptr) {
            std::size_t index = 3; // counting every element of every field but padding
            for (const PcdField& f : m_layout.fields) {
                if (f.name == "_") {
                    continue;
                }
                if (index < f.count) {
                    intensity = {&f, index};
                    break;
                }
                index -= f.count;
            }
        }
        // Where the values lie: in a binary point, or in the field's column of a compressed
        // body (padding is not stored there).
        std::vector<std::size_t> column(m_layout.fields.size(), 0);
        std::size_t at = 0;
        for (std::size_t i = 0; i < m_layout.fields.size(); ++i) {
            const PcdField& f = m_layout.fields[i];
            column[i] = at;
            if (f.name != "_") {
                at += m_layout.points * f.size * f.count;
                m_packedStep += f.size * f.count;
            }
        }
        std::vector<ColumnSource> every;
        for (int k = 0; k < kFieldCount; ++k) {
            const Source& s = named[k];
            if (s.field == nullptr) {
                continue;
            }
            const std::size_t i = static_cast<std::size_t>(s.field - m_layout.fields.data());
            ColumnSource c;
            c.type = s.field->type;
            c.field = static_cast<Field>(k);
            if (m_format == Format::PcdBinaryCompressed) {
                c.offset = column[i] + s.element * s.field->size;
                c.stride = s.field->size * s.field->count;
            } else {
                c.offset = s.field->offset + s.element * s.field->size;
                c.stride = m_layout.pointStep;
            }
            every.push_back(c);
            if (isSelected(m_wanted, c.field)) {
                m_plan.push_back(c);
            }
        }
        // An ascii row: for each value, the column it fills (-1: none) and its type.
        if (m_format == Format::PcdAscii) {
            for (const PcdField& f : m_layout.fields) {
                for (std::size_t e = 0; e < f.count; ++e) {
                    m_targets.push_back(0);
                    m_types.push_back(f.type);
                    for (const ColumnSource& c : every) {
                        if (c.offset == f.offset + e * f.size) {
                            m_targets.back() |= 1u << static_cast<int>(c.field);
                        }
                    }
                }
            }
        }
        return true;
    }

    // The compressed body, whole; its sizes were checked against the header before.
    bool unpack() {
        unsigned char sizes[8];
        if (!m_in.read(sizes, 8)) {
            m_error = "not a readable PCD file";
            return false;
        }
        const std::uint32_t packed = loadAs<std::uint32_t>(sizes);
        const std::uint32_t plain = loadAs<std::uint32_t>(sizes + 4);
        m_packedSize = packed;
        std::vector<unsigned char> compressed(packed);
        if (!m_in.read(compressed.data(), packed)) {
            m_error = "not a readable PCD file";
            return false;
        }
        m_bytes.resize(plain);
        if (plain < m_layout.points * m_packedStep ||
            pcl::lzfDecompress(compressed.data(), packed, m_bytes.data(), plain) != plain) {
            m_error = "not a readable PCD file";
            return false;
        }
        return true;
    }

    // Rows of an ascii body: one value per element of every field, separated by blanks; a value
    // is stored as its field's type holds it (a float for F4, truncated toward zero for
    // integers). Every value is checked, wanted or not.
    bool readRows(std::vector<DataPoint>& chunk) {
        std::string_view line;
        std::size_t filled = 0;
        while (filled < chunk.size() && m_in.line(line)) {
            if (trimmed(line).empty()) {
                continue;
            }
            ++m_row;
            DataPoint& p = chunk[filled];
            std::size_t v = 0;
            for (std::string_view word = nextWord(line); !word.empty();
                 word = nextWord(line), ++v) {
                if (v >= m_targets.size() || m_targets[v] == 0) {
                    continue;
                }
                double value = 0.0;
                if (!parseNumber(word, value)) {
                    m_error = "row " + std::to_string(m_row) + ": '" +
                              std::string(word.substr(0, 40)) + "' is not a number";
                    return false;
                }
                if (m_types[v] == Scalar::Float32) {
                    value = static_cast<float>(value);
                } else if (m_types[v] != Scalar::Float64) {
                    value = std::trunc(value);
                }
                for (int k = 0; k < kFieldCount; ++k) {
                    if ((m_targets[v] >> k & 1u) && isSelected(m_wanted, static_cast<Field>(k))) {
                        setFieldValue(p, static_cast<Field>(k), value);
                    }
                }
            }
            if (v != m_targets.size()) {
                m_error = "row " + std::to_string(m_row) + " has " + std::to_string(v) +
                          " values, not " + std::to_string(m_targets.size());
                return false;
            }
            ++filled;
        }
        if (m_in.tooLong()) {
            m_error = "row " + std::to_string(m_row + 1) + " is too long";
            return false;
        }
        if (filled < chunk.size()) {
            m_error = "the file holds fewer points than its header declares";
            return false;
        }
        return true;
    }

    PcdLayout m_layout;
    std::vector<ColumnSource> m_plan;     // the wanted columns
    std::vector<std::uint16_t> m_targets; // ascii: the columns each value of a row fills, as bits
    std::vector<Scalar> m_types;          // ascii: the type of each value of a row
    std::vector<unsigned char> m_bytes;
    std::size_t m_packedStep = 0; // bytes of a point in a compressed body
    std::uint64_t m_packedSize = 0;
    std::uint64_t m_done = 0;
    std::uint64_t m_row = 0;
};

} // namespace

PcdLoadResult readPcdFile(const std::string& path) {
    ReadResult read = formats::read(path, Format::PcdAscii);
    PcdLoadResult result;
    result.ok = read.ok;
    result.error = std::move(read.error);
    result.points = std::move(read.points);
    return result;
}

namespace io {

std::unique_ptr<PointReader> pcdReader() {
    return std::make_unique<PcdReader>();
}

} // namespace io

} // namespace formats
