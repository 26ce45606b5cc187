#include "MainWindow.h"

#include "ApertureAim.h"
#include "CameraViews.h"
#include "CloudDisplay.h"
#include "ColourControls.h"
#include "ControlsFit.h"
#include "DisplayModes.h"
#include "FileCommands.h"
#include "LaserPanels.h"
#include "ListenerPort.h"
#include "PickTool.h"
#include "RecordingPlayer.h"
#include "RegionSelectTool.h"
#include "ScanPanel.h"
#include "Screenshot.h"
#include "StatusPanel.h"
#include "TrafficRecording.h"
#include "ViewContextMenu.h"
#include "ViewControls.h"
#include "ui_MainWindow.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QScreen>
#include <QStatusTipEvent>

#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkRenderer.h>

#include <cstdio>
#include <cstdlib>

MainWindow::MainWindow(QWidget* parent)
    : MainWindow(QCoreApplication::arguments().value(1), parent) {}

MainWindow::MainWindow(const QString& address, QWidget* parent)
    : QMainWindow(parent), ui(new Ui_MainWindow), preferences(nullptr) {
    ui->setupUi(this);

    if (address.isEmpty()) {
        const QByteArray program =
            QFileInfo(QCoreApplication::arguments().value(0)).fileName().toLocal8Bit();
        std::fprintf(stderr, "Usage: %s <device IPv4 address>\n",
                     program.isEmpty() ? "sentova-viewer" : program.constData());
        std::fflush(stderr);
        std::_Exit(1);
    }

    ui->mainToolBar->hide();
    ui->log_plainTextEdit->hide();
    restoreWindowGeometry();

    loadPreferences();

    ipAddress = address;
    logMessage("Sentova IP: " + ipAddress);

    // A malformed address makes the session throw; release what exists so the
    // caller can report it cleanly.
    try {
        session = std::make_unique<sentova::session::DeviceSession>(ipAddress.toStdString());
    } catch (...) {
        delete ui;
        ui = nullptr;
        throw;
    }
    commands = std::make_unique<DeviceCommands>(
        this,
        DeviceCommands::Hooks{[this](const QString& line) { logMessage(line); },
                              [this](const QString& operation) {
                                  ui->statusBar->showMessage("Waiting for the device: " +
                                                             operation);
                              }},
        session->worker());
    // A rise in the drops marks the frame it falls in. The session itself, not the member: the
    // member is null while the session's destructor stops the listener.
    store.setDropCounter([device = session.get()]() -> std::uint64_t {
        const tavrel::SentovaGrabber* listener = device->listener();
        if (!listener) {
            return 0;
        }
        const tavrel::stream_statistics_t s = listener->GetStatistics();
        return s.kernelDrops + s.queueDrops;
    });
    // The device's frame notifications confirm where the store's frames start and end.
    session->setFrameNotifications(
        {[this](unsigned event, std::uint64_t micros) { store.frameNotification(event, micros); },
         [this](std::uint64_t now) { store.frameTime(now); }});

    ui->sentovaIP_label->setText(ipAddress);

    setupParts();

    ui->lidarQvtkWidget->installEventFilter(this);
    installEventFilter(this);

    connect(ui->actionQuit, &QAction::triggered, this, &MainWindow::exitApp);
    connect(ui->actionToggle_StatusBar, &QAction::triggered, this, &MainWindow::toggleStatusBar);
    connect(ui->actionClear_Scene, &QAction::triggered, this, &MainWindow::resetPoints);
    connect(ui->actionToggle_Controls, &QAction::triggered, this, &MainWindow::toggleControls);
    connect(ui->actionToggle_Log, &QAction::triggered, this, &MainWindow::toggleLog);
    connect(ui->actionSet_max_points, &QAction::triggered, this, &MainWindow::askForMaximumPoints);
    connect(ui->actionSet_max_intensity, &QAction::triggered, this,
            &MainWindow::askForMaximumIntensity);
    connect(ui->actionSet_min_intensity, &QAction::triggered, this,
            &MainWindow::askForMinimumIntensity);
    connect(ui->actionSet_auto_int, &QAction::triggered, this, &MainWindow::setAutoIntensity);
    connect(ui->actionSave_as, &QAction::triggered, this, &MainWindow::saveFileAs);
    connect(ui->actionFullscreen, &QAction::triggered, this, &MainWindow::toggleFullScreen);
    connect(ui->actionLoad, &QAction::triggered, this, &MainWindow::askForPCDFileToLoad);
    connect(ui->actionSet_max_color, &QAction::triggered, this,
            &MainWindow::askForMaximumIntensityColor);
    connect(ui->actionSet_min_color, &QAction::triggered, this,
            &MainWindow::askForMinimumIntensityColor);
    connect(ui->actionReset_colors, &QAction::triggered, this, &MainWindow::resetIntensityColors);
    connect(ui->actionToggle_perspective, &QAction::triggered, this,
            &MainWindow::togglePerspective);
    connect(ui->actionPreferences, &QAction::triggered, this, &MainWindow::editPreferences);
    connect(ui->actionSet_uniform, &QAction::triggered, this, &MainWindow::setUniformScan);
    connect(ui->actionGet_current_region, &QAction::triggered, this, &MainWindow::setViewingRegion);
    connect(ui->actionGeneric, &QAction::triggered, this, &MainWindow::setGenericWidget);
    connect(ui->actionLX30, &QAction::triggered, this, &MainWindow::setLX30Widget);
    connect(ui->actionLX20, &QAction::triggered, this, &MainWindow::setLX20Widget);
    connect(&preferences, &QDialog::accepted, this, &MainWindow::savePreferences);

    // The generic panel until the serial number answers.
    setWidget(LIDAR_GENERIC);
    getModeFromSerial();
}

