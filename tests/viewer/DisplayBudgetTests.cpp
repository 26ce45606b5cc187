// The frame budget in the real window: a buffer larger than a frame can draw is shown as a
// subsample, with "showing N of M" in the Stats box, while the window keeps answering.
#include "ScenePieces.h"
#include "WindowFixture.h"

#include <QElapsedTimer>
#include <QInputDialog>
#include <QLabel>
#include <QTimer>
#include <QVTKOpenGLNativeWidget.h>

#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkRendererCollection.h>

namespace viewer_test {
namespace {

class DisplayBudgetTest : public WindowTest {
protected:
    vtkRenderer* renderer() {
        return widget<QVTKOpenGLNativeWidget>("lidarQvtkWidget")
            ->renderWindow()
            ->GetRenderers()
            ->GetFirstRenderer();
    }

    // Hands the window n observations spread over a room, as the listener would.
    void feed(int n) {
        std::vector<tavrel::tavrel_rbe_obs_t> batch;
        for (int i = 0; i < n; ++i) {
            batch.push_back({-180.0 + (i % 3600) * 0.1, -30.0 + (i / 3600 % 60), 3000.0 + i % 1000,
                             static_cast<std::uint64_t>(i), static_cast<double>(i % 4000), 0.0,
                             0.0});
            if (batch.size() == 10000) {
                window->LaserDataCallback(batch, 0);
                batch.clear();
            }
        }
        window->LaserDataCallback(batch, 0);
    }

    QString totalPoints() { return widget<QLabel>("totalPoints_label")->text(); }
};

TEST_F(DisplayBudgetTest, ABufferBeyondTheBudgetIsShownAsASubsampleAndSaysSo) {
    device->setSerial("SN-LX30-31");
    openWindow();
    onNextModal([](QWidget* modal) {
        auto* dialog = qobject_cast<QInputDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->setIntValue(10000000);
        dialog->accept();
    });
    ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "askForMaximumPoints"));
    // Two million points: more than software OpenGL draws in a frame.
    feed(2000000);
    auto* drawn = widget<QLabel>("drawnPoints_label");
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == "2000000"; }, std::chrono::seconds(30)))
        << totalPoints().toStdString();
    ASSERT_TRUE(waitUntil([&] { return drawn->isVisible(); }, std::chrono::seconds(10)));
    const QString text = drawn->text();
    const QStringList words = text.split(' ');
    ASSERT_EQ(words.size(), 4) << text.toStdString();
    EXPECT_EQ(words[0], "showing");
    EXPECT_EQ(words[2], "of");
    EXPECT_EQ(words[3], "2000000");
    const long shown = words[1].toLong();
    EXPECT_GT(shown, 0);
    EXPECT_LT(shown, 2000000);
    EXPECT_EQ(static_cast<long>(drawnCloudPoints(renderer()).size()), shown);

    // The window answers between frames.
    QElapsedTimer clock;
    clock.start();
    bool fired = false;
    QTimer::singleShot(0, [&] { fired = true; });
    ASSERT_TRUE(waitUntil([&] { return fired; }));
    EXPECT_LT(clock.elapsed(), 500);

    // A buffer the frame can hold is drawn whole, and the figure goes.
    QMetaObject::invokeMethod(window.get(), "resetPoints");
    feed(2000);
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == "2000"; }));
    EXPECT_TRUE(waitUntil([&] { return !drawn->isVisible(); }));
    EXPECT_EQ(drawnCloudPoints(renderer()).size(), 2000u);
}

} // namespace
} // namespace viewer_test
