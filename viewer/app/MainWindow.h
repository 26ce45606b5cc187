// The viewer's one window: the wiring between the device session, the point store and the parts
// that each look after one concern of the window (the scan panel, the laser panels, the data
// port, the files, the traffic recording, the recording player, the status rows, the display, its
// mode and the view).
#pragma once

#include "DeferredSettings.h"
#include "DeviceCommands.h"
#include "DeviceSession.h"
#include "PointStore.h"
#include "PreferencesDialog.h"

#include "Sentova/DeviceModel.h"
#include "Sentova/SentovaGrabber.h"

#include <QMainWindow>
#include <QString>

#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <memory>
#include <string>
#include <vector>

class QEvent;
class Ui_MainWindow;

namespace window {
class CameraViews;
class ApertureAim;
class CloudDisplay;
class ColourControls;
class DisplayModes;
class FileCommands;
class LaserPanels;
class PickTool;
class ListenerPort;
class RecordingPlayer;
class RegionSelectTool;
class Screenshot;
class ScanPanel;
class StatusPanel;
class TrafficRecording;
class ViewContextMenu;
class ViewControls;
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
    // Builds the parts and connects what one tells another.
    void setupParts();
    // The geometry and maximised state the window had when it last closed.
    void restoreWindowGeometry();
    void saveWindowGeometry();

    Ui_MainWindow* ui;
    // The device facade, the event manager and the laser listener for the address, and what
    // this window set the device doing.
    std::unique_ptr<sentova::session::DeviceSession> session;
    // Runs every call of the session's device and eventManager, after construction, off the
    // GUI thread, on the session's worker.
    std::unique_ptr<DeviceCommands> commands;
    QString ipAddress;
    // The point buffer the listener fills, with its frames and intensity range.
    viewer::PointStore store;
    PreferencesDialog preferences;
    window::DeferredSettings settings;

    std::unique_ptr<window::ListenerPort> listenerPort;
    std::unique_ptr<window::ScanPanel> scanPanel;
    std::unique_ptr<window::LaserPanels> laserPanels;
    std::unique_ptr<window::CloudDisplay> display;
    std::unique_ptr<window::DisplayModes> displayModes;
    std::unique_ptr<window::ViewControls> view;
    std::unique_ptr<window::ColourControls> colours;
    std::unique_ptr<window::StatusPanel> status;
    std::unique_ptr<window::TrafficRecording> recording;
    std::unique_ptr<window::RecordingPlayer> player;
    std::unique_ptr<window::RegionSelectTool> regionSelect;
    std::unique_ptr<window::CameraViews> cameraViews;
    std::unique_ptr<window::Screenshot> screenshot;
    std::unique_ptr<window::ViewContextMenu> viewMenu;
    std::unique_ptr<window::PickTool> pick;
    std::unique_ptr<window::ApertureAim> aim;
    // Last, so that a save still running when the window goes has finished before the parts it
    // reads from do.
    std::unique_ptr<window::FileCommands> files;
};
