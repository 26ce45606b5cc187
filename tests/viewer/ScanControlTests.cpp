// Scan panel, device model menu, preferences and the data port walk.
#include "DataPort.h"
#include "WindowFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>

namespace viewer_test {
namespace {

const char* const kAzimuthWidgets[] = {"azMinNamelabel", "azMin_doubleSpinBox", "azMaxNamelabel",
                                       "azMax_doubleSpinBox"};
const char* const kElevationWidgets[] = {"elMinNamelabel", "elMin_doubleSpinBox", "elMaxNamelabel",
                                         "elMax_doubleSpinBox"};

class ScanTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        openWindow();
        device->clearReceived();
    }

    void expectEnabled(bool azimuth, bool elevation) {
        for (const char* name : kAzimuthWidgets) {
            EXPECT_EQ(widget<QWidget>(name)->isEnabled(), azimuth) << name;
        }
        for (const char* name : kElevationWidgets) {
            EXPECT_EQ(widget<QWidget>(name)->isEnabled(), elevation) << name;
        }
    }

    QString lastLog() { return logLines(window.get()).last(); }
};

TEST_F(ScanTest, ScanTypeEnablesTheBoundsItUses) {
    expectEnabled(false, false);
    click("boundedradioButton");
    expectEnabled(false, true);
    click("regionradioButton");
    expectEnabled(true, true);
    click("fullFieldradioButton");
    expectEnabled(false, false);
}

TEST_F(ScanTest, StartScanLogsEachTypeWithItsArguments) {
    const QString ok = text(tavrel::NoError);

    click("scanPushButton");
    EXPECT_EQ(lastLog(), "StartFullFieldScan(5, 99.99): " + ok);

    click("boundedradioButton");
    click("scanPushButton");
    EXPECT_EQ(lastLog(), "StartBoundedElevationScan(5, -35, 35, 99.99): " + ok);

    click("regionradioButton");
    click("scanPushButton");
    EXPECT_EQ(lastLog(), "StartRegionScan(5, 15, 345, -35, 35, 99.99): " + ok);

    // Each start resets the device's events first, on the event manager's channel.
    EXPECT_EQ(device->codes(), (std::vector<std::string>{"SVERST", "SVSFFS", "SVERST", "SVSBES",
                                                         "SVERST", "SVSRES"}));
    // 99.99 lines reach the device as 99 whole lines.
    const std::string fullField = device->received()[1].bytes;
    EXPECT_EQ(fullField.substr(fullField.size() - 4), std::string("\x00\x63\x00\x00", 4));
}

TEST_F(ScanTest, DeviceErrorIsLoggedWithItsText) {
    device->failCommand("SVSFFS", 9);
    widget<QDoubleSpinBox>("AzSpeedDoubleSpinBox")->setValue(12.35);
    click("scanPushButton");
    EXPECT_EQ(lastLog(), "StartFullFieldScan(12.35, 99.99): " + text(tavrel::BusyOtherClient));
}

TEST_F(ScanTest, HomeAndStopLogTheirResults) {
    device->failCommand("SVSTOP", 4);
    click("homePushButton");
    EXPECT_EQ(lastLog(), "Home: " + text(tavrel::NoError));
    click("scanStopPushButton");
    EXPECT_EQ(lastLog(), "Stop: " + text(tavrel::NotHomed));
    EXPECT_EQ(device->codes(), (std::vector<std::string>{"SVERST", "SVHOME", "SVERST", "SVSTOP"}));
}

TEST_F(ScanTest, SettingsMenuSwitchesPanelsWithoutTalkingToTheDevice) {
    auto* stack = widget<QStackedWidget>("stackedWidget");
    struct Choice {
        const char* action;
        int page;
    };
    for (const Choice& choice :
         {Choice{"actionLX20", 1}, Choice{"actionLX30", 0}, Choice{"actionGeneric", 2}}) {
        widget<QAction>(choice.action)->trigger();
        EXPECT_EQ(stack->currentIndex(), choice.page) << choice.action;
        for (int index = 0; index < 3; ++index) {
            EXPECT_EQ(stack->widget(index)->isHidden(), index != choice.page) << choice.action;
        }
    }
    // Home, asked for afterwards, is the first the device hears of this window.
    click("homePushButton");
    std::vector<std::string> heard;
    for (const ReceivedCommand& command : device->received()) {
        heard.push_back(command.code());
    }
    EXPECT_EQ(heard, (std::vector<std::string>{"SVERST", "SVHOME"}));
}

