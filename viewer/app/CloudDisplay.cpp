#include "CloudDisplay.h"

#include "CloudChunk.h"
#include "IntensityDialog.h"
#include "PointStore.h"
#include "WindowSupport.h"
#include "ui_MainWindow.h"

#include <QColorDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>

#include <vtkActor.h>
#include <vtkCallbackCommand.h>
#include <vtkCommand.h>
#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkInteractorObserver.h>
#include <vtkProperty.h>
#include <vtkRenderWindowInteractor.h>
#include <vtkRenderer.h>

#include <limits>

namespace {

// A buffer loaded in one go fills the view over several refreshes instead of stalling one: each
// copies slices of it into the display, holding the points lock one slice at a time, for about
// this long, and the next refresh follows as soon as the event loop has turned.
constexpr std::size_t kCaptureSlice = 65536;
constexpr std::chrono::milliseconds kCaptureTime{25};

// How soon the display looks again for a load's copy it waits for: laying it out takes a few
// tenths of a second, and the new points should show as soon as it is there.
constexpr int kCopyAwaitedMs = 20;

// The pace of this machine is unknown until a frame has been drawn: the first frames draw a
// small share and the budget grows from there, rather than a first frame of every point taking
// a software rasteriser several hundred milliseconds.
viewer::FrameBudget::Settings budgetSettings() {
    viewer::FrameBudget::Settings settings;
    settings.initial = 2 * settings.minimum;
    return settings;
}

} // namespace

