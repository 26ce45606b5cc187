#include "PointStore.h"

#include "IntensityScale.h"
#include "ObservationPoint.h"

#include <chrono>

namespace viewer {

namespace {

std::uint64_t steadyMicros() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

} // namespace

void PointStore::LaserDataCallback(std::vector<tavrel::tavrel_rbe_obs_t> observations,
                                   unsigned int) {
    std::uint32_t nothingYet = 0;
    dataReceived.compare_exchange_strong(nothingYet, 1);
    pointsReceived += static_cast<std::uint32_t>(observations.size());

    const LIDAR_TYPE mode = model;
    const bool fast = highSpeed;
    const bool widens = widensIntensityRange(mode, fast);
    std::vector<DataPoint> converted;
    converted.reserve(observations.size());
    for (const tavrel::tavrel_rbe_obs_t& observation : observations) {
        converted.push_back(formats::toDataPoint(observation, mode, fast));
    }
    const std::uint64_t drops = dropCounter ? dropCounter() : 0;
    boost::lock_guard<boost::mutex> cutting(splitterMutex);
    const std::uint64_t now = steadyMicros();
    splitter.AddBatch(observations.data(), observations.size(), now, drops, &pieces);
    const std::vector<tavrel::scan_frame_t> closed = splitter.TakeClosed();

    boost::lock_guard<boost::mutex> lock(pointsMutex);
    if (recordingOpen) {
        // Kept apart: the recording's frames are shown, and nothing is drawn of these yet.
        liveFrames.addPieces(pieces, liveBack, now);
        liveFrames.close(closed);
        for (const DataPoint& point : converted) {
            appendBounded(livePoints, point, maximum, liveLog);
        }
        liveBack += converted.size();
        liveFrames.forgetBefore(liveBack - livePoints.size());
        return;
    }
    frameLog.addPieces(pieces, back(), now);
    frameLog.close(closed);
    bool changed = false;
    for (const DataPoint& point : converted) {
        if (widens && range.automatic &&
            widenIntensityRange(point.intensity, range.minimum, range.maximum)) {
            changed = true;
        }
        if (appendBounded(points, point, maximum, pointsLog)) {
            changed = true;
        }
    }
    frameLog.forgetBefore(back() - points.size());
    if (changed) {
        cloudChanged = true;
    }
}

void PointStore::frameNotification(unsigned event, std::uint64_t arrivalMicros) {
    boost::lock_guard<boost::mutex> cutting(splitterMutex);
    splitter.AddEvent(event, arrivalMicros);
    const std::vector<tavrel::scan_frame_t> closed = splitter.TakeClosed();
    if (!closed.empty()) {
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        // While a recording is shown the live frames are the ones kept apart.
        (recordingOpen ? liveFrames : frameLog).close(closed);
    }
}

void PointStore::frameTime(std::uint64_t nowMicros) {
    boost::lock_guard<boost::mutex> cutting(splitterMutex);
    splitter.AdvanceTime(nowMicros);
    const std::vector<tavrel::scan_frame_t> closed = splitter.TakeClosed();
    if (!closed.empty()) {
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        // While a recording is shown the live frames are the ones kept apart.
        (recordingOpen ? liveFrames : frameLog).close(closed);
    }
}

void PointStore::setConversion(LIDAR_TYPE mode, bool fast) {
    model = mode;
    highSpeed = fast;
}

void PointStore::setDropCounter(std::function<std::uint64_t()> counter) {
    dropCounter = std::move(counter);
}

void PointStore::showRecording() {
    boost::lock_guard<boost::mutex> lock(pointsMutex);
    if (recordingOpen) {
        return;
    }
    recordingOpen = true;
    liveBack = back();
    liveLog = BufferLog{};
    livePoints = clearBuffer(points, pointsLog);
    liveFrames = frameLog;
    frameLog.clear();
    cloudChanged = true;
}

void PointStore::showLive() {
    std::deque<DataPoint> former;
    {
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        if (!recordingOpen) {
            return;
        }
        recordingOpen = false;
        former = replaceBuffer(points, std::move(livePoints), pointsLog);
        livePoints = {};
        frameLog = liveFrames;
        liveFrames.clear();
        // The live arrival numbers go on where they were: no appends reached pointsLog since
        // the live buffer went aside, so liveBack is at least its count.
        loaded = liveBack - pointsLog.appended;
        cloudChanged = true;
    }
    memoryRelease.release(std::move(former));
}

bool PointStore::recordingShown() const {
    boost::lock_guard<boost::mutex> lock(pointsMutex);
    return recordingOpen;
}

std::size_t PointStore::livePointsKept() const {
    boost::lock_guard<boost::mutex> lock(pointsMutex);
    return livePoints.size();
}

void PointStore::clear() {
    std::deque<DataPoint> former;
    std::deque<DataPoint> live;
    std::shared_ptr<PreparedCloud> copy;
    {
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        former = clearBuffer(points, pointsLog);
        live.swap(livePoints);
        liveFrames.clear();
        frameLog.clear();
        copy.swap(prepared);
        // The count alone would miss a buffer refilled to the same size before the next refresh.
        cloudChanged = true;
    }
    memoryRelease.release(std::move(former));
    memoryRelease.release(std::move(live));
}

void PointStore::setMaximumPoints(std::uint32_t value) {
    std::deque<DataPoint> former;
    std::deque<DataPoint> live;
    std::shared_ptr<PreparedCloud> copy;
    {
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        former = clearBuffer(points, pointsLog);
        live.swap(livePoints);
        liveFrames.clear();
        frameLog.clear();
        copy.swap(prepared);
        maximum = value;
        cloudChanged = true;
    }
    memoryRelease.release(std::move(former));
    memoryRelease.release(std::move(live));
}

std::uint32_t PointStore::maximumPoints() const {
    boost::lock_guard<boost::mutex> lock(pointsMutex);
    return maximum;
}

void PointStore::replace(std::deque<DataPoint>&& fresh) {
    exchange(std::move(fresh));
    returnFreeMemory();
}

std::deque<DataPoint> PointStore::exchange(std::deque<DataPoint>&& fresh) {
    return swapIn(std::move(fresh), false, nullptr);
}

std::deque<DataPoint> PointStore::exchangeBeforeCopy(std::deque<DataPoint>&& fresh) {
    return swapIn(std::move(fresh), true, nullptr);
}

std::deque<DataPoint> PointStore::exchangeWithCopy(std::deque<DataPoint>&& fresh,
                                                   std::shared_ptr<PreparedCloud> copy) {
    return swapIn(std::move(fresh), false, std::move(copy));
}

std::deque<DataPoint> PointStore::swapIn(std::deque<DataPoint>&& fresh, bool holdForCopy,
                                         std::shared_ptr<PreparedCloud> given) {
    std::deque<DataPoint> former;
    if (given && !(given->finished() && given->size() == fresh.size())) {
        given.reset();
    }
    // A copy the display never took, and the hold of a copy given up, go after the lock.
    std::shared_ptr<PreparedCloud> copy;
    std::unique_ptr<BufferSnapshot> hold;
    {
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        loaded += fresh.size();
        former = replaceBuffer(points, std::move(fresh), pointsLog);
        // A file's points belong to no frame of the stream.
        frameLog.clear();
        copy.swap(prepared);
        if (given) {
            given->log = pointsLog;
            prepared = std::move(given);
        }
        if (holdForCopy) {
            if (copyHold) {
                copyHold->release(points, pointsLog);
                hold = std::move(copyHold);
            }
            copyHold = std::make_unique<BufferSnapshot>(points, pointsLog);
            copyLog = pointsLog;
        }
    }
    pointsReceived = 0;
    cloudChanged = true;
    return former;
}

PointStore::CopyStep PointStore::layCopy(PreparedCloud& copy, std::size_t slice) {
    boost::lock_guard<boost::mutex> lock(pointsMutex);
    if (!copyHold || pointsLog.generation != copyLog.generation) {
        return CopyStep::Replaced;
    }
    // Nothing leaves the front while held: the loaded points are still the first ones.
    const std::size_t total = copyHold->total();
    const std::size_t from = static_cast<std::size_t>(copy.size());
    const std::size_t count = std::min(slice, total - from);
    copy.append(points.cbegin() + static_cast<std::ptrdiff_t>(from), count);
    return from + count == total ? CopyStep::Done : CopyStep::More;
}

void PointStore::giveCopy(std::shared_ptr<PreparedCloud> copy) {
    std::unique_ptr<BufferSnapshot> hold;
    {
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        if (!copyHold) {
            return;
        }
        copyHold->release(points, pointsLog);
        const bool complete = copy && copy->finished() && copy->size() == copyHold->total() &&
                              pointsLog.generation == copyLog.generation;
        hold = std::move(copyHold);
        if (complete) {
            // The copy stands for the buffer just after the exchange: the display follows what
            // arrived and left since from there.
            copy->log = copyLog;
            prepared.swap(copy);
        }
    }
    cloudChanged = true;
}

bool PointStore::copyAwaited() const {
    boost::lock_guard<boost::mutex> lock(pointsMutex);
    return copyHold && pointsLog.generation == copyLog.generation;
}

std::shared_ptr<PreparedCloud> PointStore::takePrepared() {
    boost::lock_guard<boost::mutex> lock(pointsMutex);
    return std::move(prepared);
}

IntensityRange PointStore::intensityRange() const {
    boost::lock_guard<boost::mutex> lock(pointsMutex);
    return range;
}

IntensityRange PointStore::scaleRange() {
    boost::lock_guard<boost::mutex> lock(pointsMutex);
    normaliseIntensityRange(range.minimum, range.maximum);
    return range;
}

void PointStore::setAutomaticRange(std::uint32_t minimum, std::uint32_t maximumValue) {
    boost::lock_guard<boost::mutex> lock(pointsMutex);
    if (range.automatic) {
        range.minimum = minimum;
        range.maximum = maximumValue;
    }
}

bool PointStore::setMaximumIntensity(std::uint32_t value) {
    boost::lock_guard<boost::mutex> lock(pointsMutex);
    if (value <= range.minimum) {
        return false;
    }
    range.automatic = false;
    range.maximum = value;
    cloudChanged = true;
    return true;
}

bool PointStore::setMinimumIntensity(std::uint32_t value) {
    boost::lock_guard<boost::mutex> lock(pointsMutex);
    if (value >= range.maximum) {
        return false;
    }
    range.automatic = false;
    range.minimum = value;
    cloudChanged = true;
    return true;
}

void PointStore::setAutomaticIntensity() {
    boost::lock_guard<boost::mutex> lock(pointsMutex);
    range.automatic = true;
    cloudChanged = true;
}

PointStore::Frames PointStore::frames() const {
    boost::lock_guard<boost::mutex> lock(pointsMutex);
    return {frameLog.frames(), back(), frameLog.closedCount()};
}

bool PointStore::takeFirstData() {
    std::uint32_t arrived = 1;
    return dataReceived.compare_exchange_strong(arrived, 2);
}

} // namespace viewer
