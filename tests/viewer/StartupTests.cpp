// Start-up on the wire, the panel chosen from the serial number, the command
// line, and the window-level behaviours (log, toggles, Escape, quit).
#include "WindowFixture.h"

#include <QAction>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

namespace viewer_test {
namespace {

TEST_F(WindowTest, StartupPingsFromTwoChannelsThenAsksForTheSerial) {
    device->setSerial("SN-LX30-31");
    openWindow();

    const std::vector<ReceivedCommand> received = device->received();
    ASSERT_GE(received.size(), 3u);
    EXPECT_EQ(received[0].bytes, "SVPPPP");
    EXPECT_EQ(received[1].bytes, "SVPPPP");
    EXPECT_NE(received[0].senderPort, received[1].senderPort);
    EXPECT_EQ(received[2].bytes, "SVCQRE");
    // The serial is asked through the device facade, whose channel pinged first.
    EXPECT_EQ(received[2].senderPort, received[0].senderPort);
    EXPECT_EQ(received.size(), 3u);

    const QStringList log = logLines(window.get());
    ASSERT_FALSE(log.isEmpty());
    EXPECT_EQ(log.first(), "Sentova IP: " + QString::fromStdString(deviceAddress()));
    EXPECT_EQ(widget<QLabel>("sentovaIP_label")->text(), QString::fromStdString(deviceAddress()));
    EXPECT_EQ(widget<QLabel>("pointsPerSecond_label")->text(), "0");
    EXPECT_EQ(widget<QLabel>("totalPoints_label")->text(), "0");
    EXPECT_TRUE(widget<QPlainTextEdit>("log_plainTextEdit")->isHidden());
    EXPECT_TRUE(widget<QToolBar>("mainToolBar")->isHidden());
    EXPECT_EQ(window->windowTitle(), "Tavrel Dynamics - Sentova Viewer");
    EXPECT_FALSE(window->windowIcon().pixmap(16, 16).isNull());
}

struct SerialCase {
    const char* serial;
    int page;
};

class SerialPanelTest : public WindowTest, public ::testing::WithParamInterface<SerialCase> {};

TEST_P(SerialPanelTest, PanelFollowsTheModelInTheSerial) {
    device->setSerial(GetParam().serial);
    openWindow();
    auto* stack = widget<QStackedWidget>("stackedWidget");
    EXPECT_EQ(stack->currentIndex(), GetParam().page);
    for (int index = 0; index < 3; ++index) {
        EXPECT_EQ(stack->widget(index)->isHidden(), index != GetParam().page) << index;
    }
    for (const QString& line : logLines(window.get())) {
        EXPECT_FALSE(line.startsWith("GetSerial Error: "));
    }
}

INSTANTIATE_TEST_SUITE_P(Serials, SerialPanelTest,
                         ::testing::Values(SerialCase{"LX20-LX30-31", 0},
                                           SerialCase{"SN-LX20-31", 1},
                                           SerialCase{"SN-lx30-LX2-31", 2}, SerialCase{"", 2}),
                         [](const ::testing::TestParamInfo<SerialCase>& info) {
                             return "Serial" + std::to_string(info.index) + "Page" +
                                    std::to_string(info.param.page);
                         });

TEST_F(WindowTest, SilentDeviceGivesGenericPanelAndOneSerialErrorLine) {
    device->setSilentSerial();
    openWindow();
    EXPECT_EQ(widget<QStackedWidget>("stackedWidget")->currentIndex(), 2);
    const QStringList errors =
        logLines(window.get()).filter(QRegularExpression("^GetSerial Error: "));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors.first(), "GetSerial Error: " + text(tavrel::Timeout));
}

TEST_F(WindowTest, LogLinesCarryEpochMillisecondsAndEchoInStatusBar) {
    openWindow();
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    window->logMessage(std::string("hello there"));
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    const QString last =
        widget<QPlainTextEdit>("log_plainTextEdit")->toPlainText().split('\n').last();
    const QRegularExpressionMatch match =
        QRegularExpression("^\\[(\\d+)\\]: hello there$").match(last);
    ASSERT_TRUE(match.hasMatch()) << last.toStdString();
    const qint64 stamp = match.captured(1).toLongLong();
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, after);
    EXPECT_EQ(widget<QStatusBar>("statusBar")->currentMessage(), "hello there");
}

TEST_F(WindowTest, TogglesFlipTheirWidgets) {
    openWindow();
    struct Toggle {
        const char* action;
        const char* widget;
    };
    for (const Toggle& t : {Toggle{"actionToggle_Log", "log_plainTextEdit"},
                            Toggle{"actionToggle_Controls", "controlsWidget"},
                            Toggle{"actionToggle_StatusBar", "statusBar"}}) {
        QWidget* target = widget<QWidget>(t.widget);
        const bool hidden = target->isHidden();
        widget<QAction>(t.action)->trigger();
        EXPECT_EQ(target->isHidden(), !hidden) << t.action;
        widget<QAction>(t.action)->trigger();
        EXPECT_EQ(target->isHidden(), hidden) << t.action;
    }
}

