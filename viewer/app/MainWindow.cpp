#include "MainWindow.h"

#include "DataPort.h"
#include "IntensityScale.h"
#include "PointConversion.h"
#include "ui_MainWindow.h"
#include "ui_PreferencesDialog.h"

#include "Sentova/Sentova.h"
#include "Sentova/SentovaEventManager.h"

#include <QColorDialog>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTimer>

#include <vtkActor.h>
#include <vtkCamera.h>
#include <vtkCellArray.h>
#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkPolyDataMapper.h>
#include <vtkProperty.h>
#include <vtkRenderer.h>
#include <vtkRendererCollection.h>
#include <vtkUnsignedCharArray.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <optional>

namespace {

constexpr int kRefreshPeriodMs = 100;
constexpr int kFirstRefreshMs = 33;

QString errorText(tavrel::tavrel_error_t result) {
    return QString::fromStdString(tavrel::Sentova::GetErrorString(result));
}

QString number(double value) {
    return QString::number(value, 'g', 6);
}

viewer::HsvColour toHsv(const QColor& colour) {
    return {colour.hueF(), colour.saturationF(), colour.valueF()};
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), ui(new Ui_MainWindow), preferences(nullptr) {
    mode = LIDAR_GENERIC;
    ui->setupUi(this);

    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2) {
        const QByteArray program = QFileInfo(arguments.value(0)).fileName().toLocal8Bit();
        std::fprintf(stderr, "Usage: %s <device IPv4 address>\n",
                     program.isEmpty() ? "sentova-viewer" : program.constData());
        std::fflush(stderr);
        std::_Exit(1);
    }

    ui->mainToolBar->hide();
    ui->log_plainTextEdit->hide();

    loadPreferences();

    numberOfPoints = 0;
    maximumPoints = 100000;
    pointsReceived = 0;

    ipAddress = arguments.at(1);
    logMessage("Sentova IP: " + ipAddress);

    // A malformed address makes the facades throw; release what exists so the
    // caller can report it cleanly.
    try {
        device = new tavrel::Sentova(ipAddress.toStdString());
        listener = nullptr;
        port = settings.value("network/port", kDefaultDataPort).toUInt();
        eventManager = new tavrel::SentovaEventManager(ipAddress.toStdString());
    } catch (...) {
        delete device;
        device = nullptr;
        delete ui;
        ui = nullptr;
        throw;
    }

    ui->sentovaIP_label->setText(ipAddress);

    setBoundInputsEnabled(false, false);

    // The arrays are updated in place by cloudDisplay rather than replaced at
    // every refresh, so that streaming costs only the new points.
    cloudPoints = cloudDisplay.points();
    cloudVertices = cloudDisplay.vertices();
    cloudColors = cloudDisplay.colors();
    cloudPolyData = vtkSmartPointer<vtkPolyData>::New();
    cloudDisplay.attachTo(cloudPolyData);

    auto mapper = vtkSmartPointer<vtkPolyDataMapper>::New();
    mapper->SetInputData(cloudPolyData);
    auto actor = vtkSmartPointer<vtkActor>::New();
    actor->SetMapper(mapper);
    actor->GetProperty()->SetPointSize(1);
    auto sceneRenderer = vtkSmartPointer<vtkRenderer>::New();
    sceneRenderer->AddActor(actor);
    ui->lidarQvtkWidget->renderWindow()->AddRenderer(sceneRenderer);

    ui->lidarQvtkWidget->installEventFilter(this);
    installEventFilter(this);

    resetIntensityColors();
    {
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        autoIntensity = true;
    }

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
    // The listener thread must not touch widgets; it reads this copy instead.
    connect(ui->laserHighSpeedcheckBox, &QCheckBox::toggled, this,
            [this](bool checked) { highSpeedMode = checked; });

    ui->totalPoints_label->setText("0");
    ui->pointsPerSecond_label->setText("0");

    pointsPerSecondInterval = 1000;
    rateClock.start();
    QTimer::singleShot(static_cast<int>(pointsPerSecondInterval), this,
                       &MainWindow::updatePointsPerSecond);
    QTimer::singleShot(kFirstRefreshMs, this, &MainWindow::updatePointsDisplay);

