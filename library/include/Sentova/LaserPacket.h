// Laser data packets: an optional "EBRBEP" header followed by 22-byte point
// records, all fields big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tavrel {

constexpr std::size_t kLaserRecordSize = 22;
constexpr std::size_t kLaserHeaderSize = 6;
constexpr const char* kLaserHeader = "EBRBEP";

// One decoded point record.
struct LaserRecord {
    double azimuth = 0.0;   // degrees, [-180, 180)
    double elevation = 0.0; // degrees, [-180, 180)
    std::uint32_t timestamp = 0;
    std::int32_t range = 0;
    std::uint16_t amplitude = 0;
    std::int16_t reflectance = 0;
    std::int16_t pulseShapeDeviation = 0;
};

// Decodes the 22 bytes at record (the caller guarantees they are there).
LaserRecord decodeData(const char* record);

// Where the records of a packet are. A packet that begins "EBRBEP" has the 6-byte
// header. Any other packet has none; one whose first byte is 'E' (as a headerless
// packet's first time stamp may begin) must then be a whole number of records, or
// it is discarded as a broken header. Bytes after the last whole record are
// otherwise ignored.
struct LaserPacketLayout {
    bool discarded = false;
    std::size_t headerSize = 0;
    std::size_t records = 0;
};
LaserPacketLayout examineLaserPacket(const unsigned char* data, std::size_t length);

// The mirror encoders, for tests and the simulator. Angles are packed with the
// angle coding, so they read back in [-180, 180).
void appendLaserRecord(std::string& out, const LaserRecord& record);
std::string encodeLaserRecord(const LaserRecord& record);
std::string encodeLaserPacket(const std::vector<LaserRecord>& records, bool withHeader = true);

} // namespace tavrel
