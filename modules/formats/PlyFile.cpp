// PLY: a "vertex" element with one property per column: float for every value but the
// timestamp, which is a uint (as the PCD files' U4). Written as binary_little_endian or ascii;
// read in any of the three encodings, with other elements and list properties skipped.
#include "BlockWriter.h"
#include "FormatIo.h"
#include "Scalars.h"
#include "TextNumbers.h"

#include <algorithm>
#include <memory>
#include <optional>

#include <cstring>
#include <string>

namespace formats::io {

namespace {

// A property type by its name; none for an unknown one.
std::optional<Scalar> scalarNamed(std::string_view name) {
    static const std::pair<const char*, Scalar> names[] = {
        {"char", Scalar::Int8},      {"int8", Scalar::Int8},       {"uchar", Scalar::Uint8},
        {"uint8", Scalar::Uint8},    {"short", Scalar::Int16},     {"int16", Scalar::Int16},
        {"ushort", Scalar::Uint16},  {"uint16", Scalar::Uint16},   {"int", Scalar::Int32},
        {"int32", Scalar::Int32},    {"uint", Scalar::Uint32},     {"uint32", Scalar::Uint32},
        {"float", Scalar::Float32},  {"float32", Scalar::Float32}, {"double", Scalar::Float64},
        {"float64", Scalar::Float64}};
    for (const auto& [n, s] : names) {
        if (name == n) {
            return s;
        }
    }
    return std::nullopt;
}

// A scalar from its bytes in the file's byte order.
double decode(const unsigned char* b, Scalar s, bool bigEndian) {
    unsigned char swapped[8];
    const unsigned char* v = b;
    if (bigEndian) {
        const std::size_t n = scalarSize(s);
        for (std::size_t i = 0; i < n; ++i) {
            swapped[i] = b[n - 1 - i];
        }
        v = swapped;
    }
    switch (s) {
    case Scalar::Int8:
        return static_cast<std::int8_t>(v[0]);
    case Scalar::Uint8:
        return v[0];
    case Scalar::Int16: {
        std::int16_t x;
        std::memcpy(&x, v, 2);
        return x;
    }
    case Scalar::Uint16: {
        std::uint16_t x;
        std::memcpy(&x, v, 2);
        return x;
    }
    case Scalar::Int32: {
        std::int32_t x;
        std::memcpy(&x, v, 4);
        return x;
    }
    case Scalar::Uint32: {
        std::uint32_t x;
        std::memcpy(&x, v, 4);
        return x;
    }
    case Scalar::Float32: {
        float x;
        std::memcpy(&x, v, 4);
        return x;
    }
    case Scalar::Float64: {
        double x;
        std::memcpy(&x, v, 8);
        return x;
    }
    }
    return 0.0;
}

struct Property {
    std::string name;
    Scalar type = Scalar::Float32;
    std::optional<Scalar> countType; // a list's length type; none for a scalar property
    int field = -1;                  // the column it fills, for the vertex element
};

struct Element {
    std::string name;
    std::uint64_t count = 0;
    std::vector<Property> properties;
    std::size_t fixedSize = 0; // bytes of a binary item without lists (up to kMaxFixedItem), else 0
};

constexpr std::size_t kMaxFixedItem = 4096;

enum class Encoding { Ascii, Little, Big };

bool parseCount(std::string_view word, std::uint64_t& value) {
    const auto r = std::from_chars(word.data(), word.data() + word.size(), value);
    return !word.empty() && r.ec == std::errc() && r.ptr == word.data() + word.size();
}

// Reads the header up to end_header; false with the reason.
bool readHeader(InputFile& in, Encoding& encoding, std::vector<Element>& elements,
                std::string& error) {
    std::string_view line;
    if (!in.line(line, 256) || line != "ply") {
        error = "not a PLY file";
        return false;
    }
    bool format = false;
    for (int lines = 0;; ++lines) {
        if (lines > 10000 || !in.line(line, 4096)) {
            error = "the header has no end_header line";
            return false;
        }
        std::string_view rest = line;
        const std::string_view keyword = nextWord(rest);
        if (keyword == "end_header") {
            break;
        }
        if (keyword == "comment" || keyword == "obj_info" || keyword.empty()) {
            continue;
        }
        if (keyword == "format") {
            const std::string_view kind = nextWord(rest);
            const std::string_view version = nextWord(rest);
            if (kind == "ascii") {
                encoding = Encoding::Ascii;
            } else if (kind == "binary_little_endian") {
                encoding = Encoding::Little;
            } else if (kind == "binary_big_endian") {
                encoding = Encoding::Big;
            } else {
                error = "unknown PLY format '" + std::string(kind.substr(0, 40)) + "'";
                return false;
            }
            if (version != "1.0" || format) {
                error = "unsupported PLY format line";
                return false;
            }
            format = true;
        } else if (keyword == "element") {
            Element e;
            e.name = std::string(nextWord(rest));
            if (e.name.empty() || !parseCount(nextWord(rest), e.count)) {
                error = "an element line without a count";
                return false;
            }
            elements.push_back(std::move(e));
        } else if (keyword == "property") {
            if (elements.empty()) {
                error = "a property before any element";
                return false;
            }
            Property p;
            const std::string_view type = nextWord(rest);
            if (type == "list") {
                p.countType = scalarNamed(nextWord(rest));
                const std::optional<Scalar> item = scalarNamed(nextWord(rest));
                if (!p.countType || p.countType == Scalar::Float32 ||
                    p.countType == Scalar::Float64 || !item) {
                    error = "a list property of unknown types";
                    return false;
                }
                p.type = *item;
            } else {
                const std::optional<Scalar> scalar = scalarNamed(type);
                if (!scalar) {
                    error = "a property of unknown type '" + std::string(type.substr(0, 40)) + "'";
                    return false;
                }
                p.type = *scalar;
            }
            p.name = std::string(nextWord(rest));
            elements.back().properties.push_back(std::move(p));
        } else {
            error = "unknown header line '" + std::string(line.substr(0, 40)) + "'";
            return false;
        }
    }
    if (!format) {
        error = "the header has no format line";
        return false;
    }
    for (Element& e : elements) {
        std::size_t size = 0;
        for (const Property& p : e.properties) {
            size = p.countType ? kMaxFixedItem + 1 : size + scalarSize(p.type);
        }
        e.fixedSize = size <= kMaxFixedItem ? size : 0;
    }
    return true;
}

// Reads (or skips) one item of an element; values of scalar properties in values.
bool readItem(InputFile& in, Encoding encoding, const Element& e, double* values,
              std::string& error) {
    if (encoding == Encoding::Ascii) {
        std::string_view line;
        if (!in.line(line)) {
            error = "the file ends before its last " + e.name;
            return false;
        }
        std::size_t at = 0;
        for (const Property& p : e.properties) {
            double v = 0.0;
            if (!parseNumber(nextWord(line), v)) {
                error = "a " + e.name + " row with a missing or bad value";
                return false;
            }
            if (p.countType) {
                if (!(v >= 0.0 && v <= 1e6)) {
                    error = "a list of impossible length";
                    return false;
                }
                for (std::uint64_t i = 0; i < static_cast<std::uint64_t>(v); ++i) {
                    double skipped;
                    if (!parseNumber(nextWord(line), skipped)) {
                        error = "a " + e.name + " row with a missing or bad value";
                        return false;
                    }
                }
            } else {
                // A float property holds the float nearest the text, as a binary file would.
                values[at] = p.type == Scalar::Float32 ? static_cast<float>(v) : v;
            }
            ++at;
        }
        return true;
    }
    const bool big = encoding == Encoding::Big;
    if (e.fixedSize > 0) {
        // No lists: the whole item in one read.
        unsigned char item[kMaxFixedItem];
        if (!in.read(item, e.fixedSize)) {
            error = "the file ends before its last " + e.name;
            return false;
        }
        std::size_t offset = 0;
        for (std::size_t k = 0; k < e.properties.size(); ++k) {
            values[k] = decode(item + offset, e.properties[k].type, big);
            offset += scalarSize(e.properties[k].type);
        }
        return true;
    }
    std::size_t at = 0;
    for (const Property& p : e.properties) {
        unsigned char bytes[8];
        if (p.countType) {
            if (!in.read(bytes, scalarSize(*p.countType))) {
                error = "the file ends before its last " + e.name;
                return false;
            }
            const double n = decode(bytes, *p.countType, big);
            if (!(n >= 0.0)) {
                error = "a list of impossible length";
                return false;
            }
            if (!in.skip(static_cast<std::uint64_t>(n) * scalarSize(p.type))) {
                error = "the file ends before its last " + e.name;
                return false;
            }
        } else {
            if (!in.read(bytes, scalarSize(p.type))) {
                error = "the file ends before its last " + e.name;
                return false;
            }
            values[at] = decode(bytes, p.type, big);
        }
        ++at;
    }
    return true;
}

} // namespace

namespace {

class PlyWriter : public BlockPointWriter {
public:
    PlyWriter(std::vector<Field> fields, bool binary)
        : m_fields(std::move(fields)), m_binary(binary) {}

protected:
    std::string begin(std::ostream& out) override {
        BlockWriter& w = startBlocks(out);
        w.text("ply");
        w.endLine();
        w.text(m_binary ? "format binary_little_endian 1.0" : "format ascii 1.0");
        w.endLine();
        w.text("element vertex ");
        w.unsignedInt(m_extent.count);
        w.endLine();
        for (Field f : m_fields) {
            w.text(f == Field::Timestamp ? "property uint " : "property float ");
            w.text(fieldName(f));
            w.endLine();
        }
        w.text("end_header");
        w.endLine();
        if (m_binary) {
            reserveFile(w.total() + m_extent.count * 4 * m_fields.size());
        }
        return {};
    }

