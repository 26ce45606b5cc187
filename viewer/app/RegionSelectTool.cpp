#include "RegionSelectTool.h"

#include "PointStore.h"
#include "RectSelection.h"

#include <QAction>
#include <QMenu>
#include <QMouseEvent>
#include <QRubberBand>
#include <QWidget>

#include <vtkCamera.h>
#include <vtkMatrix4x4.h>
#include <vtkRenderer.h>

#include <chrono>

namespace {

// Points looked at per hold of the points lock: a few milliseconds, the selected ones copied.
constexpr std::size_t kSlice = 16384;
// Between two slices: time enough for a thread woken when the lock is let go to take it.
constexpr std::chrono::microseconds kSliceGap{300};

viewer::Matrix4 elements(const vtkMatrix4x4* m) {
    viewer::Matrix4 out{};
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            out[r * 4 + c] = m->GetElement(r, c);
        }
    }
    return out;
}

QString degrees(double v) {
    return QString::number(v, 'f', 2);
}

} // namespace

namespace window {

RegionSelectTool::RegionSelectTool(QWidget* view, vtkRenderer* renderer, viewer::PointStore& store,
                                   QMenu* viewMenu, QMenu* fileMenu, QAction* saveAs)
    : m_view(view), m_renderer(renderer), m_store(store) {
    m_action = new QAction("Select region", viewMenu);
    m_action->setObjectName("actionSelect_region");
    m_action->setCheckable(true);
    connect(m_action, &QAction::toggled, this, &RegionSelectTool::setActive);
    viewMenu->addSeparator();
    viewMenu->addAction(m_action);

    m_saveAction = new QAction("Save selection as…", fileMenu);
    m_saveAction->setObjectName("actionSave_selection_as");
    m_saveAction->setEnabled(false);
    connect(m_saveAction, &QAction::triggered, this, [this] { emit saveRequested(m_selection); });
    connect(this, &RegionSelectTool::selectionChanged, m_saveAction, &QAction::setEnabled);
    const QList<QAction*> fileActions = fileMenu->actions();
    const int at = fileActions.indexOf(saveAs);
    fileMenu->insertAction(at >= 0 ? fileActions.value(at + 1) : nullptr, m_saveAction);
    m_band = new QRubberBand(QRubberBand::Rectangle, view);
    m_band->setObjectName("regionRubberBand");
    m_band->hide();
    view->installEventFilter(this);
}

RegionSelectTool::~RegionSelectTool() {
    stopWorker();
}

void RegionSelectTool::setMode(viewer::DisplayMode shownMode, unsigned shownCount) {
    m_mode = shownMode;
    m_count = shownCount;
}

void RegionSelectTool::setActive(bool on) {
    if (on) {
        m_view->setCursor(Qt::CrossCursor);
    } else {
        m_view->unsetCursor();
        m_dragging = false;
        m_band->hide();
    }
}

bool RegionSelectTool::eventFilter(QObject* object, QEvent* event) {
    if (object != m_view || !m_action->isChecked()) {
        return false;
    }
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease &&
        type != QEvent::MouseButtonDblClick && type != QEvent::MouseMove) {
        return false;
    }
    const auto* mouse = static_cast<QMouseEvent*>(event);
    // The other buttons still pan and zoom; the left one, which turns the camera, draws.
    const bool left = mouse->button() == Qt::LeftButton || (mouse->buttons() & Qt::LeftButton);
    if (type == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton) {
        m_dragging = true;
        m_from = mouse->pos();
        m_band->setGeometry(QRect(m_from, QSize()));
        m_band->show();
        return true;
    }
    if (type == QEvent::MouseMove && m_dragging) {
        m_band->setGeometry(QRect(m_from, mouse->pos()).normalized());
        return true;
    }
    if (type == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton && m_dragging) {
        m_dragging = false;
        m_band->hide();
        select(displayRect(m_from, mouse->pos()));
        return true;
    }
    return left;
}

