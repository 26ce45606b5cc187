// The point buffer and the 3D display: the listener's callback fills the buffer, the refresh
// brings the scene up to it, the rate display counts what arrived.
#include "MainWindow.h"

#include "ObservationPoint.h"
#include "PointBuffer.h"
#include "WindowSupport.h"
#include "ui_MainWindow.h"

#include <QInputDialog>
#include <QTimer>

#include <vtkPolyData.h>
#include <vtkRenderer.h>

#include <chrono>
#include <limits>

void MainWindow::LaserDataCallback(std::vector<tavrel::tavrel_rbe_obs_t> observations,
                                   unsigned int unused) {
    store.LaserDataCallback(std::move(observations), unused);
}

namespace {

// A buffer loaded in one go fills the view over several refreshes instead of stalling one: each
// copies slices of it into the display, holding the points lock one slice at a time, for about
// this long, and the next refresh follows as soon as the event loop has turned.
constexpr std::size_t kCaptureSlice = 65536;
constexpr std::chrono::milliseconds kCaptureTime{25};

} // namespace

void MainWindow::updatePointsDisplay() {
    bool changed = false;
    bool restarted = false;
    const auto captureEnd = std::chrono::steady_clock::now() + kCaptureTime;
    do {
        store.withBuffer([&](const std::deque<DataPoint>& points, const viewer::BufferLog& log) {
            restarted = cloud->capture(points, log, kCaptureSlice) || restarted;
            // Taken with the capture, so a change made after it triggers the next refresh.
            changed = store.takeChanged() || changed;
        });
    } while (cloud->pendingCount() > 0 && std::chrono::steady_clock::now() < captureEnd);
    const int nextRefreshMs = cloud->pendingCount() > 0 ? 0 : window::kRefreshPeriodMs;
    if (store.intensityRange().automatic) {
        std::uint32_t minimum = 65535;
        std::uint32_t maximum = 0;
        cloud->automaticRange(minimum, maximum);
        store.setAutomaticRange(minimum, maximum);
    }

    const viewer::HsvColour minimumColour = window::toHsv(minimumIntensityColor);
    const viewer::HsvColour maximumColour = window::toHsv(maximumIntensityColor);
    viewer::IntensityRange range = store.scaleRange();
    const viewer::ColourTable* table =
        &intensityScale.update(range.minimum, range.maximum, minimumColour, maximumColour);
    if (!changed && !cloud->needsApply(*table, frameBudget.budget())) {
        QTimer::singleShot(nextRefreshMs, this, &MainWindow::updatePointsDisplay);
        return;
    }
    cloud->apply(*table, frameBudget.budget());
    ui->totalPoints_label->setText(QString::number(cloud->heldCount()));
    showDrawnPoints();

    afterSceneRebuild();
    render();
    if (restarted) {
        // The display has let go of its copy of the former buffer, and VTK of what it drew.
        store.returnFreed();
    }
    QTimer::singleShot(nextRefreshMs, this, &MainWindow::updatePointsDisplay);
}

void MainWindow::updatePointsPerSecond() {
    const std::uint32_t received = store.takeReceived();
    const qint64 elapsed = rateClock.restart();
    const double period =
        elapsed > 0 ? static_cast<double>(elapsed) : static_cast<double>(pointsPerSecondInterval);
    const double rate = 1000.0 * received / period;
    const double largest = std::numeric_limits<int>::max();
    ui->pointsPerSecond_label->setText(
        QString::number(static_cast<int>(rate < largest ? rate : largest)));
    QTimer::singleShot(static_cast<int>(pointsPerSecondInterval), this,
                       &MainWindow::updatePointsPerSecond);
}

void MainWindow::resetPoints() {
    store.clear();
}

void MainWindow::askForMaximumPoints() {
    bool ok = false;
    const int value =
        QInputDialog::getInt(this, "Set maximum number of points in current scan",
                             "Maximum number of points:", static_cast<int>(store.maximumPoints()),
                             1000, 10000000, 1, &ok);
    if (ok) {
        store.setMaximumPoints(static_cast<std::uint32_t>(value));
    }
}
