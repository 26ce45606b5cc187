// Colouring the cloud by a field, in the window against the simulator: the legend's title and
// the drawn colours follow the chosen field, and a field the model does not measure says so.
#include "SimulatorFixture.h"

#include <QComboBox>

#include <vtkActor2DCollection.h>
#include <vtkRenderWindow.h>
#include <vtkRenderer.h>
#include <vtkRendererCollection.h>
#include <vtkScalarBarActor.h>

#include <string>

namespace viewer_test {
namespace {

class ColourTest : public SimulatorTest {
protected:
    QVTKOpenGLNativeWidget* view() {
        return child<QVTKOpenGLNativeWidget>(window.get(), "lidarQvtkWidget");
    }

    std::string legendTitle() {
        vtkRenderer* renderer = view()->renderWindow()->GetRenderers()->GetFirstRenderer();
        vtkActor2DCollection* actors = renderer->GetActors2D();
        actors->InitTraversal();
        while (vtkActor2D* actor = actors->GetNextActor2D()) {
            if (auto* legend = vtkScalarBarActor::SafeDownCast(actor)) {
                return legend->GetTitle() ? legend->GetTitle() : "";
            }
        }
        return {};
    }

    // Pixels that differ between two grabs of the view.
    static long differing(const QImage& a, const QImage& b) {
        long n = 0;
        for (int y = 0; y < std::min(a.height(), b.height()); ++y) {
            for (int x = 0; x < std::min(a.width(), b.width()); ++x) {
                n += (a.pixel(x, y) & 0xffffff) != (b.pixel(x, y) & 0xffffff);
            }
        }
        return n;
    }

    // A still cloud: the LX30 streams a while and stops.
    void streamAndStop() {
        click("startLaserPushButton");
        ASSERT_TRUE(waitUntil([&] { return totalPoints() > 5000; }, std::chrono::seconds(10)));
        click("stopLaserPushButton");
        showAllSent();
    }

    QComboBox* fieldCombo() { return child<QComboBox>(window.get(), "colourFieldComboBox"); }
    QComboBox* mapCombo() { return child<QComboBox>(window.get(), "colourMapComboBox"); }
};

TEST_F(ColourTest, ColouringByRangeRetitlesTheLegendAndRecolours) {
    startSimulator("LX30");
    EXPECT_EQ(fieldCombo()->currentText(), "Intensity");
    EXPECT_EQ(mapCombo()->currentText(), "Min/max colours");
    streamAndStop();
    EXPECT_EQ(legendTitle(), "Intensity");
    const QImage byIntensity = view()->grabFramebuffer();

    fieldCombo()->setCurrentText("Range");
    ASSERT_TRUE(waitForDisplayRefresh(window.get()));
    EXPECT_EQ(legendTitle(), "Range (mm)");
    QImage byRange;
    EXPECT_TRUE(waitUntil([&] {
        byRange = view()->grabFramebuffer();
        return differing(byIntensity, byRange) > 1000;
    })) << differing(byIntensity, byRange);

    // Another map over the same field draws other colours again.
    mapCombo()->setCurrentText("Viridis");
    EXPECT_TRUE(waitUntil([&] {
        return differing(byRange, view()->grabFramebuffer()) > 1000 &&
               legendTitle() == "Range (mm)";
    }));

    // Back to intensity on its own scale: drawn as at first.
    fieldCombo()->setCurrentText("Intensity");
    mapCombo()->setCurrentText("Min/max colours");
    EXPECT_TRUE(waitUntil([&] {
        return differing(byIntensity, view()->grabFramebuffer()) == 0 &&
               legendTitle() == "Intensity";
    })) << differing(byIntensity, view()->grabFramebuffer());
}

TEST_F(ColourTest, TheChoiceIsKeptForTheNextWindow) {
    startSimulator("LX30");
    fieldCombo()->setCurrentText("Height");
    mapCombo()->setCurrentText("Turbo");
    window.reset();
    window = std::make_unique<MainWindow>();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    ASSERT_TRUE(settle());
    EXPECT_EQ(fieldCombo()->currentText(), "Height");
    EXPECT_EQ(mapCombo()->currentText(), "Turbo");
}

TEST_F(ColourTest, AFieldTheModelDoesNotMeasureSaysSo) {
    startSimulator("LX20");
    fieldCombo()->setCurrentText("Reflectance");
    EXPECT_TRUE(waitUntil([&] {
        return legendTitle() == "Reflectance: not measured by this model";
    })) << legendTitle();
    fieldCombo()->setCurrentText("Range");
    EXPECT_TRUE(waitUntil([&] { return legendTitle() == "Range (mm)"; })) << legendTitle();
}

} // namespace
} // namespace viewer_test
