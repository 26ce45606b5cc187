#include "PointPicker.h"

#include "MemoryRelease.h"
#include "PointStore.h"

#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <ctime>

namespace {

// Positions copied per hold of the points lock: about a millisecond's worth.
constexpr std::size_t kCopySlice = 65536;
// A rebuild follows a change no sooner than this after the last build ended, nor sooner than
// this many times the last build took: the index costs the machine a small share of a core
// however fast the buffer changes.
constexpr qint64 kLeastRebuildGapMs = 1000;
constexpr double kRebuildGapPerBuild = 4.0;

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

} // namespace

namespace window {

PointPicker::PointPicker(viewer::PointStore& store) : m_store(store) {
    m_clock.start();
    // No index yet: a range no buffer has.
    m_range.generation = ~std::uint64_t{0};
}

PointPicker::~PointPicker() {
    m_stop = true;
    if (m_builder.joinable()) {
        m_builder.join();
    }
}

void PointPicker::setMode(viewer::DisplayMode mode, unsigned count) {
    m_mode = mode;
    m_count = count;
    bufferChanged();
}

void PointPicker::bufferChanged() {
    if (m_index && shownNow().generation != m_range.generation) {
        // Its points are gone: the next build frees it, with the memory given back, off this
        // thread.
        m_discarded = std::move(m_index);
    }
    consider();
}

viewer::IndexedRange PointPicker::shownNow() {
    return m_store.withFrames([&](const std::deque<DataPoint>& points, const viewer::BufferLog& log,
                                  const std::deque<viewer::FrameSpan>& frames, std::uint64_t back) {
        const viewer::ShownPoints shown =
            viewer::shownPoints(m_mode, m_count, frames, points, back);
        return viewer::IndexedRange{log.generation, shown.begin, shown.end};
    });
}

bool PointPicker::current() {
    return m_index && m_indexMode == m_mode && m_indexCount == m_count && shownNow() == m_range;
}

bool PointPicker::usable() {
    // Points have come and gone since, but those it holds are still the buffer's.
    return m_index && m_indexMode == m_mode && m_indexCount == m_count &&
           shownNow().generation == m_range.generation;
}

void PointPicker::consider() {
    if (m_building || current()) {
        return;
    }
    const qint64 now = m_clock.elapsed();
    if (m_waiting || now >= m_earliest) {
        start();
        return;
    }
    if (!m_scheduled) {
        m_scheduled = true;
        QTimer::singleShot(static_cast<int>(m_earliest - now), this, [this] {
            m_scheduled = false;
            consider();
        });
    }
}

void PointPicker::start() {
    if (m_builder.joinable()) {
        m_builder.join();
    }
    m_building = true;
    const viewer::DisplayMode mode = m_mode;
    const unsigned count = m_count;
    m_builder = std::thread([this, mode, count, discarded = std::move(m_discarded)]() mutable {
        if (discarded) {
            discarded.reset();
            viewer::returnFreeMemory();
        }
        Built built = build(mode, count);
        QMetaObject::invokeMethod(
            this,
            [this, built = std::move(built), mode, count]() mutable {
                if (built.complete) {
                    m_indexMode = mode;
                    m_indexCount = count;
                }
                finished(std::move(built));
            },
            Qt::QueuedConnection);
    });
}

PointPicker::Built PointPicker::build(viewer::DisplayMode mode, unsigned count) {
    Built built;
    const double cpuStart = threadCpuMs();
    const auto copyStart = std::chrono::steady_clock::now();
    std::optional<viewer::PositionCopy> copy;
    for (;;) {
        if (m_stop) {
            return built;
        }
        const auto step = m_store.withFrames(
            [&](const std::deque<DataPoint>& points, const viewer::BufferLog& log,
                const std::deque<viewer::FrameSpan>& frames, std::uint64_t back) {
                if (!copy) {
                    const viewer::ShownPoints shown =
                        viewer::shownPoints(mode, count, frames, points, back);
                    copy.emplace(points, log, shown.begin, back);
                }
                return copy->copy(points, log, back, kCopySlice);
            });
        if (step == viewer::PositionCopy::Step::Replaced) {
            copy.reset();
            viewer::returnFreeMemory();
            return built;
        }
        if (step == viewer::PositionCopy::Step::Done) {
            break;
        }
    }
    built.copyMs = msSince(copyStart);
    const auto sortStart = std::chrono::steady_clock::now();
    built.range = copy->range();
    built.index = std::make_shared<const viewer::PointIndex>(
        viewer::PointIndex::fromPositions(copy->take(), built.range.begin));
    built.sortMs = msSince(sortStart);
    built.cpuMs = threadCpuMs() - cpuStart;
    built.complete = true;
    return built;
}

void PointPicker::finished(Built built) {
    m_building = false;
    if (built.complete) {
        if (m_index) {
            // The index it replaces holds every point shown: freeing it here would stall the
            // window for tens of milliseconds at ten million points.
            m_store.discard(std::move(m_index));
        }
        m_index = std::move(built.index);
        m_range = built.range;
        m_copyMs = built.copyMs;
        m_sortMs = built.sortMs;
        m_cpuMs = built.cpuMs;
        if (shownNow().generation != m_range.generation) {
            // Cleared or replaced while it was built: the next build follows at once.
            m_discarded = std::move(m_index);
        } else {
            const double gap = std::max<double>(
                kLeastRebuildGapMs, kRebuildGapPerBuild * (built.copyMs + built.sortMs));
            m_earliest = m_clock.elapsed() + static_cast<qint64>(gap);
            emit indexBuilt();
        }
    }
    if (m_waiting && usable()) {
        Request request = std::move(*m_waiting);
        m_waiting.reset();
        request.result(find(request));
    }
    consider();
}

bool PointPicker::pick(const viewer::PickCamera& camera, double x, double y, double tolerance,
                       Result result) {
    Request request{camera, x, y, tolerance, std::move(result)};
    if (usable()) {
        const std::optional<Picked> picked = find(request);
        if (picked || current()) {
            request.result(picked);
            consider();
            return true;
        }
        // Nothing there in an index of an earlier state of the buffer: the points may have
        // arrived since.
    }
    m_waiting = std::move(request);
    consider();
    return false;
}

std::optional<PointPicker::Picked> PointPicker::find(const Request& request) {
    const std::optional<viewer::PointIndex::Hit> hit =
        m_index->pick(request.camera, request.x, request.y, request.tolerance);
    std::optional<Picked> picked;
    if (hit) {
        const viewer::IndexedRange range = m_range;
        picked = m_store.withFrames(
            [&](const std::deque<DataPoint>& points, const viewer::BufferLog& log,
                const std::deque<viewer::FrameSpan>&, std::uint64_t back) -> std::optional<Picked> {
                const std::uint64_t front = back - points.size();
                // A point evicted since the build is gone.
                if (log.generation != range.generation || hit->id < front || hit->id >= back) {
                    return std::nullopt;
                }
                return Picked{hit->id, log.generation,
                              points[static_cast<std::size_t>(hit->id - front)]};
            });
    }
    return picked;
}

} // namespace window
