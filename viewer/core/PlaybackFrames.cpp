#include "PlaybackFrames.h"

#include <algorithm>

namespace viewer {

namespace {

std::uint64_t spanMicros(unsigned seconds) {
    return std::uint64_t(std::max(1u, seconds)) * 1000000u;
}

} // namespace

std::size_t firstPlaybackFrame(DisplayMode mode, unsigned count, std::size_t k,
                               const std::function<std::uint64_t(std::size_t)>& lastTimestamp) {
    const std::size_t reach = kMostPlaybackFrames - 1;
    switch (mode) {
    case DisplayMode::LastFrames: {
        const std::size_t back = std::min<std::size_t>(std::max(1u, count) - 1, reach);
        return k > back ? k - back : 0;
    }
    case DisplayMode::LastSeconds: {
        const std::uint64_t newest = lastTimestamp(k);
        const std::uint64_t span = spanMicros(count);
        std::size_t first = k;
        // A frame belongs while its newest point is inside the span; its older points may not.
        while (first > 0 && k - first < reach &&
               ageMicros(lastTimestamp(first - 1), newest) < span) {
            --first;
        }
        return first;
    }
    case DisplayMode::AllPoints:
    case DisplayMode::LatestFrame:
        break;
    }
    return k;
}

std::deque<DataPoint> playbackPoints(DisplayMode mode, unsigned count,
                                     const std::deque<std::vector<DataPoint>>& frames,
                                     std::size_t maximum) {
    std::deque<DataPoint> shown;
    if (frames.empty()) {
        return shown;
    }
    const std::vector<DataPoint>& current = frames.back();
    const bool bySeconds = mode == DisplayMode::LastSeconds && !current.empty();
    const std::uint64_t newest = bySeconds ? current.back().timestamp : 0;
    const std::uint64_t span = spanMicros(count);
    std::size_t room = std::max(maximum, current.size());
    // Newest first, so that the cap falls on the oldest.
    for (auto frame = frames.rbegin(); frame != frames.rend() && room > 0; ++frame) {
        const bool isCurrent = frame == frames.rbegin();
        for (auto p = frame->rbegin(); p != frame->rend() && room > 0; ++p) {
            if (!isCurrent && bySeconds && ageMicros(p->timestamp, newest) >= span) {
                continue;
            }
            shown.push_front(*p);
            --room;
        }
    }
    return shown;
}

} // namespace viewer