// Preferences: the dialog is run modally; the callback works inside it.
class PreferencesTest : public ScanTest {
protected:
    void editPreferences(const std::function<void(QDialog*)>& inside) {
        bool ran = false;
        onNextModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<QDialog*>(modal);
            ASSERT_NE(dialog, nullptr);
            ran = true;
            inside(dialog);
        });
        widget<QAction>("actionPreferences")->trigger();
        EXPECT_TRUE(ran);
    }

    static QCheckBox* box(QDialog* dialog, const char* name) {
        return dialog->findChild<QCheckBox*>(name);
    }

    static void press(QDialog* dialog, QDialogButtonBox::StandardButton which) {
        dialog->findChild<QDialogButtonBox*>("buttonBox")->button(which)->click();
    }
};

const char* const kColumns[] = {
    "x_checkBox",         "y_checkBox",           "z_checkBox",
    "az_checkBox",        "el_checkBox",          "range_checkBox",
    "intensity_checkBox", "reflectance_checkBox", "pulseShapeDeviation_checkbox",
    "timestampcheckBox"};

TEST_F(PreferencesTest, EmptyStoreShowsTheDefaultColumns) {
    std::vector<bool> shown;
    editPreferences([&](QDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "Edit preferences");
        for (const char* name : kColumns) {
            shown.push_back(box(dialog, name)->isChecked());
        }
        press(dialog, QDialogButtonBox::Cancel);
    });
    EXPECT_EQ(shown,
              (std::vector<bool>{true, true, true, false, false, false, true, true, true, true}));
}

TEST_F(PreferencesTest, CancelForgetsAndOkStores) {
    editPreferences([&](QDialog* dialog) {
        box(dialog, "x_checkBox")->setChecked(false);
        press(dialog, QDialogButtonBox::Cancel);
    });
    EXPECT_FALSE(QSettings().contains("save/x"));
    editPreferences([&](QDialog* dialog) {
        EXPECT_TRUE(box(dialog, "x_checkBox")->isChecked());
        box(dialog, "x_checkBox")->setChecked(false);
        box(dialog, "range_checkBox")->setChecked(true);
        press(dialog, QDialogButtonBox::Ok);
    });
    QSettings settings;
    EXPECT_EQ(settings.value("save/x").toInt(), 0);
    EXPECT_EQ(settings.value("save/range").toInt(), 1);
    EXPECT_EQ(settings.value("save/timestamp").toInt(), 1);
}

TEST_F(PreferencesTest, StoredValuesAreShownAndNonZeroCountsAsChecked) {
    {
        QSettings settings;
        settings.setValue("save/az", 2);
        settings.setValue("save/y", 0);
    }
    editPreferences([&](QDialog* dialog) {
        EXPECT_TRUE(box(dialog, "az_checkBox")->isChecked());
        EXPECT_FALSE(box(dialog, "y_checkBox")->isChecked());
        press(dialog, QDialogButtonBox::Cancel);
    });
}

TEST_F(PreferencesTest, LX20PageKeepsTheLastThreeColumnsAsStored) {
    widget<QAction>("actionLX20")->trigger();
    editPreferences([&](QDialog* dialog) {
        box(dialog, "timestampcheckBox")->setChecked(false);
        box(dialog, "reflectance_checkBox")->setChecked(false);
        box(dialog, "intensity_checkBox")->setChecked(false);
        press(dialog, QDialogButtonBox::Ok);
    });
    QSettings settings;
    EXPECT_EQ(settings.value("save/intensity").toInt(), 0);
    EXPECT_FALSE(settings.contains("save/timestamp"));
    EXPECT_FALSE(settings.contains("save/reflectance"));
    EXPECT_FALSE(settings.contains("save/pulseShapeDeviation"));
    editPreferences([&](QDialog* dialog) {
        EXPECT_TRUE(box(dialog, "timestampcheckBox")->isChecked());
        EXPECT_FALSE(box(dialog, "intensity_checkBox")->isChecked());
        press(dialog, QDialogButtonBox::Cancel);
    });
}

TEST(DataPortWalk, NextRunPort) {
    EXPECT_EQ(nextDataPort(4366), 4367u);
    EXPECT_EQ(nextDataPort(5000), 5001u);
    EXPECT_EQ(nextDataPort(5001), 4366u);
    EXPECT_EQ(nextDataPort(80), 4366u);
    EXPECT_EQ(nextDataPort(4365), 4366u);
    EXPECT_EQ(nextDataPort(70000), 4366u);
}

} // namespace
} // namespace viewer_test
