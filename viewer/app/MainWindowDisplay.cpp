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
                                   unsigned int) {
    std::uint32_t nothingYet = 0;
    dataReceived.compare_exchange_strong(nothingYet, 1);
    pointsReceived += static_cast<std::uint32_t>(observations.size());

    const LIDAR_TYPE model = mode;
    const bool highSpeed = highSpeedMode;
    const bool widens = viewer::widensIntensityRange(model, highSpeed);
    // Converted outside the lock, appended under it once per batch.
    std::vector<DataPoint> converted;
    converted.reserve(observations.size());
    for (const tavrel::tavrel_rbe_obs_t& observation : observations) {
        converted.push_back(formats::toDataPoint(observation, model, highSpeed));
    }
    boost::lock_guard<boost::mutex> lock(pointsMutex);
    bool changed = false;
    for (const DataPoint& point : converted) {
        if (widens && autoIntensity &&
            viewer::widenIntensityRange(point.intensity, minimumIntensity, maximumIntensity)) {
            changed = true;
        }
        if (viewer::appendBounded(points, point, maximumPoints, pointsLog)) {
            changed = true;
        }
    }
    if (changed) {
        cloudChanged = true;
    }
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
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        numberOfPoints = static_cast<std::uint32_t>(points.size());
        restarted = cloud->capture(points, pointsLog, kCaptureSlice) || restarted;
        // Taken with the capture, so a change made after it triggers the next refresh.
        changed = cloudChanged.exchange(false) || changed;
    } while (cloud->pendingCount() > 0 && std::chrono::steady_clock::now() < captureEnd);
    const int nextRefreshMs = cloud->pendingCount() > 0 ? 0 : window::kRefreshPeriodMs;
    if (autoIntensity) {
        std::uint32_t minimum = 65535;
        std::uint32_t maximum = 0;
        cloud->automaticRange(minimum, maximum);
        // The range members are shared with the listener's callback.
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        minimumIntensity = minimum;
        maximumIntensity = maximum;
    }

    const viewer::HsvColour minimumColour = window::toHsv(minimumIntensityColor);
    const viewer::HsvColour maximumColour = window::toHsv(maximumIntensityColor);
    const viewer::ColourTable* table = nullptr;
    {
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        table = &intensityScale.update(minimumIntensity, maximumIntensity, minimumColour,
                                       maximumColour);
    }
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
        memoryRelease.returnFreed();
    }
    QTimer::singleShot(nextRefreshMs, this, &MainWindow::updatePointsDisplay);
}

void MainWindow::updatePointsPerSecond() {
    const std::uint32_t received = pointsReceived.exchange(0);
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
    std::deque<DataPoint> former;
    {
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        former = viewer::clearBuffer(points, pointsLog);
        // The count alone would miss a buffer refilled to the same size before the
        // next refresh.
        cloudChanged = true;
    }
    memoryRelease.release(std::move(former));
}

void MainWindow::askForMaximumPoints() {
    std::uint32_t current = 0;
    {
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        current = maximumPoints;
    }
    bool ok = false;
    const int value = QInputDialog::getInt(this, "Set maximum number of points in current scan",
                                           "Maximum number of points:", static_cast<int>(current),
                                           1000, 10000000, 1, &ok);
    if (!ok) {
        return;
    }
    std::deque<DataPoint> former;
    {
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        former = viewer::clearBuffer(points, pointsLog);
        maximumPoints = static_cast<std::uint32_t>(value);
        cloudChanged = true;
    }
    memoryRelease.release(std::move(former));
}
