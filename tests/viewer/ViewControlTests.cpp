// Region helper and "Set to uniform" through the window's menus.
#include "WindowFixture.h"

#include <QAction>
#include <QDoubleSpinBox>
#include <QRegularExpression>
#include <QVTKOpenGLNativeWidget.h>

#include <vtkActor.h>
#include <vtkActorCollection.h>
#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkMapper.h>
#include <vtkPolyData.h>
#include <vtkRenderer.h>
#include <vtkRendererCollection.h>

#include <cmath>

namespace viewer_test {
namespace {

class ViewTest : public WindowTest {
protected:
    void openOn(const char* serial) {
        device->setSerial(serial);
        openWindow();
    }

    vtkRenderer* renderer() {
        return widget<QVTKOpenGLNativeWidget>("lidarQvtkWidget")
            ->renderWindow()
            ->GetRenderers()
            ->GetFirstRenderer();
    }

    // The helper is the actor added after the cloud's.
    vtkActor* helper() {
        vtkActorCollection* actors = renderer()->GetActors();
        EXPECT_EQ(actors->GetNumberOfItems(), 2);
        return vtkActor::SafeDownCast(actors->GetItemAsObject(1));
    }

    vtkPolyData* helperData() {
        return vtkPolyData::SafeDownCast(helper()->GetMapper()->GetInput());
    }

    void click(const char* name) { QTest::mouseClick(widget<QWidget>(name), Qt::LeftButton); }

    void setValue(const char* name, double value) { widget<QDoubleSpinBox>(name)->setValue(value); }

    double lines() { return widget<QDoubleSpinBox>("nLinesDoubleSpinBox")->value(); }
};

TEST_F(ViewTest, HelperDrawsTheRaysOfTheScanType) {
    openOn("SN-LX30-31");
    EXPECT_EQ(helperData()->GetNumberOfLines(), 0);

    click("boundedradioButton");
    setValue("azMax_doubleSpinBox", 90);
    vtkPolyData* bounded = helperData();
    ASSERT_EQ(bounded->GetNumberOfLines(), 2);
    // Both rays point at azMax = 90, i.e. along +x, one at each elevation limit.
    for (vtkIdType id : {2, 4}) {
        double p[3];
        bounded->GetPoint(id, p);
        EXPECT_NEAR(p[1], 0.0, 1e-6);
        EXPECT_NEAR(p[0], std::cos(35.0 * M_PI / 180.0), 1e-6);
    }

    click("regionradioButton");
    EXPECT_EQ(helperData()->GetNumberOfLines(), 4);
    click("fullFieldradioButton");
    EXPECT_EQ(helperData()->GetNumberOfLines(), 0);
}

TEST_F(ViewTest, HiddenHelperStaysHiddenAcrossRebuilds) {
    openOn("SN-LX30-31");
    click("regionradioButton");
    EXPECT_TRUE(helper()->GetVisibility());
    widget<QAction>("actionGet_current_region")->trigger();
    EXPECT_FALSE(helper()->GetVisibility());

    setValue("elMax_doubleSpinBox", 10);
    EXPECT_FALSE(helper()->GetVisibility());
    widget<QAction>("actionGet_current_region")->trigger();
    EXPECT_TRUE(helper()->GetVisibility());
    double p[3];
    helperData()->GetPoint(4, p);
    EXPECT_NEAR(p[2], std::sin(10.0 * M_PI / 180.0), 1e-6);
}

TEST_F(ViewTest, UniformLinesFollowModelAndScanType) {
    openOn("SN-LX30-31");
    widget<QAction>("actionSet_uniform")->trigger();
    EXPECT_EQ(lines(), 972);
    click("regionradioButton");
    widget<QAction>("actionSet_uniform")->trigger();
    EXPECT_EQ(lines(), 1060);

    click("fullFieldradioButton");
    widget<QAction>("actionLX20")->trigger();
    widget<QAction>("actionSet_uniform")->trigger();
    EXPECT_EQ(lines(), 388);
}

TEST_F(ViewTest, UniformLeavesLinesAloneWhereNoSpacingIsDefined) {
    openOn("SN-GENERIC-31");
    widget<QAction>("actionSet_uniform")->trigger();
    EXPECT_DOUBLE_EQ(lines(), 99.99);
    EXPECT_TRUE(logLines(window.get()).last().startsWith("Set to uniform: "));

    widget<QAction>("actionLX30")->trigger();
    click("regionradioButton");
    setValue("azMin_doubleSpinBox", 100);
    setValue("azMax_doubleSpinBox", 100);
    widget<QAction>("actionSet_uniform")->trigger();
    EXPECT_DOUBLE_EQ(lines(), 99.99);
}

} // namespace
} // namespace viewer_test
