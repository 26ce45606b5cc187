#include "Recording.h"

#include "Failure.h"
#include "ObservationPoint.h"
#include "SentovaPcap/CapturePoints.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace cli {

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool endsWith(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// Reading that could not start, or found no laser data, fails; damage after some data warns.
void check(const std::string& path, const sentova::pcap::CaptureRead& read) {
    if (!read.ok && !read.cancelled) {
        failed(path + ": " + read.error);
    }
    if (!read.problems.empty()) {
        std::fprintf(stderr, "sentova: %s: %s\n", path.c_str(), read.problems.c_str());
    }
}

} // namespace

bool isRecording(const std::string& path) {
    const std::string p = lower(path);
    return endsWith(p, ".pcap") || endsWith(p, ".pcapng");
}

std::deque<DataPoint> readRecordingPoints(const std::string& path,
                                          std::optional<std::uint64_t> frame,
                                          const formats::Progress& progress) {
    std::deque<DataPoint> points;
    // A recording does not say which model sent it: the generic model's point record keeps
    // every value as the device sent it.
    const auto add = [&](const tavrel::tavrel_rbe_obs_t& o) {
        points.push_back(formats::toDataPoint(o, LIDAR_GENERIC, false));
    };
    bool found = false;
    const sentova::pcap::CaptureRead read = sentova::pcap::readCaptureObservations(
        path,
        [&](const std::vector<tavrel::tavrel_rbe_obs_t>& batch,
            const std::vector<tavrel::scan_frame_piece_t>& pieces) {
            for (const tavrel::scan_frame_piece_t& piece : pieces) {
                if (frame && piece.frame != *frame) {
                    continue;
                }
                for (std::size_t i = piece.begin; i < piece.begin + piece.count; ++i) {
                    add(batch[i]);
                }
            }
        },
        [&](const tavrel::scan_frame_t& f) {
            found = found || (frame && f.index == *frame);
            return !found; // the rest of the file is not needed
        },
        progress);
    check(path, read);
    if (frame && !found) {
        failed(path + ": no frame " + std::to_string(*frame) + " (it holds " +
               std::to_string(read.frames.size()) + " frames)");
    }
    return points;
}

int runFrames(const std::string& path, bool json) {
    const sentova::pcap::CaptureRead read = sentova::pcap::readCaptureObservations(
        path, [](const std::vector<tavrel::tavrel_rbe_obs_t>&,
                 const std::vector<tavrel::scan_frame_piece_t>&) {});
    check(path, read);
    if (json) {
        std::printf("[");
        for (std::size_t i = 0; i < read.frames.size(); ++i) {
            const tavrel::scan_frame_t& f = read.frames[i];
            std::printf("%s\n  {\"index\": %llu, \"points\": %llu, \"first_timestamp\": %llu, "
                        "\"last_timestamp\": %llu, \"duration_us\": %lu, \"complete\": %s}",
                        i == 0 ? "" : ",", static_cast<unsigned long long>(f.index),
                        static_cast<unsigned long long>(f.points),
                        static_cast<unsigned long long>(f.firstTimestamp),
                        static_cast<unsigned long long>(f.lastTimestamp),
                        static_cast<unsigned long>(f.durationMicros()),
                        f.complete() ? "true" : "false");
        }
        std::printf("%s]\n", read.frames.empty() ? "" : "\n");
        return kSuccess;
    }
    std::printf("%6s %10s %16s %16s %12s %s\n", "frame", "points", "first time", "last time",
                "duration ms", "complete");
    for (const tavrel::scan_frame_t& f : read.frames) {
        std::printf("%6llu %10llu %16llu %16llu %12.3f %s\n",
                    static_cast<unsigned long long>(f.index),
                    static_cast<unsigned long long>(f.points),
                    static_cast<unsigned long long>(f.firstTimestamp),
                    static_cast<unsigned long long>(f.lastTimestamp), f.durationMicros() / 1000.0,
                    f.complete() ? "yes" : "no");
    }
    return kSuccess;
}

} // namespace cli
