#include "DisplayModes.h"

#include "DeferredSettings.h"
#include "ui_MainWindow.h"

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QSignalBlocker>
#include <QSpinBox>

#include <algorithm>

namespace window {

namespace {

struct ModeEntry {
    viewer::DisplayMode mode;
    const char* text;
    const char* action;
};

const ModeEntry kModes[] = {
    {viewer::DisplayMode::AllPoints, "All points", "actionDisplay_all_points"},
    {viewer::DisplayMode::LatestFrame, "Latest frame", "actionDisplay_latest_frame"},
    {viewer::DisplayMode::LastFrames, "Last N frames", "actionDisplay_last_frames"},
    {viewer::DisplayMode::LastSeconds, "Last T seconds", "actionDisplay_last_seconds"},
};
constexpr int kModeCount = 4;

// The device's 32-bit microsecond counter wraps after 71 minutes: an hour fits within it.
constexpr int kMostSeconds = 3600;
constexpr int kMostFrames = 1000;

int indexOf(viewer::DisplayMode mode) {
    for (int i = 0; i < kModeCount; ++i) {
        if (kModes[i].mode == mode) {
            return i;
        }
    }
    return 0;
}

} // namespace

DisplayModes::DisplayModes(Ui_MainWindow& ui, DeferredSettings& settings) : settings(settings) {
    frames = std::clamp(settings.value("view/displayFrames", frames).toInt(), 1, kMostFrames);
    seconds = std::clamp(settings.value("view/displaySeconds", seconds).toInt(), 1, kMostSeconds);
    const int stored = settings.value("view/displayMode", 0).toInt();
    current = kModes[stored >= 0 && stored < kModeCount ? stored : 0].mode;

    QWidget* bar = new QWidget(ui.centralWidget);
    bar->setObjectName("displayBar");
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(6, 2, 6, 2);
    layout->addWidget(new QLabel("Display:", bar));
    combo = new QComboBox(bar);
    combo->setObjectName("displayModeComboBox");
    spin = new QSpinBox(bar);
    spin->setObjectName("displayCountSpinBox");
    layout->addWidget(combo);
    layout->addWidget(spin);
    layout->addStretch(1);
    ui.verticalLayout->insertWidget(ui.verticalLayout->indexOf(ui.lidarQvtkWidget), bar);

    QMenu* menu = ui.menuView->addMenu("Display");
    menu->setObjectName("menuDisplay");
    auto* group = new QActionGroup(menu);
    for (const ModeEntry& entry : kModes) {
        combo->addItem(entry.text);
        auto* action = new QAction(entry.text, group);
        action->setObjectName(entry.action);
        action->setCheckable(true);
        menu->addAction(action);
        actions.push_back(action);
        const viewer::DisplayMode mode = entry.mode;
        connect(action, &QAction::triggered, this, [this, mode] { choose(mode); });
    }
    connect(combo, qOverload<int>(&QComboBox::activated), this,
            [this](int index) { choose(kModes[index].mode); });
    connect(spin, qOverload<int>(&QSpinBox::valueChanged), this, &DisplayModes::countChosen);
    choose(current);
}

unsigned DisplayModes::count() const {
    switch (current) {
    case viewer::DisplayMode::LastFrames:
        return static_cast<unsigned>(frames);
    case viewer::DisplayMode::LastSeconds:
        return static_cast<unsigned>(seconds);
    default:
        return 0;
    }
}

void DisplayModes::choose(viewer::DisplayMode mode) {
    current = mode;
    const int index = indexOf(mode);
    settings.setValue("view/displayMode", index);
    combo->setCurrentIndex(index);
    actions[static_cast<std::size_t>(index)]->setChecked(true);
    {
        // Setting the range and value for the mode is no choice of the operator's.
        const QSignalBlocker quiet(spin);
        if (mode == viewer::DisplayMode::LastFrames) {
            spin->setRange(1, kMostFrames);
            spin->setSuffix(" frames");
            spin->setValue(frames);
        } else if (mode == viewer::DisplayMode::LastSeconds) {
            spin->setRange(1, kMostSeconds);
            spin->setSuffix(" s");
            spin->setValue(seconds);
        }
    }
    spin->setVisible(mode == viewer::DisplayMode::LastFrames ||
                     mode == viewer::DisplayMode::LastSeconds);
    emit changed(current, count());
}

void DisplayModes::countChosen(int value) {
    if (current == viewer::DisplayMode::LastFrames) {
        frames = value;
        settings.setValue("view/displayFrames", value);
    } else if (current == viewer::DisplayMode::LastSeconds) {
        seconds = value;
        settings.setValue("view/displaySeconds", value);
    } else {
        return;
    }
    emit changed(current, count());
}

} // namespace window
