// The frame budget in the real window: a buffer larger than a frame can draw is shown as a
// subsample, with "showing N of M" in the Stats box, while the window keeps answering. And the
// memory of a large buffer goes back when the buffer is emptied.
#include "ScenePieces.h"
#include "WindowFixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QInputDialog>
#include <QLabel>
#include <QTimer>
#include <QVTKOpenGLNativeWidget.h>

#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkRendererCollection.h>

#include <malloc.h>

#include <fstream>
#include <string>

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

    void setMaximum(int value) {
        onNextModal([value](QWidget* modal) {
            auto* dialog = qobject_cast<QInputDialog*>(modal);
            ASSERT_NE(dialog, nullptr);
            dialog->setIntValue(value);
            dialog->accept();
        });
        ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "askForMaximumPoints"));
    }

    // Bytes the allocator has handed out and not had back, in every arena.
    static std::size_t heapInUse() {
        const struct mallinfo2 info = mallinfo2();
        return info.uordblks + info.hblkhd;
    }

    static std::size_t residentBytes() {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("VmRSS:", 0) == 0) {
                return std::stoul(line.substr(6)) * 1024;
            }
        }
        return 0;
    }
};

TEST_F(DisplayBudgetTest, ABufferBeyondTheBudgetIsShownAsASubsampleAndSaysSo) {
    device->setSerial("SN-LX30-31");
    openWindow();
    setMaximum(10000000);
    // Two million points: more than software OpenGL draws in a frame.
    feed(2000000);
    auto* drawn = widget<QLabel>("drawnPoints_label");
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == "2000000"; }, std::chrono::seconds(30)))
        << totalPoints().toStdString();
    ASSERT_TRUE(waitUntil([&] { return drawn->isVisible(); }, std::chrono::seconds(10)));
    // The figure has a row of its own in the Stats box, clear of every other one there.
    QApplication::processEvents();
    for (const QLabel* other : drawn->parentWidget()->findChildren<QLabel*>()) {
        if (other != drawn && other->isVisible()) {
            EXPECT_FALSE(other->geometry().intersects(drawn->geometry()))
                << other->text().toStdString() << " overlaps " << drawn->text().toStdString();
        }
    }
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

TEST_F(DisplayBudgetTest, ResetSceneAndSetMaxGiveTheBufferMemoryBack) {
    device->setSerial("SN-LX30-31");
    openWindow();
    setMaximum(10000000);
    // The figures of the empty buffer once the display has let go of what it held.
    ASSERT_TRUE(waitForDisplayRefresh(window.get()));
    const std::size_t emptyHeap = heapInUse();
    const std::size_t emptyResident = residentBytes();
    constexpr std::size_t kMiB = 1024 * 1024;

    // A million points: the buffer and the display's copy take well over 50 MB.
    feed(1000000);
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == "1000000"; }, std::chrono::seconds(30)))
        << totalPoints().toStdString();
    EXPECT_GT(heapInUse(), emptyHeap + 50 * kMiB);
    EXPECT_GT(residentBytes(), emptyResident + 50 * kMiB);

    // Back to within a few megabytes of the empty buffer, in use and resident.
    auto givenBack = [&] {
        return totalPoints() == "0" && heapInUse() < emptyHeap + 8 * kMiB &&
               residentBytes() < emptyResident + 16 * kMiB;
    };
    auto mibAbove = [](std::size_t now, std::size_t base) {
        return std::to_string((static_cast<long long>(now) - static_cast<long long>(base)) /
                              static_cast<long long>(kMiB));
    };
    auto figures = [&] {
        return "in use " + mibAbove(heapInUse(), emptyHeap) + " MiB above the empty buffer, " +
               "resident " + mibAbove(residentBytes(), emptyResident) + " MiB";
    };
    QMetaObject::invokeMethod(window.get(), "resetPoints");
    EXPECT_TRUE(waitUntil(givenBack, std::chrono::seconds(20))) << figures();

    // The same after a new maximum, which empties the buffer too.
    feed(1000000);
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == "1000000"; }, std::chrono::seconds(30)));
    setMaximum(5000);
    EXPECT_TRUE(waitUntil(givenBack, std::chrono::seconds(20))) << figures();
}

} // namespace
} // namespace viewer_test
