// A laser data packet of arbitrary bytes through the packet layout rule and the
// record decoder.
#include "Sentova/LaserPacket.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const tavrel::LaserPacketLayout layout = tavrel::examineLaserPacket(data, size);
    if (layout.discarded)
        return 0;
    if (layout.headerSize + layout.records * tavrel::kLaserRecordSize > size)
        std::abort();
    for (std::size_t i = 0; i < layout.records; ++i) {
        const auto* record =
            reinterpret_cast<const char*>(data + layout.headerSize + i * tavrel::kLaserRecordSize);
        const tavrel::LaserRecord r = tavrel::decodeData(record);
        if (!(r.azimuth >= -180.0 && r.azimuth < 180.0) ||
            !(r.elevation >= -180.0 && r.elevation < 180.0))
            std::abort();
    }
    return 0;
}
