#include "PcdFile.h"

#include "BlockWriter.h"
#include "FormatIo.h"
#include "Lzf.h"
#include "Memory.h"
#include "ObservationPoint.h"
#include "Scalars.h"

#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace formats {

namespace {

struct Column {
    const char* name;
    const char* size;
    const char* type;
    Field field;
};

std::vector<Column> pcdColumns(const std::vector<Field>& fields) {
    std::vector<Column> columns;
    for (Field f : fields) {
        columns.push_back({fieldName(f), "4", f == Field::Timestamp ? "U" : "F", f});
    }
    return columns;
}

void writeHeader(BlockWriter& w, const std::vector<Column>& columns, std::size_t n,
                 const char* data) {
    w.text("# .PCD v0.7 - Point Cloud Data file format");
    w.endLine();
    w.text("VERSION 0.7");
    w.endLine();
    // One line per keyword, each entry followed by a space.
    auto list = [&](const char* keyword, const char* Column::*entry) {
        w.text(keyword);
        for (const Column& c : columns) {
            w.text(entry ? c.*entry : "1");
            w.character(' ');
        }
        w.endLine();
    };
    list("FIELDS ", &Column::name);
    list("SIZE ", &Column::size);
    list("TYPE ", &Column::type);
    list("COUNT ", nullptr);
    w.text("WIDTH ");
    w.unsignedInt(n);
    w.endLine();
    w.text("HEIGHT 1");
    w.endLine();
    w.text("VIEWPOINT 0 0 0 1 0 0 0");
    w.endLine();
    w.text("POINTS ");
    w.unsignedInt(n);
    w.endLine();
    w.text("DATA ");
    w.text(data);
    w.endLine();
}

// SIZE and TYPE of an LX20 number format. Formats other than 0, 1 and 2 are written as 0, so
// that the header stays consistent and the file stays readable.
void lx20Format(int format, const char*& size, const char*& type) {
    switch (format) {
    case 1:
        size = "2";
        type = "I";
        break;
    case 2:
        size = "1";
        type = "U";
        break;
    default:
        size = "4";
        type = "F";
        break;
    }
}

// The ascii value of a column: a U4 timestamp is kept within its range, everything else is
// written as it is.
double asciiValue(const DataPoint& p, Field f) {
    const double v = fieldValue(p, f);
    if (f == Field::Timestamp && v > 4294967295.0) {
        return 4294967295.0;
    }
    return v;
}

// binary_compressed as PCL writes it: every column's values one after the other, compressed with
// LZF, preceded by the compressed and the uncompressed size (32 bits each). The columns of the
// whole file are gathered before they are compressed.
void compress(BlockWriter& w, const memory::Bytes& plain, std::string& error) {
    const std::size_t size = plain.size();
    std::size_t packed = 0;
    memory::Bytes compressed;
    if (size > 0) {
        compressed = memory::Bytes(lzf::compressBound(size));
        packed = lzf::compress(plain.data(), size, compressed.data(), compressed.size());
        if (packed == 0) {
            error = "the points could not be compressed";
            return;
        }
    }
    w.raw(static_cast<std::uint32_t>(packed));
    w.raw(static_cast<std::uint32_t>(size));
    if (packed > 0) {
        w.bytes(compressed.data(), packed);
    }
}

class PcdWriter : public io::BlockPointWriter {
public:
    PcdWriter(std::vector<Column> columns, io::PcdData data)
        : m_columns(std::move(columns)), m_data(data) {
        for (const Column& c : m_columns) {
            m_fields.push_back(c.field);
        }
    }

protected:
    std::string begin(std::ostream& out) override {
        if (m_data == io::PcdData::BinaryCompressed) {
            const std::uint64_t size = m_extent.count * m_columns.size() * 4;
            if (size > std::numeric_limits<std::uint32_t>::max() / 2) {
                return "too many points for a compressed PCD file (at most 2 GB of values)";
            }
            // Every byte is written by put() before it is compressed: fresh memory, not cleared.
            m_plain = memory::Bytes(static_cast<std::size_t>(size));
        }
        startBlocks(out);
        writeHeader(*m_out, m_columns, m_extent.count,
                    m_data == io::PcdData::Ascii    ? "ascii"
                    : m_data == io::PcdData::Binary ? "binary"
                                                    : "binary_compressed");
        if (m_data == io::PcdData::Binary) {
            reserveFile(m_out->total() + m_extent.count * 4 * m_fields.size());
        }
        return {};
    }

