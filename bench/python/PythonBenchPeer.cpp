// The C++ side of bench_python.py:
//   python_bench_peer write FILE POINTS RATE  a recording of POINTS laser points, paced at RATE
//                                             points per second, scanning frames of 100 lines
//   python_bench_peer read FILE               reads it as observations cut into frames, then as
//                                             the viewer's point records: points, frames,
//                                             seconds, point records, seconds
#include "Sentova/LaserPacket.h"
#include "Sentova/Protocol.h"
#include "SentovaPcap/Capture.h"
#include "SentovaPcap/CapturePoints.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kRecordsPerDatagram = 40;
constexpr std::size_t kRecordsPerLine = 1000;
constexpr std::size_t kLinesPerFrame = 100;
constexpr std::uint32_t kDevice = 0x0a000002;
constexpr std::uint32_t kStation = 0x0a000001;

int writeRecording(const std::string& path, std::size_t points, double rate) {
    sentova::pcap::Writer w(path);
    std::vector<tavrel::LaserRecord> records(kRecordsPerDatagram);
    const double intervalMicros = 1e6 * double(kRecordsPerDatagram) / rate;
    std::uint32_t stamp = 0;
    for (std::size_t i = 0; i * kRecordsPerDatagram < points; ++i) {
        for (tavrel::LaserRecord& r : records) {
            const std::size_t line = stamp / kRecordsPerLine % kLinesPerFrame;
            r.timestamp = stamp;
            r.azimuth = -180.0 + 360.0 * double(stamp % kRecordsPerLine) / kRecordsPerLine;
            r.elevation = -30.0 + 0.1 * double(line);
            r.range = 12000 + std::int32_t(stamp % 97);
            r.amplitude = 3000;
            ++stamp;
        }
        const std::string p = tavrel::encodeLaserPacket(records);
        w.write(1700000000000000 + std::uint64_t(double(i) * intervalMicros), kDevice,
                tavrel::protocol::kCommandPort, kStation, tavrel::protocol::kDefaultDataPort,
                p.data(), p.size());
    }
    w.close();
    return 0;
}

int readRecording(const std::string& path) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::vector<tavrel::tavrel_rbe_obs_t>> frames;
    const sentova::pcap::CaptureRead read = sentova::pcap::readCaptureObservations(
        path, [&](const std::vector<tavrel::tavrel_rbe_obs_t>& batch,
                  const std::vector<tavrel::scan_frame_piece_t>& pieces) {
            for (const tavrel::scan_frame_piece_t& piece : pieces) {
                if (frames.size() <= piece.frame) {
                    frames.resize(piece.frame + 1);
                }
                frames[piece.frame].insert(frames[piece.frame].end(), batch.begin() + piece.begin,
                                           batch.begin() + piece.begin + piece.count);
            }
        });
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!read.ok) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), read.error.c_str());
        return 1;
    }
    // The viewer's reader: point records with their coordinates.
    const auto recordsStart = std::chrono::steady_clock::now();
    const sentova::pcap::CapturePoints records =
        sentova::pcap::readCapturePoints(path, LIDAR_GENERIC, false);
    const double recordsSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - recordsStart).count();
    std::printf("%llu %zu %.6f %zu %.6f\n", static_cast<unsigned long long>(read.points),
                frames.size(), seconds, records.points.size(), recordsSeconds);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "write" && argc == 5) {
        return writeRecording(argv[2], std::strtoull(argv[3], nullptr, 10), std::atof(argv[4]));
    }
    if (command == "read" && argc == 3) {
        return readRecording(argv[2]);
    }
    std::fprintf(stderr, "usage: %s write FILE POINTS RATE | read FILE\n", argv[0]);
    return 2;
}
