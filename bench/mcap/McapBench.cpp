// A large recording to MCAP, megabytes of recording per second, beside its peer in the same run:
//  - frames: the recording read, decoded and cut into scan frames, nothing written (the floor
//    of any conversion);
//  - to MCAP with zstd chunks, and with uncompressed chunks (`sentova convert REC OUT.mcap`);
// and the peak resident memory of the whole run, which should not grow with the recording.
//
// Usage: mcap_bench [megabytes of recording, default 1024] [folder, default /tmp]
#include "McapOutput.h"
#include "SyntheticRecording.h"

#include "SentovaPcap/CapturePoints.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

void print(const char* what, double megabytes, double s, const std::string& detail) {
    std::printf("  %-26s %8.1f MB/s  (%.2f s)%s\n", what, megabytes / s, s, detail.c_str());
}

} // namespace

int main(int argc, char** argv) {
    const std::uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const std::string folder = argc > 2 ? argv[2] : "/tmp";
    const std::string base = folder + "/mcap_bench_" + std::to_string(::getpid());
    const std::string input = base + ".pcap";
    std::printf("writing a recording of %llu MB to %s\n",
                static_cast<unsigned long long>(megabytes), input.c_str());
    const std::uint64_t points = bench::writeRecording(input, megabytes << 20);
    const double size = static_cast<double>(std::filesystem::file_size(input)) / (1 << 20);

    Clock::time_point t = Clock::now();
    const sentova::pcap::CaptureRead framed = sentova::pcap::readCaptureObservations(
        input,
        [](const std::vector<tavrel::tavrel_rbe_obs_t>&,
           const std::vector<tavrel::scan_frame_piece_t>&) {},
        [](const tavrel::scan_frame_t&) { return true; });
    const double framing = seconds(t);

    struct Run {
        const char* what;
        sentova::mcap::Compression compression;
        double seconds = 0;
        std::uint64_t messages = 0;
        double outputMiB = 0;
    };
    Run runs[] = {{"to MCAP, zstd chunks", sentova::mcap::Compression::Zstd},
                  {"to MCAP, uncompressed", sentova::mcap::Compression::None}};
    bool ok = framed.ok && framed.points == points;
    for (Run& r : runs) {
        const std::string output = base + ".mcap";
        sentova::mcap::WriterOptions options;
        options.compression = r.compression;
        t = Clock::now();
        try {
            r.messages = cli::writeRecordingMcap(input, output, std::nullopt, options);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "mcap_bench: %s\n", e.what());
            ok = false;
        }
        r.seconds = seconds(t);
        std::error_code ec;
        r.outputMiB = static_cast<double>(std::filesystem::file_size(output, ec)) / (1 << 20);
        std::filesystem::remove(output, ec);
        ok = ok && r.messages == framed.frames.size();
    }
    std::remove(input.c_str());

    std::printf("recording: %.0f MB, %llu points, %zu frames\n", size,
                static_cast<unsigned long long>(points), framed.frames.size());
    print("frames only (the peer)", size, framing, "");
    for (const Run& r : runs) {
        char detail[96];
        std::snprintf(detail, sizeof detail, ", %llu messages, %.0f MB written",
                      static_cast<unsigned long long>(r.messages), r.outputMiB);
        print(r.what, size, r.seconds, detail);
    }
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("peak resident memory: %.0f MB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
    return ok ? 0 : 1;
}
