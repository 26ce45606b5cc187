// A large recording for the benchmarks that read recordings: a full-field raster (20 lines by
// default), 40 µs between measurements, the time stamp starting close to its wrap.
#pragma once

#include "Sentova/LaserPacket.h"
#include "Sentova/Protocol.h"
#include "SentovaPcap/Capture.h"

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

constexpr std::size_t kRecordsPerDatagram = 40;
constexpr std::uint32_t kDevice = 0x0a000002;
constexpr unsigned kLines = 20;
constexpr unsigned kRecordsPerLine = 2500; // a turn at 25,000 points per second, 10 turns a second

struct Raster {
    std::size_t recordsPerDatagram = kRecordsPerDatagram;
    unsigned lines = kLines;
    unsigned recordsPerLine = kRecordsPerLine;

    std::uint64_t pointsPerFrame() const { return std::uint64_t(lines) * recordsPerLine; }
};

// Writes at least bytes of it; returns the points written.
inline std::uint64_t writeRecording(const std::string& path, std::uint64_t bytes,
                                    const Raster& raster = {}) {
    sentova::pcap::Writer w(path);
    std::vector<tavrel::LaserRecord> records(raster.recordsPerDatagram);
    std::uint32_t stamp = 0xF0000000u;
    std::uint64_t sample = 0;
    std::uint64_t time = 1700000000000000;
    while (w.bytesWritten() < bytes) {
        for (tavrel::LaserRecord& r : records) {
            const unsigned line = unsigned(sample / raster.recordsPerLine % raster.lines);
            r.timestamp = stamp;
            r.azimuth =
                -180.0 + 360.0 * double(sample % raster.recordsPerLine) / raster.recordsPerLine;
            r.elevation = -35.0 + 70.0 * line / (raster.lines - 1);
            r.range = 12000 + std::int32_t(sample % 1000);
            r.amplitude = 3000;
            stamp += 40;
            ++sample;
        }
        const std::string p = tavrel::encodeLaserPacket(records);
        w.write(time, kDevice, tavrel::protocol::kCommandPort, 0x0a000001,
                tavrel::protocol::kDefaultDataPort, p.data(), p.size());
        time += 40 * raster.recordsPerDatagram;
    }
    w.close();
    return sample;
}

} // namespace bench