TEST_F(WindowTest, EscapeLeavesFullScreen) {
    openWindow();
    widget<QAction>("actionFullscreen")->trigger();
    ASSERT_TRUE(waitUntil([&] { return window->isFullScreen(); }));
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_TRUE(waitUntil([&] { return !window->isFullScreen(); }));
    window->showMaximized();
    QTest::keyClick(widget<QWidget>("lidarQvtkWidget"), Qt::Key_Escape);
    EXPECT_TRUE(waitUntil([&] { return !window->isMaximized() && !window->isFullScreen(); }));
}

TEST_F(WindowTest, TheWindowReopensAtTheGeometryAndStateItClosedWith) {
    // The first run: the layout's size, as far as the controls fit in it.
    openWindow();
    const QSize first = QSize(1160, 536).expandedTo(window->minimumSizeHint());
    EXPECT_EQ(window->size(), first);

    const QRect chosen(30, 40, first.width() + 40, 700);
    window->setGeometry(chosen);
    ASSERT_TRUE(waitUntil([&] { return window->geometry() == chosen; }));
    window.reset();
    openWindow();
    EXPECT_EQ(window->geometry(), chosen);
    EXPECT_FALSE(window->isMaximized());

    // Closed maximised, it comes back maximised, with its own size kept for later.
    window->showMaximized();
    ASSERT_TRUE(waitUntil([&] { return window->isMaximized(); }));
    window.reset();
    openWindow();
    EXPECT_TRUE(window->isMaximized());
    window->showNormal();
    EXPECT_TRUE(waitUntil([&] { return window->geometry() == chosen; }))
        << window->geometry().width() << "x" << window->geometry().height();

    // A geometry on a screen that is no longer there is dropped.
    window.reset();
    QSettings().setValue("window/geometry", QRect(5000, 5000, 800, 600));
    openWindow();
    EXPECT_EQ(window->size(), QSize(1160, 536).expandedTo(window->minimumSizeHint()));
    EXPECT_LT(window->x(), 1280);
}

TEST_F(WindowTest, ClosingAsksAndNoKeepsTheWindow) {
    openWindow();
    QString seen;
    onNextModal([&seen](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        seen = box->windowTitle() + "|" + box->text();
        box->button(QMessageBox::No)->click();
    });
    window->close();
    EXPECT_EQ(seen, "Sentova Viewer|Are you sure you want to quit the application?.");
    EXPECT_TRUE(window->isVisible());
}

TEST_F(WindowTest, QuitConfirmedEndsTheEventLoopWithZero) {
    openWindow();
    QTimer safety;
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    safety.start(10000);
    onNextModal([](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        box->button(QMessageBox::Yes)->click();
    });
    QTimer::singleShot(0, window.get(), [this] { widget<QAction>("actionQuit")->trigger(); });
    EXPECT_EQ(QApplication::exec(), 0);
}

// The command line, through the program, with no display to connect to.
int runViewer(const QStringList& arguments, QString* errorOutput, QString* output = nullptr) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        environment.remove(name);
    }
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(SENTOVA_VIEWER_PROGRAM), arguments);
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    *errorOutput = QString::fromLocal8Bit(process.readAllStandardError());
    if (output) {
        *output = QString::fromLocal8Bit(process.readAllStandardOutput());
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
}

TEST(ViewerProgram, NoAddressExitsWithOneAndUsage) {
    QString errors;
    EXPECT_EQ(runViewer({}, &errors), 1);
    EXPECT_TRUE(errors.contains("Usage: sentova-viewer <device IPv4 address>"))
        << errors.toStdString();
}

TEST(ViewerProgram, HelpAndVersionAnswerWithoutADisplay) {
    QString errors;
    QString output;
    EXPECT_EQ(runViewer({"--help"}, &errors, &output), 0);
    EXPECT_TRUE(output.startsWith("Usage: sentova-viewer <device IPv4 address>"))
        << output.toStdString();
    EXPECT_TRUE(errors.isEmpty()) << errors.toStdString();

    EXPECT_EQ(runViewer({"--version"}, &errors, &output), 0);
    EXPECT_EQ(output, "sentova-viewer 3.5.548 (Sentova library " +
                          QString::fromStdString(tavrel::SENTOVA_VERSION) + ")\n");

    EXPECT_EQ(runViewer({"--frobnicate"}, &errors), 1);
    EXPECT_TRUE(errors.contains("unknown option '--frobnicate'")) << errors.toStdString();
}

TEST(ViewerProgram, MalformedAddressExitsWithOneAndSaysWhy) {
    for (const QString& address :
         {QString("not-an-address"), QString("300.1.2.3"), QString("10.0.0")}) {
        QString errors;
        EXPECT_EQ(runViewer({address}, &errors), 1) << address.toStdString();
        EXPECT_TRUE(errors.contains("'" + address + "' is not an IPv4 address"))
            << errors.toStdString();
        EXPECT_FALSE(errors.contains("cannot reach")) << errors.toStdString();
    }
}

} // namespace
} // namespace viewer_test
