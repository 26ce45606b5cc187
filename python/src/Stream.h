// The laser stream as Python reads it: a bounded queue between the listener's callback thread
// and the interpreter, and the scan frames cut from what is taken out of it.
#pragma once

#include "Points.h"

#include "Sentova/ScanFrames.h"
#include "Sentova/SentovaGrabber.h"
#include "SentovaPcap/FrameCollector.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace sentova::python {

// A batch of observations, or a frame notification of the device's (then without
// observations), in arrival order.
struct Batch {
    std::vector<tavrel::tavrel_rbe_obs_t> observations;
    std::uint64_t arrivalMicros = 0; // steady clock
    std::optional<unsigned> event;
};

// Batches from the listener's thread to Python's. When Python falls behind by more than the
// limit of points, new batches are dropped and counted: the listener's thread never waits.
class BatchQueue : public tavrel::SentovaLaserDataCallbackClass {
public:
    static constexpr std::size_t kDefaultPointLimit = 2'000'000;
    explicit BatchQueue(std::size_t pointLimit = kDefaultPointLimit) : m_limit(pointLimit) {}

    void LaserDataCallback(std::vector<tavrel::tavrel_rbe_obs_t> observations,
                           unsigned int) override;

    // A frame notification, queued among the batches. Few: beyond kEventLimit waiting, dropped.
    static constexpr std::size_t kEventLimit = 1024;
    void pushEvent(unsigned event);

    // The oldest entry, waiting up to the time given for one.
    std::optional<Batch> pop(std::chrono::milliseconds wait);

    std::uint64_t droppedBatches() const { return m_droppedBatches.load(); }
    std::uint64_t droppedPoints() const { return m_droppedPoints.load(); }
    std::uint64_t droppedEvents() const { return m_droppedEvents.load(); }

private:
    const std::size_t m_limit;
    std::mutex m_mutex; // guards m_batches and m_points
    std::condition_variable m_ready;
    std::deque<Batch> m_batches;
    std::size_t m_points = 0;
    std::size_t m_events = 0;
    std::atomic<std::uint64_t> m_droppedBatches{0};
    std::atomic<std::uint64_t> m_droppedPoints{0};
    std::atomic<std::uint64_t> m_droppedEvents{0};
};

using Frame = sentova::pcap::CollectedFrame<Points>;

// Whole frames from batches in arrival order. The open frames hold at most pointLimit points
// together: points beyond it are dropped, counted, and their frame is marked as having lost
// data. Pure; one thread.
class FrameAssembler {
public:
    explicit FrameAssembler(std::size_t pointLimit) : m_collector(pointLimit) {}

    // drops: datagrams lost so far, all causes together.
    void add(const Batch& batch, std::uint64_t drops);
    void addEvent(unsigned event, std::uint64_t arrivalMicros);
    void advanceTime(std::uint64_t nowMicros);
    // The frames closed since the last call, oldest first.
    std::vector<Frame> takeClosed();
    // Any thread.
    std::uint64_t droppedPoints() const { return m_collector.droppedPoints(); }

private:
    tavrel::ScanFrameSplitter m_splitter;
    std::vector<tavrel::scan_frame_piece_t> m_pieces;
    sentova::pcap::FrameCollector<Points> m_collector;
};

// One listening as Python reads it: the queue the listener feeds, and the frames cut from it.
// Batches and frames come from the same queue: a batch taken as such is not in a frame.
// The waits run with the GIL released; any Python thread may call them.
class StreamReader {
public:
    explicit StreamReader(std::size_t pointLimit) : m_queue(pointLimit), m_frames(pointLimit) {}

    BatchQueue& queue() { return m_queue; }
    const BatchQueue& queue() const { return m_queue; }
    // The listener whose drops mark frames that lost data; null when none yet.
    void countDropsOf(const tavrel::SentovaGrabber* listener) { m_listener = listener; }

    // Waits for a batch up to the timeout (seconds; none: no limit), Ctrl-C included. Frame
    // notifications taken meanwhile are passed over.
    std::optional<Batch> nextBatch(std::optional<double> timeoutSeconds);
    // Waits for the next frame (whole ones only unless asked).
    std::optional<Frame> nextFrame(std::optional<double> timeoutSeconds, bool wholeOnly);

    // The listener's counters.
    tavrel::stream_statistics_t statistics() const;
    // Points the open frames had no room for.
    std::uint64_t droppedFramePoints() const { return m_frames.droppedPoints(); }

private:
    BatchQueue m_queue;
    const tavrel::SentovaGrabber* m_listener = nullptr;
    std::timed_mutex m_reading; // guards m_frames and m_ready: one frame reader at a time
    FrameAssembler m_frames;
    std::deque<Frame> m_ready;
};

} // namespace sentova::python
