// The messages of Foxglove's published schemas that our files carry, in their JSON encoding:
// foxglove.PointCloud for the points, foxglove.Log for the device traffic. Pure functions; any
// thread.
#pragma once

#include "DataPoint.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace sentova {
namespace mcap {

// The JSON Schema texts, as the channels' schemas.
const std::string& pointCloudSchema();
const std::string& logSchema();

// The point layout in the data of a point cloud message: x, y, z as float64 (the coordinates
// are computed in double precision), the device's values as float32 as DataPoint holds them,
// time as the device's uint32 count. Little-endian.
constexpr std::uint32_t kPointStride = 52;

std::string base64(const std::string& bytes);

// The packed data of points [begin, end).
std::string packPoints(const std::deque<DataPoint>& points, std::size_t begin, std::size_t end);

// A foxglove.PointCloud message of points [begin, end), stamped with the host time (ns).
std::string pointCloudMessage(const std::deque<DataPoint>& points, std::size_t begin,
                              std::size_t end, std::uint64_t timeNanos, const std::string& frameId);

enum class LogLevel { Unknown = 0, Debug = 1, Info = 2, Warning = 3, Error = 4, Fatal = 5 };

// A foxglove.Log message; name says who logged it.
std::string logMessage(std::uint64_t timeNanos, LogLevel level, const std::string& text,
                       const std::string& name);

// A JSON string literal of the bytes, quotes included; bytes that are not printable ASCII are
// written as \u00XX escapes, so any byte string gives valid JSON.
std::string jsonString(const std::string& bytes);

} // namespace mcap
} // namespace sentova
