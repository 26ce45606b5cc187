// The view of a real scan from the simulator: framed from behind the device as the points
// arrive, and framed again after "Reset scene" or a camera the operator moved away.
#include "ScenePieces.h"
#include "SimulatorFixture.h"

#include <QAction>
#include <QDoubleSpinBox>
#include <QImage>
#include <QSignalSpy>
#include <QVTKOpenGLNativeWidget.h>

#include <vtkActor.h>
#include <vtkActorCollection.h>
#include <vtkCamera.h>
#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkMapper.h>
#include <vtkPolyData.h>
#include <vtkRenderer.h>
#include <vtkRendererCollection.h>

#include <algorithm>

namespace viewer_test {
namespace {

// Where the cloud lands on the screen, as shares of the view.
struct ScreenBox {
    double width = 0.0;  // share of the view's width between the leftmost and rightmost point
    double height = 0.0; // same, vertically
    double inside = 0.0; // share of the points inside the view
};

class SceneTest : public SimulatorTest {
protected:
    QVTKOpenGLNativeWidget* view() {
        return child<QVTKOpenGLNativeWidget>(window.get(), "lidarQvtkWidget");
    }

    vtkRenderer* renderer() { return view()->renderWindow()->GetRenderers()->GetFirstRenderer(); }

    ScreenBox screenBox() {
        vtkRenderer* r = renderer();
        const int* size = r->GetSize();
        const std::vector<std::array<double, 3>> drawn = drawnCloudPoints(r);
        const auto n = static_cast<vtkIdType>(drawn.size());
        const vtkIdType stride = std::max<vtkIdType>(1, n / 5000);
        double left = size[0], right = 0, bottom = size[1], top = 0;
        vtkIdType seen = 0;
        vtkIdType inside = 0;
        for (vtkIdType i = 0; i < n; i += stride) {
            const std::array<double, 3>& p = drawn[static_cast<std::size_t>(i)];
            r->SetWorldPoint(p[0], p[1], p[2], 1.0);
            r->WorldToDisplay();
            double d[3];
            r->GetDisplayPoint(d);
            ++seen;
            if (d[0] < 0 || d[0] > size[0] || d[1] < 0 || d[1] > size[1] || d[2] < 0 || d[2] > 1) {
                continue;
            }
            ++inside;
            left = std::min(left, d[0]);
            right = std::max(right, d[0]);
            bottom = std::min(bottom, d[1]);
            top = std::max(top, d[1]);
        }
        ScreenBox box;
        if (inside > 0) {
            box.width = (right - left) / size[0];
            box.height = (top - bottom) / size[1];
        }
        box.inside = seen > 0 ? static_cast<double>(inside) / seen : 0.0;
        return box;
    }

    // Share of the view's pixels that are not background.
    double litShare() {
        const QImage image = view()->grabFramebuffer();
        const QRgb background = qRgb(0, 0, 0);
        long lit = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                lit += (image.pixel(x, y) & 0xffffff) != (background & 0xffffff);
            }
        }
        return static_cast<double>(lit) / (static_cast<double>(image.width()) * image.height());
    }

    void setOverlays(bool shown) {
        for (const char* name : {"actionColour_legend", "actionGround_grid"}) {
            child<QAction>(window.get(), name)->setChecked(shown);
        }
    }

    // A full-field scan that covers the room in two seconds, with the laser streaming.
    void scanTheRoom() {
        click("homePushButton");
        ASSERT_TRUE(waitUntil([&] { return logLines(window.get()).last().startsWith("Home: "); }));
        child<QDoubleSpinBox>(window.get(), "AzSpeedDoubleSpinBox")->setValue(15);
        child<QDoubleSpinBox>(window.get(), "nLinesDoubleSpinBox")->setValue(30);
        click("scanPushButton");
        click("startLaserPushButton");
        ASSERT_TRUE(waitUntil([&] { return totalPoints() > 45000; }, std::chrono::seconds(10)));
    }
};

TEST_F(SceneTest, AFullFieldScanFillsTheDefaultView) {
    startSimulator("LX30");
    window->resize(1280, 800);
    scanTheRoom();
    // Framed as the cloud grows: the box is judged once it fills the view, or at the deadline.
    ScreenBox box;
    waitUntil([&] {
        box = screenBox();
        return box.inside > 0.99 && std::max(box.width, box.height) > 0.7 &&
               box.width * box.height > 0.3;
    });
    saveScreenshots("full-field-default-view");
    EXPECT_GT(box.inside, 0.99);
    EXPECT_GT(std::max(box.width, box.height), 0.7) << box.width << " x " << box.height;
    EXPECT_GT(box.width * box.height, 0.3) << box.width << " x " << box.height;

    // Seen from behind the device (azimuth 0 ahead along +y), z up.
    vtkCamera* camera = renderer()->GetActiveCamera();
    double position[3], focal[3], up[3];
    camera->GetPosition(position);
    camera->GetFocalPoint(focal);
    camera->GetViewUp(up);
    EXPECT_LT(position[1], focal[1]);
    EXPECT_GT(up[2], 0.9);

    setOverlays(false);
    // Points of one pixel without multisampling: some 45,000 of them light about 4 % of the
    // view; mostly black would be well under 1 %. A loaded machine's frame budget draws fewer, and
    // they light a share in proportion.
    double lit = 0.0;
    double wanted = 0.0;
    std::size_t drawn = 0;
    EXPECT_TRUE(waitUntil([&] {
        drawn = drawnCloudPoints(renderer()).size();
        wanted = 0.02 * std::min(1.0, static_cast<double>(drawn) / 45000.0);
        lit = litShare();
        return lit > wanted;
    })) << lit
        << " lit with " << drawn << " points drawn, wanted " << wanted;
    setOverlays(true);
}

TEST_F(SceneTest, ResetSceneAndFitViewFrameTheNewPoints) {
    startSimulator("LX30");
    scanTheRoom();

    // The operator turns the camera away from the cloud; "Reset scene" frames what comes next.
    vtkCamera* camera = renderer()->GetActiveCamera();
    QTest::mouseClick(view(), Qt::LeftButton);
    camera->SetPosition(0, -1e6, 0);
    camera->SetFocalPoint(0, -1.1e6, 0);
    renderer()->ResetCameraClippingRange();
    child<QAction>(window.get(), "actionClear_Scene")->trigger();
    ASSERT_TRUE(waitUntil([&] { return totalPoints() > 20000; }, std::chrono::seconds(5)));
    EXPECT_TRUE(waitUntil([&] { return screenBox().inside > 0.99; })) << screenBox().inside;

    // Turned away again without a reset: the view stays where the operator put it until F.
    QTest::mouseClick(view(), Qt::LeftButton);
    camera->SetPosition(0, -1e6, 0);
    camera->SetFocalPoint(0, -1.1e6, 0);
    // Refreshes that took in more of the scan, each of which would have framed it if following.
    for (int refresh = 0; refresh < 3; ++refresh) {
        ASSERT_TRUE(waitForDisplayRefresh(window.get())) << refresh;
    }
    EXPECT_LT(screenBox().inside, 0.01);
    QSignalSpy fits(child<QAction>(window.get(), "actionFit_view"), &QAction::triggered);
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(view(), Qt::Key_F);
    EXPECT_TRUE(waitUntil([&] { return fits.count() > 0; }));
    EXPECT_EQ(fits.count(), 1);
    EXPECT_GT(screenBox().inside, 0.99);
}

} // namespace
} // namespace viewer_test