    regionActor = vtkSmartPointer<vtkActor>::New();
    sceneRenderer->AddActor(regionActor);
    updateRegionActor();

    mode = getModeFromSerial();
    setWidget(mode);
}

MainWindow::~MainWindow() {
    delete eventManager;
    delete ui;
    delete device;
    // Stops the listener thread before the buffer it writes to goes away.
    delete listener;
}

vtkRenderer* MainWindow::renderer() const {
    return ui->lidarQvtkWidget->renderWindow()->GetRenderers()->GetFirstRenderer();
}

void MainWindow::render() {
    ui->lidarQvtkWidget->renderWindow()->Render();
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

// ------------------------------------------------------- window behaviours

bool MainWindow::eventFilter(QObject*, QEvent* event) {
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
        QCoreApplication::exit(0);
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

// ------------------------------------------------------------- scan control

void MainWindow::on_homePushButton_clicked() {
    eventManager->ResetEvents();
    const tavrel::tavrel_error_t result = device->Home();
    logMessage("Home: " + errorText(result));
}

void MainWindow::on_scanStopPushButton_clicked() {
    eventManager->ResetEvents();
    const tavrel::tavrel_error_t result = device->Stop();
    logMessage("Stop: " + errorText(result));
}

void MainWindow::on_scanPushButton_clicked() {
    eventManager->ResetEvents();
    startSelectedScan();
}

void MainWindow::startSelectedScan() {
    const double speed = ui->AzSpeedDoubleSpinBox->value();
    const double lines = ui->nLinesDoubleSpinBox->value();
    const double azMin = ui->azMin_doubleSpinBox->value();
    const double azMax = ui->azMax_doubleSpinBox->value();
    const double elMin = ui->elMin_doubleSpinBox->value();
    const double elMax = ui->elMax_doubleSpinBox->value();

    if (ui->fullFieldradioButton->isChecked()) {
        const tavrel::tavrel_error_t result = device->StartFullFieldScan(speed, lines);
        logMessage("StartFullFieldScan(" + number(speed) + ", " + number(lines) +
                   "): " + errorText(result));
    } else if (ui->boundedradioButton->isChecked()) {
        const tavrel::tavrel_error_t result =
            device->StartBoundedElevationScan(speed, elMin, elMax, lines);
        logMessage("StartBoundedElevationScan(" + number(speed) + ", " + number(elMin) + ", " +
                   number(elMax) + ", " + number(lines) + "): " + errorText(result));
    } else if (ui->regionradioButton->isChecked()) {
        const tavrel::tavrel_error_t result =
            device->StartRegionScan(speed, azMin, azMax, elMin, elMax, lines);
        logMessage("StartRegionScan(" + number(speed) + ", " + number(azMin) + ", " +
                   number(azMax) + ", " + number(elMin) + ", " + number(elMax) + ", " +
                   number(lines) + "): " + errorText(result));
    }
}

void MainWindow::setBoundInputsEnabled(bool azimuth, bool elevation) {
    for (QWidget* w :
         {static_cast<QWidget*>(ui->azMinNamelabel), static_cast<QWidget*>(ui->azMin_doubleSpinBox),
          static_cast<QWidget*>(ui->azMaxNamelabel),
          static_cast<QWidget*>(ui->azMax_doubleSpinBox)}) {
        w->setEnabled(azimuth);
    }
    for (QWidget* w :
         {static_cast<QWidget*>(ui->elMinNamelabel), static_cast<QWidget*>(ui->elMin_doubleSpinBox),
          static_cast<QWidget*>(ui->elMaxNamelabel),
          static_cast<QWidget*>(ui->elMax_doubleSpinBox)}) {
        w->setEnabled(elevation);
    }
}

void MainWindow::on_fullFieldradioButton_clicked() {
    setBoundInputsEnabled(false, false);
    updateRegionActor();
}

void MainWindow::on_boundedradioButton_clicked() {
    setBoundInputsEnabled(false, true);
    updateRegionActor();
}

void MainWindow::on_regionradioButton_clicked() {
    setBoundInputsEnabled(true, true);
    updateRegionActor();
}

// ------------------------------------------------------------ device models

LIDAR_TYPE MainWindow::getModeFromSerial() {
    std::string serial;
    const tavrel::tavrel_error_t result = device->GetSerial(serial);
    if (result != tavrel::NoError) {
        logMessage("GetSerial Error: " + errorText(result));
        return LIDAR_GENERIC;
    }
    mode = viewer::modelFromSerial(serial);
    return mode;
}

void MainWindow::setWidget(LIDAR_TYPE currentMode) {
    switch (currentMode) {
    case LIDAR_LX30:
        setLX30Widget();
        break;
    case LIDAR_LX20:
        setLX20Widget();
        break;
    default:
        setGenericWidget();
        break;
    }
}

void MainWindow::setGenericWidget() {
    mode = LIDAR_GENERIC;
    updateCurrentWidget();
}

void MainWindow::setLX30Widget() {
    mode = LIDAR_LX30;
    updateCurrentWidget();
}

void MainWindow::setLX20Widget() {
    mode = LIDAR_LX20;
    updateCurrentWidget();
}

void MainWindow::hideStackedWidgets() {
    for (int index = 0; index < 3; ++index) {
        ui->stackedWidget->widget(index)->hide();
    }
}

void MainWindow::updateCurrentWidget() {
    hideStackedWidgets();
    QWidget* page = ui->stackedWidget->widget(static_cast<int>(mode.load()));
    page->show();
    ui->stackedWidget->setCurrentWidget(page);
}

void MainWindow::setupListener() {
    // One listener per run, whatever the outcome of its first start.
    if (listener) {
        return;
    }
    listener = new tavrel::SentovaGrabber();
    if (!listener->StartListening(ipAddress.toStdString(), static_cast<int>(port), this)) {
        logMessage("Unable to listen for laser data on port " + QString::number(port));
        return;
    }
    logMessage("Listening on port " + QString::number(port));
    settings.setValue("network/port", nextDataPort(port));
    settings.sync();
}

// -------------------------------------------------------------- preferences

namespace {

struct ColumnKey {
    QCheckBox* Ui_PreferencesDialog::*box;
    const char* key;
    int byDefault;
};

// Row order of the dialog; the last three are not written while the LX20 page
// is shown, because that model has no such values.
const ColumnKey kColumnKeys[] = {
    {&Ui_PreferencesDialog::x_checkBox, "save/x", 1},
    {&Ui_PreferencesDialog::y_checkBox, "save/y", 1},
    {&Ui_PreferencesDialog::z_checkBox, "save/z", 1},
    {&Ui_PreferencesDialog::az_checkBox, "save/az", 0},
    {&Ui_PreferencesDialog::el_checkBox, "save/el", 0},
    {&Ui_PreferencesDialog::range_checkBox, "save/range", 0},
    {&Ui_PreferencesDialog::intensity_checkBox, "save/intensity", 1},
    {&Ui_PreferencesDialog::reflectance_checkBox, "save/reflectance", 1},
    {&Ui_PreferencesDialog::pulseShapeDeviation_checkbox, "save/pulseShapeDeviation", 1},
    {&Ui_PreferencesDialog::timestampcheckBox, "save/timestamp", 1},
};
constexpr int kLX20ColumnKeys = 7;

} // namespace

void MainWindow::loadPreferences() {
    for (const ColumnKey& column : kColumnKeys) {
        (preferences.ui->*column.box)
            ->setChecked(settings.value(column.key, column.byDefault).toInt() != 0);
    }
}

void MainWindow::savePreferences() {
    const bool lx20Page = ui->stackedWidget->currentIndex() == LIDAR_LX20;
    int index = 0;
    for (const ColumnKey& column : kColumnKeys) {
        if (lx20Page && index == kLX20ColumnKeys) {
            break;
        }
        settings.setValue(column.key, (preferences.ui->*column.box)->isChecked() ? 1 : 0);
        ++index;
    }
    settings.sync();
}

void MainWindow::editPreferences() {
    loadPreferences();
    if (!preferences.isVisible()) {
        // exec() shows the dialog itself; showing it first would leave it
        // without application modality.
        preferences.exec();
    } else {
        preferences.activateWindow();
    }
}

// ---------------------------------------------------------- laser streaming

std::vector<tavrel::Parameter> MainWindow::lx30Parameters() const {
    return {{1, ui->measurementComboBox->currentIndex()},
            {2, ui->targetComboBox->currentIndex()},
            {0, static_cast<int>(port)}};
}

std::vector<tavrel::Parameter> MainWindow::lx20Parameters() const {
    const int rate =
        ui->laserHighSpeedcheckBox->isChecked() ? 30000 : ui->sampleRatespinBox->value();
    return {{3, rate},
            {4, ui->avgSamplesspinBox->value()},
            {5, ui->laserGainspinBox->value()},
            {0, static_cast<int>(port)}};
}

void MainWindow::on_startLaserPushButton_clicked() {
    setupListener();
    const tavrel::tavrel_error_t result =
        eventManager->ManagerSendCommand(tavrel::CommandSerialiser::SVRRBE(lx30Parameters()));
    logMessage("Start Laser: " + errorText(result));
}

void MainWindow::on_laserPushButton_clicked() {
    setupListener();
    const tavrel::tavrel_error_t result =
        eventManager->ManagerSendCommand(tavrel::CommandSerialiser::SVRRBE(lx20Parameters()));
    if (result != tavrel::NoError) {
        logMessage("Start Laser: " + errorText(result));
    }
}

void MainWindow::on_genericScanPushButton_clicked() {
    setupListener();
    const tavrel::tavrel_error_t result = eventManager->ManagerSendCommand(
        tavrel::CommandSerialiser::SVRRBE({{0, static_cast<int>(port)}}));
    if (result != tavrel::NoError) {
        logMessage("Start Laser Error: " + errorText(result));
    }
}

void MainWindow::sendStopLaser() {
    const tavrel::tavrel_error_t result =
        eventManager->ManagerSendCommand(tavrel::CommandSerialiser::SVSRBE());
    logMessage("Stop Laser: " + errorText(result));
}

void MainWindow::on_stopLaserPushButton_clicked() {
    sendStopLaser();
}

void MainWindow::on_laserStopPushButton_clicked() {
    sendStopLaser();
}

void MainWindow::on_genericScanStopPushButton_clicked() {
    sendStopLaser();
}

void MainWindow::on_getFramePushButton_clicked() {
    getFrame(lx30Parameters());
}

void MainWindow::on_lx20GetFramePushButton_clicked() {
    getFrame(lx20Parameters());
}

void MainWindow::getFrame(const std::vector<tavrel::Parameter>& parameters) {
    tavrel::tavrel_error_t result = eventManager->ResetEvents();
    if (result != tavrel::NoError) {
        logMessage("Error: " + errorText(result));
        eventManager->ResetEvents();
    }
    setupListener();

    // The device's event system starts the stream (event 0) and stops the
    // stream and the aperture (event 1) by itself.
    const std::string laserStart = tavrel::CommandSerialiser::SVRRBE(parameters);
    using Step = std::function<tavrel::tavrel_error_t()>;
    const Step steps[] = {
        [&] { return eventManager->ConfigureCommandBuffer(128, laserStart); },
        [&] {
            return eventManager->ConfigureCommandBuffer(129, tavrel::CommandSerialiser::SVSRBE());
        },
        [&] {
            return eventManager->ConfigureCommandBuffer(130, tavrel::CommandSerialiser::SVSTOP());
        },
        [&] { return eventManager->EventEnable(128, 0, false); },
        [&] { return eventManager->EventEnable(129, 1, false); },
        [&] { return eventManager->EventEnable(130, 1, false); },
    };
    for (const Step& step : steps) {
        result = step();
        if (result != tavrel::NoError) {
            logMessage("Error: " + errorText(result));
            return;
        }
    }
    startSelectedScan();
}

void MainWindow::on_laserHighSpeedcheckBox_clicked() {
    const bool checked = ui->laserHighSpeedcheckBox->isChecked();
    if (checked) {
        ui->sampleRatespinBox->setMaximum(30000);
        ui->sampleRatespinBox->setValue(30000);
        ui->avgSamplesspinBox->setValue(1);
    } else {
        ui->sampleRatespinBox->setMaximum(10000);
        ui->sampleRatespinBox->setValue(10000);
    }
    ui->sampleRatespinBox->setEnabled(!checked);
    ui->avgSamplesspinBox->setEnabled(!checked);
}

// ------------------------------------------------------ points and display

void MainWindow::LaserDataCallback(std::vector<tavrel::tavrel_rbe_obs_t> observations,
                                   unsigned int) {
    std::uint32_t nothingYet = 0;
    dataReceived.compare_exchange_strong(nothingYet, 1);
    pointsReceived += static_cast<std::uint32_t>(observations.size());

    const LIDAR_TYPE model = mode;
    const bool highSpeed = highSpeedMode;
    const bool widens = viewer::widensIntensityRange(model, highSpeed);
    for (const tavrel::tavrel_rbe_obs_t& observation : observations) {
        const DataPoint point = viewer::toDataPoint(observation, model, highSpeed);
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        bool changed = false;
        if (widens && autoIntensity) {
            changed =
                viewer::widenIntensityRange(point.intensity, minimumIntensity, maximumIntensity);
        }
        if (viewer::appendBounded(points, point, maximumPoints, pointsLog)) {
            changed = true;
        }
        if (changed) {
            cloudChanged = true;
        }
    }
}

void MainWindow::updatePointsDisplay() {
    bool changed = false;
    {
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        numberOfPoints = static_cast<std::uint32_t>(points.size());
        cloudDisplay.capture(points, numberOfPoints, pointsLog);
        // Taken with the capture, so a change made after it triggers the next refresh.
        changed = cloudChanged.exchange(false);
        if (autoIntensity) {
            cloudDisplay.automaticRange(minimumIntensity, maximumIntensity);
        }
    }
    if (numberOfPoints == cloudDisplay.displayedCount() && !changed) {
        QTimer::singleShot(kRefreshPeriodMs, this, &MainWindow::updatePointsDisplay);
        return;
    }

    const viewer::HsvColour minimumColour = toHsv(minimumIntensityColor);
    const viewer::HsvColour maximumColour = toHsv(maximumIntensityColor);
    const viewer::ColourTable* table = nullptr;
    {
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        table = &intensityScale.update(minimumIntensity, maximumIntensity, minimumColour,
                                       maximumColour);
    }
    cloudDisplay.apply(*table);
    cloudPolyData->Modified();
    ui->totalPoints_label->setText(QString::number(cloudPolyData->GetNumberOfPoints()));

    if (dataReceived == 1) {
        renderer()->ResetCamera();
        dataReceived = 2;
    }
    render();
    QTimer::singleShot(kRefreshPeriodMs, this, &MainWindow::updatePointsDisplay);
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
    boost::lock_guard<boost::mutex> lock(pointsMutex);
    viewer::clearBuffer(points, pointsLog);
    // The count alone would miss a buffer refilled to the same size before the
    // next refresh.
    cloudChanged = true;
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
    boost::lock_guard<boost::mutex> lock(pointsMutex);
    viewer::clearBuffer(points, pointsLog);
    maximumPoints = static_cast<std::uint32_t>(value);
    cloudChanged = true;
}

// ---------------------------------------------------------- intensity range

void MainWindow::askForMaximumIntensity() {
    std::uint32_t current = 0;
    {
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        current = maximumIntensity;
    }
    bool ok = false;
    const int value =
        QInputDialog::getInt(this, "Set maximum value for intensity",
                             "Maximum intensity:", static_cast<int>(current), 0, 65535, 1, &ok);
    if (!ok) {
        return;
    }
    boost::lock_guard<boost::mutex> lock(pointsMutex);
    if (static_cast<std::uint32_t>(value) > minimumIntensity) {
        autoIntensity = false;
        maximumIntensity = static_cast<std::uint32_t>(value);
        cloudChanged = true;
    }
}

void MainWindow::askForMinimumIntensity() {
    std::uint32_t current = 0;
    {
        boost::lock_guard<boost::mutex> lock(pointsMutex);
        current = minimumIntensity;
    }
    bool ok = false;
    const int value =
        QInputDialog::getInt(this, "Set minimum value for intensity",
                             "Minimum intensity:", static_cast<int>(current), 0, 65535, 1, &ok);
    if (!ok) {
        return;
    }
    boost::lock_guard<boost::mutex> lock(pointsMutex);
    if (static_cast<std::uint32_t>(value) < maximumIntensity) {
        autoIntensity = false;
        minimumIntensity = static_cast<std::uint32_t>(value);
        cloudChanged = true;
    }
}

void MainWindow::setAutoIntensity() {
    boost::lock_guard<boost::mutex> lock(pointsMutex);
    autoIntensity = true;
    cloudChanged = true;
}

void MainWindow::askForMaximumIntensityColor() {
    const QColor current(maximumIntensityColor.red(), maximumIntensityColor.green(),
                         maximumIntensityColor.blue());
    const QColor chosen =
        QColorDialog::getColor(current, this, "Set color for maximum intensity value");
    if (chosen.isValid()) {
        maximumIntensityColor = chosen;
        cloudChanged = true;
    }
}

void MainWindow::askForMinimumIntensityColor() {
    const QColor current(minimumIntensityColor.red(), minimumIntensityColor.green(),
                         minimumIntensityColor.blue());
    const QColor chosen =
        QColorDialog::getColor(current, this, "Set color for minimum intensity value");
    if (chosen.isValid()) {
        minimumIntensityColor = chosen;
        cloudChanged = true;
    }
}

void MainWindow::resetIntensityColors() {
    maximumIntensityColor = QColor::fromRgbF(0.0, 0.0, 1.0, 1.0);
    minimumIntensityColor = QColor::fromRgbF(1.0, 0.0, 0.0, 1.0);
    cloudChanged = true;
}

// ----------------------------------------------------- region helper, view

viewer::ScanType MainWindow::scanType() const {
    if (ui->boundedradioButton->isChecked()) {
        return viewer::ScanType::BoundedElevation;
    }
    if (ui->regionradioButton->isChecked()) {
        return viewer::ScanType::Region;
    }
    return viewer::ScanType::FullField;
}

void MainWindow::updateRegionActor() {
    vtkRenderer* sceneRenderer = renderer();
    sceneRenderer->RemoveActor(regionActor);
    const viewer::RegionGeometry geometry = viewer::regionGeometry(
        scanType(), ui->azMin_doubleSpinBox->value(), ui->azMax_doubleSpinBox->value(),
        ui->elMin_doubleSpinBox->value(), ui->elMax_doubleSpinBox->value());
    auto mapper = vtkSmartPointer<vtkPolyDataMapper>::New();
    mapper->SetInputData(viewer::regionPolyData(geometry));
    regionActor->SetMapper(mapper);
    sceneRenderer->AddActor(regionActor);
    render();
}

void MainWindow::on_azMin_doubleSpinBox_valueChanged(double) {
    updateRegionActor();
}

void MainWindow::on_azMax_doubleSpinBox_valueChanged(double) {
    updateRegionActor();
}

void MainWindow::on_elMin_doubleSpinBox_valueChanged(double) {
    updateRegionActor();
}

void MainWindow::on_elMax_doubleSpinBox_valueChanged(double) {
    updateRegionActor();
}

void MainWindow::setViewingRegion() {
    actorShown = !actorShown;
    regionActor->SetVisibility(actorShown);
    render();
}

void MainWindow::togglePerspective() {
    vtkRenderer* sceneRenderer = renderer();
    vtkCamera* camera = sceneRenderer->GetActiveCamera();
    camera->SetParallelProjection(!camera->GetParallelProjection());
    sceneRenderer->SetActiveCamera(camera);
    render();
}

void MainWindow::setUniformScan() {
    viewer::UniformScanInput input;
    input.type = scanType();
    input.mode = mode;
    input.azSpeed = ui->AzSpeedDoubleSpinBox->value();
    input.azMin = ui->azMin_doubleSpinBox->value();
    input.azMax = ui->azMax_doubleSpinBox->value();
    input.elMin = ui->elMin_doubleSpinBox->value();
    input.elMax = ui->elMax_doubleSpinBox->value();
    input.measurementIndex = ui->measurementComboBox->currentIndex();
    input.averagedSamples = ui->avgSamplesspinBox->value();
    input.sampleRate = ui->sampleRatespinBox->value();
    const std::optional<double> lines = viewer::uniformLines(input);
    if (!lines) {
        logMessage(QString("Set to uniform: no point spacing is defined for this model and "
                           "region; the number of lines is unchanged"));
        return;
    }
    ui->nLinesDoubleSpinBox->setValue(*lines);
}