    std::string put(const DataPoint* points, std::size_t n) override {
        BlockWriter& w = *m_out;
        switch (m_data) {
        case io::PcdData::Ascii:
            for (std::size_t i = 0; i < n; ++i) {
                for (const Column& c : m_columns) {
                    w.fixed(asciiValue(points[i], c.field));
                    w.character(' ');
                }
                w.endLine();
            }
            break;
        case io::PcdData::Binary: {
            encodeRecords(points, n, m_fields, w.reserve(n * 4 * m_fields.size()));
            break;
        }
        case io::PcdData::BinaryCompressed: {
            const std::uint64_t total = m_extent.count;
            if (m_done + n > total) {
                return "more points than the header declares";
            }
            for (std::size_t c = 0; c < m_columns.size(); ++c) {
                encodeColumn(points, n, m_columns[c].field,
                             reinterpret_cast<char*>(m_plain.data()) + (c * total + m_done) * 4, 4);
            }
            break;
        }
        }
        m_done += n;
        return {};
    }

    std::string end() override {
        std::string error;
        if (m_data == io::PcdData::BinaryCompressed) {
            compress(*m_out, m_plain, error);
            m_plain.release();
        }
        BlockPointWriter::end();
        return error;
    }

private:
    std::vector<Column> m_columns;
    std::vector<Field> m_fields; // the columns' fields
    io::PcdData m_data;
    memory::Bytes m_plain; // binary_compressed: the columns of every point
    std::uint64_t m_done = 0;
};

class PcdLx20Writer : public io::BlockPointWriter {
public:
    explicit PcdLx20Writer(std::vector<Column> columns) : m_columns(std::move(columns)) {}

protected:
    std::string begin(std::ostream& out) override {
        startBlocks(out);
        writeHeader(*m_out, m_columns, m_extent.count, "ascii");
        return {};
    }

    std::string put(const DataPoint* points, std::size_t n) override {
        BlockWriter& w = *m_out;
        for (std::size_t i = 0; i < n; ++i) {
            for (const Column& c : m_columns) {
                if (c.field == Field::Intensity) {
                    w.unsignedInt(truncateIntensity(points[i].intensity));
                } else {
                    w.fixed(fieldValue(points[i], c.field));
                }
                w.character(' ');
            }
            w.endLine();
        }
        return {};
    }

private:
    std::vector<Column> m_columns;
};

} // namespace

namespace io {

std::unique_ptr<PointWriter> pcdWriter(const std::vector<Field>& fields, PcdData data) {
    return std::make_unique<PcdWriter>(pcdColumns(fields), data);
}

std::unique_ptr<PointWriter> pcdLx20Writer(const FieldSelection& selection,
                                           const Lx20Formats& formats) {
    std::vector<Column> columns;
    auto add = [&columns](bool on, const char* name, int format, Field field) {
        if (on) {
            Column c{name, nullptr, nullptr, field};
            lx20Format(format, c.size, c.type);
            columns.push_back(c);
        }
    };
    add(selection.x, "x", formats.x, Field::X);
    add(selection.y, "y", formats.y, Field::Y);
    add(selection.z, "z", formats.z, Field::Z);
    add(selection.az, "az", formats.az, Field::Azimuth);
    add(selection.el, "el", formats.el, Field::Elevation);
    add(selection.range, "range", formats.range, Field::Range);
    add(selection.intensity, "intensity", formats.intensity, Field::Intensity);
    return std::make_unique<PcdLx20Writer>(std::move(columns));
}

} // namespace io

void writePcd(std::ostream& out, const std::deque<DataPoint>& points,
              const FieldSelection& selection, LIDAR_TYPE mode) {
    io::writeStream(*io::pcdWriter(selectedFields(forModel(selection, mode)), io::PcdData::Ascii),
                    out, points);
}

void writeLx20Pcd(std::ostream& out, const std::deque<DataPoint>& points,
                  const FieldSelection& selection, const Lx20Formats& formats) {
    io::writeStream(*io::pcdLx20Writer(selection, formats), out, points);
}

std::string withPcdExtension(const std::string& name) {
    if (name.size() >= 4) {
        const std::string tail = name.substr(name.size() - 4);
        if (tail[0] == '.' && (tail[1] == 'p' || tail[1] == 'P') &&
            (tail[2] == 'c' || tail[2] == 'C') && (tail[3] == 'd' || tail[3] == 'D')) {
            return name;
        }
    }
    return name + ".pcd";
}

std::string savePcdFile(const std::string& path, const std::deque<DataPoint>& points,
                        const FieldSelection& selection, LIDAR_TYPE mode) {
    WriteOptions options;
    options.fields = forModel(selection, mode);
    return write(path, Format::PcdAscii, points, options).error;
}

std::string saveLx20PcdFile(const std::string& path, const std::deque<DataPoint>& points,
                            const FieldSelection& selection, const Lx20Formats& formats) {
    WriteOptions options;
    options.fields = selection;
    options.lx20 = formats;
    return write(path, Format::PcdAscii, points, options).error;
}

} // namespace formats
