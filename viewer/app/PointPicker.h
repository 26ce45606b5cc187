// The pick index of the points the display mode shows, brought up to date off the GUI thread as
// the buffer changes, at a bounded rate (only the blocks of arrivals that changed are indexed
// again), and the picks made from it: the nearest drawn point to a place of the view, found in
// the index, its values read back from the buffer.
#pragma once

#include "BlockIndex.h"
#include "DataPoint.h"
#include "FrameSelection.h"
#include "PickCamera.h"
#include "PositionCopy.h"

#include <QElapsedTimer>
#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace viewer {
class PointStore;
}

namespace window {

class PointPicker : public QObject {
    Q_OBJECT

public:
    // store must outlive this.
    explicit PointPicker(viewer::PointStore& store);
    // Waits for a build in progress (it stops at the next block).
    ~PointPicker() override;
    PointPicker(const PointPicker&) = delete;
    PointPicker& operator=(const PointPicker&) = delete;

    // Which of the buffer's points are shown, and so picked.
    void setMode(viewer::DisplayMode mode, unsigned count);
    // The buffer may have changed: the index follows, no sooner than the rate allows.
    void bufferChanged();

    struct Picked {
        std::uint64_t id = 0;         // arrival number
        std::uint64_t generation = 0; // of the buffer it was found in
        DataPoint point;
    };
    using Result = std::function<void(const std::optional<Picked>&)>;
    // The point drawn nearest the camera within tolerance pixels of (x, y) (display coordinates,
    // origin bottom left). result runs on the GUI thread: at once when the index finds a point
    // of the buffer's contents (while points stream in, one that arrived since the last build
    // and lies nearer may be missed), or else once an index of the points shown now is built.
    // A pick still waiting is dropped for a new one. False when the result has to wait.
    bool pick(const viewer::PickCamera& camera, double x, double y, double tolerance,
              Result result);

    // The buffer's generation now (a clear or a load starts a new one).
    std::uint64_t generation() { return shownNow().generation; }
    // True while the index holds exactly the points the display mode shows now.
    bool current();
    std::size_t indexedCount() const { return m_index ? m_index->size() : 0; }
    // The last build: copying the positions of the blocks it indexed and sorting them into their
    // grids, milliseconds.
    double lastCopyMs() const { return m_copyMs; }
    double lastSortMs() const { return m_sortMs; }
    // The last build's processor time on its thread, milliseconds.
    double lastCpuMs() const { return m_cpuMs; }

signals:
    // A new index is in place.
    void indexBuilt();

private:
    struct Request {
        viewer::PickCamera camera;
        double x = 0.0;
        double y = 0.0;
        double tolerance = 0.0;
        Result result;
    };
    struct Built {
        std::shared_ptr<const viewer::BlockIndex> index;
        viewer::IndexedRange range;
        double copyMs = 0.0;
        double sortMs = 0.0;
        double cpuMs = 0.0;
        bool complete = false; // false: the buffer was replaced meanwhile, or the build stopped
    };

    viewer::IndexedRange shownNow();
    bool usable();
    void consider();
    void start();
    void finished(Built built);
    std::optional<Picked> find(const Request& request);
    // Keeps the blocks of previous, built for the buffer of generation previousGeneration, that
    // still hold what they must.
    Built build(viewer::DisplayMode mode, unsigned count,
                const std::shared_ptr<const viewer::BlockIndex>& previous,
                std::uint64_t previousGeneration);

    viewer::PointStore& m_store;
    viewer::DisplayMode m_mode = viewer::DisplayMode::AllPoints;
    unsigned m_count = 0;

    // GUI thread: the index in use, what it holds and the display mode it was built for.
    std::shared_ptr<const viewer::BlockIndex> m_index;
    viewer::IndexedRange m_range;
    viewer::DisplayMode m_indexMode = viewer::DisplayMode::AllPoints;
    unsigned m_indexCount = 0;
    double m_copyMs = 0.0;
    double m_sortMs = 0.0;
    double m_cpuMs = 0.0;
    std::optional<Request> m_waiting;
    // An index of points a clear or a load has taken away, for the next build to free.
    std::shared_ptr<const viewer::BlockIndex> m_discarded;

    // GUI thread: the build in progress and when the next may start.
    std::thread m_builder;
    bool m_building = false;
    bool m_scheduled = false;
    QElapsedTimer m_clock;
    qint64 m_earliest = 0;
    // Read by the builder between slices: the picker is going.
    std::atomic<bool> m_stop{false};
};

} // namespace window
