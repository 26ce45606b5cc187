#pragma once

// The points of each scan frame gathered from the splitter's pieces, live or from a recording,
// and handed out with the frame when it closes. Generic over the point record and its sequence
// (std::vector, std::deque), so that every program keeps its own record without a copy.
//
// The frames still open hold at most a bound of points together: a stream that never starts
// over is one frame that never closes. Points beyond the bound are dropped and counted, and their
// frame is marked as having lost data, so that it is never taken for a whole one.
//
// Not thread-safe, but for droppedPoints(): one thread feeds it and takes the frames.

#include "Sentova/ScanFrames.h"
#include "Sentova/SentovaGrabber.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace sentova {
namespace pcap {

template <class Points> struct CollectedFrame {
    tavrel::scan_frame_t info; // dropInside also when the bound cut the frame's points
    Points points;
    // The caller's time of the last batch that had points of the frame (add's `when`), on a
    // clock of its choosing: a program may time its frames otherwise than the splitter's
    // arrival times.
    std::uint64_t lastWhen = 0;
};

template <class Points> class FrameCollector {
public:
    using Frame = CollectedFrame<Points>;
    static constexpr std::size_t kUnbounded = std::numeric_limits<std::size_t>::max();

    // only: gather the points of that frame alone (its index), the others' are passed over
    // without counting as dropped.
    explicit FrameCollector(std::size_t pointLimit = kUnbounded,
                            std::optional<std::uint64_t> only = std::nullopt)
        : m_limit(pointLimit), m_only(only) {}

    FrameCollector(const FrameCollector&) = delete;
    FrameCollector& operator=(const FrameCollector&) = delete;

    // The observations of one batch and the pieces the splitter cut it into; convert turns an
    // observation into a point record.
    template <class Convert>
    void add(const tavrel::tavrel_rbe_obs_t* observations,
             const std::vector<tavrel::scan_frame_piece_t>& pieces, Convert&& convert,
             std::uint64_t when = 0) {
        for (const tavrel::scan_frame_piece_t& piece : pieces) {
            if (m_only && piece.frame != *m_only) {
                continue;
            }
            Open& frame = m_open[piece.frame];
            frame.lastWhen = when;
            const std::size_t room = m_limit - std::min(m_limit, m_held);
            const std::size_t kept = std::min(room, piece.count);
            for (std::size_t i = piece.begin; i < piece.begin + kept; ++i) {
                frame.points.push_back(convert(observations[i]));
            }
            m_held += kept;
            if (kept < piece.count) {
                frame.truncated = true;
                m_dropped.fetch_add(piece.count - kept, std::memory_order_relaxed);
            }
        }
    }

    // The frame the splitter closed, with the points gathered for it (none when it was passed
    // over or every point of it was dropped).
    Frame close(const tavrel::scan_frame_t& info) {
        Frame frame{info, {}, 0};
        const auto open = m_open.find(info.index);
        if (open != m_open.end()) {
            frame.points = std::move(open->second.points);
            frame.lastWhen = open->second.lastWhen;
            frame.info.dropInside = frame.info.dropInside || open->second.truncated;
            m_held -= frame.points.size();
            m_open.erase(open);
        }
        return frame;
    }

    // The frames closed, in the order given.
    std::vector<Frame> close(const std::vector<tavrel::scan_frame_t>& closed) {
        std::vector<Frame> frames;
        frames.reserve(closed.size());
        for (const tavrel::scan_frame_t& info : closed) {
            frames.push_back(close(info));
        }
        return frames;
    }

    // Points held for the frames still open.
    std::size_t heldPoints() const { return m_held; }
    // Points the open frames had no room for, so far. Any thread.
    std::uint64_t droppedPoints() const { return m_dropped.load(std::memory_order_relaxed); }

private:
    struct Open {
        Points points;
        bool truncated = false;
        std::uint64_t lastWhen = 0;
    };
    const std::size_t m_limit;
    const std::optional<std::uint64_t> m_only;
    std::map<std::uint64_t, Open> m_open; // by frame index: a batch may end one and begin another
    std::size_t m_held = 0;               // points in m_open
    std::atomic<std::uint64_t> m_dropped{0};
};

} // namespace pcap
} // namespace sentova
