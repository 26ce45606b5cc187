// The window keeps answering while device commands wait: start-up before the serial number
// answers, Home and Get Frame against an address where nothing answers, commands queued in the
// order asked, and closing while a command waits.
#include "WindowFixture.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPushButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTimer>
#include <QVTKOpenGLNativeWidget.h>

#include <vtkCallbackCommand.h>
#include <vtkCamera.h>
#include <vtkCommand.h>
#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkRenderer.h>
#include <vtkRendererCollection.h>

#include <memory>

namespace viewer_test {
namespace {

class ResponsivenessTest : public WindowTest {
protected:
    // Keeps every status bar message from now on.
    void recordStatus() {
        QObject::connect(window->statusBar(), &QStatusBar::messageChanged,
                         [this](const QString& message) { statusSeen << message; });
    }

    // Milliseconds until a zero-length timer fires: how long the event loop takes to answer.
    static qint64 eventLoopAnswer() {
        QElapsedTimer clock;
        clock.start();
        qint64 answered = -1;
        QTimer::singleShot(0, [&] { answered = clock.elapsed(); });
        waitUntil([&] { return answered >= 0; }, std::chrono::seconds(10));
        return answered < 0 ? clock.elapsed() : answered;
    }

    void press(const char* name) { QTest::mouseClick(widget<QWidget>(name), Qt::LeftButton); }

    bool enabled(const char* name) { return widget<QWidget>(name)->isEnabled(); }

    QStringList statusSeen;

    // Waits until the log's last line is `line`, checking on the way that the event loop keeps
    // answering; returns the slowest answer seen.
    qint64 answeringUntilLastLine(const QString& line, std::chrono::seconds timeout) {
        qint64 slowest = 0;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (logLines(window.get()).last() != line &&
               std::chrono::steady_clock::now() < deadline) {
            slowest = std::max(slowest, eventLoopAnswer());
            QTest::qWait(200);
        }
        EXPECT_EQ(logLines(window.get()).last(), line);
        return slowest;
    }
};

TEST_F(ResponsivenessTest, WindowIsShownWithTheGenericPanelBeforeTheSerialAnswers) {
    device->setSerial("SN-LX30-31");
    device->setReplyDelay(std::chrono::milliseconds(400), "SVCQRE");
    window = std::make_unique<MainWindow>();
    // Built without waiting for the answer, which only the event loop can bring in.
    EXPECT_TRUE(window->waitingForDevice());
    EXPECT_EQ(widget<QStackedWidget>("stackedWidget")->currentIndex(), 2);
    recordStatus();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    ASSERT_TRUE(settle());
    EXPECT_EQ(widget<QStackedWidget>("stackedWidget")->currentIndex(), 0);
    EXPECT_TRUE(statusSeen.contains("Waiting for the device: GetSerial"))
        << statusSeen.join(" | ").toStdString();
}

TEST_F(ResponsivenessTest, ModelChosenBeforeTheSerialAnswersIsKept) {
    device->setSerial("SN-LX30-31");
    device->setReplyDelay(std::chrono::milliseconds(400), "SVCQRE");
    window = std::make_unique<MainWindow>();
    window->show();
    widget<QAction>("actionLX20")->trigger();
    ASSERT_TRUE(settle());
    EXPECT_EQ(widget<QStackedWidget>("stackedWidget")->currentIndex(), 1);
    const QStringList log = logLines(window.get());
    EXPECT_TRUE(log.filter("GetSerial Error").isEmpty()) << log.join(" | ").toStdString();
}

TEST_F(ResponsivenessTest, HomeAndGetFrameAgainstAnAbsentDeviceLeaveTheWindowAnswering) {
    device->setSerial("SN-LX30-31");
    openWindow();
    device->setSilent();
    device->clearReceived();
    recordStatus();
    const QString timeout = text(tavrel::Timeout);

    press("homePushButton");
    press("getFramePushButton");
    EXPECT_LT(eventLoopAnswer(), 100);
    EXPECT_FALSE(enabled("homePushButton"));
    EXPECT_FALSE(enabled("getFramePushButton"));
    // Other commands stay available; they would queue behind these.
    EXPECT_TRUE(enabled("scanStopPushButton"));
    EXPECT_TRUE(waitUntil([&] { return statusSeen.contains("Waiting for the device: Home"); }));

    // ResetEvents (5 s) and Home (2.5 s) time out; Home's control comes back, Get Frame's not.
    EXPECT_LT(answeringUntilLastLine("Home: " + timeout, std::chrono::seconds(15)), 100);
    EXPECT_TRUE(waitUntil([&] { return enabled("homePushButton"); }));
    EXPECT_FALSE(enabled("getFramePushButton"));
    EXPECT_TRUE(waitUntil([&] {
        return statusSeen.contains("Waiting for the device: Get Frame: ResetEvents");
    })) << statusSeen.join(" | ").toStdString();

    // Get Frame: the first reset fails and is retried, the listener starts, the first buffer
    // fails and ends the sequence.
    EXPECT_LT(answeringUntilLastLine("Error: " + timeout, std::chrono::seconds(10)), 100);
    EXPECT_LT(answeringUntilLastLine("Listening on port " + QString::number(processDataPort()),
                                     std::chrono::seconds(10)),
              100);
    EXPECT_LT(answeringUntilLastLine("Error: " + timeout, std::chrono::seconds(10)), 100);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(enabled("getFramePushButton"));
    EXPECT_TRUE(
        statusSeen.contains("Waiting for the device: Get Frame: ConfigureCommandBuffer(128)"))
        << statusSeen.join(" | ").toStdString();
    const QStringList log = logLines(window.get());
    ASSERT_GE(log.size(), 4);
    EXPECT_EQ(log.mid(log.size() - 4),
              (QStringList{"Home: " + timeout, "Error: " + timeout,
                           "Listening on port " + QString::number(processDataPort()),
                           "Error: " + timeout}));
    EXPECT_EQ(device->codes(),
              (std::vector<std::string>{"SVERST", "SVHOME", "SVERST", "SVERST", "SVECCF"}));
}

TEST_F(ResponsivenessTest, TheViewTurnsAndRepaintsWhileACommandWaits) {
    device->setSerial("SN-LX30-31");
    openWindow();
    device->setSilent();
    auto* view = widget<QVTKOpenGLNativeWidget>("lidarQvtkWidget");
    vtkRenderWindow* renderWindow = view->renderWindow();
    int renders = 0;
    auto counter = vtkSmartPointer<vtkCallbackCommand>::New();
    counter->SetClientData(&renders);
    counter->SetCallback(
        [](vtkObject*, unsigned long, void* client, void*) { ++*static_cast<int*>(client); });
    renderWindow->AddObserver(vtkCommand::EndEvent, counter);
    vtkCamera* camera = renderWindow->GetRenderers()->GetFirstRenderer()->GetActiveCamera();
    double before[3];
    camera->GetPosition(before);

    device->clearReceived();
    press("homePushButton");
    ASSERT_TRUE(device->waitFor("SVERST", std::chrono::seconds(2)));
    // A drag across the view, as the operator's mouse makes it.
    const QPoint centre = view->rect().center();
    auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, view->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(view, &event);
    };
    send(QEvent::MouseButtonPress, centre, Qt::LeftButton);
    for (int step = 1; step <= 10; ++step) {
        const int drawn = renders;
        send(QEvent::MouseMove, centre + QPoint(15 * step, 5 * step), Qt::LeftButton);
        // Each step of the drag is drawn before the next, as the event loop lets it.
        EXPECT_TRUE(waitUntil([&] { return renders > drawn; })) << step;
    }
    send(QEvent::MouseButtonRelease, centre + QPoint(150, 50), Qt::NoButton);

