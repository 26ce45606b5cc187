// The display modes against the simulator scanning the full field over and over: all points, the
// latest frame, the last N frames and the last T seconds, with the frame figures of the Stats box,
// and the choice kept for the next start.
#include "ScenePieces.h"
#include "SimulatorFixture.h"

#include <QAction>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QSpinBox>
#include <QVTKOpenGLNativeWidget.h>

#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkRendererCollection.h>

namespace viewer_test {
namespace {

class DisplayModeTest : public SimulatorTest {
protected:
    QComboBox* modes() { return child<QComboBox>(window.get(), "displayModeComboBox"); }
    QSpinBox* countBox() { return child<QSpinBox>(window.get(), "displayCountSpinBox"); }
    long figure(const char* name) { return child<QLabel>(window.get(), name)->text().toLong(); }
    double frameRate() { return child<QLabel>(window.get(), "frameRate_label")->text().toDouble(); }

    // As the operator picks an entry of the combo box.
    void pick(int index) {
        modes()->setCurrentIndex(index);
        QMetaObject::invokeMethod(modes(), "activated", Q_ARG(int, index));
    }

    std::size_t drawn() {
        auto* view = child<QVTKOpenGLNativeWidget>(window.get(), "lidarQvtkWidget");
        return drawnCloudPoints(view->renderWindow()->GetRenderers()->GetFirstRenderer()).size();
    }

    // A full-field scan of few lines, so that frames complete several times a second.
    void scanContinuously() {
        click("homePushButton");
        ASSERT_TRUE(waitUntil([&] { return logLines(window.get()).last().startsWith("Home: "); }));
        child<QDoubleSpinBox>(window.get(), "AzSpeedDoubleSpinBox")->setValue(20);
        child<QDoubleSpinBox>(window.get(), "nLinesDoubleSpinBox")->setValue(6);
        click("scanPushButton");
        click("startLaserPushButton");
    }
};

TEST_F(DisplayModeTest, EachModeShowsItsShareOfAContinuousScan) {
    startSimulator("LX30");
    EXPECT_EQ(modes()->currentText(), "All points");
    EXPECT_FALSE(countBox()->isVisible());
    scanContinuously();
    // Frames complete: the rate shows, and every point of the buffer is shown.
    ASSERT_TRUE(waitUntil([&] { return frameRate() > 0.5 && totalPoints() > 60000; },
                          std::chrono::seconds(15)))
        << frameRate() << " frames/s, " << totalPoints() << " points";
    EXPECT_TRUE(waitUntil([&] { return figure("shownPoints_label") == totalPoints(); }));

    // The latest frame, the one in progress over it: a part of the buffer, and nothing else
    // drawn (all of it, or the budget's share).
    pick(1);
    EXPECT_FALSE(countBox()->isVisible());
    EXPECT_TRUE(child<QAction>(window.get(), "actionDisplay_latest_frame")->isChecked());
    ASSERT_TRUE(waitUntil([&] {
        const long shown = figure("shownPoints_label");
        const long drawnNow = static_cast<long>(drawn());
        return figure("shownFrames_label") == 2 && shown > 0 && shown < totalPoints() &&
               drawnNow > 0 && drawnNow <= shown;
    })) << figure("shownFrames_label")
        << " frames, " << figure("shownPoints_label") << " of " << totalPoints() << ", " << drawn()
        << " drawn";
    const long latest = figure("shownPoints_label");

    // The last three frames, from the View menu: more points, still not the whole buffer.
    child<QAction>(window.get(), "actionDisplay_last_frames")->trigger();
    EXPECT_EQ(modes()->currentText(), "Last N frames");
    ASSERT_TRUE(countBox()->isVisible());
    countBox()->setValue(3);
    EXPECT_TRUE(waitUntil([&] {
        return figure("shownFrames_label") == 4 && figure("shownPoints_label") > latest &&
               figure("shownPoints_label") < totalPoints();
    })) << figure("shownFrames_label")
        << " frames, " << figure("shownPoints_label") << " of " << totalPoints();

    // The last second of device time: about a second's worth of the stream.
    pick(3);
    countBox()->setValue(1);
    EXPECT_TRUE(waitUntil([&] {
        const long rate = figure("pointsPerSecond_label");
        const long shown = figure("shownPoints_label");
        return rate > 0 && shown > rate / 2 && shown < rate * 3 / 2;
    })) << figure("shownPoints_label")
        << " shown at " << figure("pointsPerSecond_label") << " points/s";

    // All points again: the whole buffer comes back.
    pick(0);
    EXPECT_TRUE(waitUntil([&] {
        // Drawn whole, or the budget's share with "showing N of M" saying so.
        const bool whole = static_cast<long>(drawn()) == totalPoints();
        return figure("shownPoints_label") == totalPoints() &&
               (whole || child<QLabel>(window.get(), "drawnPoints_label")->isVisible());
    })) << figure("shownPoints_label")
        << " of " << totalPoints();
}

TEST_F(DisplayModeTest, TheChoiceAndItsCountAreKept) {
    startSimulator("LX30");
    pick(3);
    countBox()->setValue(7);
    pick(2);
    countBox()->setValue(4);
    window.reset();
    window = std::make_unique<MainWindow>();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_EQ(modes()->currentText(), "Last N frames");
    EXPECT_EQ(countBox()->value(), 4);
    EXPECT_TRUE(child<QAction>(window.get(), "actionDisplay_last_frames")->isChecked());
    pick(3);
    EXPECT_EQ(countBox()->value(), 7);
}

} // namespace
} // namespace viewer_test
