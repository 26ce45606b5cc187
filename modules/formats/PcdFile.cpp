#include "PcdFile.h"

#include "BlockWriter.h"
#include "FormatIo.h"
#include "ObservationPoint.h"

#include <pcl/io/lzf.h>

#include <limits>
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

// One point's columns as stored in binary PCD files: F4 floats, the timestamp as U4.
void binaryValue(BlockWriter& w, const DataPoint& p, Field f) {
    if (f == Field::Timestamp) {
        w.raw(timestampU4(p.timestamp));
    } else {
        w.raw(static_cast<float>(fieldValue(p, f)));
    }
}

void put4(std::string& out, std::size_t at, const DataPoint& p, Field f) {
    if (f == Field::Timestamp) {
        const std::uint32_t v = timestampU4(p.timestamp);
        std::memcpy(&out[at], &v, 4);
    } else {
        const float v = static_cast<float>(fieldValue(p, f));
        std::memcpy(&out[at], &v, 4);
    }
}

// binary_compressed as PCL writes it: every column's values one after the other, compressed with
// LZF, preceded by the compressed and the uncompressed size (32 bits each).
std::string writeCompressed(BlockWriter& w, const std::deque<DataPoint>& points,
                            const std::vector<Column>& columns, Ticker& ticker) {
    const std::uint64_t size = std::uint64_t{points.size()} * columns.size() * 4;
    if (size > std::numeric_limits<std::uint32_t>::max() / 2) {
        return "too many points for a compressed PCD file (at most 2 GB of values)";
    }
    std::string plain(static_cast<std::size_t>(size), '\0');
    const std::size_t n = points.size();
    std::size_t i = 0;
    for (const DataPoint& p : points) {
        if (!ticker.at(i)) {
            return {};
        }
        for (std::size_t c = 0; c < columns.size(); ++c) {
            put4(plain, (c * n + i) * 4, p, columns[c].field);
        }
        ++i;
    }
    std::uint32_t packed = 0;
    std::string compressed;
    if (size > 0) {
        // As PCL's writer: room for data that does not compress.
        compressed.resize(static_cast<std::size_t>(size + size / 2 + 8));
        packed = pcl::lzfCompress(plain.data(), static_cast<unsigned>(size), compressed.data(),
                                  static_cast<unsigned>(compressed.size()));
        if (packed == 0) {
            return "the points could not be compressed";
        }
    }
    w.raw(packed);
    w.raw(static_cast<std::uint32_t>(size));
    w.bytes(compressed.data(), packed);
    return {};
}

} // namespace

namespace io {

std::string writePcd(std::ostream& out, const std::deque<DataPoint>& points,
                     const std::vector<Field>& fields, PcdData data, Ticker& ticker) {
    const std::vector<Column> columns = pcdColumns(fields);
    BlockWriter w(out);
    switch (data) {
    case PcdData::Ascii: {
        writeHeader(w, columns, points.size(), "ascii");
        forEachPoint(points, ticker, [&](const DataPoint& p) {
            for (const Column& c : columns) {
                w.fixed(asciiValue(p, c.field));
                w.character(' ');
            }
            w.endLine();
        });
        return {};
    }
    case PcdData::Binary: {
        writeHeader(w, columns, points.size(), "binary");
        forEachPoint(points, ticker, [&](const DataPoint& p) {
            for (const Column& c : columns) {
                binaryValue(w, p, c.field);
            }
            w.endRecord();
        });
        return {};
    }
    case PcdData::BinaryCompressed:
        writeHeader(w, columns, points.size(), "binary_compressed");
        return writeCompressed(w, points, columns, ticker);
    }
    return {};
}

std::string writePcdLx20(std::ostream& out, const std::deque<DataPoint>& points,
                         const FieldSelection& selection, const Lx20Formats& formats,
                         Ticker& ticker) {
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

    BlockWriter w(out);
    writeHeader(w, columns, points.size(), "ascii");
    forEachPoint(points, ticker, [&](const DataPoint& p) {
        for (const Column& c : columns) {
            if (c.field == Field::Intensity) {
                w.unsignedInt(truncateIntensity(p.intensity));
            } else {
                w.fixed(fieldValue(p, c.field));
            }
            w.character(' ');
        }
        w.endLine();
    });
    return {};
}

} // namespace io

void writePcd(std::ostream& out, const std::deque<DataPoint>& points,
              const FieldSelection& selection, LIDAR_TYPE mode) {
    Ticker ticker(points.size(), {}, {});
    io::writePcd(out, points, selectedFields(forModel(selection, mode)), io::PcdData::Ascii,
                 ticker);
}

void writeLx20Pcd(std::ostream& out, const std::deque<DataPoint>& points,
                  const FieldSelection& selection, const Lx20Formats& formats) {
    Ticker ticker(points.size(), {}, {});
    io::writePcdLx20(out, points, selection, formats, ticker);
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
