#include "ViewControls.h"

#include "DeferredSettings.h"
#include "PointStore.h"
#include "SceneView.h"
#include "ui_MainWindow.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>

#include <vtkActor.h>
#include <vtkCamera.h>
#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkPolyData.h>
#include <vtkPolyDataMapper.h>
#include <vtkRenderer.h>

#include <cmath>

namespace {

constexpr double kDefaultHelperLength = 10000.0; // the cloud's unit: millimetres
constexpr int kSmallestPointSize = 1;
constexpr int kLargestPointSize = 5;
// Positions sampled to fit the view: the F key's fit takes its time; following the data runs at
// every refresh, under the points lock, and a fifth of that judges a scene's extent as well.
constexpr std::size_t kFitSamples = 20000;
constexpr std::size_t kFollowSamples = 4000;

} // namespace

namespace window {

ViewControls::ViewControls(Ui_MainWindow& ui, vtkRenderer* renderer, viewer::PointStore& store,
                           DeferredSettings& settings, Region region,
                           const viewer::ColourTable& scale)
    : ui(ui), renderer(renderer), store(store), settings(settings), region(std::move(region)) {
    regionActor = vtkSmartPointer<vtkActor>::New();
    renderer->AddActor(regionActor);
    storedHelperLength = settings.value("view/helperLength", 0.0).toDouble();
    double length = storedHelperLength;
    if (!(length > 0.0) || !std::isfinite(length)) {
        length = kDefaultHelperLength;
    }
    sceneView = std::make_unique<SceneView>(renderer, length);
    sceneView->updateLegend(scale);
    sceneView->setLegendVisible(settings.value("view/legend", true).toBool());
    sceneView->setGridVisible(settings.value("view/grid", true).toBool());
    sceneView->fit({}, viewAspect());

    QMenu* view = ui.menuView;
    view->addSeparator();
    auto* fit = new QAction("Fit view", view);
    fit->setObjectName("actionFit_view");
    fit->setShortcut(Qt::Key_F);
    connect(fit, &QAction::triggered, this, &ViewControls::fitView);
    view->addAction(fit);

    auto* legend = new QAction("Colour legend", view);
    legend->setObjectName("actionColour_legend");
    legend->setCheckable(true);
    legend->setChecked(sceneView->legendVisible());
    connect(legend, &QAction::toggled, this, [this](bool shown) {
        sceneView->setLegendVisible(shown);
        this->settings.setValue("view/legend", shown);
        render();
    });
    view->addAction(legend);

    auto* grid = new QAction("Ground grid", view);
    grid->setObjectName("actionGround_grid");
    grid->setCheckable(true);
    grid->setChecked(sceneView->gridVisible());
    connect(grid, &QAction::toggled, this, [this](bool shown) {
        sceneView->setGridVisible(shown);
        this->settings.setValue("view/grid", shown);
        render();
    });
    view->addAction(grid);

    QMenu* sizes = view->addMenu("Point size");
    sizes->setObjectName("menuPoint_size");
    auto* sizeGroup = new QActionGroup(sizes);
    const int stored = settings.value("view/pointSize", kSmallestPointSize).toInt();
    const int initial =
        stored >= kSmallestPointSize && stored <= kLargestPointSize ? stored : kSmallestPointSize;
    for (int pixels = kSmallestPointSize; pixels <= kLargestPointSize; ++pixels) {
        auto* choice =
            new QAction(QString::number(pixels) + (pixels == 1 ? " pixel" : " pixels"), sizeGroup);
        choice->setObjectName(QString("actionPoint_size_%1").arg(pixels));
        choice->setCheckable(true);
        choice->setChecked(pixels == initial);
        connect(choice, &QAction::triggered, this, [this, pixels] {
            this->size = pixels;
            emit pointSizeChosen(pixels);
            this->settings.setValue("view/pointSize", pixels);
            render();
        });
        sizes->addAction(choice);
    }
    size = initial;
    updateRegionActor();
}

ViewControls::~ViewControls() = default;

double ViewControls::viewAspect() const {
    const QWidget* view = ui.lidarQvtkWidget;
    return view->height() > 0 ? static_cast<double>(view->width()) / view->height() : 1.0;
}

viewer::SceneSample ViewControls::sampleScene(std::size_t samples) {
    return store.withFrames([&](const std::deque<DataPoint>& points, const viewer::BufferLog& log,
                                const std::deque<viewer::FrameSpan>&, std::uint64_t back) {
        sceneGeneration = log.generation;
        // The points shown, as the last refresh saw them; later arrivals join them.
        const std::uint64_t front = back - points.size();
        const std::uint64_t first = shownBegin > front && shownBegin < back ? shownBegin : front;
        return viewer::sampleScene(points, points.size(), samples,
                                   static_cast<std::size_t>(first - front));
    });
}

void ViewControls::fitView() {
    sceneView->follow();
    sceneView->fit(sampleScene(kFitSamples), viewAspect());
    storeHelperLength();
    rebuildRegionActor();
    render();
}

void ViewControls::afterRebuild(const viewer::ColourTable& table, std::uint64_t shownFrom) {
    shownBegin = shownFrom;
    if (store.takeFirstData()) {
        // The first points since start-up.
        sceneView->follow();
    }
    // The buffer was emptied or replaced ("Reset scene", "Set max", a load): frame what comes
    // next.
    const std::uint64_t generation = store.withBuffer(
        [](const std::deque<DataPoint>&, const viewer::BufferLog& log) { return log.generation; });
    if (generation != sceneGeneration) {
        sceneGeneration = generation;
        sceneView->follow();
    }
    sceneView->updateLegend(table);
    if (sceneView->following() &&
        sceneView->followData(sampleScene(kFollowSamples), viewAspect())) {
        storeHelperLength();
        rebuildRegionActor();
    } else {
        renderer->ResetCameraClippingRange();
    }
}

void ViewControls::storeHelperLength() {
    const double length = sceneView->helperLength();
    // Only a real change: the fit runs often while a scan grows.
    if (!(std::fabs(length - storedHelperLength) <= 0.1 * storedHelperLength)) {
        settings.setValue("view/helperLength", length);
        storedHelperLength = length;
    }
}

void ViewControls::cameraTouched() {
    if (sceneView) {
        sceneView->cameraTouched();
    }
}

void ViewControls::updateRegionActor() {
    rebuildRegionActor();
    render();
}

void ViewControls::rebuildRegionActor() {
    const viewer::RegionGeometry geometry = region(sceneView->helperLength());
    auto mapper = vtkSmartPointer<vtkPolyDataMapper>::New();
    mapper->SetInputData(viewer::regionPolyData(geometry));
    regionActor->SetMapper(mapper);
}

void ViewControls::toggleRegion() {
    actorShown = !actorShown;
    regionActor->SetVisibility(actorShown);
    render();
}

void ViewControls::togglePerspective() {
    vtkCamera* camera = renderer->GetActiveCamera();
    camera->SetParallelProjection(!camera->GetParallelProjection());
    renderer->SetActiveCamera(camera);
    render();
}

void ViewControls::follow() {
    sceneView->follow();
}

void ViewControls::render() {
    ui.lidarQvtkWidget->renderWindow()->Render();
}

} // namespace window
