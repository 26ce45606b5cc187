// Scan frames of a large recording, points per second, beside its peers in the same run:
//  - reading: the recording's laser datagrams taken out of the file, nothing decoded;
//  - reading and decoding: the same with every datagram decoded into observations;
//  - frames: the shared reader, decoded and cut into scan frames (what `sentova frames` does);
//  - splitting alone: the frame splitter over observations already in memory.
//
// Usage: frames_bench [megabytes of recording, default 1024] [path, default in /tmp]
#include "SyntheticRecording.h"

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
    const std::uint64_t written = bench::writeRecording(path, megabytes << 20);

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
        for (std::size_t i = 0; i + bench::kRecordsPerDatagram <= sample.size();
             i += bench::kRecordsPerDatagram) {
            splitter.AddBatch(sample.data() + i, bench::kRecordsPerDatagram, i, 0, &pieces);
            split += bench::kRecordsPerDatagram;
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
