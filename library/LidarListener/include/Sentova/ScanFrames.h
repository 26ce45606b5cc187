// The device's scan frames in a stream of observations: one pass of the raster
// from its first line to its last. Pure: no sockets, no threads, no clock of
// its own, so the live listener and a recording feed it the same way.
#pragma once

#include "Sentova/Protocol.h"
#include "Sentova/SentovaGrabber.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavrel {

// The device's frame notifications: the event numbers of a frame's start and
// end on the event channel.
constexpr unsigned kFrameStartEvent = protocol::kFrameStartEvent;
constexpr unsigned kFrameEndEvent = protocol::kFrameEndEvent;

struct scan_frame_t {
    std::uint64_t index = 0; // 0 for the stream's first frame
    // Device time stamps (32-bit counts) of the frame's first and last point.
    std::uint64_t firstTimestamp = 0;
    std::uint64_t lastTimestamp = 0;
    std::uint64_t points = 0;
    // Arrival times (any steady microsecond count) of its first and last batch.
    std::uint64_t firstArrivalMicros = 0;
    std::uint64_t lastArrivalMicros = 0;
    bool startSeen = false;  // the raster started over, or a start notification came
    bool endSeen = false;    // the next frame began, or an end notification came
    bool dropInside = false; // data may be missing between its first and last point

    bool complete() const { return startSeen && endSeen && !dropInside; }
    // Device time from the first point to the last; the 32-bit count may have
    // wrapped in between.
    std::uint32_t durationMicros() const {
        return static_cast<std::uint32_t>(lastTimestamp - firstTimestamp);
    }
};

// The observations [begin, begin + count) of a batch belong to frame.
struct scan_frame_piece_t {
    std::uint64_t frame = 0;
    std::size_t begin = 0;
    std::size_t count = 0;
};

struct scan_frame_options_t {
    // The smallest fall of the elevation taken for the raster starting over;
    // below it, a fall is jitter. A larger fall counts only when it is more
    // than half the elevation the frame has climbed.
    double restartDegrees = 0.01;
    // Recordings carry no drop counts: a step in the device time stamps of
    // more than gapIntervals measurement intervals between one batch (a
    // datagram) and the next is taken for lost data. A run of measurements
    // without a return (open sky, an open door) that spans datagrams cannot be
    // told from a loss and marks the frame too: the packets carry no sequence
    // number and no record for a measurement without a return, so both leave
    // the same step, and the device's packet timing is not known well enough
    // to tell them apart by arrival.
    bool timestampGaps = false;
    unsigned gapIntervals = 4;
    // How far apart in arrival time a notification and the data it belongs to
    // may be.
    std::uint64_t eventWindowMicros = 100000;
};

// Cuts an observation stream into frames. Within a frame the elevation steps
// one way only, line by line, from the first line to the last (a region scan
// alternates its azimuth direction, which does not matter here), and a return
// towards the first line starts the next frame. Which way the lines step is
// learnt from the stream: the line steps outnumber the returns (and the
// aperture's approach to the first line), so the way most of the recent
// elevation moves go is taken; bottom line first until the stream shows
// otherwise. Before the frame's travel begins (the aperture still moving to
// the first line) a move the other way stays in the frame. A stream that never
// starts over is one open frame. Not thread-safe: the program serialises
// batches and notifications in arrival order.
class ScanFrameSplitter {
public:
    explicit ScanFrameSplitter(scan_frame_options_t options = {});

    // One batch in arrival order. drops is the total of datagrams lost so far
    // (kernel and queue drops, live); a rise since the previous batch puts a
    // drop before this batch's first observation. pieces, when given, is
    // cleared and receives where the batch's observations go.
    void AddBatch(const tavrel_rbe_obs_t* observations, std::size_t count,
                  std::uint64_t arrivalMicros, std::uint64_t drops = 0,
                  std::vector<scan_frame_piece_t>* pieces = nullptr);
    // A notification of the event, on the clock of the batches' arrival times;
    // other events than the frame's start and end are ignored.
    void AddEvent(unsigned event, std::uint64_t arrivalMicros);
    // The stream ended: the open frame closes, its end seen only if an end
    // notification said so. A later batch begins a new frame.
    void Finish();
    // Time passed with no batch: an end notification whose window has passed
    // closes the open frame, as a later batch would have. The device stops
    // its stream at a frame's end, so no later batch may come.
    void AdvanceTime(std::uint64_t nowMicros);

    // Frames closed since the last call, oldest first.
    std::vector<scan_frame_t> TakeClosed();
    bool HasOpenFrame() const { return m_open; }
    const scan_frame_t& OpenFrame() const { return m_frame; }
    // Frames begun so far, the open one included.
    std::uint64_t FramesBegun() const { return m_nextIndex; }

private:
    void openFrame(const tavrel_rbe_obs_t& first, std::uint64_t arrivalMicros, bool startSeen);
    void closeFrame(bool endSeen);
    bool restartsAt(double elevation) const;
    // Counts the elevation move that ends at elevation; true when it turns the
    // way the lines are taken to step.
    bool learnDirection(double elevation);
    bool gapBefore(std::uint32_t timestamp) const;

    scan_frame_options_t m_options;
    std::vector<scan_frame_t> m_closed;
    scan_frame_t m_frame;
    bool m_open = false;
    std::uint64_t m_nextIndex = 0;

    // The raster of the open frame, on elevations times m_direction, so that
    // its lines always climb.
    bool m_climbing = false;
    double m_lowest = 0.0;
    double m_highest = 0.0;

    // The way the lines step (+1 bottom first, -1 top first), and the recent
    // elevation moves, up +1 and down -1, older ones weighing less: a run of
    // steps the same way counts once.
    double m_direction = 1.0;
    bool m_haveElevation = false;
    double m_lastElevation = 0.0;
    int m_moveSign = 0;
    double m_moves = 0.0;

    // Device time: the previous observation and the measurement interval (0
    // while unknown), for gaps.
    std::uint32_t m_previousTimestamp = 0;
    std::uint32_t m_interval = 0;
    std::uint64_t m_drops = 0;

    // Notifications waiting for the data they belong to.
    bool m_startPending = false;
    std::uint64_t m_startArrival = 0;
    bool m_endPending = false;
    std::uint64_t m_endArrival = 0;
    // Whether the open frame began at a restart of the raster, and which of
    // the notifications around that restart have come.
    bool m_restarted = false;
    bool m_startNotified = false;
    bool m_previousEndNotified = false;
};

} // namespace tavrel
