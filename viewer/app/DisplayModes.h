// The display mode: every point of the buffer, the latest frame, the last N frames or the last
// T seconds, chosen in the combo box beside the view or in the View menu, with N or T in the spin
// box beside it; kept in the settings.
#pragma once

#include "FrameSelection.h"

#include <QObject>

#include <vector>

class QAction;
class QComboBox;
class QSpinBox;
class Ui_MainWindow;

namespace window {

class DeferredSettings;

class DisplayModes : public QObject {
    Q_OBJECT

public:
    // Adds the bar above the view and the entries to the View menu of ui. settings must outlive
    // this.
    DisplayModes(Ui_MainWindow& ui, DeferredSettings& settings);

    viewer::DisplayMode mode() const { return current; }
    // N or T; 0 for the modes without a count.
    unsigned count() const;

signals:
    void changed(viewer::DisplayMode mode, unsigned count);

private:
    void choose(viewer::DisplayMode mode);
    void countChosen(int value);

    DeferredSettings& settings;
    QComboBox* combo = nullptr;
    QSpinBox* spin = nullptr;
    std::vector<QAction*> actions;
    viewer::DisplayMode current = viewer::DisplayMode::AllPoints;
    // The stored N and T, each kept while the other mode is shown.
    int frames = 5;
    int seconds = 10;
};

} // namespace window
