// The device address asked for when the viewer starts without one: the dialog's rules, and the
// program as the desktop entry starts it, answered by typing as an operator would.
#include "AddressDialog.h"
#include "SimulatorFixture.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>

namespace viewer_test {
namespace {

using viewer::askDeviceAddress;
using viewer::kLastAddressKey;

QLineEdit* addressEdit(QWidget* dialog) {
    return child<QLineEdit>(dialog, "addressLineEdit");
}

QPushButton* button(QWidget* dialog, QDialogButtonBox::StandardButton which) {
    return child<QDialogButtonBox>(dialog, "addressButtonBox")->button(which);
}

class AddressDialogTest : public ::testing::Test {
protected:
    void SetUp() override { resetSettings(); }
    QSettings settings;
};

TEST_F(AddressDialogTest, OffersTheLastAddressAndTakesOnlyDottedIPv4) {
    settings.setValue(kLastAddressKey, "10.1.2.3");
    QStringList offered;
    std::vector<bool> acceptable;
    onNextModal([&](QWidget* dialog) {
        QLineEdit* edit = addressEdit(dialog);
        QPushButton* ok = button(dialog, QDialogButtonBox::Ok);
        offered << edit->text();
        acceptable.push_back(ok->isEnabled());
        for (const char* text :
             {"10.1.2", "300.1.2.3", "10.1.2.3.4", "host.example", "", " 10.9.8.7 "}) {
            edit->setText(text);
            acceptable.push_back(ok->isEnabled());
        }
        QTest::mouseClick(ok, Qt::LeftButton);
    });
    const std::optional<std::string> address = askDeviceAddress(settings);
    EXPECT_EQ(offered, QStringList{"10.1.2.3"});
    EXPECT_EQ(acceptable, (std::vector<bool>{true, false, false, false, false, false, true}));
    // Blanks around the address are not part of it, here or in what is remembered.
    EXPECT_EQ(address, std::optional<std::string>("10.9.8.7"));
    EXPECT_EQ(settings.value(kLastAddressKey).toString(), "10.9.8.7");
}

TEST_F(AddressDialogTest, CancelGivesNoAddressAndForgetsNothing) {
    settings.setValue(kLastAddressKey, "10.1.2.3");
    onNextModal([](QWidget* dialog) {
        addressEdit(dialog)->setText("10.4.5.6");
        QTest::mouseClick(button(dialog, QDialogButtonBox::Cancel), Qt::LeftButton);
    });
    EXPECT_EQ(askDeviceAddress(settings), std::nullopt);
    EXPECT_EQ(settings.value(kLastAddressKey).toString(), "10.1.2.3");
}

TEST_F(AddressDialogTest, WithNothingRememberedThereIsNothingToAccept) {
    bool okEnabled = true;
    QString offered = "unset";
    onNextModal([&](QWidget* dialog) {
        offered = addressEdit(dialog)->text();
        okEnabled = button(dialog, QDialogButtonBox::Ok)->isEnabled();
        // Return on an unacceptable address does not accept it.
        QTest::keyClick(addressEdit(dialog), Qt::Key_Return);
        QTest::keyClick(addressEdit(dialog), Qt::Key_Escape);
    });
    EXPECT_EQ(askDeviceAddress(settings), std::nullopt);
    EXPECT_EQ(offered, "");
    EXPECT_FALSE(okEnabled);
    EXPECT_FALSE(settings.contains(kLastAddressKey));
}

// The viewer program as the desktop entry starts it, with settings of its own, on this test's
// display; keys typed into its dialog through the X server.
class AskingProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (QString(SENTOVA_XDOTOOL).isEmpty()) {
            GTEST_SKIP() << "xdotool is not installed (tools/setup.sh installs it)";
        }
        ASSERT_TRUE(home.isValid());
        QSettings stored(settingsPath(), QSettings::NativeFormat);
        stored.setValue("network/port", processDataPort());
        stored.sync();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", home.path());
        viewer.setProcessEnvironment(environment);
    }