namespace window {

void CloudDisplay::setColouring(viewer::ColourField field, viewer::ColourMap map, bool measured) {
    if (field == colourField && map == colourMap && measured == fieldMeasured) {
        return;
    }
    colourField = field;
    colourMap = map;
    fieldMeasured = measured;
    store.markChanged();
}

// Builds a colourer anew when field, map, range or colours have changed; true when it did.
bool CloudDisplay::updateColourer(const viewer::HsvColour& minimumColour,
                                  const viewer::HsvColour& maximumColour, bool cloudChanged) {
    const bool scale = !fieldMeasured || (colourField == viewer::ColourField::Intensity &&
                                          colourMap == viewer::ColourMap::MinMaxColours);
    if (scale) {
        if (!fieldColourer) {
            return false;
        }
        fieldColourer.reset();
        cloud->setColourer(nullptr);
        return true;
    }
    viewer::FieldRange range = fieldRange;
    const bool sameColouring =
        fieldColourer && fieldColourer->field() == colourField && fieldColourer->map() == colourMap;
    if (colourField == viewer::ColourField::Intensity) {
        // The "Intensity range" menu's range, on any map.
        const viewer::ScaleSettings& settings = intensityScale.table().settings();
        range.minimum = settings.minimum;
        range.maximum = settings.maximum;
    } else if (cloudChanged || !sameColouring) {
        // Only when the points have changed: even a subsample's range is work for every refresh.
        range = cloud->drawnRange(colourField);
    }
    if (sameColouring && range.minimum == fieldRange.minimum &&
        range.maximum == fieldRange.maximum && range.firstTime == fieldRange.firstTime &&
        range.lastTime == fieldRange.lastTime && minimumColour == fieldMinimumColour &&
        maximumColour == fieldMaximumColour) {
        return false;
    }
    fieldRange = range;
    fieldMinimumColour = minimumColour;
    fieldMaximumColour = maximumColour;
    fieldColourer = std::make_shared<const viewer::PointColourer>(colourField, colourMap, range,
                                                                  minimumColour, maximumColour);
    cloud->setColourer(fieldColourer);
    return true;
}

void CloudDisplay::refresh() {
    // A load's copy for the display is being laid out from the new buffer: until it comes the
    // view keeps the points it shows, rather than copying the new ones itself.
    if (store.copyAwaited()) {
        armRefresh(kCopyAwaitedMs);
        return;
    }
    bool changed = false;
    bool restarted = false;
    // A loaded file's points come with their copy for the display, built on the file thread.
    if (const std::shared_ptr<viewer::PreparedCloud> prepared = store.takePrepared()) {
        restarted = cloud->adopt(*prepared);
    }
    const auto captureEnd = std::chrono::steady_clock::now() + kCaptureTime;
    do {
        store.withFrames([&](const std::deque<DataPoint>& points, const viewer::BufferLog& log,
                             const std::deque<viewer::FrameSpan>& frames, std::uint64_t back) {
            shown = viewer::shownPoints(mode, count, frames, points, back);
            const std::uint64_t front = back - points.size();
            skipped = static_cast<std::size_t>(shown.begin - front);
            restarted = cloud->capture(points, log, kCaptureSlice, skipped) || restarted;
            // Taken with the capture, so a change made after it triggers the next refresh.
            changed = store.takeChanged() || changed;
        });
    } while (cloud->pendingCount() > 0 && std::chrono::steady_clock::now() < captureEnd);
    if (restarted) {
        // The display's copy of the former buffer, freed on the store's release thread.
        std::vector<viewer::DroppedCopies> dropped = cloud->takeDropped();
        if (!dropped.empty()) {
            store.discard(std::move(dropped));
        }
    }
    const int nextRefreshMs = cloud->pendingCount() > 0 ? 0 : kRefreshPeriodMs;
    if (store.intensityRange().automatic) {
        std::uint32_t minimum = 65535;
        std::uint32_t maximum = 0;
        cloud->automaticRange(minimum, maximum);
        store.setAutomaticRange(minimum, maximum);
    }

    const viewer::HsvColour minimumColour = toHsv(minimumIntensityColor);
    const viewer::HsvColour maximumColour = toHsv(maximumIntensityColor);
    viewer::IntensityRange range = store.scaleRange();
    const viewer::ColourTable* table =
        &intensityScale.update(range.minimum, range.maximum, minimumColour, maximumColour);
    changed = updateColourer(minimumColour, maximumColour, changed) || changed;
    if (!changed && !cloud->needsApply(*table, frameBudget.budget())) {
        armRefresh(nextRefreshMs);
        return;
    }
    cloud->apply(*table, frameBudget.budget());
    // The buffer's points: those of the frames left out as well.
    ui.totalPoints_label->setText(QString::number(cloud->heldCount() + skipped));
    showDrawnPoints();
    showFrames();

    emit rebuilt();
    render();
    armRefresh(nextRefreshMs);
}

void CloudDisplay::refreshNow() {
    refresh();
}

void CloudDisplay::armRefresh(int ms) {
    // One refresh waits at a time: arming again replaces the one armed before.
    const std::uint64_t token = ++refreshToken;
    QTimer::singleShot(ms, this, [this, token] {
        if (token == refreshToken) {
            refresh();
        }
    });
}

void CloudDisplay::updateRate() {
    const std::uint32_t received = store.takeReceived();
    const qint64 elapsed = rateClock.restart();
    const double period =
        elapsed > 0 ? static_cast<double>(elapsed) : static_cast<double>(pointsPerSecondInterval);
    const double rate = 1000.0 * received / period;
    const double largest = std::numeric_limits<int>::max();
    ui.pointsPerSecond_label->setText(
        QString::number(static_cast<int>(rate < largest ? rate : largest)));
    const std::uint64_t now =
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                       std::chrono::steady_clock::now().time_since_epoch())
                                       .count());
    const double frames = viewer::frameRate(store.frames().spans, now);
    frameRate_label->setText(QString::number(frames, 'f', 1));
    QTimer::singleShot(static_cast<int>(pointsPerSecondInterval), this, &CloudDisplay::updateRate);
}

void CloudDisplay::setMode(viewer::DisplayMode shownMode, unsigned shownCount) {
    mode = shownMode;
    count = shownCount;
    store.markChanged();
}

void CloudDisplay::showFrames() {
    shownFrames_label->setText(QString::number(shown.frames));
    shownPoints_label->setText(QString::number(shown.end - shown.begin));
}

CloudDisplay::CloudDisplay(QMainWindow* window, Ui_MainWindow& ui, vtkRenderer* renderer,
                           viewer::PointStore& store)
    : window(window), ui(ui), store(store), renderer(renderer), frameBudget(budgetSettings()) {
    cloudProperty = vtkSmartPointer<vtkProperty>::New();
    cloudProperty->SetPointSize(1);
    cloud = std::make_unique<viewer::ChunkedCloud>(renderer, cloudProperty);
    setupFrameBudget();
    resetIntensityColors();
    ui.totalPoints_label->setText("0");
    ui.pointsPerSecond_label->setText("0");
    rateClock.start();
    QTimer::singleShot(static_cast<int>(pointsPerSecondInterval), this, &CloudDisplay::updateRate);
    armRefresh(kFirstRefreshMs);
}

CloudDisplay::~CloudDisplay() = default;

