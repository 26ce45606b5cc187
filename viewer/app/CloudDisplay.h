// The 3D display of the point store: the refresh that brings the drawn cloud up to the buffer,
// the frame budget (every render timed, as many points drawn as the machine renders in about
// one frame's time, fewer while the camera moves, and the Stats box saying when points are left
// out), the colour scale's range and colours, and the points-per-second figure.
#pragma once

#include "ChunkedCloud.h"
#include "ColourField.h"
#include "ColourMap.h"
#include "FrameBudget.h"
#include "FrameSelection.h"
#include "IntensityScale.h"

#include <QColor>
#include <QElapsedTimer>
#include <QObject>

#include <vtkSmartPointer.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

class QLabel;
class QMainWindow;
class Ui_MainWindow;
class vtkProperty;
class vtkRenderer;

namespace viewer {
class PointStore;
}

namespace window {

class CloudDisplay : public QObject {
    Q_OBJECT

public:
    // Adds the cloud to renderer, in the view of ui, and starts the refresh and the rate. The
    // store must outlive this.
    CloudDisplay(QMainWindow* window, Ui_MainWindow& ui, vtkRenderer* renderer,
                 viewer::PointStore& store);
    // The cloud's actors leave the scene while the render window is still there.
    ~CloudDisplay() override;

    void refresh();
    // A refresh now, instead of at its period (a recording's frame has come): a refresh armed
    // for later would wait behind whatever the event loop holds, a redraw of the window
    // included.
    void refreshNow();
    void updateRate();

    // The window's update, which puts the rendered view on screen: timed with the frame.
    bool timeWindowUpdate(const std::function<bool()>& update);

    // Which of the buffer's points are shown.
    void setMode(viewer::DisplayMode shownMode, unsigned shownCount);
    // The look of the cloud's points.
    void setPointSize(int pixels);
    const viewer::ColourTable& colourTable() const { return intensityScale.table(); }
    // Arrival number of the first point the last refresh showed (the display mode's).
    std::uint64_t shownFrom() const { return shown.begin; }

    // Colours the cloud by field on map. Intensity on the min/max colours is the intensity scale,
    // as is every field the shown model does not measure (measured false).
    void setColouring(viewer::ColourField field, viewer::ColourMap map, bool measured);
    // The colouring other than the intensity scale, with its range; null when the scale colours.
    const viewer::PointColourer* colourer() const { return fieldColourer.get(); }
    const viewer::FieldRange& colourRange() const { return fieldRange; }

    void askForMaximumIntensity();
    void askForMinimumIntensity();
    void setAutoIntensity();
    void askForMaximumIntensityColor();
    void askForMinimumIntensityColor();
    void resetIntensityColors();

signals:
    // The drawn cloud has changed and is about to be rendered.
    void rebuilt();

private:
    void setupFrameBudget();
    void renderStarting();
    void renderFinished();
    void cameraMoving(bool moving);
    void showDrawnPoints();
    void showFrames();
    void render();
    void warmUp();
    void armRefresh(int ms);
    bool updateColourer(const viewer::HsvColour& minimumColour,
                        const viewer::HsvColour& maximumColour, bool cloudChanged);

    QMainWindow* window;
    Ui_MainWindow& ui;
    viewer::PointStore& store;
    vtkRenderer* renderer;
    // The look of the cloud's points (their size), shared by the cloud's actors.
    vtkSmartPointer<vtkProperty> cloudProperty;
    // The drawn cloud, kept up to date from the buffer, the number of points a frame may draw,
    // and the colour table of the last rebuild.
    std::unique_ptr<viewer::ChunkedCloud> cloud;
    viewer::FrameBudget frameBudget;
    viewer::IntensityScale intensityScale;
    viewer::ColourField colourField = viewer::ColourField::Intensity;
    viewer::ColourMap colourMap = viewer::ColourMap::MinMaxColours;
    bool fieldMeasured = true;
    std::shared_ptr<const viewer::PointColourer> fieldColourer;
    viewer::FieldRange fieldRange;
    viewer::HsvColour fieldMinimumColour;
    viewer::HsvColour fieldMaximumColour;
    QColor maximumIntensityColor;
    QColor minimumIntensityColor;
    std::chrono::steady_clock::time_point renderStarted;
    // The last render, until the window has put it on screen: its points and milliseconds.
    std::size_t renderDrawn = 0;
    double renderMs = 0.0;
    bool renderOnScreen = true;
    // The point shader has been compiled (or will be by the warm-up armed), and the render under
    // way is the warm-up's, which the frame budget does not count.
    bool warmUpArmed = false;
    bool warmingUp = false;
    // "showing N of M" in the Stats box while points are left out of the frame.
    QLabel* drawnPoints_label = nullptr;
    // The refresh armed last; a timer of an earlier one does nothing.
    std::uint64_t refreshToken = 0;
    // The display mode, and what the last refresh showed of the buffer: its newest points from
    // shown.begin, the skipped ones before them left out.
    viewer::DisplayMode mode = viewer::DisplayMode::AllPoints;
    unsigned count = 0;
    viewer::ShownPoints shown;
    std::size_t skipped = 0;
    QLabel* frameRate_label = nullptr;
    QLabel* shownFrames_label = nullptr;
    QLabel* shownPoints_label = nullptr;
    std::uint32_t pointsPerSecondInterval = 1000;
    // Time since the rate display last ran: the rate is the count over the time that really
    // passed, so a stalled GUI thread does not inflate it.
    QElapsedTimer rateClock;
};

} // namespace window
