#include "FrameSelection.h"

#include <algorithm>

namespace viewer {

namespace {

ShownPoints framesFrom(const std::deque<FrameSpan>& frames, std::size_t wanted, std::uint64_t front,
                       std::uint64_t back) {
    ShownPoints shown{front, back, 0};
    if (frames.empty()) {
        return shown;
    }
    // The open frame (if any) is the newest span; closed ones come before it.
    std::size_t closedSeen = 0;
    std::size_t first = frames.size();
    for (std::size_t i = frames.size(); i-- > 0;) {
        if (frames[i].closed) {
            if (closedSeen == wanted) {
                break;
            }
            ++closedSeen;
        }
        first = i;
    }
    shown.begin = std::max(frames[first].begin, front);
    shown.frames = frames.size() - first;
    return shown;
}

} // namespace

ShownPoints shownPoints(DisplayMode mode, unsigned count, const std::deque<FrameSpan>& frames,
                        const std::deque<DataPoint>& buffer, std::uint64_t back) {
    const std::uint64_t front = back - buffer.size();
    const unsigned n = std::max(count, 1u);
    switch (mode) {
    case DisplayMode::LatestFrame:
        return framesFrom(frames, 1, front, back);
    case DisplayMode::LastFrames:
        return framesFrom(frames, n, front, back);
    case DisplayMode::LastSeconds: {
        ShownPoints shown{back, back, 0};
        if (buffer.empty()) {
            return shown;
        }
        const std::uint64_t newest = buffer.back().timestamp;
        const std::uint64_t span = std::uint64_t{n} * 1000000u;
        // Ages fall towards the back: the first point young enough starts what is shown.
        const auto first =
            std::partition_point(buffer.begin(), buffer.end(), [newest, span](const DataPoint& p) {
                return ageMicros(p.timestamp, newest) > span;
            });
        shown.begin = front + static_cast<std::uint64_t>(first - buffer.begin());
        for (const FrameSpan& frame : frames) {
            if (frame.end > shown.begin) {
                ++shown.frames;
            }
        }
        return shown;
    }
    case DisplayMode::AllPoints:
    default:
        return {front, back, frames.size()};
    }
}

double frameRate(const std::deque<FrameSpan>& frames, std::uint64_t nowMicros) {
    std::uint64_t oldest = 0;
    std::uint64_t newest = 0;
    std::size_t counted = 0;
    for (auto frame = frames.rbegin(); frame != frames.rend() && counted < kRateFrames; ++frame) {
        if (!frame->closed) {
            continue;
        }
        if (counted == 0) {
            newest = frame->lastArrivalMicros;
        }
        oldest = frame->lastArrivalMicros;
        ++counted;
    }
    if (counted < 2 || newest <= oldest) {
        return 0.0;
    }
    const double period = static_cast<double>(newest - oldest) / static_cast<double>(counted - 1);
    if (nowMicros > newest && static_cast<double>(nowMicros - newest) > 3.0 * period + 1e6) {
        return 0.0;
    }
    return 1e6 / period;
}

} // namespace viewer
