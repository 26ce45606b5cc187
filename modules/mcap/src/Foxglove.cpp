#include "SentovaMcap/Foxglove.h"

#include "Fields.h"

#include <cstring>

namespace sentova {
namespace mcap {

namespace {

const char* const kTimeSchema =
    R"({"type":"object","title":"time","properties":{"sec":{"type":"integer","minimum":0},"nsec":{"type":"integer","minimum":0,"maximum":999999999}})";

// Every machine this builds for is little-endian, as the data must be.
template <class T> char* put(char* out, T value) {
    std::memcpy(out, &value, sizeof value);
    return out + sizeof value;
}

std::string timeJson(std::uint64_t nanos) {
    return "{\"sec\":" + std::to_string(nanos / 1000000000u) +
           ",\"nsec\":" + std::to_string(nanos % 1000000000u) + "}";
}

struct PackedField {
    const char* name;
    std::uint32_t offset;
    int type; // foxglove.NumericType: 7 FLOAT32, 8 FLOAT64, 5 UINT32
};

constexpr PackedField kFields[] = {
    {"x", 0, 8},
    {"y", 8, 8},
    {"z", 16, 8},
    {"intensity", 24, 7},
    {"range", 28, 7},
    {"azimuth", 32, 7},
    {"elevation", 36, 7},
    {"reflectance", 40, 7},
    {"pulse_shape_deviation", 44, 7},
    {"time", 48, 5},
};

} // namespace

const std::string& pointCloudSchema() {
    static const std::string schema =
        std::string(R"({"title":"foxglove.PointCloud","description":"A collection of N-dimensional points, which may contain additional fields with information like normals, intensity, etc.","type":"object","properties":{"timestamp":)") + kTimeSchema + R"(,"description":"Timestamp of point cloud"},"frame_id":{"type":"string","description":"Frame of reference"},"pose":{"title":"foxglove.Pose","description":"The origin of the point cloud relative to the frame of reference","type":"object","properties":{"position":{"title":"foxglove.Vector3","description":"Point denoting position in 3D space","type":"object","properties":{"x":{"type":"number"},"y":{"type":"number"},"z":{"type":"number"}}},"orientation":{"title":"foxglove.Quaternion","description":"Quaternion denoting orientation in 3D space","type":"object","properties":{"x":{"type":"number"},"y":{"type":"number"},"z":{"type":"number"},"w":{"type":"number"}}}}},"point_stride":{"type":"integer","minimum":0,"description":"Number of bytes between points in the `data`"},"fields":{"type":"array","items":{"title":"foxglove.PackedElementField","description":"A field present within each element in a byte array of packed elements.","type":"object","properties":{"name":{"type":"string","description":"Name of the field"},"offset":{"type":"integer","minimum":0,"description":"Byte offset from start of data buffer"},"type":{"title":"foxglove.NumericType","description":"Type of data in the field. Integers are stored using little-endian byte order.","oneOf":[{"title":"UNKNOWN","const":0},{"title":"UINT8","const":1},{"title":"INT8","const":2},{"title":"UINT16","const":3},{"title":"INT16","const":4},{"title":"UINT32","const":5},{"title":"INT32","const":6},{"title":"FLOAT32","const":7},{"title":"FLOAT64","const":8}]}}},"description":"Fields in `data`. At least 2 coordinate fields from `x`, `y`, and `z` are required for each point's position; `red`, `green`, `blue`, and `alpha` are optional for customizing each point's color."},"data":{"type":"string","contentEncoding":"base64","description":"Point data, interpreted using `fields`"}}})";
    return schema;
}

const std::string& logSchema() {
    static const std::string schema =
        std::string(
            R"({"title":"foxglove.Log","description":"A log message","type":"object","properties":{"timestamp":)") +
        kTimeSchema +
        R"(,"description":"Timestamp of log message"},"level":{"title":"foxglove.LogLevel","description":"Log level","oneOf":[{"title":"UNKNOWN","const":0},{"title":"DEBUG","const":1},{"title":"INFO","const":2},{"title":"WARNING","const":3},{"title":"ERROR","const":4},{"title":"FATAL","const":5}]},"message":{"type":"string","description":"Log message"},"name":{"type":"string","description":"Process or node name"},"file":{"type":"string","description":"Filename"},"line":{"type":"integer","minimum":0,"description":"Line number in the file"}}})";
    return schema;
}

std::string base64(const std::string& bytes) {
    static const char* const kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text((bytes.size() + 2) / 3 * 4, '=');
    char* out = text.data();
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
        *out++ = kAlphabet[v >> 18];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = kAlphabet[(v >> 6) & 63];
        *out++ = kAlphabet[v & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        const std::uint32_t v = (p[i] << 16) | (rest == 2 ? p[i + 1] << 8 : 0);
        *out++ = kAlphabet[v >> 18];
        *out++ = kAlphabet[(v >> 12) & 63];
        if (rest == 2)
            *out = kAlphabet[(v >> 6) & 63];
    }
    return text;
}

std::string packPoints(const std::deque<DataPoint>& points, std::size_t begin, std::size_t end) {
    static_assert(3 * sizeof(double) + 6 * sizeof(float) + sizeof(std::uint32_t) == kPointStride,
                  "the fields fill a point exactly");
    std::string data((end - begin) * kPointStride, '\0');
    char* out = data.data();
    for (std::size_t i = begin; i < end; ++i) {
        const DataPoint& p = points[i];
        out = put(out, p.x);
        out = put(out, p.y);
        out = put(out, p.z);
        out = put(out, p.intensity);
        out = put(out, p.range);
        out = put(out, p.azimuth);
        out = put(out, p.elevation);
        out = put(out, p.reflectance);
        out = put(out, p.pulseShapeDeviation);
        // The device counts time in 32 bits; a wider value comes only from a file's real
        // number and keeps its low bits, as the device's own wrap would.
        out = put(out, formats::timestampU4(p.timestamp));
    }
    return data;
}

std::string pointCloudMessage(const std::deque<DataPoint>& points, std::size_t begin,
                              std::size_t end, std::uint64_t timeNanos,
                              const std::string& frameId) {
    std::string json = "{\"timestamp\":" + timeJson(timeNanos) +
                       ",\"frame_id\":" + jsonString(frameId) +
                       ",\"pose\":{\"position\":{\"x\":0,\"y\":0,\"z\":0},"
                       "\"orientation\":{\"x\":0,\"y\":0,\"z\":0,\"w\":1}},"
                       "\"point_stride\":" +
                       std::to_string(kPointStride) + ",\"fields\":[";
    for (std::size_t i = 0; i < sizeof kFields / sizeof kFields[0]; ++i) {
        const PackedField& f = kFields[i];
        json += std::string(i == 0 ? "" : ",") + "{\"name\":\"" + f.name +
                "\",\"offset\":" + std::to_string(f.offset) +
                ",\"type\":" + std::to_string(f.type) + "}";
    }
    json += "],\"data\":\"";
    json += base64(packPoints(points, begin, end));
    json += "\"}";
    return json;
}

std::string logMessage(std::uint64_t timeNanos, LogLevel level, const std::string& text,
                       const std::string& name) {
    return "{\"timestamp\":" + timeJson(timeNanos) +
           ",\"level\":" + std::to_string(static_cast<int>(level)) +
           ",\"message\":" + jsonString(text) + ",\"name\":" + jsonString(name) +
           ",\"file\":\"\",\"line\":0}";
}

std::string jsonString(const std::string& bytes) {
    std::string out = "\"";
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u >= 0x20 && u < 0x7F) {
            out += c;
        } else {
            static const char* const kHex = "0123456789abcdef";
            out += "\\u00";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    return out + "\"";
}

} // namespace mcap
} // namespace sentova
