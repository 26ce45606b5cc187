// The view around the cloud: the camera that follows the data or is fitted to it, the axes, the
// ground grid and its scale, the colour legend, the point size and the projection with their
// entries in the View menu, and the outline of the scan region.
#pragma once

#include "IntensityScale.h"
#include "RegionHelper.h"
#include "SceneGeometry.h"

#include <QObject>

#include <vtkSmartPointer.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

class Ui_MainWindow;
class vtkActor;
class vtkRenderer;

namespace viewer {
class PointStore;
}

namespace window {

class DeferredSettings;
class SceneView;

class ViewControls : public QObject {
    Q_OBJECT

public:
    // The outline of the scan region chosen now, at the helper's length.
    using Region = std::function<viewer::RegionGeometry(double helperLength)>;

    // Adds the scene's helpers (the legend showing scale) and the region outline to
    // renderer, and the entries to the View menu of ui. store and settings must outlive this.
    ViewControls(Ui_MainWindow& ui, vtkRenderer* renderer, viewer::PointStore& store,
                 DeferredSettings& settings, Region region, const viewer::ColourTable& scale);
    ~ViewControls() override;

    // After the display refresh has brought the scene up to the buffer: follows the points shown
    // (from arrival number shownFrom on) with the camera, keeps the legend and the helper's
    // length in step.
    void afterRebuild(const viewer::ColourTable& table, std::uint64_t shownFrom);
    SceneView& scene() { return *sceneView; }
    void fitView();
    void follow();
    void cameraTouched();
    void updateRegionActor();
    void toggleRegion();
    void togglePerspective();
    // The point size chosen in the menu, or stored.
    int pointSize() const { return size; }

signals:
    void pointSizeChosen(int pixels);

private:
    void rebuildRegionActor();
    double viewAspect() const;
    viewer::SceneSample sampleScene(std::size_t samples);
    void storeHelperLength();
    void render();

    Ui_MainWindow& ui;
    vtkRenderer* renderer;
    viewer::PointStore& store;
    DeferredSettings& settings;
    Region region;
    std::unique_ptr<SceneView> sceneView;
    vtkSmartPointer<vtkActor> regionActor;
    bool actorShown = true;
    int size = 1;
    // The buffer's generation the view last saw (a new one re-arms the automatic fit).
    std::uint64_t sceneGeneration = 0;
    // Arrival number of the first point the display shows.
    std::uint64_t shownBegin = 0;
    // The helper length in the settings, read once: the fit compares with it at every refresh.
    double storedHelperLength = 0.0;
};

} // namespace window
