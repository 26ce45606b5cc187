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
        frameLog.close(closed);
    }
}

void PointStore::frameTime(std::uint64_t nowMicros) {
    boost::lock_guard<boost::mutex> cutting(splitterMutex);
    splitter.AdvanceTime(nowMicros);
    const std::vector<tavrel::scan_frame_t> closed = splitter.TakeClosed();
    if (!closed.empty()) {
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        frameLog.close(closed);
    }
}

void PointStore::setConversion(LIDAR_TYPE mode, bool fast) {
    model = mode;
    highSpeed = fast;
}

void PointStore::setDropCounter(std::function<std::uint64_t()> counter) {
    dropCounter = std::move(counter);
}

void PointStore::clear() {
    std::deque<DataPoint> former;
    {
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        former = clearBuffer(points, pointsLog);
        frameLog.clear();
        // The count alone would miss a buffer refilled to the same size before the next refresh.
        cloudChanged = true;
    }
    memoryRelease.release(std::move(former));
}

void PointStore::setMaximumPoints(std::uint32_t value) {
    std::deque<DataPoint> former;
    {
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        former = clearBuffer(points, pointsLog);
        frameLog.clear();
        maximum = value;
        cloudChanged = true;
    }
    memoryRelease.release(std::move(former));
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
    std::deque<DataPoint> former;
    {
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        loaded += fresh.size();
        former = replaceBuffer(points, std::move(fresh), pointsLog);
        // A file's points belong to no frame of the stream.
        frameLog.clear();
    }
    pointsReceived = 0;
    cloudChanged = true;
    return former;
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
