// LAS 1.4, point data format 1: x, y and z as 32-bit integers with a scale and an offset chosen
// from the data, the intensity, the GPS time (the device's timestamp), and reflectance and pulse
// shape deviation as extra bytes (floats) described by an extra bytes record. The reader takes
// LAS 1.0 to 1.4 files with point data formats 0 to 10.
#include "BlockWriter.h"
#include "FormatIo.h"
#include "ObservationPoint.h"
#include "Scalars.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <string>
#if defined(__SSE2__)
#include <emmintrin.h> // the x86-64 baseline: no flags needed
#endif

namespace formats::io {

namespace {

constexpr std::uint16_t kHeaderSize = 375;
constexpr std::uint16_t kVlrHeaderSize = 54;
constexpr std::uint16_t kExtraBytesSize = 192;
constexpr std::uint16_t kFormat1Size = 28;
// Record sizes of point data formats 0 to 10.
constexpr std::uint16_t kFormatSize[] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
// The coordinates stored in a record stay within this many steps of the offset.
constexpr double kSteps = 2.0e9;

const char* const kReflectanceName = "reflectance";
const char* const kDeviationName = "pulse shape deviation";

// Little-endian values into a fixed-size block.
class Bytes {
public:
    explicit Bytes(std::size_t size) : m_data(size, '\0') {}
    template <class T> void put(std::size_t at, T v) { std::memcpy(&m_data[at], &v, sizeof v); }
    void text(std::size_t at, const char* s, std::size_t room) {
        std::memcpy(&m_data[at], s, std::min(std::strlen(s), room));
    }
    const std::string& data() const { return m_data; }

private:
    std::string m_data;
};

template <class T> T get(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

struct Axis {
    double scale = 0.001;
    double offset = 0.0;
    double min = 0.0;
    double max = 0.0;
};

// Offset at the centre of the data, rounded to a whole unit; the finest power-of-ten scale
// (down to a millionth) that keeps every coordinate within the 32-bit range.
Axis axisFor(double min, double max) {
    Axis a;
    a.min = min;
    a.max = max;
    a.offset = std::round((min + max) / 2.0);
    const double half = std::max(max - a.offset, a.offset - min);
    a.scale = 1e-6;
    while (half / a.scale > kSteps) {
        a.scale *= 10.0;
    }
    return a;
}

// Rounded half away from zero as llround does, without its library call: the difference from
// the truncated value is exact for every value the axis lets through. (The axis is chosen from
// the points' bounds: none lies beyond the 32-bit range but by a caller's mistake, then held at
// its end.) Without a branch, in 32 bits: a column of them runs as one straight loop.
inline std::int32_t stored(double v, double offset, double scale) {
    double steps = (v - offset) / scale;
    steps = steps < -2147483648.0 ? -2147483648.0 : steps;
    steps = steps > 2147483647.0 ? 2147483647.0 : steps;
    const std::int32_t whole = static_cast<std::int32_t>(steps);
    const double rest = steps - static_cast<double>(whole);
    return whole + static_cast<std::int32_t>(rest >= 0.5) - static_cast<std::int32_t>(rest <= -0.5);
}

// The intensity as LAS's 16 bits hold it: truncated toward zero, within 0 to 65535.
inline std::uint16_t storedIntensity(float v) {
    return !(v > 0.0f)     ? 0
           : v >= 65535.0f ? 65535
                           : static_cast<std::uint16_t>(static_cast<std::int32_t>(v));
}

template <class T> void store(char* to, T v) {
    std::memcpy(to, &v, sizeof v);
}

#if defined(__SSE2__)
static_assert(offsetof(DataPoint, y) == offsetof(DataPoint, x) + sizeof(double),
              "a point's x and y are loaded as one pair");

// stored() for two values at once, lane by lane the same operations: the clamps as max and min
// with the bound first (which, as the comparisons above, keep a value that is not a number),
// cvttpd2dq's truncation as the cast's, and the rounding's comparisons as masks of -1.
inline __m128i storedPair(__m128d v, __m128d offset, __m128d scale) {
    __m128d steps = _mm_div_pd(_mm_sub_pd(v, offset), scale);
    steps = _mm_max_pd(_mm_set1_pd(-2147483648.0), steps);
    steps = _mm_min_pd(_mm_set1_pd(2147483647.0), steps);
    const __m128i whole = _mm_cvttpd_epi32(steps);
    const __m128d rest = _mm_sub_pd(steps, _mm_cvtepi32_pd(whole));
    const __m128i up = _mm_castpd_si128(_mm_cmpge_pd(rest, _mm_set1_pd(0.5)));
    const __m128i down = _mm_castpd_si128(_mm_cmple_pd(rest, _mm_set1_pd(-0.5)));
    // The masks' low halves side by side, as the two values of whole.
    const __m128i adjust = _mm_sub_epi32(_mm_shuffle_epi32(down, _MM_SHUFFLE(3, 3, 2, 0)),
                                         _mm_shuffle_epi32(up, _MM_SHUFFLE(3, 3, 2, 0)));
    return _mm_add_epi32(whole, adjust);
}
#endif

std::string extraBytesDescriptor(const char* name, const char* description) {
    Bytes d(kExtraBytesSize);
    d.put<std::uint8_t>(2, 9); // float
    d.text(4, name, 32);
    d.text(160, description, 32);
    return d.data();
}

struct Extra {
    int field = -1;
    std::size_t offset = 0; // in the record
    std::uint8_t type = 0;
    double scale = 1.0;
    double shift = 0.0;
};

std::size_t extraSize(std::uint8_t type, std::uint8_t options) {
    static const std::uint8_t sizes[] = {0, 1, 1, 2, 2, 4, 4, 8, 8, 4, 8};
    if (type == 0) {
        return options; // undocumented bytes: their count is in the options
    }
    if (type <= 10) {
        return sizes[type];
    }
    if (type <= 30) {
        return static_cast<std::size_t>(sizes[(type - 11) % 10 + 1]) * ((type - 11) / 10 + 2);
    }
    return 0;
}

double extraValue(const unsigned char* p, std::uint8_t type) {
    switch (type) {
    case 1:
        return get<std::uint8_t>(p);
    case 2:
        return get<std::int8_t>(p);
    case 3:
        return get<std::uint16_t>(p);
    case 4:
        return get<std::int16_t>(p);
    case 5:
        return get<std::uint32_t>(p);
    case 6:
        return get<std::int32_t>(p);
    case 7:
        return static_cast<double>(get<std::uint64_t>(p));
    case 8:
        return static_cast<double>(get<std::int64_t>(p));
    case 9:
        return get<float>(p);
    case 10:
        return get<double>(p);
    default:
        return 0.0;
    }
}

// The extra bytes record: where our two columns sit after the standard record.
bool readExtraBytes(const std::string& payload, std::size_t standard, std::size_t recordLength,
                    std::vector<Extra>& extras, std::string& error) {
    std::size_t at = standard;
    for (std::size_t i = 0; i + kExtraBytesSize <= payload.size(); i += kExtraBytesSize) {
        const auto* d = reinterpret_cast<const unsigned char*>(payload.data() + i);
        const std::uint8_t type = d[2];
        const std::uint8_t options = d[3];
        const std::size_t size = extraSize(type, options);
        if (size == 0 || at + size > recordLength) {
            error = "the extra bytes record does not fit the point records";
            return false;
        }
        const std::string name(reinterpret_cast<const char*>(d + 4),
                               strnlen(reinterpret_cast<const char*>(d + 4), 32));
        Extra e;
        if (name == kReflectanceName) {
            e.field = static_cast<int>(Field::Reflectance);
        } else if (name == kDeviationName || name == "pulseShapeDeviation") {
            e.field = static_cast<int>(Field::PulseShapeDeviation);
        }
        if (e.field >= 0 && type >= 1 && type <= 10) {
            e.offset = at;
            e.type = type;
            if (options & 0x08) {
                e.scale = get<double>(d + 112);
            }
            if (options & 0x10) {
                e.shift = get<double>(d + 136);
            }
            extras.push_back(e);
        }
        at += size;
    }
    return true;
}

class LasWriter : public BlockPointWriter {
public:
    explicit LasWriter(const FieldSelection& selection) : m_selection(selection) {}

protected:
    std::string begin(std::ostream& out) override {
        if (m_extent.firstNotFinite != 0) {
            return "point " + std::to_string(m_extent.firstNotFinite) +
                   " has a coordinate that is not a number, which LAS cannot hold";
        }
        for (int k = 0; k < 3; ++k) {
            m_axes[k] = axisFor(m_extent.lo[k], m_extent.hi[k]);
        }
        std::vector<std::string> extras;
        if (m_selection.reflectance) {
            extras.push_back(extraBytesDescriptor(kReflectanceName, "reflectance"));
            m_extraMembers[m_extraCount++] = &DataPoint::reflectance;
        }
        if (m_selection.pulseShapeDeviation) {
            extras.push_back(extraBytesDescriptor(kDeviationName, "pulse shape deviation"));
            m_extraMembers[m_extraCount++] = &DataPoint::pulseShapeDeviation;
        }
        const std::uint32_t vlrs = extras.empty() ? 0 : 1;
        const std::uint32_t offset =
            kHeaderSize + (vlrs ? kVlrHeaderSize + kExtraBytesSize * extras.size() : 0);
        m_recordLength = static_cast<std::uint16_t>(kFormat1Size + 4 * m_extraCount);
        const std::uint64_t n = m_extent.count;

        Bytes h(kHeaderSize);
        h.text(0, "LASF", 4);
        h.put<std::uint8_t>(24, 1);
        h.put<std::uint8_t>(25, 4);
        h.text(26, "Sentova", 32);
        h.text(58, "sentova point formats", 32);
        const std::time_t now = std::time(nullptr);
        std::tm utc{};
        if (gmtime_r(&now, &utc) != nullptr) {
            h.put<std::uint16_t>(90, static_cast<std::uint16_t>(utc.tm_yday + 1));
            h.put<std::uint16_t>(92, static_cast<std::uint16_t>(utc.tm_year + 1900));
        }
        h.put<std::uint16_t>(94, kHeaderSize);
        h.put<std::uint32_t>(96, offset);
        h.put<std::uint32_t>(100, vlrs);
        h.put<std::uint8_t>(104, 1);
        h.put<std::uint16_t>(105, m_recordLength);
        if (n <= std::numeric_limits<std::uint32_t>::max()) {
            h.put<std::uint32_t>(107, static_cast<std::uint32_t>(n));
            h.put<std::uint32_t>(111, static_cast<std::uint32_t>(n)); // every point a first return
        }
        for (int k = 0; k < 3; ++k) {
            h.put<double>(131 + 8 * k, m_axes[k].scale);
            h.put<double>(155 + 8 * k, m_axes[k].offset);
            h.put<double>(179 + 16 * k, m_axes[k].max);
            h.put<double>(187 + 16 * k, m_axes[k].min);
        }
        h.put<std::uint64_t>(247, n);
        h.put<std::uint64_t>(255, n);

        BlockWriter& w = startBlocks(out);
        w.text(h.data());
        if (vlrs) {
            Bytes v(kVlrHeaderSize);
            v.text(2, "LASF_Spec", 16);
            v.put<std::uint16_t>(18, 4);
            v.put<std::uint16_t>(20, static_cast<std::uint16_t>(kExtraBytesSize * extras.size()));
            v.text(22, "Extra bytes", 32);
            w.text(v.data());
            for (const std::string& e : extras) {
                w.text(e);
            }
        }
        reserveFile(offset + n * m_recordLength);
        return {};
    }

    // Two records at a time, each whole: x and y of a point as one pair, the two points' z as
    // another, so that three divisions of two lanes do the work of six (whole records measured a
    // quarter faster than column by column). What the loop reads of the writer is copied to
    // locals first: its stores through char pointers might otherwise change it, for all the
    // compiler knows, and it would be loaded again per point.
    std::string put(const DataPoint* points, std::size_t n) override {
        char* const records = m_out->reserve(n * m_recordLength);
        const std::size_t length = m_recordLength;
        const double ox = m_axes[0].offset, sx = m_axes[0].scale;
        const double oy = m_axes[1].offset, sy = m_axes[1].scale;
        const double oz = m_axes[2].offset, sz = m_axes[2].scale;
        float DataPoint::*extras[2] = {m_extraMembers[0], m_extraMembers[1]};
        const std::size_t extraCount = m_extraCount;
        // After the coordinates: the intensity, return 1 of 1, never classified, scan angle
        // rank, user data and point source 0, and the GPS time.
        auto rest = [&](const DataPoint& p, char* at, std::int32_t z) {
            const std::uint64_t zIntensityReturns =
                static_cast<std::uint32_t>(z) | std::uint64_t{storedIntensity(p.intensity)} << 32 |
                std::uint64_t{0x09} << 48;
            store(at + 8, zIntensityReturns);
            store<std::uint32_t>(at + 16, 0);
            store(at + 20, static_cast<double>(p.timestamp));
            for (std::size_t k = 0; k < extraCount; ++k) {
                store(at + kFormat1Size + 4 * k, p.*extras[k]);
            }
        };
        std::size_t i = 0;
#if defined(__SSE2__)
        const __m128d offsetXY = _mm_set_pd(oy, ox);
        const __m128d scaleXY = _mm_set_pd(sy, sx);
        const __m128d offsetZ = _mm_set1_pd(oz);
        const __m128d scaleZ = _mm_set1_pd(sz);
        constexpr std::size_t kAhead = 128; // points: 7 kB, as far as the bounds' scan reads ahead
        for (; i + 2 <= n; i += 2) {
            _mm_prefetch(reinterpret_cast<const char*>(points + std::min(i + kAhead, n - 1)),
                         _MM_HINT_T0);
            const DataPoint& p = points[i];
            const DataPoint& q = points[i + 1];
            char* at = records + i * length;
            const __m128i xyP = storedPair(_mm_loadu_pd(&p.x), offsetXY, scaleXY);
            const __m128i xyQ = storedPair(_mm_loadu_pd(&q.x), offsetXY, scaleXY);
            const __m128i z = storedPair(_mm_loadh_pd(_mm_load_sd(&p.z), &q.z), offsetZ, scaleZ);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(at), xyP);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(at + length), xyQ);
            rest(p, at, _mm_cvtsi128_si32(z));
            rest(q, at + length, _mm_cvtsi128_si32(_mm_srli_si128(z, 4)));
        }
#endif
        for (; i < n; ++i) {
            const DataPoint& p = points[i];
            char* at = records + i * length;
            const std::int32_t xy[2] = {stored(p.x, ox, sx), stored(p.y, oy, sy)};
            std::memcpy(at, xy, sizeof xy);
            rest(p, at, stored(p.z, oz, sz));
        }
        m_out->endRecord();
        return {};
    }

private:
    FieldSelection m_selection;
    Axis m_axes[3];
    float DataPoint::*m_extraMembers[2] = {}; // the extra bytes' values, in order
    std::size_t m_extraCount = 0;
    std::uint16_t m_recordLength = kFormat1Size;
};

class LasReader : public PointReader {
protected:
    bool start(const std::string&) override {
        m_format = Format::Las;
        unsigned char h[kHeaderSize] = {};
        if (!m_in.read(h, 227) || std::memcmp(h, "LASF", 4) != 0) {
            m_error = "not a LAS file";
            return false;
        }
        const unsigned major = h[24];
        const unsigned minor = h[25];
        const std::uint16_t headerSize = get<std::uint16_t>(h + 94);
        const std::uint32_t offset = get<std::uint32_t>(h + 96);
        const std::uint32_t vlrCount = get<std::uint32_t>(h + 100);
        const unsigned pointFormat = h[104];
        m_recordLength = get<std::uint16_t>(h + 105);
        if (major != 1 || minor > 4) {
            m_error = "LAS version " + std::to_string(major) + "." + std::to_string(minor) +
                      " is not supported";
            return false;
        }
        if (pointFormat & 0xC0) {
            m_error = "compressed (LAZ) point data is not supported";
            return false;
        }
        if (pointFormat > 10) {
            m_error = "point data format " + std::to_string(pointFormat) + " is not supported";
            return false;
        }
        if (headerSize < 227 || offset < headerSize || m_recordLength < kFormatSize[pointFormat]) {
            m_error = "the header's sizes do not add up";
            return false;
        }
        std::uint64_t count = get<std::uint32_t>(h + 107);
        if (minor >= 4 && headerSize >= kHeaderSize) {
            if (!m_in.read(h + 227, kHeaderSize - 227)) {
                m_error = "the file ends inside its header";
                return false;
            }
            const std::uint64_t wide = get<std::uint64_t>(h + 247);
            if (wide != 0) {
                count = wide;
            }
        }
        for (int k = 0; k < 3; ++k) {
            m_scale[k] = get<double>(h + 131 + 8 * k);
            m_shift[k] = get<double>(h + 155 + 8 * k);
            if (!std::isfinite(m_scale[k]) || m_scale[k] == 0.0 || !std::isfinite(m_shift[k])) {
                m_error = "the header holds an invalid scale or offset";
                return false;
            }
        }
        if (m_in.size() != 0 &&
            (offset > m_in.size() || count > (m_in.size() - offset) / m_recordLength)) {
            m_error = "the file holds fewer points than its header declares";
            return false;
        }

        std::vector<Extra> extras;
        std::uint64_t at = headerSize;
        for (std::uint32_t v = 0; v < vlrCount; ++v) {
            unsigned char vh[kVlrHeaderSize];
            if (at + kVlrHeaderSize > offset || !m_in.seek(at) || !m_in.read(vh, kVlrHeaderSize)) {
                m_error = "the variable length records run past the point data";
                return false;
            }
            const std::uint16_t length = get<std::uint16_t>(vh + 20);
            if (at + kVlrHeaderSize + length > offset) {
                m_error = "the variable length records run past the point data";
                return false;
            }
            const std::string user(reinterpret_cast<const char*>(vh + 2),
                                   strnlen(reinterpret_cast<const char*>(vh + 2), 16));
            if (user == "LASF_Spec" && get<std::uint16_t>(vh + 18) == 4) {
                std::string payload(length, '\0');
                if (!m_in.read(payload.data(), length) ||
                    !readExtraBytes(payload, kFormatSize[pointFormat], m_recordLength, extras,
                                    m_error)) {
                    if (m_error.empty()) {
                        m_error = "the file ends inside its extra bytes record";
                    }
                    return false;
                }
            }
            at += kVlrHeaderSize + length;
        }
        if (!m_in.seek(offset)) {
            m_error = "the file ends before its point data";
            return false;
        }

        // GPS time follows the 20 core bytes in formats 1, 3, 4 and 5, and sits at byte 22 of 6
        // to 10.
        const bool hasTime = pointFormat != 0 && pointFormat != 2;
        m_fields = noFields();
        m_fields.x = m_fields.y = m_fields.z = m_fields.intensity = true;
        m_fields.timestamp = hasTime;
        // The columns moved by one plan, the coordinates scaled in it; extra bytes
        // with a scale or an offset of their own, or 64-bit integers, value by value.
        auto column = [this](Field field, std::size_t offset, Scalar type) {
            if (isSelected(m_wanted, field)) {
                m_plan.push_back({offset, m_recordLength, type, field});
            }
        };
        for (int k = 0; k < 3; ++k) {
            const Field axis = k == 0 ? Field::X : k == 1 ? Field::Y : Field::Z;
            if (isSelected(m_wanted, axis)) {
                ColumnSource c{4 * static_cast<std::size_t>(k), m_recordLength, Scalar::Int32,
                               axis};
                c.scaled = true;
                c.scale = m_scale[k];
                c.shift = m_shift[k];
                m_plan.push_back(c);
            }
        }
        column(Field::Intensity, 12, Scalar::Uint16);
        if (hasTime) {
            column(Field::Timestamp, pointFormat >= 6 ? 22 : 20, Scalar::Float64);
        }
        static const Scalar kExtraScalar[] = {Scalar::Uint8,   Scalar::Uint8,   Scalar::Int8,
                                              Scalar::Uint16,  Scalar::Int16,   Scalar::Uint32,
                                              Scalar::Int32,   Scalar::Float64, Scalar::Float64,
                                              Scalar::Float32, Scalar::Float64};
        for (const Extra& e : extras) {
            const Field field = static_cast<Field>(e.field);
            setSelected(m_fields, field, true);
            if (!isSelected(m_wanted, field)) {
                continue;
            }
            // Of two records for one column the later is read, as value by value it overwrote.
            m_plan.erase(
                std::remove_if(m_plan.begin(), m_plan.end(),
                               [field](const ColumnSource& c) { return c.field == field; }),
                m_plan.end());
            m_extras.erase(std::remove_if(m_extras.begin(), m_extras.end(),
                                          [&e](const Extra& x) { return x.field == e.field; }),
                           m_extras.end());
            if (e.scale == 1.0 && e.shift == 0.0 && e.type != 7 && e.type != 8) {
                column(field, e.offset, kExtraScalar[e.type]);
            } else {
                m_extras.push_back(e);
            }
        }
        m_count = count;
        return true;
    }

