#include "Sentova/ScanFrames.h"

#include <algorithm>

namespace tavrel {

ScanFrameSplitter::ScanFrameSplitter(scan_frame_options_t options) : m_options(options) {}

void ScanFrameSplitter::AddBatch(const tavrel_rbe_obs_t* observations, std::size_t count,
                                 std::uint64_t arrivalMicros, std::uint64_t drops,
                                 std::vector<scan_frame_piece_t>* pieces) {
    if (pieces)
        pieces->clear();
    const bool dropBefore = drops > m_drops;
    m_drops = std::max(m_drops, drops);
    if (count == 0) {
        // The loss still lies inside the open frame, before whatever comes next.
        if (dropBefore && m_open)
            m_frame.dropInside = true;
        return;
    }

    // Nothing is lost inside one datagram, but a measurement without a return
    // has no record: the smallest step is the interval.
    if (m_options.timestampGaps) {
        std::uint32_t smallest = 0;
        for (std::size_t i = 1; i < count; ++i) {
            const std::uint32_t step = static_cast<std::uint32_t>(observations[i].timestamp -
                                                                  observations[i - 1].timestamp);
            if (step > 0 && (smallest == 0 || step < smallest))
                smallest = step;
        }
        if (smallest > 0)
            m_interval = smallest;
    }

    // Notifications whose window has passed without the raster confirming them.
    if (m_endPending && arrivalMicros > m_endArrival + m_options.eventWindowMicros) {
        m_endPending = false;
        if (m_open)
            closeFrame(true);
    }
    bool startNow = false;
    if (m_startPending &&
        (!m_open || !m_climbing || arrivalMicros > m_startArrival + m_options.eventWindowMicros)) {
        m_startPending = false;
        startNow = true;
        if (m_open)
            closeFrame(false);
    }

    std::size_t pieceBegin = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const tavrel_rbe_obs_t& o = observations[i];
        const double previous = m_direction * m_lastElevation;
        if (learnDirection(o.elevation) && m_open) {
            // The frame so far was read the wrong way up: its travel begins
            // again from the previous point, without a cut.
            m_climbing = false;
            m_lowest = m_highest = -previous;
        }
        const double elevation = m_direction * o.elevation;
        const std::uint32_t timestamp = static_cast<std::uint32_t>(o.timestamp);
        // The device sends a datagram whole: a gap inside one is a run of measurements
        // without a return, only one between datagrams may be a loss.
        const bool drop = i == 0 && (dropBefore || (m_open && gapBefore(timestamp)));
        if (!m_open) {
            openFrame(o, arrivalMicros, startNow);
            m_startNotified = startNow;
        } else if (restartsAt(elevation)) {
            // A loss right at the restart may have taken the end of the one
            // frame or the start of the other: both are marked.
            if (drop)
                m_frame.dropInside = true;
            if (pieces && i > pieceBegin)
                pieces->push_back({m_frame.index, pieceBegin, i - pieceBegin});
            pieceBegin = i;
            m_previousEndNotified = m_endPending;
            const bool startNotified = m_startPending;
            m_startPending = false;
            m_endPending = false;
            closeFrame(true);
            openFrame(o, arrivalMicros, true);
            m_restarted = true;
            m_startNotified = startNotified;
        }
        if (drop)
            m_frame.dropInside = true;

        m_frame.lastTimestamp = timestamp;
        m_frame.lastArrivalMicros = arrivalMicros;
        ++m_frame.points;
        m_previousTimestamp = timestamp;
        if (!m_climbing) {
            if (elevation < m_lowest)
                m_lowest = elevation;
            else if (elevation > m_lowest + m_options.restartDegrees) {
                m_climbing = true;
                m_highest = elevation;
            }
        } else if (elevation > m_highest) {
            m_highest = elevation;
        }
    }
    if (pieces)
        pieces->push_back({m_frame.index, pieceBegin, count - pieceBegin});
}

