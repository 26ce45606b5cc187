// A recording opened for playback, for a 100 MB and a 1 GB file, beside its peer in the same run:
//  - the frame index: time to the first frame, to the complete index, reading one frame back
//    (what a move of the timeline costs before drawing), the memory it took, and playing every
//    frame through in order;
//  - the peer: the shared reader cutting the same file into frames (time to its first frame and
//    through the file), and, for the smaller file, every point read into memory as a load does
//    today.
//
// Usage: recording_index_bench [megabytes ..., default 100 1024] [--folder path, default /tmp]
#include "Sentova/LaserPacket.h"
#include "Sentova/Protocol.h"
#include "SentovaPcap/Capture.h"
#include "SentovaPcap/CapturePoints.h"
#include "SentovaPcap/RecordingIndex.h"
#include "SyntheticRecording.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
// 63 records a datagram, 100,000 points a frame.
const bench::Raster kRaster{63, 40, 2500};

// Returns the frames begun.
std::uint64_t writeRecording(const std::string& path, std::uint64_t bytes) {
    const std::uint64_t points = bench::writeRecording(path, bytes, kRaster);
    return (points + kRaster.pointsPerFrame() - 1) / kRaster.pointsPerFrame();
}

double secondsSince(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Resident memory now and at its peak since the last reset, MiB (Linux).
double residentMiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, std::string(field).size(), field) == 0)
            return std::atof(line.c_str() + std::string(field).size() + 1) / 1024.0;
    return 0.0;
}
void resetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Drops the file from the page cache where the system lets us, so that the first read of each
// run comes from the disk as it would for a file not looked at before.
void uncache(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return;
    posix_fadvise(fileno(f), 0, 0, POSIX_FADV_DONTNEED);
    std::fclose(f);
}

void runIndex(const std::string& path, double megabytes) {
    uncache(path);
    resetPeak();
    const double before = residentMiB("VmRSS:");
    const Clock::time_point start = Clock::now();
    sentova::pcap::RecordingIndex index(path);
    if (!index.waitForFrames(0, std::chrono::minutes(5))) {
        std::printf("  index: no frame (%s)\n", index.status().error.c_str());
        return;
    }
    const double first = secondsSince(start);
    index.waitForComplete(std::chrono::minutes(30));
    const double whole = secondsSince(start);
    const double peak = residentMiB("VmHWM:");
    const std::size_t frames = index.frameCount();

    // Frames read back in random order, as a user scrubbing the timeline would ask for them.
    std::mt19937 random(7);
    std::vector<double> reads;
    std::uint64_t points = 0;
    for (int i = 0; i < 20; ++i) {
        const std::size_t k = random() % frames;
        const Clock::time_point t = Clock::now();
        points += index.readFrame(k).size();
        reads.push_back(secondsSince(t) * 1000.0);
    }
    std::sort(reads.begin(), reads.end());

    // Played through as fast as possible: every frame read in order, one held at a time.
    resetPeak();
    const double playingBefore = residentMiB("VmRSS:");
    const Clock::time_point played = Clock::now();
    std::uint64_t playedPoints = 0;
    for (std::size_t k = 0; k < frames; ++k)
        playedPoints += index.readFrame(k).size();
    const double playing = secondsSince(played);
    const double playingPeak = residentMiB("VmHWM:");
    std::printf("  index: first frame %.3f s, complete %.2f s (%.0f MB/s), %zu frames; "
                "reading a frame of %llu points: median %.1f ms, slowest %.1f ms; "
                "resident memory %.1f MiB at its peak (%.1f before)\n",
                first, whole, megabytes / whole, frames,
                static_cast<unsigned long long>(points / reads.size()), reads[reads.size() / 2],
                reads.back(), peak, before);
    std::printf("  index, played through as fast as possible: %.1f frames/s (%.1f M points/s), "
                "resident memory %.1f MiB at its peak (%.1f before)\n",
                double(frames) / playing, double(playedPoints) / playing / 1e6, playingPeak,
                playingBefore);
}

void runPeer(const std::string& path, double megabytes, bool load) {
    uncache(path);
    resetPeak();
    const double before = residentMiB("VmRSS:");
    Clock::time_point start = Clock::now();
    double first = -1.0;
    std::uint64_t frames = 0;
    const sentova::pcap::CaptureRead read = sentova::pcap::readCaptureObservations(
        path,
        [](const std::vector<tavrel::tavrel_rbe_obs_t>&,
           const std::vector<tavrel::scan_frame_piece_t>&) {},
        [&](const tavrel::scan_frame_t&) {
            if (first < 0.0)
                first = secondsSince(start);
            ++frames;
            return true;
        });
    const double whole = secondsSince(start);
    std::printf(
        "  peer, frames of the shared reader: first frame %.3f s, through the file "
        "%.2f s (%.0f MB/s), %llu frames, resident memory %.1f MiB at its peak (%.1f before)%s\n",
        first, whole, megabytes / whole, static_cast<unsigned long long>(frames),
        residentMiB("VmHWM:"), before, read.ok ? "" : " (failed)");
    if (!load)
        return;
    uncache(path);
    resetPeak();
    start = Clock::now();
    const sentova::pcap::CapturePoints all =
        sentova::pcap::readCapturePoints(path, LIDAR_LX30, false);
    const double loaded = secondsSince(start);
    std::printf("  peer, every point into memory (today's load): %.2f s before the first point "
                "can be shown, %zu points, resident memory %.1f MiB at its peak\n",
                loaded, all.points.size(), residentMiB("VmHWM:"));
}

} // namespace

int main(int argc, char** argv) {
    std::vector<double> sizes;
    std::string folder = "/tmp";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--folder" && i + 1 < argc)
            folder = argv[++i];
        else
            sizes.push_back(std::atof(a.c_str()));
    }
    if (sizes.empty())
        sizes = {100, 1024};
    for (const double megabytes : sizes) {
        const std::string path =
            folder + "/recording-index-bench-" + std::to_string(::getpid()) + ".pcap";
        const Clock::time_point made = Clock::now();
        const std::uint64_t frames = writeRecording(path, std::uint64_t(megabytes * 1048576.0));
        std::printf("%.0f MB recording, %llu frames of %llu points (written in %.1f s):\n",
                    megabytes, static_cast<unsigned long long>(frames),
                    static_cast<unsigned long long>(kRaster.pointsPerFrame()), secondsSince(made));
        runIndex(path, megabytes);
        // Every point in memory costs some 100 bytes a point: only for the smaller files.
        runPeer(path, megabytes, megabytes <= 200);
        std::remove(path.c_str());
    }
    return 0;
}
