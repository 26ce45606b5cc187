// Picking and measuring in the window's 3D view, on the points of a loaded file.
#include "PickFixture.h"
#include "WindowFixture.h"

#include <QFileDialog>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>

#include <vtkCamera.h>

#include <fstream>

namespace viewer_test {
namespace {

// A wall of 15 points 8 m ahead of the device, 2 m apart, each with an amplitude of its own;
// two of them are picked.
constexpr double kA[3] = {2000, 8000, 2000};
constexpr double kB[3] = {-4000, 8000, -2000};

class PickTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        ASSERT_TRUE(dir.isValid());
        openWindow();
        loadWall();
    }

    void loadWall() {
        const QString file = dir.filePath("wall.pcd");
        std::ofstream out(QFile::encodeName(file).toStdString());
        out << "# .PCD v0.7 - Point Cloud Data file format\nVERSION 0.7\nFIELDS x y z intensity\n"
               "SIZE 4 4 4 4\nTYPE F F F U\nCOUNT 1 1 1 1\nWIDTH 15\nHEIGHT 1\n"
               "VIEWPOINT 0 0 0 1 0 0 0\nPOINTS 15\nDATA ascii\n";
        int amplitude = 1000;
        for (int x = -4000; x <= 4000; x += 2000) {
            for (int z = -2000; z <= 2000; z += 2000) {
                out << x << " 8000 " << z << " " << (x == 2000 && z == 2000 ? 1234 : amplitude++)
                    << "\n";
            }
        }
        out.close();
        onNextModal([file](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            ASSERT_NE(dialog, nullptr);
            dialog->selectFile(file);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "askForPCDFileToLoad"));
        ASSERT_TRUE(waitUntil([&] { return labelText(window.get(), "totalPoints_label") == "15"; },
                              std::chrono::seconds(10)));
    }

    QPoint at(const double (&p)[3]) { return onScreen(window.get(), p[0], p[1], p[2]); }

    bool pickShows(const QString& text) {
        return waitUntil([&] { return labelText(window.get(), "pickLabel").contains(text); });
    }

    QTemporaryDir dir;
};

TEST_F(PickTest, CtrlClickOnAPointOfAFileShowsItsValuesAndMarksIt) {
    const QPoint a = at(kA);
    EXPECT_FALSE(drawnNear(window.get(), a, 4, marker));
    clickView(window.get(), a, Qt::ControlModifier);
    // The file has no angles: they come from x, y, z.
    ASSERT_TRUE(pickShows("Range 8485.3 mm")) << labelText(window.get(), "pickLabel").toStdString();
    const QString text = labelText(window.get(), "pickLabel");
    EXPECT_TRUE(text.contains("Az 14.036\u00b0")) << text.toStdString();
    EXPECT_TRUE(text.contains("El 13.633\u00b0")) << text.toStdString();
    EXPECT_TRUE(text.contains("x 2000.0  y 8000.0  z 2000.0")) << text.toStdString();
    EXPECT_TRUE(text.contains("Amplitude 1234")) << text.toStdString();
    // The generic model measures neither.
    EXPECT_TRUE(text.contains("Reflectance not measured")) << text.toStdString();
    EXPECT_TRUE(child<QLabel>(window.get(), "pickLabel")->isVisible());
    EXPECT_TRUE(drawnNear(window.get(), a, 4, marker));

    // Empty space picks nothing and keeps the readout.
    const QPoint between = (at(kA) + at(kB)) / 2 + QPoint(0, 3);
    clickView(window.get(), between, Qt::ControlModifier);
    EXPECT_TRUE(waitUntil(
        [&] { return window->statusBar()->currentMessage() == "No point under the cursor"; }));
    EXPECT_TRUE(labelText(window.get(), "pickLabel").contains("Amplitude 1234"));

    // A new file takes the mark away with the points it marked.
    loadWall();
    EXPECT_TRUE(waitUntil([&] { return !child<QLabel>(window.get(), "pickLabel")->isVisible(); }));
    EXPECT_FALSE(drawnNear(window.get(), a, 4, marker));
}

TEST_F(PickTest, APlainDragTurnsTheCameraAndAPlainClickPicksOnlyInPickMode) {
    vtkCamera* camera = sceneRenderer(window.get())->GetActiveCamera();
    double before[3];
    camera->GetPosition(before);
    // Not in pick mode: a click is the camera's.
    clickView(window.get(), at(kA), Qt::NoModifier);
    EXPECT_TRUE(labelText(window.get(), "pickLabel").isEmpty());

    auto* pickMode = window->findChild<QAction*>("actionPick_mode");
    ASSERT_NE(pickMode, nullptr);
    pickMode->trigger();
    ASSERT_TRUE(pickMode->isChecked());
    clickView(window.get(), at(kA), Qt::NoModifier);
    ASSERT_TRUE(pickShows("Amplitude 1234"));

    const QPoint centre = sceneView(window.get())->rect().center();
    dragView(window.get(), centre, centre + QPoint(120, 40));
    double after[3];
    camera->GetPosition(after);
    EXPECT_GT(std::hypot(after[0] - before[0], after[1] - before[1], after[2] - before[2]), 100.0);
    // The drag was no click: no ruler, the same readout.
    EXPECT_TRUE(labelText(window.get(), "rulerLabel").isEmpty());
    EXPECT_TRUE(labelText(window.get(), "pickLabel").contains("Amplitude 1234"));
}

