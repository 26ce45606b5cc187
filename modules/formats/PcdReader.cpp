// The PCD reader: ascii, binary and binary_compressed bodies read straight into the points, a
// chunk at a time (a compressed body is unpacked whole first: its columns follow one another).
#include "FormatIo.h"
#include "Lzf.h"
#include "Memory.h"
#include "PcdFile.h"
#include "PcdHeader.h"
#include "Scalars.h"
#include "TextNumbers.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <vector>

namespace formats {

namespace {

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

    bool decode(DataPoint* out, std::size_t n) override {
        switch (m_format) {
        case Format::PcdBinary: {
            const unsigned char* records = m_in.view(n * m_layout.pointStep);
            if (records == nullptr) {
                m_error = "the file holds fewer points than its header declares";
                return false;
            }
            decodeColumns(records, 0, n, m_plan, out, m_pastCaches);
            return true;
        }
        case Format::PcdBinaryCompressed:
            if (m_done == 0 && !unpack()) {
                return false;
            }
            decodeColumns(m_bytes.data(), m_done, n, m_plan, out, m_pastCaches);
            if (m_done + n == m_layout.points) {
                m_bytes.release();
            }
            return true;
        default:
            return readRows(out, n);
        }
    }

    bool writesWholePoints() const override { return m_format != Format::PcdAscii; }

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

    // The compressed body, whole, unpacked as it is read a piece at a time: only the columns
    // take a block of their own. Its sizes were checked against the header before.
    bool unpack() {
        unsigned char sizes[8];
        if (!m_in.read(sizes, 8)) {
            m_error = "not a readable PCD file";
            return false;
        }
        const std::uint32_t packed = loadAs<std::uint32_t>(sizes);
        const std::uint32_t plain = loadAs<std::uint32_t>(sizes + 4);
        m_packedSize = packed;
        if (plain < m_layout.points * m_packedStep) {
            m_error = "not a readable PCD file";
            return false;
        }
        // Fresh: needs no clearing first.
        m_bytes = memory::Bytes(plain);
        constexpr std::size_t kPiece = 1 << 20;
        std::vector<unsigned char> piece(kPiece + lzf::kLongestToken);
        std::size_t carried = 0; // a token cut by the end of the last piece
        std::size_t at = 0;
        for (std::size_t left = packed; left > 0;) {
            const std::size_t take = std::min(left, kPiece);
            std::size_t used = 0;
            if (!m_in.read(piece.data() + carried, take) ||
                !lzf::decompressPart(piece.data(), carried + take, m_bytes.data(), plain, at,
                                     used)) {
                m_error = "not a readable PCD file";
                return false;
            }
            left -= take;
            carried += take - used;
            std::memmove(piece.data(), piece.data() + used, carried);
        }
        if (carried != 0 || at != plain) {
            m_error = "not a readable PCD file";
            return false;
        }
        return true;
    }

    // Rows of an ascii body: one value per element of every field, separated by blanks; a value
    // is stored as its field's type holds it (a float for F4, truncated toward zero for
    // integers). Every value is checked, wanted or not.
    bool readRows(DataPoint* out, std::size_t n) {
        std::string_view line;
        std::size_t filled = 0;
        while (filled < n && m_in.line(line)) {
            if (trimmed(line).empty()) {
                continue;
            }
            ++m_row;
            DataPoint& p = out[filled];
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
        if (filled < n) {
            m_error = "the file holds fewer points than its header declares";
            return false;
        }
        return true;
    }

    PcdLayout m_layout;
    std::vector<ColumnSource> m_plan;     // the wanted columns
    std::vector<std::uint16_t> m_targets; // ascii: the columns each value of a row fills, as bits
    std::vector<Scalar> m_types;          // ascii: the type of each value of a row
    memory::Bytes m_bytes;                // a compressed body's columns
    std::size_t m_packedStep = 0;         // bytes of a point in a compressed body
    std::uint64_t m_packedSize = 0;
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
