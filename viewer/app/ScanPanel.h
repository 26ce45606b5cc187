// The scan panel: home, stop, the three scan patterns with their bounds, and the number of lines
// "Set to uniform" works out.
#pragma once

#include "RegionHelper.h"
#include "ScanRequest.h"

#include <QObject>

class DeviceCommands;
class Ui_MainWindow;

namespace viewer {
struct RegionBounds;
}

namespace sentova::session {
class DeviceSession;
}

namespace window {

class ScanPanel : public QObject {
    Q_OBJECT

public:
    // The panel's widgets in ui. session and commands must outlive this.
    ScanPanel(Ui_MainWindow& ui, sentova::session::DeviceSession& session,
              DeviceCommands& commands);

    void home();
    void stop();
    void startScan();
    void chooseFullField();
    void chooseBounded();
    void chooseRegion();

    // The scan chosen by the radio buttons, with the spin boxes' values now; shared by
    // "Start Scan" and "Get Frame".
    ScanRequest selectedScan() const;
    // The outline of the chosen region at the helper's length.
    viewer::RegionGeometry region(double helperLength) const;
    // Sets the number of lines from the laser's part of input and the panel's pattern and
    // bounds; false, with nothing changed, when no spacing is defined for them.
    bool setUniform(viewer::UniformScanInput input);
    // Chooses the region pattern with these bounds, each held to its spin box's limits.
    void setRegion(const viewer::RegionBounds& bounds);

signals:
    // The pattern changed: the region's outline follows.
    void regionChanged();

private:
    viewer::ScanType scanType() const;
    void setBoundInputsEnabled(bool azimuth, bool elevation);

    Ui_MainWindow& ui;
    sentova::session::DeviceSession& session;
    DeviceCommands& commands;
};

} // namespace window
