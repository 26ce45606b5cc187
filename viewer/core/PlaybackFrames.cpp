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
    const auto recent = [newest, span](const DataPoint& p) {
        return ageMicros(p.timestamp, newest) < span;
    };
    // What each frame gives, newest frame first, so that the cap falls on the oldest: of the
    // points it offers, its newest `taken`. Counted first and copied in runs after, because a
    // frame is a hundred thousand points and more.
    struct Share {
        std::size_t offered;
        std::size_t taken;
    };
    std::vector<Share> shares;
    std::size_t room = std::max(maximum, current.size());
    for (auto frame = frames.rbegin(); frame != frames.rend() && room > 0; ++frame) {
        const bool filtered = bySeconds && frame != frames.rbegin();
        const std::size_t offered =
            filtered ? std::size_t(std::count_if(frame->begin(), frame->end(), recent))
                     : frame->size();
        const std::size_t taken = std::min(offered, room);
        shares.push_back({offered, taken});
        room -= taken;
    }
    for (std::size_t i = shares.size(); i-- > 0;) {
        const std::vector<DataPoint>& frame = frames[frames.size() - 1 - i];
        const Share share = shares[i];
        if (!bySeconds || i == 0) {
            shown.insert(shown.end(), frame.end() - std::ptrdiff_t(share.taken), frame.end());
            continue;
        }
        std::size_t skip = share.offered - share.taken;
        for (const DataPoint& p : frame) {
            if (!recent(p)) {
                continue;
            }
            if (skip > 0) {
                --skip;
            } else {
                shown.push_back(p);
            }
        }
    }
    return shown;
}

} // namespace viewer