TEST_F(PickTest, TwoPicksMakeARulerThatDeleteAndTheContextMenuClear) {
    QWidget* view = sceneView(window.get());
    clickView(window.get(), at(kA), Qt::ControlModifier);
    ASSERT_TRUE(pickShows("Amplitude 1234"));
    clickView(window.get(), at(kB), Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(pickShows("Range 9165.2 mm"));
    ASSERT_TRUE(waitUntil([&] {
        return labelText(window.get(), "rulerLabel").contains("Distance 7211.1 mm");
    })) << labelText(window.get(), "rulerLabel").toStdString();
    EXPECT_TRUE(labelText(window.get(), "rulerLabel").contains("\u0394az -40.601\u00b0"));
    const QPoint middle = (at(kA) + at(kB)) / 2;
    EXPECT_TRUE(drawnNear(window.get(), middle + (at(kA) - at(kB)) / 8, 3, rulerLine));

    // Escape keeps its meaning: the window's normal state, the ruler stays.
    QTest::keyClick(view, Qt::Key_Escape);
    EXPECT_FALSE(labelText(window.get(), "rulerLabel").isEmpty());
    QTest::keyClick(view, Qt::Key_Delete);
    EXPECT_TRUE(labelText(window.get(), "rulerLabel").isEmpty());
    EXPECT_FALSE(drawnNear(window.get(), middle + (at(kA) - at(kB)) / 8, 3, rulerLine));
    // The last pick stays marked.
    EXPECT_TRUE(labelText(window.get(), "pickLabel").contains("Range 9165.2 mm"));

    // In pick mode the second click ends the ruler; the context menu clears it.
    window->findChild<QAction*>("actionPick_mode")->trigger();
    clickView(window.get(), at(kA), Qt::NoModifier);
    ASSERT_TRUE(waitUntil(
        [&] { return labelText(window.get(), "rulerLabel").contains("Distance 7211.1 mm"); }));
    // A third starts again from its point.
    clickView(window.get(), at(kB), Qt::NoModifier);
    ASSERT_TRUE(waitUntil([&] { return labelText(window.get(), "rulerLabel").isEmpty(); }));
    clickView(window.get(), at(kA), Qt::NoModifier);
    ASSERT_TRUE(waitUntil([&] { return !labelText(window.get(), "rulerLabel").isEmpty(); }));
    ASSERT_TRUE(chooseFromViewMenu(window.get(), view->rect().center(), "Clear ruler"));
    EXPECT_TRUE(labelText(window.get(), "rulerLabel").isEmpty());
    EXPECT_TRUE(labelText(window.get(), "pickLabel").contains("Amplitude 1234"));
}

TEST_F(PickTest, PointsArrivingAfterTheIndexWasBuiltArePickedToo) {
    clickView(window.get(), at(kA), Qt::ControlModifier);
    ASSERT_TRUE(pickShows("Amplitude 1234"));
    // A point from the device in the gap above the wall's middle, after the file's points.
    const double el = std::atan2(1000.0, 8000.0) * 180.0 / M_PI;
    window->LaserDataCallback({{0.0, el, std::hypot(1000.0, 8000.0), 77, 4242.0, 0.0, 0.0}}, 0);
    ASSERT_TRUE(waitUntil([&] { return labelText(window.get(), "totalPoints_label") == "16"; }));
    clickView(window.get(), onScreen(window.get(), 0.0, 8000.0, 1000.0), Qt::ControlModifier);
    ASSERT_TRUE(pickShows("Amplitude 4242")) << labelText(window.get(), "pickLabel").toStdString();
    // It carries its angles.
    EXPECT_TRUE(labelText(window.get(), "pickLabel").contains("Az 0.000\u00b0  El 7.125\u00b0"));
    EXPECT_TRUE(labelText(window.get(), "pickLabel").contains("Time 77"));
}

TEST_F(PickTest, ARightDragZoomsTheCameraWithoutOpeningTheMenu) {
    QWidget* view = sceneView(window.get());
    auto* menu = window->findChild<QMenu*>("viewContextMenu");
    ASSERT_NE(menu, nullptr);
    QSignalSpy opened(menu, &QMenu::aboutToShow);
    vtkCamera* camera = sceneRenderer(window.get())->GetActiveCamera();
    const double before = camera->GetDistance();
    const QPoint from = view->rect().center();
    const QPoint to = from + QPoint(0, 80);
    sendMouse(view, QEvent::MouseButtonPress, from, Qt::RightButton, Qt::RightButton,
              Qt::NoModifier);
    for (int step = 1; step <= 5; ++step) {
        sendMouse(view, QEvent::MouseMove, from + (to - from) * step / 5, Qt::NoButton,
                  Qt::RightButton, Qt::NoModifier);
    }
    sendMouse(view, QEvent::MouseButtonRelease, to, Qt::RightButton, Qt::NoButton, Qt::NoModifier);
    EXPECT_GT(std::fabs(camera->GetDistance() - before), 1.0);
    // A right click after it opens the menu, once: the drag did not.
    clickView(window.get(), from, Qt::NoModifier, Qt::RightButton);
    ASSERT_TRUE(waitUntil([&] { return opened.count() > 0; }));
    EXPECT_EQ(opened.count(), 1);
    menu->close();
}

} // namespace
} // namespace viewer_test
