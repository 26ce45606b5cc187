// Picking a point in the 3D view of a real window, with a buffer of a synthetic region scan.
// Prints, per buffer size:
//   index      building the pick index in the background: copying the positions out of the
//              buffer a slice at a time, sorting them into the grid, and from the buffer's change
//              to the index in place as the GUI thread sees it
//   pick       the median and longest of 50 Ctrl+clicks on drawn points: from the mouse event
//              to the readout set (pick from the index, values read back from the buffer), and
//              with the render of the mark that follows
//   peer       the same place picked from the rendered frame, VTK's hardware selector over the
//              pick's square of pixels (5 picks)
// The cloud draws at most 100,000 points a frame, about what the window's frame budget allows
// on software OpenGL. Usage: bench_pick [sizes...]   (default 1000000 10000000)
#include "BenchTiming.h"
#include "ChunkedCloud.h"
#include "IntensityScale.h"
#include "ObservationPoint.h"
#include "PickTool.h"
#include "PointStore.h"
#include "RoomScan.h"
#include "ViewContextMenu.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QSurfaceFormat>
#include <QVBoxLayout>
#include <QVTKOpenGLNativeWidget.h>

#include <vtkCamera.h>
#include <vtkCoordinate.h>
#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkHardwareSelector.h>
#include <vtkProperty.h>
#include <vtkRenderer.h>
#include <vtkSelection.h>
#include <vtkSmartPointer.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <random>
#include <vector>

using namespace viewer;
using Clock = std::chrono::steady_clock;
using bench::msSince;

namespace {

constexpr std::size_t kDrawnPoints = 100000;
constexpr int kPicks = 50;
constexpr int kPeerPicks = 5;

struct Stats {
    double median = 0.0;
    double longest = 0.0;
};
Stats stats(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v.back()};
}

bool waitFor(const std::function<bool()>& condition, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > ms) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void sendClick(QWidget* view, const QPoint& at) {
    QMouseEvent press(QEvent::MouseButtonPress, at, view->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::ControlModifier);
    QApplication::sendEvent(view, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, view->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::ControlModifier);
    QApplication::sendEvent(view, &release);
}

struct Scene {
    QWidget window;
    QVBoxLayout* layout = new QVBoxLayout(&window);
    QVTKOpenGLNativeWidget* view = new QVTKOpenGLNativeWidget(&window);
    QMenu menu;
    vtkSmartPointer<vtkGenericOpenGLRenderWindow> renderWindow =
        vtkSmartPointer<vtkGenericOpenGLRenderWindow>::New();
    vtkSmartPointer<vtkRenderer> renderer = vtkSmartPointer<vtkRenderer>::New();
    vtkSmartPointer<vtkProperty> property = vtkSmartPointer<vtkProperty>::New();
    PointStore store;
    std::unique_ptr<ChunkedCloud> cloud;
    std::unique_ptr<window::ViewContextMenu> contextMenu;
    std::unique_ptr<window::PickTool> pick;
    IntensityScale scale;

    Scene() {
        view->setRenderWindow(renderWindow);
        renderWindow->AddRenderer(renderer);
        renderWindow->SetMultiSamples(0);
        layout->addWidget(view);
        window.resize(1000, 700);
        cloud = std::make_unique<ChunkedCloud>(renderer, property);
        contextMenu = std::make_unique<window::ViewContextMenu>(view);
        pick = std::make_unique<window::PickTool>(view, renderer, layout, &menu, *contextMenu,
                                                  store, [](const QString&) {});
        pick->setModel(LIDAR_LX30);
        window.show();
    }
    ~Scene() {
        pick.reset();
        contextMenu.reset();
        cloud.reset();
    }

    void show(std::deque<DataPoint> points) {
        store.replace(std::move(points));
        bool restarted = false;
        do {
            store.withBuffer([&](const std::deque<DataPoint>& buffer, const BufferLog& log) {
                restarted = cloud->capture(buffer, log, 1u << 20) || restarted;
            });
        } while (cloud->pendingCount() > 0);
        std::uint32_t lo = 0;
        std::uint32_t hi = 65535;
        cloud->apply(scale.update(lo, hi, kDefaultMinimumColour, kDefaultMaximumColour),
                     kDrawnPoints);
        renderer->ResetCamera();
        renderWindow->Render();
        if (restarted) {
            store.returnFreed();
        }
    }

    // Where a buffered point shows, in the view's coordinates.
    QPoint onScreen(const DataPoint& p) {
        auto coordinate = vtkSmartPointer<vtkCoordinate>::New();
        coordinate->SetCoordinateSystemToWorld();
        coordinate->SetValue(p.x, p.y, p.z);
        const double* d = coordinate->GetComputedDoubleDisplayValue(renderer);
        const double ratio = view->devicePixelRatioF();
        return QPoint(static_cast<int>(d[0] / ratio),
                      static_cast<int>((renderer->GetSize()[1] - d[1]) / ratio));
    }
};

