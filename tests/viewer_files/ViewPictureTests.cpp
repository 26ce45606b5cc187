// The View menu's standard views and camera bookmarks, and "Save screenshot…", on a real window.
#include "ViewFixture.h"

#include <QImage>
#include <QMenu>
#include <QSet>

namespace viewer_test {
namespace {

const Patch kAhead{340.0, 20.0, -10.0, 15.0};
const Patch kBeside{80.0, 100.0, 0.0, 5.0};

struct Camera {
    std::array<double, 3> position{}, focalPoint{}, viewUp{};
    double viewAngle = 0.0;
    bool parallel = false;
    double parallelScale = 0.0;
    bool operator==(const Camera& o) const {
        return position == o.position && focalPoint == o.focalPoint && viewUp == o.viewUp &&
               viewAngle == o.viewAngle && parallel == o.parallel &&
               parallelScale == o.parallelScale;
    }
};

class ViewPictureTest : public ViewTest {
protected:
    Camera camera() {
        vtkCamera* c = renderer()->GetActiveCamera();
        Camera k;
        c->GetPosition(k.position.data());
        c->GetFocalPoint(k.focalPoint.data());
        c->GetViewUp(k.viewUp.data());
        k.viewAngle = c->GetViewAngle();
        k.parallel = c->GetParallelProjection() != 0;
        k.parallelScale = c->GetParallelScale();
        return k;
    }

    static std::array<double, 3> direction(const Camera& k) {
        std::array<double, 3> d{};
        double l = 0.0;
        for (int i = 0; i < 3; ++i) {
            d[i] = k.focalPoint[i] - k.position[i];
            l += d[i] * d[i];
        }
        for (double& v : d) {
            v /= std::sqrt(l);
        }
        return d;
    }

    QMenu* bookmarks() { return window->findChild<QMenu*>("menuCamera_bookmarks"); }

    // The entry of a bookmark in menu (the bookmarks' or the delete one), or null.
    static QAction* entry(QMenu* menu, const QString& name) {
        for (QAction* a : menu->actions()) {
            if (a->data().toString() == name) {
                return a;
            }
        }
        return nullptr;
    }

    void saveBookmark(const QString& name) {
        onNextModal([name](QWidget* modal) {
            auto* input = qobject_cast<QInputDialog*>(modal);
            ASSERT_NE(input, nullptr);
            input->setTextValue(name);
            input->accept();
        });
        action("actionSave_bookmark")->trigger();
    }

    // "Save screenshot…" with the file dialog answered with name and the size with scale.
    void saveScreenshot(const QString& name, int scale) {
        onNextModal([name, scale](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            ASSERT_NE(dialog, nullptr);
            dialog->selectFile(name);
            if (auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit")) {
                edit->setText(name);
            }
            onNextModal([scale](QWidget* next) {
                auto* input = qobject_cast<QInputDialog*>(next);
                ASSERT_NE(input, nullptr);
                input->setIntValue(scale);
                input->accept();
            });
            QMetaObject::invokeMethod(dialog, "accept");
        });
        action("actionSaveScreenshot")->trigger();
    }

    static int colours(const QImage& image) {
        QSet<QRgb> seen;
        for (int y = 0; y < image.height(); y += 2) {
            for (int x = 0; x < image.width(); x += 2) {
                seen.insert(image.pixel(x, y));
            }
        }
        return seen.size();
    }
};

TEST_F(ViewPictureTest, StandardViewsLookAlongTheirAxesAtTheCloud) {
    openOn("SN-LX30-7");
    // The first live points since start-up are followed by the view whatever the camera did.
    feed(5);
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == "5"; }));
    loadPatches({kAhead, kBeside});

    action("actionView_top")->trigger();
    const Camera top = camera();
    EXPECT_NEAR(direction(top)[2], -1.0, 1e-9);
    EXPECT_NEAR(top.viewUp[1], 1.0, 1e-9);
    action("actionView_front")->trigger();
    EXPECT_NEAR(direction(camera())[1], 1.0, 1e-9);
    action("actionView_side")->trigger();
    EXPECT_NEAR(direction(camera())[0], -1.0, 1e-9);

    action("actionView_from_the_device")->trigger();
    const Camera device = camera();
    EXPECT_EQ(device.position, (std::array<double, 3>{0.0, 0.0, 0.0}));
    // Every point of the cloud ahead of the device is in the view.
    for (const DataPoint& p : patchPoints(kAhead)) {
        const QPointF s = onScreen(p);
        EXPECT_TRUE(QRectF(QPointF(0, 0), QSizeF(view()->size())).contains(s))
            << p.x << " " << p.y << " " << p.z;
    }
    // A standard view stops the view following the data: the next points leave it where it is.
    feed(20);
    ASSERT_TRUE(waitForDisplayRefresh(window.get()));
    EXPECT_TRUE(camera() == device);
}

TEST_F(ViewPictureTest, BookmarkRestoredAfterARestartGivesTheSameCamera) {
    openOn("SN-LX30-7");
    loadPatches({kAhead, kBeside});
    action("actionView_top")->trigger();
    action("actionToggle_perspective")->trigger();
    const QString name = "Über & über";
    saveBookmark(name);
    const Camera saved = camera();
    ASSERT_TRUE(saved.parallel);
    ASSERT_NE(entry(bookmarks(), name), nullptr);

    window.reset();
    openWindow();
    QAction* restore = entry(bookmarks(), name);
    ASSERT_NE(restore, nullptr);
    EXPECT_EQ(restore->text(), "Über && über");
    EXPECT_FALSE(camera() == saved);
    restore->trigger();
    EXPECT_TRUE(camera() == saved);

    // Deleted, it is gone after the next restart too.
    QMenu* remove = window->findChild<QMenu*>("menuDelete_bookmark");
    ASSERT_NE(remove, nullptr);
    ASSERT_NE(entry(remove, name), nullptr);
    entry(remove, name)->trigger();
    EXPECT_EQ(entry(bookmarks(), name), nullptr);
    window.reset();
    openWindow();
    EXPECT_EQ(entry(bookmarks(), name), nullptr);
    EXPECT_FALSE(window->findChild<QMenu*>("menuDelete_bookmark")->isEnabled());
}

TEST_F(ViewPictureTest, ScreenshotAtTheViewsSizeAndTwiceIt) {
    openOn("SN-LX30-7");
    loadPatches({kAhead, kBeside});
    const QSize size = view()->size() * view()->devicePixelRatioF();

    saveScreenshot(dir.filePath("view"), 1);
    const QString first = dir.filePath("view.png");
    ASSERT_TRUE(waitUntil([&] { return status().startsWith("Screenshot "); }))
        << status().toStdString();
    EXPECT_EQ(
        status(),
        QString("Screenshot %1 × %2 saved to %3.").arg(size.width()).arg(size.height()).arg(first));
    QImage image(first, "PNG");
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), size);
    // The background, the points' colours, the axes and the grid.
    EXPECT_GE(colours(image), 4);

    saveScreenshot(dir.filePath("large.PNG"), 2);
    const QString second = dir.filePath("large.PNG");
    ASSERT_TRUE(waitUntil([&] { return status().endsWith(second + "."); }))
        << status().toStdString();
    QImage large(second, "PNG");
    ASSERT_FALSE(large.isNull());
    EXPECT_EQ(large.size(), size * 2);
    EXPECT_GE(colours(large), 4);
}

} // namespace
} // namespace viewer_test
