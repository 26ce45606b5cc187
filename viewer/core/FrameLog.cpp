#include "FrameLog.h"

namespace viewer {

void FrameLog::addPieces(const std::vector<tavrel::scan_frame_piece_t>& pieces,
                         std::uint64_t batchStart, std::uint64_t arrivalMicros) {
    for (const tavrel::scan_frame_piece_t& piece : pieces) {
        const std::uint64_t begin = batchStart + piece.begin;
        const std::uint64_t end = begin + piece.count;
        if (m_frames.empty() || m_frames.back().index != piece.frame) {
            FrameSpan span;
            span.index = piece.frame;
            span.begin = begin;
            span.end = end;
            m_frames.push_back(span);
            if (m_frames.size() > kMaxFrames) {
                m_frames.pop_front();
            }
        } else {
            m_frames.back().end = end;
        }
        m_frames.back().lastArrivalMicros = arrivalMicros;
    }
}

void FrameLog::close(const std::vector<tavrel::scan_frame_t>& closed) {
    for (const tavrel::scan_frame_t& frame : closed) {
        ++m_closedCount;
        // Closed frames are among the newest: search from the back.
        for (auto span = m_frames.rbegin(); span != m_frames.rend(); ++span) {
            if (span->index == frame.index) {
                span->closed = true;
                span->complete = frame.complete();
                break;
            }
            if (span->index < frame.index) {
                break;
            }
        }
    }
}

void FrameLog::forgetBefore(std::uint64_t front) {
    while (!m_frames.empty() && m_frames.front().end <= front) {
        m_frames.pop_front();
    }
}

void FrameLog::clear() {
    m_frames.clear();
}

} // namespace viewer