viewer::ScreenRect RegionSelectTool::displayRect(const QPoint& a, const QPoint& b) const {
    // Widget pixels from the top left, VTK's display pixels from the bottom left.
    const double ratio = m_view->devicePixelRatioF();
    const double height = m_view->height();
    return {a.x() * ratio, (height - a.y()) * ratio, b.x() * ratio, (height - b.y()) * ratio};
}

viewer::PickCamera RegionSelectTool::camera() const {
    vtkCamera* active = m_renderer->GetActiveCamera();
    const int* size = m_renderer->GetSize();
    viewer::PickCamera c;
    c.width = size[0] > 0 ? size[0] : 1;
    c.height = size[1] > 0 ? size[1] : 1;
    c.view = elements(active->GetViewTransformMatrix());
    c.projection =
        elements(active->GetProjectionTransformMatrix(m_renderer->GetTiledAspectRatio(), -1, 1));
    return c;
}

void RegionSelectTool::select(const viewer::ScreenRect& rect) {
    stopWorker();
    const viewer::RectFrustum frustum(camera(), rect);
    const viewer::DisplayMode mode = m_mode;
    const unsigned count = m_count;
    auto walk = m_store.withFrames([&](const std::deque<DataPoint>& points,
                                       const viewer::BufferLog& log, const auto& frames,
                                       std::uint64_t back) {
        const viewer::ShownPoints shown = viewer::shownPoints(mode, count, frames, points, back);
        return std::make_shared<viewer::SelectionWalk>(frustum, shown.begin, shown.end,
                                                       log.generation);
    });
    m_cancel = false;
    const std::uint64_t serial = ++m_serial;
    m_worker = std::thread([this, walk, serial] {
        using Step = viewer::SelectionWalk::Step;
        Step step = Step::More;
        while (step == Step::More && !m_cancel) {
            step = m_store.withFrames(
                [&](const std::deque<DataPoint>& points, const viewer::BufferLog& log, const auto&,
                    std::uint64_t back) { return walk->step(points, log, back, kSlice); });
            if (step == Step::More) {
                // The lock goes to no one in particular when it is let go: without a pause this
                // thread takes it straight back and the listener waits for the whole walk.
                std::this_thread::sleep_for(kSliceGap);
            }
        }
        if (m_cancel) {
            return;
        }
        auto points = std::make_shared<std::deque<DataPoint>>(std::move(walk->selected()));
        std::optional<viewer::RegionBounds> bounds;
        if (!walk->region().empty()) {
            bounds = walk->region().bounds({});
        }
        const bool completed = step == Step::Done;
        QMetaObject::invokeMethod(
            this,
            [this, serial, points, bounds, completed] {
                // One given up since: its answer may still come after the newer walk started.
                if (serial == m_serial) {
                    finished(points, bounds, completed);
                }
            },
            Qt::QueuedConnection);
    });
}

void RegionSelectTool::stopWorker() {
    if (m_worker.joinable()) {
        m_cancel = true;
        m_worker.join();
    }
}

void RegionSelectTool::finished(std::shared_ptr<std::deque<DataPoint>> points,
                                std::optional<viewer::RegionBounds> bounds, bool completed) {
    if (m_worker.joinable()) {
        m_worker.join();
    }
    if (!completed) {
        m_selection.reset();
        emit selectionChanged(false);
        emit message("The scene was cleared or replaced while the selection was made: select "
                     "again.");
        return;
    }
    if (points->empty()) {
        m_selection.reset();
        emit selectionChanged(false);
        emit message("No point lies inside the rectangle.");
        return;
    }
    m_selection = std::move(points);
    emit selectionChanged(true);
    if (bounds) {
        emit regionSelected(*bounds);
        emit message(QString("Selected %1 points: azimuth %2 to %3, elevation %4 to %5.")
                         .arg(m_selection->size())
                         .arg(degrees(bounds->azMin), degrees(bounds->azMax),
                              degrees(bounds->elMin), degrees(bounds->elMax)));
    } else {
        // Only points at the device's origin: they have no direction.
        emit message(QString("Selected %1 points, none with a direction from the device.")
                         .arg(m_selection->size()));
    }
}

} // namespace window
