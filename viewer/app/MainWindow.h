// The viewer's one window: owns the device session (the device facade, the event manager and
// the laser listener), the point store and the VTK scene that shows it.
#pragma once

#include "DeferredSettings.h"
#include "DeviceCommands.h"
#include "DeviceSession.h"
#include "Formats.h"
#include "FrameBudget.h"
#include "PreferencesDialog.h"
#include "ScanRequest.h"
#include "StatusLabels.h"

#include "ChunkedCloud.h"
#include "DataPoint.h"
#include "IntensityScale.h"
#include "MemoryRelease.h"
#include "PointBuffer.h"
#include "PointStore.h"
#include "RegionHelper.h"
#include "SceneView.h"
#include "Sentova/CommandSerialiser.h"
#include "Sentova/Protocol.h"
#include "Sentova/SentovaGrabber.h"
#include "StreamHealth.h"

#include <QColor>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>

#include <vtkSmartPointer.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QEvent;
class QLabel;
class Ui_MainWindow;
class vtkActor;
class vtkObject;
class vtkPolyData;
class vtkProperty;
class vtkRenderer;

namespace tavrel {
class Sentova;
class SentovaEventManager;
} // namespace tavrel

namespace window {
class FileWork;
class Recording;
} // namespace window

class MainWindow : public QMainWindow, public tavrel::SentovaLaserDataCallbackClass {
    Q_OBJECT

public:
    // The device address is the application's argument 1; without one the process ends with
    // status 1.
    explicit MainWindow(QWidget* parent = nullptr);
    // The device address as the program's command line gave it, read there once.
    explicit MainWindow(const QString& address, QWidget* parent = nullptr);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Runs on the listener's consumer thread; the store takes the batch.
    void LaserDataCallback(std::vector<tavrel::tavrel_rbe_obs_t> observations,
                           unsigned int) override;

    void logMessage(QString message);
    void logMessage(std::string message);

    // True while a device command is queued or waiting for the device, until all it reported
    // has reached the window.
    bool waitingForDevice() const;

private slots:
    void on_homePushButton_clicked();
    void on_scanPushButton_clicked();
    void on_fullFieldradioButton_clicked();
    void on_boundedradioButton_clicked();
    void on_regionradioButton_clicked();
    void updatePointsDisplay();
    void updatePointsPerSecond();
    void toggleControls();
    void toggleLog();
    void toggleStatusBar();
    void togglePerspective();
    void exitApp();
    void resetPoints();
    void editPreferences();
    void savePreferences();
    void loadPreferences();
    void askForPCDFileToLoad();
    void askForMaximumPoints();
    void askForMaximumIntensity();
    void askForMinimumIntensity();
    void askForMaximumIntensityColor();
    void askForMinimumIntensityColor();
    void setAutoIntensity();
    void resetIntensityColors();
    void saveFileAs();
    void toggleFullScreen();
    void setUniformScan();
    void setViewingRegion();
    void on_scanStopPushButton_clicked();
    bool eventFilter(QObject* object, QEvent* event) override;
    bool event(QEvent* event) override;
    void on_getFramePushButton_clicked();
    void updateRegionActor();
    void on_azMin_doubleSpinBox_valueChanged(double arg1);
    void on_azMax_doubleSpinBox_valueChanged(double arg1);
    void on_elMin_doubleSpinBox_valueChanged(double arg1);
    void on_elMax_doubleSpinBox_valueChanged(double arg1);
    vtkSmartPointer<vtkPolyData> loadPCDFile(std::string filename);
    void on_startLaserPushButton_clicked();
    void on_stopLaserPushButton_clicked();
    void setGenericWidget();
    void setLX30Widget();
    void setLX20Widget();
    void on_laserHighSpeedcheckBox_clicked();
    void on_laserPushButton_clicked();
    void on_laserStopPushButton_clicked();
    void on_lx20GetFramePushButton_clicked();
    void saveLX20FileAs();
    // Asks the device for its serial number on the command worker; the answer picks the
    // model's panel unless the operator has chosen one meanwhile.
    void getModeFromSerial();
    void setWidget(LIDAR_TYPE currentMode);
    void on_genericScanPushButton_clicked();
    void on_genericScanStopPushButton_clicked();
    void fitView();

private:
    // Listens for laser data, walking on from a port that is taken; false (logged) when no
    // port could be bound, and then no laser start may be sent.
    bool setupListener();
    void hideStackedWidgets();
    void updateCurrentWidget();
    // The scan chosen by the radio buttons, with the spin boxes' values now; shared by
    // "Start Scan" and "Get Frame".
    ScanRequest selectedScan() const;
    // Device operations through the command worker. A command's GUI-side step: starts the
    // listener if needed and gives the data port it listens on; false when nothing listens
    // (then no start may name a port) or the window is going.
    bool listenFor(DeviceCommands::Steps& steps, unsigned short& dataPort);
    void startLaser(QWidget* button, const tavrel::LaserSettings& laser, const QString& logPrefix,
                    bool logSuccess);
    void getFrame(QWidget* button, const tavrel::LaserSettings& laser);
    // The laser panels' settings now.
    tavrel::LaserSettings lx30Settings() const;
    tavrel::LaserSettings lx20Settings() const;
    void sendStopLaser(QWidget* button);
    void setBoundInputsEnabled(bool azimuth, bool elevation);
    vtkRenderer* renderer() const;
    void render();
    viewer::ScanType scanType() const;

