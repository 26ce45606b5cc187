#include "Sentova/LaserPacket.h"

#include "Sentova/Encoding.h"

#include <cstring>

namespace tavrel {

namespace {
// The stream decodes every record it receives: the fields are read in place
// rather than through the general readers' byte loops.
std::uint32_t Word32(const unsigned char* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
}
std::uint16_t Word16(const unsigned char* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
} // namespace

LaserRecord decodeData(const char* record) {
    const auto* p = reinterpret_cast<const unsigned char*>(record);
    LaserRecord r;
    r.timestamp = Word32(p);
    r.azimuth = AngleFromWord(Word32(p + 4));
    r.elevation = AngleFromWord(Word32(p + 8));
    r.range = static_cast<std::int32_t>(Word32(p + 12));
    r.amplitude = Word16(p + 16);
    r.reflectance = static_cast<std::int16_t>(Word16(p + 18));
    r.pulseShapeDeviation = static_cast<std::int16_t>(Word16(p + 20));
    return r;
}

LaserPacketLayout examineLaserPacket(const unsigned char* data, std::size_t length) {
    LaserPacketLayout layout;
    if (length >= kLaserHeaderSize && std::memcmp(data, kLaserHeader, kLaserHeaderSize) == 0) {
        layout.headerSize = kLaserHeaderSize;
    } else if (length > 0 && data[0] == 'E' && length % kLaserRecordSize != 0) {
        // A first time stamp byte of 0x45 is as common as any other, so an 'E' alone
        // proves nothing: only a length that no run of whole records has shows a
        // broken header.
        layout.discarded = true;
        return layout;
    }
    layout.records = (length - layout.headerSize) / kLaserRecordSize;
    return layout;
}

void appendLaserRecord(std::string& out, const LaserRecord& record) {
    out += PackArg32(static_cast<int>(record.timestamp));
    out += PackAngle(record.azimuth);
    out += PackAngle(record.elevation);
    out += PackArg32(record.range);
    out += PackArg16(static_cast<short>(record.amplitude));
    out += PackArg16(record.reflectance);
    out += PackArg16(record.pulseShapeDeviation);
}

std::string encodeLaserRecord(const LaserRecord& record) {
    std::string out;
    out.reserve(kLaserRecordSize);
    appendLaserRecord(out, record);
    return out;
}

std::string encodeLaserPacket(const std::vector<LaserRecord>& records, bool withHeader) {
    std::string out;
    out.reserve((withHeader ? kLaserHeaderSize : 0) + records.size() * kLaserRecordSize);
    if (withHeader)
        out += kLaserHeader;
    for (const LaserRecord& r : records)
        appendLaserRecord(out, r);
    return out;
}

} // namespace tavrel
