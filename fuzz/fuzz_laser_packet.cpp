// A laser data packet of arbitrary bytes through the grabber's conversion into
// cloud points: the header rule, the record count and the finiteness check.
#include "grabber.h"

#include "Sentova/LaserPacket.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    pcl::SentovaGrabber::Cloud cloud;
    const bool kept = pcl::SentovaGrabber::appendPacketPoints(cloud, data, size);
    const tavrel::LaserPacketLayout layout = tavrel::examineLaserPacket(data, size);
    if (kept == layout.discarded)
        std::abort();
    if (cloud.size() > layout.records || cloud.width != cloud.size())
        std::abort();
    for (const auto& p : cloud) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
            std::abort();
        if (!(p.x >= -180.0f && p.x <= 180.0f) || !(p.y >= -180.0f && p.y <= 180.0f))
            std::abort();
    }
    return 0;
}