    std::string put(const DataPoint* points, std::size_t n) override {
        BlockWriter& w = *m_out;
        if (m_binary) {
            encodeRecords(points, n, m_fields, w.reserve(n * 4 * m_fields.size()));
            return {};
        }
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t c = 0; c < m_fields.size(); ++c) {
                if (c > 0) {
                    w.character(' ');
                }
                if (m_fields[c] == Field::Timestamp) {
                    w.unsignedInt(timestampU4(points[i].timestamp));
                } else {
                    w.shortest(static_cast<float>(fieldValue(points[i], m_fields[c])));
                }
            }
            w.endLine();
        }
        return {};
    }

private:
    std::vector<Field> m_fields;
    bool m_binary;
};

// The vertices of a PLY file; the elements before them are skipped, those after never read.
class PlyReader : public PointReader {
protected:
    bool start(const std::string&) override {
        if (!readHeader(m_in, m_encoding, m_elements, m_error)) {
            return false;
        }
        m_format = m_encoding == Encoding::Ascii ? Format::PlyAscii : Format::PlyBinary;
        for (Element& e : m_elements) {
            if (e.name == "vertex") {
                m_vertex = &e;
                for (Property& p : e.properties) {
                    const std::optional<Field> f = fieldFromName(p.name);
                    if (f && !p.countType && !isSelected(m_fields, *f)) {
                        p.field = static_cast<int>(*f);
                        setSelected(m_fields, *f, true);
                    }
                }
                break;
            }
        }
        if (m_vertex == nullptr) {
            m_error = "the file has no vertex element";
            return false;
        }
        if (!m_fields.x && !m_fields.y && !m_fields.z) {
            m_error = "the vertices have no x, y or z property";
            return false;
        }
        // Each item takes at least a byte per property (two in ascii, with the separator): a
        // count beyond that is a damaged header, refused before it is trusted.
        const std::uint64_t left =
            m_in.size() > m_in.position() ? m_in.size() - m_in.position() : 0;
        std::vector<double> values;
        for (const Element& e : m_elements) {
            std::uint64_t least = 0;
            for (const Property& p : e.properties) {
                least +=
                    m_encoding == Encoding::Ascii ? 2 : scalarSize(p.countType.value_or(p.type));
            }
            if (m_in.size() != 0 && least != 0 && e.count > left / least) {
                m_error = "the file holds fewer " + e.name + " items than its header declares";
                return false;
            }
            if (&e == m_vertex) {
                break;
            }
            if (e.properties.empty()) {
                continue; // nothing stored, however many items
            }
            values.assign(e.properties.size(), 0.0);
            for (std::uint64_t i = 0; i < e.count; ++i) {
                if (!readItem(m_in, m_encoding, e, values.data(), m_error)) {
                    return false;
                }
            }
        }
        m_count = m_vertex->properties.empty() ? 0 : m_vertex->count;
        if (m_encoding == Encoding::Little && m_vertex->fixedSize > 0) {
            std::size_t offset = 0;
            for (const Property& p : m_vertex->properties) {
                if (p.field >= 0 && isSelected(m_wanted, static_cast<Field>(p.field))) {
                    m_plan.push_back(
                        {offset, m_vertex->fixedSize, p.type, static_cast<Field>(p.field)});
                }
                offset += scalarSize(p.type);
            }
        }
        m_values.assign(m_vertex->properties.size(), 0.0);
        return true;
    }