    bool writesWholePoints() const override { return true; }

    bool decode(DataPoint* out, std::size_t n) override {
        const std::uint64_t from = m_in.position();
        const unsigned char* records = m_in.view(n * m_recordLength);
        if (records == nullptr) {
            const std::uint64_t whole =
                m_in.size() > from ? (m_in.size() - from) / m_recordLength : 0;
            m_error = "the file ends after " +
                      std::to_string(m_done + std::min<std::uint64_t>(whole, n)) + " of its " +
                      std::to_string(*m_count) + " points";
            return false;
        }
        // Extra bytes computed value by value come back to the points: those stay in the caches.
        decodeColumns(records, 0, n, m_plan, out, m_pastCaches && m_extras.empty());
        for (const Extra& e : m_extras) {
            for (std::size_t i = 0; i < n; ++i) {
                setFieldValue(out[i], static_cast<Field>(e.field),
                              extraValue(records + i * m_recordLength + e.offset, e.type) *
                                      e.scale +
                                  e.shift);
            }
        }
        return true;
    }

private:
    std::uint16_t m_recordLength = 0;
    double m_scale[3] = {1, 1, 1};
    double m_shift[3] = {0, 0, 0};
    std::vector<ColumnSource> m_plan; // the columns wanted, moved as they are stored
    std::vector<Extra> m_extras;      // wanted extra bytes computed value by value
};

} // namespace

std::unique_ptr<PointWriter> lasWriter(const FieldSelection& selection) {
    return std::make_unique<LasWriter>(selection);
}

std::unique_ptr<PointReader> lasReader() {
    return std::make_unique<LasReader>();
}

} // namespace formats::io