void MainWindow::setupParts() {
    const auto log = [this](const QString& line) { logMessage(line); };
    auto sceneRenderer = vtkSmartPointer<vtkRenderer>::New();
    ui->lidarQvtkWidget->renderWindow()->AddRenderer(sceneRenderer);

    listenerPort =
        std::make_unique<window::ListenerPort>(*session, *this, settings, preferences, log);
    scanPanel = std::make_unique<window::ScanPanel>(*ui, *session, *commands);
    laserPanels = std::make_unique<window::LaserPanels>(
        *ui, *session, *commands,
        [this](unsigned short& dataPort) { return listenerPort->listen(dataPort); },
        [this] { return scanPanel->selectedScan(); }, log);
    display = std::make_unique<window::CloudDisplay>(this, *ui, sceneRenderer, store);
    view = std::make_unique<window::ViewControls>(
        *ui, sceneRenderer, store, settings,
        [this](double helperLength) { return scanPanel->region(helperLength); },
        display->colourTable());
    status = std::make_unique<window::StatusPanel>(*ui, *session, *commands);
    recording = std::make_unique<window::TrafficRecording>(this, ui->menuFile, ui->actionSave_as,
                                                           *session, log);
    files = std::make_unique<window::FileCommands>(
        this, store, settings, QList<QAction*>{ui->actionSave_as, ui->actionLoad});

    displayModes = std::make_unique<window::DisplayModes>(*ui, settings);
    display->setMode(displayModes->mode(), displayModes->count());
    player = std::make_unique<window::RecordingPlayer>(
        ui->lidarQvtkWidget, ui->verticalLayout, ui->device_groupBox, store,
        [this](const QString& message, int ms) { ui->statusBar->showMessage(message, ms); });
    player->setMode(displayModes->mode(), displayModes->count());
    connect(displayModes.get(), &window::DisplayModes::changed, player.get(),
            &window::RecordingPlayer::setMode);
    files->setRecordings(
        {[this](const std::string& path, const QString& name) { player->open(path, name); },
         [this] { player->close(); }, [this] { return player->recording(); }});
    connect(displayModes.get(), &window::DisplayModes::changed, display.get(),
            &window::CloudDisplay::setMode);
    connect(player.get(), &window::RecordingPlayer::frameInStore, display.get(),
            &window::CloudDisplay::refreshNow);
    display->setPointSize(view->pointSize());
    connect(view.get(), &window::ViewControls::pointSizeChosen, display.get(),
            &window::CloudDisplay::setPointSize);
    connect(display.get(), &window::CloudDisplay::rebuilt, view.get(),
            [this] { view->afterRebuild(display->colourTable(), display->shownFrom()); });
    colours = std::make_unique<window::ColourControls>(*ui, settings, *display, *view);
    colours->setModel(laserPanels->model());
    connect(display.get(), &window::CloudDisplay::rebuilt, colours.get(),
            &window::ColourControls::afterRebuild);
    viewMenu = std::make_unique<window::ViewContextMenu>(ui->lidarQvtkWidget);
    pick = std::make_unique<window::PickTool>(
        ui->lidarQvtkWidget, sceneRenderer, ui->verticalLayout, ui->menuView, *viewMenu, store,
        [this](const QString& message) { ui->statusBar->showMessage(message, 3000); });
    pick->setMode(displayModes->mode(), displayModes->count());
    pick->setModel(laserPanels->model());
    connect(displayModes.get(), &window::DisplayModes::changed, pick.get(),
            &window::PickTool::setMode);
    connect(display.get(), &window::CloudDisplay::rebuilt, pick.get(),
            &window::PickTool::afterRebuild);
    aim = std::make_unique<window::ApertureAim>(*session, *commands, *pick, *viewMenu, log);
    connect(scanPanel.get(), &window::ScanPanel::regionChanged, view.get(),
            &window::ViewControls::updateRegionActor);
    connect(laserPanels.get(), &window::LaserPanels::modelChanged, this,
            [this](LIDAR_TYPE model, bool highSpeed) {
                store.setConversion(model, highSpeed);
                files->setModel(model, highSpeed);
                player->setModel(model, highSpeed);
                view->follow();
                colours->setModel(model);
                pick->setModel(model);
            });

    // "Save selection as…" goes in between "Save as..." and this.
    screenshot = std::make_unique<window::Screenshot>(this, ui->lidarQvtkWidget, ui->menuFile,
                                                      ui->actionSave_as);
    regionSelect = std::make_unique<window::RegionSelectTool>(
        ui->lidarQvtkWidget, sceneRenderer, store, ui->menuView, ui->menuFile, ui->actionSave_as);
    regionSelect->setMode(displayModes->mode(), displayModes->count());
    connect(displayModes.get(), &window::DisplayModes::changed, regionSelect.get(),
            &window::RegionSelectTool::setMode);
    connect(regionSelect.get(), &window::RegionSelectTool::regionSelected, scanPanel.get(),
            &window::ScanPanel::setRegion);
    connect(regionSelect.get(), &window::RegionSelectTool::message, this,
            [this](const QString& text) { ui->statusBar->showMessage(text, 10000); });
    connect(regionSelect.get(), &window::RegionSelectTool::saveRequested, this,
            [this](std::shared_ptr<const std::deque<DataPoint>> points) {
                files->saveSelectionAs(std::move(points));
            });
    // A click picks or starts a rectangle, never both.
    auto* mouseModes = new QActionGroup(this);
    mouseModes->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    mouseModes->addAction(pick->modeAction());
    mouseModes->addAction(regionSelect->modeAction());
    cameraViews =
        std::make_unique<window::CameraViews>(ui->lidarQvtkWidget, sceneRenderer, store, settings,
                                              ui->menuView, [this] { view->cameraTouched(); });
    window::fitControls(*ui);
}