void CloudDisplay::render() {
    ui.lidarQvtkWidget->renderWindow()->Render();
}

// The first frame that draws points compiles and links the point shader, which a software
// rasteriser takes over a hundred milliseconds for: done once, at the first idle moment after
// the window is on screen, with one point at the device origin (under the axes) for one frame,
// rather than in the first frame of a recording or a stream. VTK keeps the program for the
// window, whichever actor uses it next.
void CloudDisplay::warmUp() {
    if (cloud->drawnCount() > 0) {
        return;
    }
    auto* view = vtkGenericOpenGLRenderWindow::SafeDownCast(ui.lidarQvtkWidget->renderWindow());
    if (view && !view->GetReadyForRendering()) {
        // The view's context is not made yet: it would render nothing.
        QTimer::singleShot(kRefreshPeriodMs, this, &CloudDisplay::warmUp);
        return;
    }
    viewer::CloudChunk point(0, 0, true, cloudProperty);
    point.filled = 1;
    point.rgb.assign(3, 0); // draw() takes colours made before, as colour() makes them
    point.draw(0, 1);
    renderer->AddActor(point.actor);
    warmingUp = true;
    render();
    warmingUp = false;
    renderer->RemoveActor(point.actor);
}

void CloudDisplay::setPointSize(int pixels) {
    cloudProperty->SetPointSize(static_cast<float>(pixels));
}

void CloudDisplay::setupFrameBudget() {
    vtkRenderWindow* renderWindow = ui.lidarQvtkWidget->renderWindow();
    // Points of one pixel gain nothing from multisampling, and a software rasteriser pays for
    // every sample of every pixel in every frame (a window's empty frame: about 90 ms with the
    // 8 samples VTK asks for, 1 ms without).
    renderWindow->SetMultiSamples(0);
    auto events = vtkSmartPointer<vtkCallbackCommand>::New();
    events->SetClientData(this);
    events->SetCallback([](vtkObject*, unsigned long event, void* client, void*) {
        auto* window = static_cast<CloudDisplay*>(client);
        switch (event) {
        case vtkCommand::StartEvent:
            window->renderStarting();
            break;
        case vtkCommand::EndEvent:
            window->renderFinished();
            break;
        case vtkCommand::StartInteractionEvent:
            window->cameraMoving(true);
            break;
        case vtkCommand::EndInteractionEvent:
            window->cameraMoving(false);
            break;
        default:
            break;
        }
    });
    renderWindow->AddObserver(vtkCommand::StartEvent, events);
    renderWindow->AddObserver(vtkCommand::EndEvent, events);
    if (vtkRenderWindowInteractor* interactor = renderWindow->GetInteractor()) {
        if (vtkInteractorObserver* style = interactor->GetInteractorStyle()) {
            style->AddObserver(vtkCommand::StartInteractionEvent, events);
            style->AddObserver(vtkCommand::EndInteractionEvent, events);
        }
    }

    auto* stats = qobject_cast<QGridLayout*>(ui.device_groupBox->layout());
    // The frames: how fast they complete, and how many of them (and their points) are shown.
    QWidget* box = ui.device_groupBox;
    const auto figure = [box](const char* name, const QString& tip) {
        auto* label = new QLabel("0", box);
        label->setObjectName(name);
        label->setToolTip(tip);
        label->setAlignment(Qt::AlignRight | Qt::AlignTrailing | Qt::AlignVCenter);
        return label;
    };
    frameRate_label = figure("frameRate_label", "Scan frames completed per second");
    shownFrames_label = figure("shownFrames_label", "Frames the display mode shows");
    shownPoints_label = figure("shownPoints_label", "Points of the frames shown");
    auto* rate = new QHBoxLayout;
    rate->addWidget(new QLabel("Frames per second:", box));
    rate->addStretch(1);
    rate->addWidget(frameRate_label);
    auto* frames = new QHBoxLayout;
    frames->addWidget(new QLabel("Frames, points shown:", box));
    frames->addStretch(1);
    frames->addWidget(shownFrames_label);
    frames->addWidget(new QLabel("/", box));
    frames->addWidget(shownPoints_label);
    drawnPoints_label = new QLabel(ui.device_groupBox);
    drawnPoints_label->setObjectName("drawnPoints_label");
    drawnPoints_label->hide();
    if (stats) {
        stats->addLayout(rate, stats->rowCount(), 1);
        stats->addLayout(frames, stats->rowCount(), 1);
        stats->addWidget(drawnPoints_label, stats->rowCount(), 1);
    }
}

