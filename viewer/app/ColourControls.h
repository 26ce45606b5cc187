// What the cloud is coloured by: the field and colour map combo boxes beside the display mode
// bar, persisted, and the legend titled with the field and its unit (or saying that the shown
// model does not measure the field). GUI thread only.
#pragma once

#include "ColourField.h"
#include "ColourMap.h"
#include "DataPoint.h"

#include <QObject>

class QComboBox;
class Ui_MainWindow;

namespace window {

class CloudDisplay;
class DeferredSettings;
class ViewControls;

class ColourControls : public QObject {
    Q_OBJECT

public:
    ColourControls(Ui_MainWindow& ui, DeferredSettings& settings, CloudDisplay& display,
                   ViewControls& view);

    void setModel(LIDAR_TYPE model);
    // After every rebuild of the cloud: the legend follows the colouring's range.
    void afterRebuild();

private:
    void chosen();

    Ui_MainWindow& ui;
    DeferredSettings& settings;
    CloudDisplay& display;
    ViewControls& view;
    QComboBox* fieldCombo = nullptr;
    QComboBox* mapCombo = nullptr;
    LIDAR_TYPE model = LIDAR_GENERIC;
};

} // namespace window
