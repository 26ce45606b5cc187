#include "PointPicker.h"

#include "MemoryRelease.h"
#include "PointStore.h"

#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

// A rebuild follows a change no sooner than this after the last build ended, nor sooner than
// this many times the last build took: the index costs the machine a small share of a core
// however fast the buffer changes.
constexpr qint64 kLeastRebuildGapMs = 1000;
constexpr double kRebuildGapPerBuild = 4.0;
// At most this many blocks to sort is what streaming brings between builds (30,000 points a
// second at the most, blocks of 65,536); such builds run at the lowest priority.
constexpr std::size_t kStreamedBlocks = 4;
constexpr int kStreamedNice = 19;
// After each block's copy: the lock goes to no one in particular when it is let go, and without
// a pause this thread takes it straight back for the next block while the GUI thread waits.
constexpr std::chrono::microseconds kBlockCopyGap{300};

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
    m_builder =
        std::thread([this, mode, count, previous = m_index, previousGeneration = m_range.generation,
                     discarded = std::move(m_discarded)]() mutable {
            if (discarded) {
                discarded.reset();
                viewer::returnFreeMemory();
            }
            Built built = build(mode, count, previous, previousGeneration);
            previous.reset();
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

PointPicker::Built PointPicker::build(viewer::DisplayMode mode, unsigned count,
                                      const std::shared_ptr<const viewer::BlockIndex>& previous,
                                      std::uint64_t previousGeneration) {
    Built built;
    const double cpuStart = threadCpuMs();
    const auto buildStart = std::chrono::steady_clock::now();
    built.range =
        m_store.withFrames([&](const std::deque<DataPoint>& points, const viewer::BufferLog& log,
                               const std::deque<viewer::FrameSpan>& frames, std::uint64_t back) {
            const viewer::ShownPoints shown =
                viewer::shownPoints(mode, count, frames, points, back);
            return viewer::IndexedRange{log.generation, shown.begin, shown.end};
        });
    const viewer::BlockIndex none;
    const viewer::BlockIndex& reused =
        previous && previousGeneration == built.range.generation ? *previous : none;
    double copyMs = 0.0;
    // One block's positions per hold of the lock.
    const auto copy = [&](std::uint64_t begin,
                          std::uint64_t end) -> std::optional<viewer::BlockIndex::Positions> {
        const auto copyStart = std::chrono::steady_clock::now();
        auto positions = m_store.withFrames(
            [&](const std::deque<DataPoint>& points, const viewer::BufferLog& log,
                const std::deque<viewer::FrameSpan>&,
                std::uint64_t back) -> std::optional<viewer::BlockIndex::Positions> {
                if (log.generation != built.range.generation) {
                    return std::nullopt;
                }
                viewer::PositionCopy block(points, log, begin, back, end);
                block.copy(points, log, back, static_cast<std::size_t>(end - begin));
                const std::uint64_t first = block.range().begin;
                return viewer::BlockIndex::Positions{block.take(), first};
            });
        copyMs += msSince(copyStart);
        std::this_thread::sleep_for(kBlockCopyGap);
        return positions;
    };
    // The sorts of what streaming brings give way to the window's rendering, which shares the
    // machine's cores; this thread ends with the build and holds the buffer's lock no more once
    // it runs this low. A larger build (a load, a display mode showing more) is one a pick may
    // wait for: at the lowest priority, on a busy machine, ten million points took forty times
    // longer.
    const auto giveWay = [](std::size_t blocks) {
        if (blocks <= kStreamedBlocks) {
            setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kStreamedNice);
        }
    };
    std::optional<viewer::BlockIndex> index = viewer::BlockIndex::build(
        reused, built.range.begin, built.range.end, copy, [this] { return m_stop.load(); },
        giveWay);
    if (!index) {
        viewer::returnFreeMemory();
        return built;
    }
    built.index = std::make_shared<const viewer::BlockIndex>(std::move(*index));
    built.copyMs = copyMs;
    built.sortMs = msSince(buildStart) - copyMs;
    built.cpuMs = threadCpuMs() - cpuStart;
    built.complete = true;
    return built;
}

void PointPicker::finished(Built built) {
    m_building = false;
    if (built.complete) {
        if (m_index) {
            // Freed on the release thread with the blocks the new one no longer holds: after a
            // clear those are every point shown, tens of milliseconds at ten million.
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
    // Only points shown now and indexed: the index's first block may hold points before the
    // range shown, and the buffer may have let some of its points go since.
    const viewer::IndexedRange shown = shownNow();
    const std::optional<viewer::PointIndex::Hit> hit =
        m_index->pick(request.camera, request.x, request.y, request.tolerance,
                      std::max(shown.begin, m_range.begin), std::min(shown.end, m_range.end));
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
