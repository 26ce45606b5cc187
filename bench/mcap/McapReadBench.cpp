// Reading the points back out of a large MCAP file, beside its peer in the same run:
//  - a record at a time from the file, with progress and cancel callbacks polled (the viewer's
//    Load and `sentova convert`);
//  - the same without callbacks;
//  - the peer: the whole file read into memory first, then its records walked.
// Prints MB/s and million points/s for each, and the peak resident memory after each: the
// record-at-a-time runs come first, so a rise after the peer is what holding the file costs.
//
// Usage: mcap_read_bench [million points, default 5] [folder, default /tmp]
#include "BenchTiming.h"
#include "RoomScan.h"

#include "SentovaMcap/Reader.h"
#include "SentovaMcap/ScanFile.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

double peakMiB() {
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

sentova::mcap::PointCloudRead wholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return sentova::mcap::readPointCloudBytes(s.str());
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t millions = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 5;
    const std::string folder = argc > 2 ? argv[2] : "/tmp";
    const std::string path = folder + "/mcap_read_bench_" + std::to_string(::getpid()) + ".mcap";
    const std::size_t n = millions * 1000000;
    // Written by a child, so that the points made for it do not count in this process's peak.
    const pid_t writer = ::fork();
    if (writer == 0) {
        // Frames of 100,000 points, as a scan of the room gives them.
        const std::deque<DataPoint> points = bench::roomScan(n);
        sentova::mcap::ScanFile file(path);
        for (std::size_t begin = 0; begin < n; begin += 100000) {
            file.addPoints(points, begin, std::min(n, begin + 100000), 1000 + begin);
        }
        file.close();
        ::_exit(0);
    }
    int status = 0;
    if (writer < 0 || ::waitpid(writer, &status, 0) != writer || status != 0) {
        std::fprintf(stderr, "mcap_read_bench: the file could not be written\n");
        return 1;
    }
    const double size = static_cast<double>(std::filesystem::file_size(path)) / (1 << 20);
    std::printf("%zu points, %.0f MB of MCAP (zstd chunks); before reading %.0f MB resident\n", n,
                size, peakMiB());

    bool ok = true;
    const auto report = [&](const char* what, const sentova::mcap::PointCloudRead& r, double ms) {
        ok = ok && r.ok && r.points.size() == n;
        std::printf("  %-36s %7.1f MB/s %6.2f Mpoints/s  (%.2f s)  peak %.0f MB%s\n", what,
                    size / (ms / 1000.0), n / 1e6 / (ms / 1000.0), ms / 1000.0, peakMiB(),
                    r.ok ? "" : "  (failed)");
    };
    std::atomic<bool> cancelled{false};
    std::atomic<std::uint64_t> done{0};
    {
        const auto start = bench::Clock::now();
        const sentova::mcap::PointCloudRead r = sentova::mcap::readPointClouds(
            path, [&](std::uint64_t d, std::uint64_t) { done = d; },
            [&] { return cancelled.load(); });
        report("by record, progress and cancel", r, bench::msSince(start));
    }
    {
        const auto start = bench::Clock::now();
        const sentova::mcap::PointCloudRead r = sentova::mcap::readPointClouds(path);
        report("by record, no callbacks", r, bench::msSince(start));
    }
    {
        const auto start = bench::Clock::now();
        const sentova::mcap::PointCloudRead r = wholeFile(path);
        report("whole file first (the peer)", r, bench::msSince(start));
    }
    std::filesystem::remove(path);
    return ok ? 0 : 1;
}