void run(Scene& scene, std::size_t n) {
    std::deque<DataPoint> points = bench::roomScan(n);
    // Places to click: drawn points of the buffer (the frame draws an even subsample), inside
    // the view.
    std::vector<DataPoint> targets;
    std::mt19937 random(7);
    std::uniform_int_distribution<std::size_t> any(0, n - 1);
    for (int i = 0; i < 4 * kPicks; ++i) {
        targets.push_back(points[any(random)]);
    }
    const auto changed = Clock::now();
    scene.show(std::move(points));
    scene.pick->afterRebuild();
    window::PointPicker& picker = scene.pick->picker();
    if (!waitFor([&] { return picker.current(); }, 120000)) {
        std::printf("%9zu  index not built\n", n);
        return;
    }
    const double inPlace = msSince(changed);
    std::printf("%9zu  index  copy %7.1f ms  sort %7.1f ms  in place %7.1f ms after the load "
                "began (its display included)\n",
                n, picker.lastCopyMs(), picker.lastSortMs(), inPlace);

    auto* label = scene.window.findChild<QLabel*>("pickLabel");
    std::vector<double> pickMs;
    std::vector<double> markedMs;
    std::vector<QPoint> hits;
    for (const DataPoint& target : targets) {
        if (static_cast<int>(pickMs.size()) == kPicks) {
            break;
        }
        const QPoint at = scene.onScreen(target);
        if (!scene.view->rect().adjusted(10, 10, -10, -10).contains(at)) {
            continue;
        }
        label->clear();
        double labelled = -1.0;
        const auto start = Clock::now();
        // The readout is set before the mark is rendered: its time is taken at the mark's
        // change, the signal that sets it.
        bool seen = false;
        QMetaObject::Connection watch =
            QObject::connect(scene.pick.get(), &window::PickTool::markChanged, [&] {
                if (!seen) {
                    seen = true;
                    labelled = msSince(start);
                }
            });
        sendClick(scene.view, at);
        const bool done = waitFor([&] { return !label->text().isEmpty(); }, 10000);
        QObject::disconnect(watch);
        if (!done || labelled < 0) {
            continue;
        }
        pickMs.push_back(labelled);
        markedMs.push_back(msSince(start));
        hits.push_back(at);
    }
    if (pickMs.empty()) {
        std::printf("%9zu  pick   none found\n", n);
        return;
    }
    const Stats p = stats(pickMs);
    const Stats m = stats(markedMs);
    std::printf("%9zu  pick   readout median %6.2f ms  longest %6.2f ms   with the mark rendered "
                "median %6.1f ms  longest %6.1f ms  (%zu picks)\n",
                n, p.median, p.longest, m.median, m.longest, pickMs.size());

    std::vector<double> peer;
    const int height = scene.renderer->GetSize()[1];
    for (int i = 0; i < kPeerPicks && i < static_cast<int>(hits.size()); ++i) {
        auto selector = vtkSmartPointer<vtkHardwareSelector>::New();
        selector->SetRenderer(scene.renderer);
        selector->SetFieldAssociation(vtkDataObject::FIELD_ASSOCIATION_POINTS);
        const int x = hits[i].x();
        const int y = height - 1 - hits[i].y();
        selector->SetArea(static_cast<unsigned>(std::max(0, x - 6)),
                          static_cast<unsigned>(std::max(0, y - 6)), static_cast<unsigned>(x + 6),
                          static_cast<unsigned>(y + 6));
        const auto start = Clock::now();
        vtkSmartPointer<vtkSelection> selection;
        selection.TakeReference(selector->Select());
        peer.push_back(msSince(start));
    }
    const Stats s = stats(peer);
    std::printf("%9zu  peer   rendered-frame selection median %6.1f ms  longest %6.1f ms  (%zu "
                "picks, %zu points drawn)\n",
                n, s.median, s.longest, peer.size(), scene.cloud->drawnCount());
}

} // namespace

int main(int argc, char** argv) {
    QSurfaceFormat::setDefaultFormat(QVTKOpenGLNativeWidget::defaultFormat());
    QApplication app(argc, argv);
    std::vector<std::size_t> sizes;
    for (int i = 1; i < argc; ++i) {
        sizes.push_back(static_cast<std::size_t>(std::strtoull(argv[i], nullptr, 10)));
    }
    if (sizes.empty()) {
        sizes = {1000000, 10000000};
    }
    Scene scene;
    waitFor([&] { return scene.view->isVisible(); }, 5000);
    for (std::size_t n : sizes) {
        run(scene, n);
    }
    return 0;
}
