#pragma once

// The viewer's point buffer: the laser listener appends to it, the display, the files and the
// view read it, the window's commands clear or replace it. Owns the buffer, its lock, its
// change log, the automatic intensity range the arrivals widen, and where the scan frames lie
// in it.

#include "BufferSnapshot.h"
#include "DataPoint.h"
#include "FrameLog.h"
#include "MemoryRelease.h"
#include "PointBuffer.h"
#include "PreparedCloud.h"

#include "Sentova/ScanFrames.h"
#include "Sentova/SentovaGrabber.h"

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace viewer {

// The intensity range of the colour scale.
struct IntensityRange {
    bool automatic = true;
    std::uint32_t minimum = 65535;
    std::uint32_t maximum = 0;
};

class PointStore : public tavrel::SentovaLaserDataCallbackClass {
public:
    PointStore() = default;
    PointStore(const PointStore&) = delete;
    PointStore& operator=(const PointStore&) = delete;

    // Runs on the listener's consumer thread: the batch is converted outside the lock and
    // appended under one hold of it.
    void LaserDataCallback(std::vector<tavrel::tavrel_rbe_obs_t> observations,
                           unsigned int) override;

    // How observations become points: the model shown and the LX20's high-speed mode. Any
    // thread; the next batch uses them.
    void setConversion(LIDAR_TYPE model, bool highSpeed);
    // The datagrams lost so far on the live stream (kernel and queue drops), read by the
    // listener's thread before each batch: a rise marks the frame it falls in. Set before the
    // listener starts.
    void setDropCounter(std::function<std::uint64_t()> counter);

    // The device's frame start and end notifications, stamped on the steady clock in
    // microseconds as the batches are: they confirm where frames start and end. Any thread.
    void frameNotification(unsigned event, std::uint64_t arrivalMicros);
    // Time passed with no notification: a frame whose end was notified closes though no more
    // data comes (the device stops its stream at a frame's end). Any thread.
    void frameTime(std::uint64_t nowMicros);

    // Runs f(points, pointsLog) under the lock; f must be brief and call nothing that may take
    // the lock again.
    template <typename F> decltype(auto) withBuffer(F&& f) {
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        return f(points, pointsLog);
    }

    // Runs f(points, pointsLog, frames, back) under the lock, back being the arrival number past
    // the newest point (the frames' numbering); as brief as withBuffer's.
    template <typename F> decltype(auto) withFrames(F&& f) {
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        return f(points, pointsLog, frameLog.frames(), back());
    }

    // While a recording is shown the buffer holds its frames, and the live stream goes on into
    // a buffer kept apart (the same cap, its own frames), so that neither mixes into the other.
    // showRecording() puts the live buffer aside and leaves the buffer empty for the
    // recording's frames; showLive() lets those go and brings the live buffer back, with what
    // arrived meanwhile. Each does nothing when already so.
    void showRecording();
    void showLive();
    bool recordingShown() const;
    // Points of the live stream kept apart while a recording is shown.
    std::size_t livePointsKept() const;

    // Empties the buffer (and the live one kept apart); its memory is given back off the
    // calling thread.
    void clear();
    // Empties the buffer (and the live one kept apart) and sets its cap.
    void setMaximumPoints(std::uint32_t maximum);
    std::uint32_t maximumPoints() const;
    // Replaces the contents with loaded points, all of them whatever the cap; the former points
    // are freed on the calling thread (a file thread), after the lock is let go.
    void replace(std::deque<DataPoint>&& loaded);
    // The same, handing the former points back instead of freeing them: freeing ten million
    // points takes a few hundred milliseconds, which a load need not wait for.
    std::deque<DataPoint> exchange(std::deque<DataPoint>&& loaded);
    // The same, the display's copy of the loaded points to be laid out afterwards from the
    // buffer itself (layCopy), so that the former points are freed before that copy takes its
    // memory. Until giveCopy(), the display keeps what it shows rather than copying millions of
    // points itself, and appends drop none of the loaded points (their drops wait).
    std::deque<DataPoint> exchangeBeforeCopy(std::deque<DataPoint>&& loaded);
    // The same, with the display's copy of the loaded points laid out already (a load into an
    // empty scene lays it out while it reads): it goes to the display at its next refresh. A
    // copy that is not of every loaded point, or null, is dropped; the display then copies the
    // buffer itself.
    std::deque<DataPoint> exchangeWithCopy(std::deque<DataPoint>&& loaded,
                                           std::shared_ptr<PreparedCloud> copy);
    enum class CopyStep {
        More,     // call layCopy again
        Done,     // every loaded point is in the copy
        Replaced, // the buffer was cleared or replaced since: the copy is of no use
    };
    // Lays up to slice more of the loaded points out in copy, under one hold of the lock.
    CopyStep layCopy(PreparedCloud& copy, std::size_t slice);
    // Ends the wait: the finished copy of every loaded point goes to the display (at its next
    // refresh) while the buffer is still the one loaded; null gives up (the display then copies
    // the buffer itself). The drops that waited happen now.
    void giveCopy(std::shared_ptr<PreparedCloud> copy);
    // A load's copy is being laid out for the buffer as it is: the display waits for it.
    bool copyAwaited() const;
    // The display's copy that the last load gave, once (its log tells which buffer it copies);
    // null when none waits. Any thread.
    std::shared_ptr<PreparedCloud> takePrepared();
    // Frees points handed back by exchange() on the release thread. GUI thread only.
    void release(std::deque<DataPoint>&& former) { memoryRelease.release(std::move(former)); }

    IntensityRange intensityRange() const;
    // The range as the colour scale takes it: an empty one is reset to 0 and 65535 here too.
    IntensityRange scaleRange();
    // The automatic range as the display measured it; ignored once the range is set by hand.
    void setAutomaticRange(std::uint32_t minimum, std::uint32_t maximum);
    // A range end set by hand: false (nothing changes) when it would not leave the range
    // non-empty.
    bool setMaximumIntensity(std::uint32_t maximum);
    bool setMinimumIntensity(std::uint32_t minimum);
    void setAutomaticIntensity();

    // The frames of the buffer, oldest first, and the arrival number past its newest point.
    struct Frames {
        std::deque<FrameSpan> spans;
        std::uint64_t back = 0;
        std::uint64_t closedCount = 0;
    };
    Frames frames() const;

    // The display must be rebuilt: set by arrivals that evict or widen the range, and by
    // commands; taken by the refresh together with its capture of the buffer.
    void markChanged() { cloudChanged = true; }
    bool takeChanged() { return cloudChanged.exchange(false); }
    // Observations received since the last call.
    std::uint32_t takeReceived() { return pointsReceived.exchange(0); }
    void forgetReceived() { pointsReceived = 0; }
    // True once, for the first refresh after the first batch since start-up.
    bool takeFirstData();

    // The display's copy of a cleared buffer is freed: return its memory too.
    void returnFreed() { memoryRelease.returnFreed(); }
    // Frees the display's copies of former points on the release thread. GUI thread only.
    template <class T> void discard(T garbage) { memoryRelease.discard(std::move(garbage)); }

private:
    // The exchanges: exchangeBeforeCopy() holds the loaded points for the copy,
    // exchangeWithCopy() gives the copy.
    std::deque<DataPoint> swapIn(std::deque<DataPoint>&& fresh, bool holdForCopy,
                                 std::shared_ptr<PreparedCloud> copy);
    // Guards points, pointsLog, frameLog, loaded, maximum, range, prepared, the copy awaited and
    // the live buffer kept apart: the listener thread appends and widens the range while the GUI
    // and file threads read, clear and replace.
    mutable boost::mutex pointsMutex;
    std::deque<DataPoint> points;
    BufferLog pointsLog;
    FrameLog frameLog;
    std::uint32_t maximum = 100000;
    IntensityRange range;
    std::shared_ptr<PreparedCloud> prepared;
    // While a load's copy is laid out: the hold on the loaded points, and the log just after the
    // exchange that the copy stands for.
    std::unique_ptr<BufferSnapshot> copyHold;
    BufferLog copyLog;

    // Arrival numbers count the loaded points too, so that none lies before the buffer's start.
    std::uint64_t back() const { return pointsLog.appended + loaded; }
    std::uint64_t loaded = 0;

    // The live stream's buffer while a recording is shown: its points, its evictions, its
    // frames, and the arrival number past its newest point.
    bool recordingOpen = false;
    std::deque<DataPoint> livePoints;
    BufferLog liveLog;
    FrameLog liveFrames;
    std::uint64_t liveBack = 0;

    // Guards splitter and pieces: the listener thread's batches and the notifications' thread
    // feed the splitter in turn. Taken before pointsMutex, never after it.
    boost::mutex splitterMutex;
    tavrel::ScanFrameSplitter splitter;
    std::vector<tavrel::scan_frame_piece_t> pieces;
    std::function<std::uint64_t()> dropCounter;

    std::atomic<LIDAR_TYPE> model{LIDAR_GENERIC};
    std::atomic<bool> highSpeed{false};
    std::atomic<bool> cloudChanged{true};
    // The listener adds, the rate display reads and zeroes in one exchange.
    std::atomic<std::uint32_t> pointsReceived{0};
    // 0 nothing yet, 1 data arrived, 2 taken by the display; the listener moves 0 to 1.
    std::atomic<std::uint32_t> dataReceived{0};
    // Frees emptied buffers and gives the memory back.
    MemoryRelease memoryRelease;
};

} // namespace viewer