void ScanFrameSplitter::AddEvent(unsigned event, std::uint64_t arrivalMicros) {
    // The data may overtake a notification: a start that comes just after a
    // frame opened, when it had none yet, belongs to that frame (a stream's
    // first frame as well as one begun at a restart); an end, to the frame
    // before a restart.
    const bool justOpened =
        m_open && arrivalMicros <= m_frame.firstArrivalMicros + m_options.eventWindowMicros;
    const bool justRestarted = justOpened && m_restarted;
    if (event == kFrameStartEvent) {
        if (justOpened && !m_startNotified) {
            m_startNotified = true;
            m_frame.startSeen = true;
            return;
        }
        m_startPending = true;
        m_startArrival = arrivalMicros;
    } else if (event == kFrameEndEvent) {
        if (justRestarted && !m_previousEndNotified) {
            m_previousEndNotified = true;
            return;
        }
        if (!m_open)
            return;
        m_endPending = true;
        m_endArrival = arrivalMicros;
    }
}

void ScanFrameSplitter::Finish() {
    if (m_open)
        closeFrame(m_endPending);
    m_endPending = false;
}

void ScanFrameSplitter::AdvanceTime(std::uint64_t nowMicros) {
    if (m_endPending && nowMicros > m_endArrival + m_options.eventWindowMicros) {
        m_endPending = false;
        if (m_open)
            closeFrame(true);
    }
}

std::vector<scan_frame_t> ScanFrameSplitter::TakeClosed() {
    std::vector<scan_frame_t> out;
    out.swap(m_closed);
    return out;
}

void ScanFrameSplitter::openFrame(const tavrel_rbe_obs_t& first, std::uint64_t arrivalMicros,
                                  bool startSeen) {
    m_frame = scan_frame_t{};
    m_frame.index = m_nextIndex++;
    m_frame.firstTimestamp = static_cast<std::uint32_t>(first.timestamp);
    m_frame.firstArrivalMicros = arrivalMicros;
    m_frame.startSeen = startSeen;
    m_restarted = false;
    m_startNotified = false;
    m_open = true;
    m_climbing = false;
    m_lowest = m_direction * first.elevation;
    m_highest = m_lowest;
}

void ScanFrameSplitter::closeFrame(bool endSeen) {
    m_frame.endSeen = endSeen;
    m_closed.push_back(m_frame);
    m_open = false;
}

bool ScanFrameSplitter::restartsAt(double elevation) const {
    if (!m_climbing)
        return false;
    const double fall = std::max(m_options.restartDegrees, 0.5 * (m_highest - m_lowest));
    return elevation < m_highest - fall;
}

bool ScanFrameSplitter::learnDirection(double elevation) {
    // Each move counts half as much as the one after it, so a scan the other
    // way up is followed within its first pass. The alternating moves of a
    // raster of two lines stay within +-2/3, a raster of three lines reaches
    // 10/7 its way: the way taken changes beyond +-1.25.
    constexpr double kKeep = 0.5;
    constexpr double kTurn = 1.25;
    const bool first = !m_haveElevation;
    const double move = elevation - m_lastElevation;
    m_haveElevation = true;
    m_lastElevation = elevation;
    if (first)
        return false;
    const int sign =
        move > m_options.restartDegrees ? 1 : (move < -m_options.restartDegrees ? -1 : 0);
    const bool counted = sign != 0 && sign != m_moveSign;
    m_moveSign = sign;
    if (!counted)
        return false;
    m_moves = kKeep * m_moves + sign;
    double way = m_direction;
    if (m_moves <= -kTurn)
        way = -1.0;
    else if (m_moves >= kTurn)
        way = 1.0;
    if (way == m_direction)
        return false;
    m_direction = way;
    return true;
}

bool ScanFrameSplitter::gapBefore(std::uint32_t timestamp) const {
    if (!m_options.timestampGaps || m_interval == 0)
        return false;
    const std::uint32_t step = timestamp - m_previousTimestamp;
    return step > std::uint64_t(m_options.gapIntervals) * m_interval;
}

} // namespace tavrel