MainWindow::~MainWindow() {
    saveWindowGeometry();
    // Commands queued by the operator are dropped and a sequence in progress stops before its
    // next step; the device call in progress ends within its time-out, with the window already
    // gone from the screen. Commands posted after the cancel still run before the facades go.
    hide();
    // A load in progress stops; a save is finished, with the listener still filling the buffer.
    files.reset();
    player.reset();
    commands->cancel();
    commands->finish();
    commands.reset();
    // The event manager, the device facade and the listener, in that order; the listener
    // thread stops before the buffer it writes to goes away.
    session.reset();
    recording.reset();
    status.reset();
    screenshot.reset();
    cameraViews.reset();
    regionSelect.reset();
    // Their actors leave the scene while the render window is still there.
    aim.reset();
    pick.reset();
    viewMenu.reset();
    colours.reset();
    view.reset();
    displayModes.reset();
    display.reset();
    laserPanels.reset();
    scanPanel.reset();
    listenerPort.reset();
    delete ui;
}

// ------------------------------------------------------------ window geometry

void MainWindow::restoreWindowGeometry() {
    const QRect stored = settings.value("window/geometry").toRect();
    // A screen that has gone since would leave the window where no one sees it: then it opens
    // at the layout's size, as on the first run.
    bool seen = false;
    for (const QScreen* screen : QGuiApplication::screens()) {
        seen = seen || screen->availableGeometry().intersects(stored);
    }
    if (!stored.isValid() || !seen) {
        return;
    }
    setGeometry(stored);
    if (settings.value("window/maximized", false).toBool()) {
        setWindowState(windowState() | Qt::WindowMaximized);
    }
}