    // Turned and drawn while Home still waits for its time-out.
    EXPECT_TRUE(window->waitingForDevice());
    double after[3];
    camera->GetPosition(after);
    EXPECT_FALSE(before[0] == after[0] && before[1] == after[1] && before[2] == after[2]);
    EXPECT_GE(renders, 5);
    renderWindow->RemoveObserver(counter);
}

TEST_F(ResponsivenessTest, CommandsRunOneAtATimeInTheOrderAsked) {
    device->setSerial("SN-LX30-31");
    openWindow();
    device->setReplyDelay(std::chrono::milliseconds(40));
    device->clearReceived();
    press("homePushButton");
    press("scanPushButton");
    press("scanStopPushButton");
    press("startLaserPushButton");
    press("stopLaserPushButton");
    ASSERT_TRUE(settle());
    EXPECT_EQ(device->codes(), (std::vector<std::string>{"SVERST", "SVHOME", "SVERST", "SVSFFS",
                                                         "SVERST", "SVSTOP", "SVRRBE", "SVSRBE"}));
    const QString ok = text(tavrel::NoError);
    const QStringList log = logLines(window.get());
    ASSERT_GE(log.size(), 6);
    EXPECT_EQ(log.mid(log.size() - 6),
              (QStringList{"Home: " + ok, "StartFullFieldScan(5, 99.99): " + ok, "Stop: " + ok,
                           "Listening on port " + QString::number(processDataPort()),
                           "Start Laser: " + ok, "Stop Laser: " + ok}));
    for (const char* name : {"homePushButton", "scanPushButton", "scanStopPushButton",
                             "startLaserPushButton", "stopLaserPushButton"}) {
        EXPECT_TRUE(enabled(name)) << name;
    }
}

TEST_F(ResponsivenessTest, ClosingWhileGetFrameWaitsEndsWithinOneTimeOut) {
    device->setSerial("SN-LX30-31");
    openWindow();
    device->setSilent();
    device->clearReceived();
    press("getFramePushButton");
    press("homePushButton");
    ASSERT_TRUE(device->waitFor("SVERST", std::chrono::seconds(2)));

    QElapsedTimer clock;
    clock.start();
    window.reset();
    // The reset in progress runs out its 5 s; nothing after it is sent.
    EXPECT_LT(clock.elapsed(), 5000 + 2000);
    EXPECT_EQ(device->codes(), std::vector<std::string>{"SVERST"});
}

} // namespace
} // namespace viewer_test