    bool decode(DataPoint* out, std::size_t n) override {
        if (m_encoding == Encoding::Little && m_vertex->fixedSize > 0) {
            // Records straight from the file into the points.
            const unsigned char* records = m_in.view(n * m_vertex->fixedSize);
            if (records == nullptr) {
                m_error = "the file ends before its last vertex";
                return false;
            }
            decodeColumns(records, 0, n, m_plan, out, m_pastCaches);
            return true;
        }
        const std::vector<Property>& properties = m_vertex->properties;
        for (std::size_t i = 0; i < n; ++i) {
            if (!readItem(m_in, m_encoding, *m_vertex, m_values.data(), m_error)) {
                return false;
            }
            for (std::size_t k = 0; k < properties.size(); ++k) {
                const int field = properties[k].field;
                if (field >= 0 && isSelected(m_wanted, static_cast<Field>(field))) {
                    setFieldValue(out[i], static_cast<Field>(field), m_values[k]);
                }
            }
        }
        return true;
    }

    bool writesWholePoints() const override {
        return m_encoding == Encoding::Little && m_vertex->fixedSize > 0;
    }

private:
    Encoding m_encoding = Encoding::Ascii;
    std::vector<Element> m_elements;
    const Element* m_vertex = nullptr;
    std::vector<ColumnSource> m_plan; // binary little-endian vertices without lists
    std::vector<unsigned char> m_bytes;
    std::vector<double> m_values;
};

} // namespace

std::unique_ptr<PointWriter> plyWriter(const std::vector<Field>& fields, bool binary) {
    return std::make_unique<PlyWriter>(fields, binary);
}

std::unique_ptr<PointReader> plyReader() {
    return std::make_unique<PlyReader>();
}

} // namespace formats::io
