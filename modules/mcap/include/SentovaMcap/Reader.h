// Reads the points back out of an MCAP file: every foxglove.PointCloud message in JSON, as our
// files and others that follow the schema hold them, in file order. Damaged or hostile input
// gives an error, never a read outside the file. A file is read a record at a time: what is held
// besides the points is one record (a chunk), not the file. Pure over the file's bytes; any
// thread, the callbacks called on it.
#pragma once

#include "DataPoint.h"
#include "Progress.h"

#include <cstdint>
#include <deque>
#include <string>

namespace sentova {
namespace mcap {

struct PointCloudRead {
    bool ok = false;
    bool cancelled = false; // cancel returned true: no points, no error
    std::string error;      // why not, without the file name
    std::deque<DataPoint> points;
    std::uint64_t messages = 0; // point cloud messages read
};

// Fields named x, y, z, intensity, range, azimuth, elevation, reflectance,
// pulse_shape_deviation and time fill the point's values; other fields are passed over.
// progress counts the file's bytes read; cancel is polled with it and before each point cloud.
PointCloudRead readPointClouds(const std::string& path, const formats::Progress& progress = {},
                               const formats::Cancel& cancel = {});
// The same from a file's bytes.
PointCloudRead readPointCloudBytes(const std::string& bytes, const formats::Progress& progress = {},
                                   const formats::Cancel& cancel = {});

// The bytes of base64 text; false for text that is not base64.
bool decodeBase64(const std::string& text, std::string& out);

} // namespace mcap
} // namespace sentova
