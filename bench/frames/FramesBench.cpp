// Scan frames of a large recording, points per second, beside its peers in the same run:
//  - reading: the recording's laser datagrams taken out of the file, nothing decoded;
//  - reading and decoding: the same with every datagram decoded into observations;
//  - frames: the shared reader, decoded and cut into scan frames (what `sentova frames` does);
//  - splitting alone: the frame splitter over observations already in memory.
//
// Usage: frames_bench [megabytes of recording, default 1024] [path, default in /tmp]
#include "Sentova/LaserPacket.h"
#include "Sentova/Protocol.h"
#include "Sentova/ScanFrames.h"
#include "Sentova/SentovaGrabber.h"
#include "SentovaPcap/Capture.h"
#include "SentovaPcap/CapturePoints.h"
#include "SentovaPcap/LaserCapture.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kRecordsPerDatagram = 40;
constexpr std::uint32_t kDevice = 0x0a000002;
constexpr unsigned kLines = 20;
constexpr unsigned kRecordsPerLine = 2500; // a turn at 25,000 points per second, 10 turns a second

// A full-field raster of 20 lines, 40 µs between measurements, the time stamp starting close to
// its wrap; returns the points written.
std::uint64_t writeRecording(const std::string& path, std::uint64_t bytes) {
    sentova::pcap::Writer w(path);
    std::vector<tavrel::LaserRecord> records(kRecordsPerDatagram);
    std::uint32_t stamp = 0xF0000000u;
    std::uint64_t sample = 0;
    std::uint64_t time = 1700000000000000;
    while (w.bytesWritten() < bytes) {
        for (tavrel::LaserRecord& r : records) {
            const unsigned line = unsigned(sample / kRecordsPerLine % kLines);
            r.timestamp = stamp;
            r.azimuth = -180.0 + 360.0 * double(sample % kRecordsPerLine) / kRecordsPerLine;
            r.elevation = -35.0 + 70.0 * line / (kLines - 1);
            r.range = 12000 + std::int32_t(sample % 1000);
            r.amplitude = 3000;
            stamp += 40;
            ++sample;
        }
        const std::string p = tavrel::encodeLaserPacket(records);
        w.write(time, kDevice, tavrel::protocol::kCommandPort, 0x0a000001,
                tavrel::protocol::kDefaultDataPort, p.data(), p.size());
        time += 40 * kRecordsPerDatagram;
    }
    w.close();
    return sample;
}

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

void print(const char* what, std::uint64_t points, double s) {
    std::printf("  %-28s %12.0f points/s  (%llu points in %.2f s)\n", what, double(points) / s,
                static_cast<unsigned long long>(points), s);
}

} // namespace

int main(int argc, char** argv) {
    const std::uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const std::string path =
        argc > 2 ? argv[2] : "/tmp/frames_bench_" + std::to_string(::getpid()) + ".pcap";
    std::printf("writing a recording of %llu MB to %s\n",
                static_cast<unsigned long long>(megabytes), path.c_str());
    const std::uint64_t written = writeRecording(path, megabytes << 20);

    Clock::time_point t = Clock::now();
    std::uint64_t records = 0;
    sentova::pcap::readLaserDatagrams(path, [&](const sentova::pcap::Datagram& d) {
        records += tavrel::examineLaserPacket(
                       reinterpret_cast<const unsigned char*>(d.bytes.data()), d.bytes.size())
                       .records;
    });
    const double reading = seconds(t);

    t = Clock::now();
    std::uint64_t decoded = 0;
    std::vector<tavrel::tavrel_rbe_obs_t> sample; // the first million, for splitting alone
    sentova::pcap::readLaserDatagrams(path, [&](const sentova::pcap::Datagram& d) {
        const auto batch = tavrel::DecodeLaserDatagram(
            reinterpret_cast<const unsigned char*>(d.bytes.data()), d.bytes.size());
        decoded += batch.size();
        if (sample.size() < 1000000)
            sample.insert(sample.end(), batch.begin(), batch.end());
    });
    const double decoding = seconds(t);

    t = Clock::now();
    std::uint64_t whole = 0;
    const sentova::pcap::CaptureRead framed = sentova::pcap::readCaptureObservations(
        path,
        [](const std::vector<tavrel::tavrel_rbe_obs_t>&,
           const std::vector<tavrel::scan_frame_piece_t>&) {},
        [&](const tavrel::scan_frame_t& f) {
            whole += f.complete() ? 1 : 0;
            return true;
        });
    const double framing = seconds(t);

    // Splitting alone, over the sample again and again, in datagram-sized batches.
    tavrel::ScanFrameSplitter splitter;
    std::vector<tavrel::scan_frame_piece_t> pieces;
    std::uint64_t split = 0;
    t = Clock::now();
    for (int round = 0; round < 20; ++round) {
        for (std::size_t i = 0; i + kRecordsPerDatagram <= sample.size();
             i += kRecordsPerDatagram) {
            splitter.AddBatch(sample.data() + i, kRecordsPerDatagram, i, 0, &pieces);
            split += kRecordsPerDatagram;
        }
        splitter.TakeClosed();
    }
    const double splitting = seconds(t);
    std::remove(path.c_str());

    std::printf("recording: %llu points, %zu frames (%llu whole)%s%s\n",
                static_cast<unsigned long long>(written), framed.frames.size(),
                static_cast<unsigned long long>(whole), framed.problems.empty() ? "" : "; ",
                framed.problems.c_str());
    print("reading only", records, reading);
    print("reading and decoding", decoded, decoding);
    print("frames (read, decode, split)", framed.points, framing);
    print("splitting alone", split, splitting);
    return framed.ok && records == written && decoded == written && framed.points == written ? 0
                                                                                             : 1;
}