void CloudDisplay::renderStarting() {
    renderStarted = std::chrono::steady_clock::now();
}

void CloudDisplay::renderFinished() {
    // The rasteriser may still be working when VTK is done: the frame is timed to its end.
    ui.lidarQvtkWidget->renderWindow()->WaitForCompletion();
    if (warmingUp) {
        return;
    }
    if (!renderOnScreen) {
        // Two renders before one update of the window: the first is counted as it stands.
        frameBudget.frameRendered(renderDrawn, renderMs);
    }
    renderDrawn = cloud->drawnCount();
    renderMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - renderStarted)
            .count();
    renderOnScreen = false;
}

bool CloudDisplay::timeWindowUpdate(const std::function<bool()>& update) {
    // The window's update puts the rendered view on screen together with the widgets around it;
    // in software that costs about as much as a frame of 50,000 points, and the frame is not
    // done before it.
    const auto start = std::chrono::steady_clock::now();
    const bool handled = update();
    if (!warmUpArmed) {
        warmUpArmed = true;
        QTimer::singleShot(0, this, &CloudDisplay::warmUp);
    }
    if (!renderOnScreen) {
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        frameBudget.frameRendered(renderDrawn, renderMs + ms);
        renderOnScreen = true;
    }
    return handled;
}

void CloudDisplay::cameraMoving(bool moving) {
    frameBudget.setMoving(moving);
    // The frames of the motion itself are drawn with the budget in force; the refresh would
    // come too late for them.
    cloud->apply(intensityScale.table(), frameBudget.budget());
    showDrawnPoints();
    if (!moving) {
        render();
    }
}

void CloudDisplay::showDrawnPoints() {
    const std::size_t drawn = cloud->drawnCount();
    const std::size_t held = cloud->heldCount();
    if (drawn < held) {
        drawnPoints_label->setText("showing " + QString::number(drawn) + " of " +
                                   QString::number(held));
        drawnPoints_label->show();
    } else {
        drawnPoints_label->hide();
    }
}

void CloudDisplay::askForMaximumIntensity() {
    const viewer::IntensityRange now = store.intensityRange();
    const viewer::IntensityDialogRange range =
        viewer::intensityDialogRange(now.maximum, now.minimum);
    bool ok = false;
    const int value = QInputDialog::getInt(window, "Set maximum value for intensity",
                                           "Maximum intensity:", range.initial, range.minimum,
                                           range.maximum, 1, &ok);
    if (ok) {
        store.setMaximumIntensity(static_cast<std::uint32_t>(value));
    }
}

void CloudDisplay::askForMinimumIntensity() {
    const viewer::IntensityRange now = store.intensityRange();
    const viewer::IntensityDialogRange range =
        viewer::intensityDialogRange(now.minimum, now.maximum);
    bool ok = false;
    const int value = QInputDialog::getInt(window, "Set minimum value for intensity",
                                           "Minimum intensity:", range.initial, range.minimum,
                                           range.maximum, 1, &ok);
    if (ok) {
        store.setMinimumIntensity(static_cast<std::uint32_t>(value));
    }
}

void CloudDisplay::setAutoIntensity() {
    store.setAutomaticIntensity();
}

void CloudDisplay::askForMaximumIntensityColor() {
    const QColor current(maximumIntensityColor.red(), maximumIntensityColor.green(),
                         maximumIntensityColor.blue());
    const QColor chosen =
        QColorDialog::getColor(current, window, "Set color for maximum intensity value");
    if (chosen.isValid()) {
        maximumIntensityColor = chosen;
        store.markChanged();
    }
}

void CloudDisplay::askForMinimumIntensityColor() {
    const QColor current(minimumIntensityColor.red(), minimumIntensityColor.green(),
                         minimumIntensityColor.blue());
    const QColor chosen =
        QColorDialog::getColor(current, window, "Set color for minimum intensity value");
    if (chosen.isValid()) {
        minimumIntensityColor = chosen;
        store.markChanged();
    }
}

void CloudDisplay::resetIntensityColors() {
    maximumIntensityColor = QColor::fromRgbF(0.0, 0.0, 1.0, 1.0);
    minimumIntensityColor = QColor::fromRgbF(1.0, 0.0, 0.0, 1.0);
    store.markChanged();
}

} // namespace window