void MainWindow::saveWindowGeometry() {
    // The normal geometry, so that a window closed maximised or full screen still has its own
    // size to come back to.
    settings.setValue("window/geometry", normalGeometry());
    settings.setValue("window/maximized", windowState().testFlag(Qt::WindowMaximized));
}

// ---------------------------------------------------------------- window log

void MainWindow::logMessage(QString message) {
    const QString line =
        "[" + QString::number(QDateTime::currentMSecsSinceEpoch()) + "]: " + message;
    ui->log_plainTextEdit->appendPlainText(line);
    ui->statusBar->showMessage(message);
}

void MainWindow::logMessage(std::string message) {
    logMessage(QString::fromStdString(message));
}

bool MainWindow::waitingForDevice() const {
    return commands->inFlight();
}

// ------------------------------------------------------- window behaviours

bool MainWindow::eventFilter(QObject* object, QEvent* event) {
    // Menu entries have no status tips; their empty ones would wipe the last message.
    if (event->type() == QEvent::StatusTip &&
        static_cast<QStatusTipEvent*>(event)->tip().isEmpty()) {
        return true;
    }
    if (object == ui->lidarQvtkWidget && view &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::Wheel)) {
        view->cameraTouched();
    }
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        showNormal();
        return true;
    }
    if (event->type() == QEvent::Close) {
        event->ignore();
        exitApp();
        return true;
    }
    return false;
}

void MainWindow::exitApp() {
    const QMessageBox::StandardButton answer = QMessageBox::question(
        this, "Sentova Viewer", "Are you sure you want to quit the application?.",
        QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::Yes) {
        status->quitLeavingDeviceQuiet();
    }
}

void MainWindow::toggleControls() {
    ui->controlsWidget->setHidden(!ui->controlsWidget->isHidden());
}

void MainWindow::toggleLog() {
    ui->log_plainTextEdit->setHidden(!ui->log_plainTextEdit->isHidden());
}

void MainWindow::toggleStatusBar() {
    ui->statusBar->setHidden(!ui->statusBar->isHidden());
}

void MainWindow::toggleFullScreen() {
    if (isFullScreen()) {
        showNormal();
    } else {
        showFullScreen();
    }
}

bool MainWindow::event(QEvent* event) {
    if (event->type() != QEvent::UpdateRequest || !display) {
        return QMainWindow::event(event);
    }
    return display->timeWindowUpdate([this, event] { return QMainWindow::event(event); });
}
