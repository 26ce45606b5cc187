// Reads the points back out of an MCAP file: every foxglove.PointCloud message in JSON, as our
// files and others that follow the schema hold them, in file order. Damaged or hostile input
// gives an error, never a read outside the file. Pure over the file's bytes; any thread.
#pragma once

#include "DataPoint.h"

#include <cstdint>
#include <deque>
#include <string>

namespace sentova {
namespace mcap {

struct PointCloudRead {
    bool ok = false;
    std::string error; // why not, without the file name
    std::deque<DataPoint> points;
    std::uint64_t messages = 0; // point cloud messages read
};

// Fields named x, y, z, intensity, range, azimuth, elevation, reflectance,
// pulse_shape_deviation and time fill the point's values; other fields are passed over.
PointCloudRead readPointClouds(const std::string& path);
// The same from a file's bytes.
PointCloudRead readPointCloudBytes(const std::string& bytes);

// The bytes of base64 text; false for text that is not base64.
bool decodeBase64(const std::string& text, std::string& out);

} // namespace mcap
} // namespace sentova