    // The view around the cloud (MainWindowScene.cpp).
    void setupSceneView();
    // After the display refresh has brought the scene up to the buffer: follows the data with
    // the camera, keeps the legend and the helper's length in step.
    void afterSceneRebuild();
    // The frame budget: render timing, the camera's motion, and the drawn-points figure.
    void setupFrameBudget();
    void renderStarting();
    void renderFinished();
    void cameraMoving(bool moving);
    void showDrawnPoints();
    void rebuildRegionActor();
    void setPointSize(int pixels);
    double viewAspect() const;
    viewer::SceneSample sampleScene(std::size_t samples);
    void storeHelperLength();
    void cameraTouched();

    // The device and stream status, the Settings menu's model entries and what follows a change
    // of model, and the stops at quit (MainWindowStatus.cpp).
    void setupStatusPanel();
    void updateStatus();
    void setupModelActions();
    void modelChanged();
    // After the quit is confirmed: stops the laser stream and the scan this window started, then
    // ends the event loop.
    void quitLeavingDeviceQuiet();

    // The data port (MainWindowPorts.cpp).
    std::uint32_t storedDataPort();
    void setupPortPreference();
    void loadPortPreference();
    void savePortPreference();

    // Recording the device traffic to a capture file (MainWindowRecording.cpp).
    void setupRecording();
    void startRecording();
    void stopRecording();
    void updateRecordingStatus();

    // Saving and loading on the file thread (MainWindowFiles.cpp).
    void setupFileWork();
    // True, with a word in the status bar, while a file is being saved or loaded.
    bool fileWorkRefused();
    void saveInBackground(const QString& name, formats::Format format,
                          const formats::WriteOptions& options);

    Ui_MainWindow* ui;
    // The device facade (device), the event manager (eventManager) and the laser listener
    // (listener) for the address, and what this window set the device doing.
    std::unique_ptr<sentova::session::DeviceSession> session;
    // Runs every call of the session's device and eventManager, after construction, off the
    // GUI thread, on the session's worker.
    std::unique_ptr<DeviceCommands> commands;
    // Panel choices made since start-up; the serial number's answer applies only if none was.
    std::uint64_t panelChoices = 0;
    QString ipAddress;

    // The point buffer the listener fills, with its frames and intensity range.
    viewer::PointStore store;
    std::uint32_t pointsPerSecondInterval = 1000;
    // Time since the rate display last ran: the rate is the count over the time
    // that really passed, so a stalled GUI thread does not inflate it.
    QElapsedTimer rateClock;
    QColor maximumIntensityColor;
    QColor minimumIntensityColor;
    vtkSmartPointer<vtkActor> regionActor;
    // The look of the cloud's points (their size), shared by the cloud's actors.
    vtkSmartPointer<vtkProperty> cloudProperty;
    // GUI thread only; created once the scene exists.
    std::unique_ptr<window::SceneView> sceneView;
    // The buffer's generation the view last saw (a new one re-arms the automatic fit).
    std::uint64_t sceneGeneration = 0;
    // The helper length in the settings, read once: the fit compares with it at every refresh.
    double storedHelperLength = 0.0;
    // GUI thread only: the drawn cloud, kept up to date from the buffer, the number of points
    // a frame may draw, and the colour table of the last rebuild.
    std::unique_ptr<viewer::ChunkedCloud> cloud;
    viewer::FrameBudget frameBudget;
    std::chrono::steady_clock::time_point renderStarted;
    // The last render, until the window has put it on screen: its points and milliseconds.
    std::size_t renderDrawn = 0;
    double renderMs = 0.0;
    bool renderOnScreen = true;
    // "showing N of M" in the Stats box while points are left out of the frame.
    QLabel* drawnPoints_label = nullptr;
    window::StatusLabels statusLabels;
    viewer::StreamHealth streamHealth;
    std::int64_t lastStreamUpdateMs = 0;
    std::int64_t lastProbeMs = 0;
    bool quitting = false;
    viewer::IntensityScale intensityScale;
    PreferencesDialog preferences;
    window::DeferredSettings settings;
    std::uint32_t port = tavrel::protocol::kDefaultDataPort;
    // The listener is bound to port.
    bool listening = false;
    // The model whose panel is shown.
    LIDAR_TYPE mode = LIDAR_GENERIC;
    bool actorShown = true;
    // GUI thread only: File > "Record…" / "Stop recording" and the recording under way.
    QAction* recordAction = nullptr;
    QAction* stopRecordingAction = nullptr;
    QLabel* recordingLabel = nullptr;
    std::shared_ptr<window::Recording> recording;
    // The file thread; declared last, so that a save still running when the window goes has
    // finished before the buffer it copies from does.
    std::unique_ptr<window::FileWork> fileWork;
};