    void TearDown() override {
        if (viewer.state() != QProcess::NotRunning) {
            viewer.kill();
            viewer.waitForFinished(5000);
        }
        stopSimulator(simulator);
    }

    QString settingsPath() const { return home.filePath("Tavrel Dynamics/LX30Tools.conf"); }

    // Runs xdotool; its standard output, empty if it did not end within 30 s (a search for a
    // window that never comes waits for ever).
    static QString xdotool(const QStringList& arguments) {
        QProcess tool;
        tool.start(SENTOVA_XDOTOOL, arguments);
        if (!tool.waitForFinished(30000)) {
            tool.kill();
            tool.waitForFinished();
            return {};
        }
        return QString::fromLatin1(tool.readAllStandardOutput()).trimmed();
    }

    // Starts the viewer asking for the address, waits for its dialog and gives it the keyboard;
    // the dialog's window, empty if none came.
    QString startAsking() {
        viewer.start(SENTOVA_VIEWER_PROGRAM, {"--ask-address"});
        EXPECT_TRUE(viewer.waitForStarted(5000));
        const QString window =
            xdotool({"search", "--sync", "--onlyvisible", "--pid",
                     QString::number(viewer.processId()), "--name", "^Sentova Viewer$"})
                .section('\n', 0, 0);
        if (!window.isEmpty()) {
            xdotool({"windowfocus", "--sync", window});
        }
        return window;
    }

    QTemporaryDir home;
    QTemporaryDir scratch;
    QProcess viewer;
    std::unique_ptr<QProcess> simulator;
};

TEST_F(AskingProgramTest, TheTypedAddressIsTheDeviceItTalksToAndIsRemembered) {
    const QString log = scratch.filePath("sim.log");
    simulator = launchSimulator(deviceAddress(), "LX30", log);
    ASSERT_FALSE(HasFailure());

    // The simulator has been greeted once already, by the test making sure it answers.
    const int greetings = loggedArguments(log, "SVPPPP").size();
    const QString window = startAsking();
    ASSERT_FALSE(window.isEmpty()) << "no address dialog";
    // Asking comes first: nothing reaches the device before an address is given.
    EXPECT_EQ(loggedArguments(log, "SVPPPP").size(), greetings);
    EXPECT_TRUE(loggedArguments(log, "SVCQRE").isEmpty());
    xdotool({"type", "--window", window, "--delay", "5", QString::fromStdString(deviceAddress())});
    xdotool({"key", "--window", window, "Return"});

    // Both command channels greet the device, then the window asks for its serial number.
    EXPECT_TRUE(waitUntil([&] { return !loggedArguments(log, "SVCQRE").isEmpty(); },
                          std::chrono::seconds(20)))
        << "the viewer did not reach the simulator at " << deviceAddress();
    EXPECT_EQ(loggedArguments(log, "SVPPPP").size(), greetings + 2);
    EXPECT_EQ(viewer.state(), QProcess::Running);
    QSettings stored(settingsPath(), QSettings::NativeFormat);
    EXPECT_EQ(stored.value(kLastAddressKey).toString(), QString::fromStdString(deviceAddress()));
}

TEST_F(AskingProgramTest, CancelEndsTheProgramWithStatusOneQuietly) {
    const QString window = startAsking();
    ASSERT_FALSE(window.isEmpty()) << "no address dialog";
    xdotool({"key", "--window", window, "Escape"});
    ASSERT_TRUE(viewer.waitForFinished(15000));
    EXPECT_EQ(viewer.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(viewer.exitCode(), 1);
    const QString errors = QString::fromLocal8Bit(viewer.readAllStandardError());
    EXPECT_FALSE(errors.contains("sentova-viewer:")) << errors.toStdString();
    EXPECT_FALSE(errors.contains("Usage:")) << errors.toStdString();
}

} // namespace
} // namespace viewer_test
