// The view around the point cloud: the camera and its automatic fit, axes at the device origin,
// the ground grid with its scale, and the colour legend. GUI thread only.
#pragma once

#include "IntensityScale.h"
#include "SceneGeometry.h"

#include <vtkSmartPointer.h>

#include <cstdint>
#include <string>
#include <vector>

class vtkActor;
class vtkAxesActor;
class vtkRenderer;
class vtkScalarBarActor;
class vtkTextActor;

namespace window {

class SceneView {
public:
    // Adds its actors to renderer. The helper's rays start at helperLength until the scene gives
    // them a length of its own.
    SceneView(vtkRenderer* renderer, double helperLength);
    SceneView(const SceneView&) = delete;
    SceneView& operator=(const SceneView&) = delete;

    // The view follows the data from now on: the next points are framed wherever the camera is,
    // and framed again while the cloud grows out of the view, until the operator moves the
    // camera.
    void follow() {
        m_following = true;
        m_framedData = false;
    }
    void cameraTouched() { m_following = false; }
    bool following() const { return m_following; }

    // Frames the sample (the default space around the device when it is empty) and sets the
    // helper length, grid and axes from it. aspect is the view's width over its height.
    void fit(const viewer::SceneSample& sample, double aspect);

    // While following: frames the sample again when the cloud has outgrown the framed bounds or
    // has not been framed since follow(). Returns true when it did.
    bool followData(const viewer::SceneSample& sample, double aspect);

    // Length of the region helper's rays, in the cloud's unit.
    double helperLength() const { return m_helperLength; }

    // Shows the scale's current range and colours.
    void updateLegend(const viewer::ColourTable& table);
    // The legend of a colouring other than the intensity scale: its title, the values at its
    // two ends and its colours (3 bytes each, lowest first). updateLegend() leaves it until
    // showIntensityLegend() brings the intensity scale back.
    void showFieldLegend(const std::string& title, double low, double high,
                         const std::vector<std::uint8_t>& rgb);
    void showIntensityLegend(const viewer::ColourTable& table);

    void setLegendVisible(bool visible);
    void setGridVisible(bool visible);
    bool legendVisible() const;
    bool gridVisible() const;

    vtkScalarBarActor* legend() const;

private:
    void frame(const viewer::Bounds& bounds, double aspect);
    void updateGrid(const viewer::Bounds& bounds);

    vtkSmartPointer<vtkRenderer> m_renderer;
    vtkSmartPointer<vtkAxesActor> m_axes;
    vtkSmartPointer<vtkActor> m_grid;
    vtkSmartPointer<vtkTextActor> m_scale;
    vtkSmartPointer<vtkScalarBarActor> m_legend;
    viewer::ScaleSettings m_legendSettings;
    bool m_legendShown = false;
    bool m_fieldLegend = false;
    std::string m_fieldTitle;
    double m_fieldLow = 0.0;
    double m_fieldHigh = 0.0;
    std::vector<std::uint8_t> m_fieldColours;

    bool m_following = true;
    bool m_framedData = false; // the framed bounds are the data's, not the default space
    viewer::Bounds m_framed;
    double m_helperLength;
};

} // namespace window
