#include "Sentova/LaserPacket.h"

#include "Sentova/Encoding.h"

#include <cstring>

namespace tavrel {

LaserRecord decodeData(const char* record) {
    return decodeLaserRecord(reinterpret_cast<const unsigned char*>(record));
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
