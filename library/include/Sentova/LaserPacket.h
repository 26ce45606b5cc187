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

inline std::uint32_t bigEndian32(const unsigned char* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
}

// The time stamp of the record at p alone: the listener's socket thread reads
// only these, for its estimate of the points missing.
inline std::uint32_t laserRecordTimestamp(const unsigned char* p) {
    return bigEndian32(p);
}

// The same as decodeData, inline for the listener, which decodes every record it
// receives. The angle is the angle coding's count times 360 / 2^32 (exact),
// rounded once, as the general readers give it.
inline LaserRecord decodeLaserRecord(const unsigned char* p) {
    const auto word32 = bigEndian32;
    const auto word16 = [](const unsigned char* q) {
        return static_cast<std::uint16_t>((q[0] << 8) | q[1]);
    };
    constexpr double kDegreesPerCount = 360.0 / 4294967296.0;
    LaserRecord r;
    r.timestamp = word32(p);
    r.azimuth = static_cast<std::int32_t>(word32(p + 4)) * kDegreesPerCount;
    r.elevation = static_cast<std::int32_t>(word32(p + 8)) * kDegreesPerCount;
    r.range = static_cast<std::int32_t>(word32(p + 12));
    r.amplitude = word16(p + 16);
    r.reflectance = static_cast<std::int16_t>(word16(p + 18));
    r.pulseShapeDeviation = static_cast<std::int16_t>(word16(p + 20));
    return r;
}

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
