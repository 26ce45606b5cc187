// "Select region" in the View menu: while it is checked, a drag over the view draws a rectangle
// instead of turning the camera, and the points drawn inside it become the selection. Their
// directions give the region scan's bounds; the points themselves can be saved. The points are
// looked at on a thread of the tool's own, a slice of the buffer at a time.
#pragma once

#include "FrameSelection.h"
#include "PickCamera.h"
#include "PointReadout.h"

#include "DataPoint.h"

#include <QObject>
#include <QPoint>
#include <QPointer>

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <thread>

class QAction;
class QMenu;
class QRubberBand;
class QWidget;
class vtkRenderer;

namespace viewer {
class PointStore;
}

namespace window {

class RegionSelectTool : public QObject {
    Q_OBJECT

public:
    // "Select region" goes into viewMenu, "Save selection as…" into fileMenu after saveAs; the
    // tool watches view's mouse. store must outlive this.
    RegionSelectTool(QWidget* view, vtkRenderer* renderer, viewer::PointStore& store,
                     QMenu* viewMenu, QMenu* fileMenu, QAction* saveAs);
    // A selection still being worked out is given up.
    ~RegionSelectTool() override;
    RegionSelectTool(const RegionSelectTool&) = delete;
    RegionSelectTool& operator=(const RegionSelectTool&) = delete;

    // The checkable "Select region", for the window to keep it apart from other mouse modes.
    QAction* modeAction() const { return m_action; }
    // Which of the buffer's points are shown, and so can be selected.
    void setMode(viewer::DisplayMode shownMode, unsigned shownCount);

    // Selects the points drawn inside rect (display pixels, origin bottom left) with the camera
    // as it is now.
    void select(const viewer::ScreenRect& rect);

signals:
    // The selection's region, once worked out; not sent for a selection of no point.
    void regionSelected(const viewer::RegionBounds& bounds);
    // A selection was made (exists) or ended empty or was lost (not exists).
    void selectionChanged(bool exists);
    // "Save selection as…" chosen, with the selection.
    void saveRequested(std::shared_ptr<const std::deque<DataPoint>> points);
    // What became of a selection, for the status bar.
    void message(const QString& text);

protected:
    bool eventFilter(QObject* object, QEvent* event) override;

private:
    void setActive(bool on);
    viewer::PickCamera camera() const;
    viewer::ScreenRect displayRect(const QPoint& a, const QPoint& b) const;
    void stopWorker();
    void finished(std::shared_ptr<std::deque<DataPoint>> points,
                  std::optional<viewer::RegionBounds> bounds, bool completed);

    QWidget* m_view;
    vtkRenderer* m_renderer;
    viewer::PointStore& m_store;
    QAction* m_action;
    QAction* m_saveAction;
    QPointer<QRubberBand> m_band;
    bool m_dragging = false;
    QPoint m_from;
    viewer::DisplayMode m_mode = viewer::DisplayMode::AllPoints;
    unsigned m_count = 0;
    // The points of the last selection, in buffer order; null when there is none.
    std::shared_ptr<const std::deque<DataPoint>> m_selection;
    // Set to give up the walk in progress; the worker reads it between slices.
    std::atomic<bool> m_cancel{false};
    // Counts the walks started; an answer of an older one is dropped.
    std::uint64_t m_serial = 0;
    std::thread m_worker;
};

} // namespace window
