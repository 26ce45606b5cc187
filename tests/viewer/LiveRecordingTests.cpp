// A recording opened while the simulator streams: the live data waits apart and does not mix into
// the recording's frames, and closing the recording brings it back to the view.
#include "ScenePieces.h"
#include "SimulatorFixture.h"

#include "Sentova/LaserPacket.h"
#include "SentovaPcap/Capture.h"
#include "SentovaPcap/CapturePoints.h"
#include "SentovaPcap/RecordingIndex.h"

#include <QAction>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QVTKOpenGLNativeWidget.h>

#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkRendererCollection.h>

#include <cmath>

namespace viewer_test {
namespace {

constexpr unsigned kLinePoints = 400;
constexpr unsigned kFramePoints = 5 * kLinePoints;
constexpr unsigned kPacketPoints = 40;

// Three rasters of five lines at a range no scene of the simulator's has (50 m).
void writeRecording(const std::string& path) {
    sentova::pcap::Writer w(path);
    std::vector<tavrel::LaserRecord> records(kPacketPoints);
    std::uint64_t n = 0;
    while (n < 3 * kFramePoints) {
        for (tavrel::LaserRecord& r : records) {
            r.azimuth = -180.0 + 0.9 * double(n % kLinePoints);
            r.elevation = -20.0 + 10.0 * double(n / kLinePoints % 5);
            r.timestamp = static_cast<std::uint32_t>(1000 + 40 * n);
            r.range = 50000;
            r.amplitude = 300;
            ++n;
        }
        const std::string p = tavrel::encodeLaserPacket(records);
        w.write(1700000000000000 + 40 * n, 0x0a000005, 4365, 0x0a000001, 4366, p.data(), p.size());
    }
    w.close();
}

class LiveRecordingTest : public SimulatorTest {
protected:
    std::vector<std::array<double, 3>> drawn() {
        auto* view = child<QVTKOpenGLNativeWidget>(window.get(), "lidarQvtkWidget");
        return drawnCloudPoints(view->renderWindow()->GetRenderers()->GetFirstRenderer());
    }

    // Every point drawn lies 50 m from the device, as the recording's do.
    bool drawsOnlyTheRecording() {
        const std::vector<std::array<double, 3>> points = drawn();
        for (const auto& p : points) {
            if (std::abs(std::hypot(p[0], p[1], p[2]) - 50000.0) > 1.0) {
                return false;
            }
        }
        return !points.empty();
    }

    void load(const QString& path) {
        onNextModal([path](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            ASSERT_NE(dialog, nullptr);
            dialog->selectFile(path);
            if (auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit")) {
                edit->setText(path);
            }
            QMetaObject::invokeMethod(dialog, "accept");
        });
        ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "askForPCDFileToLoad"));
    }

    QString frameText() { return child<QLabel>(window.get(), "frameLabel")->text(); }
};

TEST_F(LiveRecordingTest, LiveDataWaitsApartWhileARecordingIsOpenAndComesBackWhenItCloses) {
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    const QString path = scratch.filePath("three.pcap");
    writeRecording(QFile::encodeName(path).toStdString());
    startSimulator("LX30");
    click("startLaserPushButton");
    ASSERT_TRUE(waitUntil([&] { return totalPoints() > 5000; }, std::chrono::seconds(15)))
        << totalPoints();

    load(path);
    ASSERT_TRUE(waitUntil([&] {
        return frameText().startsWith("Frame 1 of 3") && totalPoints() == int(kFramePoints) &&
               drawsOnlyTheRecording();
    })) << frameText().toStdString()
        << ", " << totalPoints() << " points";

    // The stream goes on: thousands of points later, and a refresh of the display after them,
    // the view still holds the recording's frame and nothing else.
    const long long sentAtOpen = pointsSent(*simulator);
    ASSERT_GE(sentAtOpen, 0);
    ASSERT_TRUE(waitUntil([&] { return pointsSent(*simulator) > sentAtOpen + 5000; },
                          std::chrono::seconds(15)));
    // A change of colours makes the display redraw: the refresh after those points.
    child<QAction>(window.get(), "actionReset_colors")->trigger();
    ASSERT_TRUE(waitForDisplayRefresh(window.get()));
    EXPECT_EQ(totalPoints(), int(kFramePoints));
    EXPECT_TRUE(drawsOnlyTheRecording());
    // Stepping shows the next frame alone, as before.
    QTest::mouseClick(child<QWidget>(window.get(), "stepForwardPushButton"), Qt::LeftButton);
    EXPECT_TRUE(waitUntil([&] {
        return frameText().startsWith("Frame 2 of 3") && totalPoints() == int(kFramePoints) &&
               drawsOnlyTheRecording();
    }));

    // Closed: the bar goes, and the live data comes back, what arrived meanwhile with it.
    const long long sentAtClose = pointsSent(*simulator);
    QTest::mouseClick(child<QWidget>(window.get(), "closeRecordingPushButton"), Qt::LeftButton);
    EXPECT_TRUE(child<QWidget>(window.get(), "timelineBar")->isHidden());
    EXPECT_EQ(window->statusBar()->currentMessage(), "Closed " + path + ": showing the live data");
    EXPECT_TRUE(waitUntil([&] {
        const std::vector<std::array<double, 3>> points = drawn();
        const bool anyLive = std::any_of(points.begin(), points.end(), [](const auto& p) {
            return std::abs(std::hypot(p[0], p[1], p[2]) - 50000.0) > 1.0;
        });
        return anyLive && totalPoints() >= std::min<long long>(sentAtClose - 1, 100000);
    })) << totalPoints()
        << " points shown of " << sentAtClose << " sent";
}

} // namespace
} // namespace viewer_test
