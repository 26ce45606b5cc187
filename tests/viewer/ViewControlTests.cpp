// Region helper and "Set to uniform" through the window's menus.
#include "ScenePieces.h"
#include "WindowFixture.h"

#include "Sentova/LaserPacket.h"

#include <QAction>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QVTKOpenGLNativeWidget.h>

#include <vtkActor.h>
#include <vtkActor2DCollection.h>
#include <vtkActorCollection.h>
#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkLookupTable.h>
#include <vtkMapper.h>
#include <vtkPolyData.h>
#include <vtkProperty.h>
#include <vtkRenderer.h>
#include <vtkRendererCollection.h>
#include <vtkScalarBarActor.h>

#include <cmath>
#include <fstream>

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

    vtkActor* helper() {
        vtkActor* found = regionHelper(renderer());
        EXPECT_NE(found, nullptr);
        return found;
    }

    vtkPolyData* helperData() {
        return vtkPolyData::SafeDownCast(helper()->GetMapper()->GetInput());
    }

    void setValue(const char* name, double value) { widget<QDoubleSpinBox>(name)->setValue(value); }

    double lines() { return widget<QDoubleSpinBox>("nLinesDoubleSpinBox")->value(); }

    vtkScalarBarActor* legend() {
        vtkActor2DCollection* overlays = renderer()->GetActors2D();
        for (int i = 0; i < overlays->GetNumberOfItems(); ++i) {
            if (auto* bar = vtkScalarBarActor::SafeDownCast(overlays->GetItemAsObject(i))) {
                return bar;
            }
        }
        return nullptr;
    }

    // The size the cloud's points are drawn with; a point is shown first if there is none.
    float pointSize() {
        if (cloudActors(renderer()).empty()) {
            window->LaserDataCallback({{0.0, 0.0, 2000.0, 0, 100.0, 0.0, 0.0}}, 0);
            EXPECT_TRUE(waitUntil([&] { return !cloudActors(renderer()).empty(); }));
        }
        return cloudActors(renderer()).front()->GetProperty()->GetPointSize();
    }

    // One datagram of points with these amplitudes, straight ahead at 2 m.
    void sendAmplitudes(const std::vector<std::uint16_t>& amplitudes) {
        std::vector<tavrel::LaserRecord> records;
        for (std::size_t i = 0; i < amplitudes.size(); ++i) {
            tavrel::LaserRecord record;
            record.azimuth = static_cast<double>(i);
            record.range = 2000;
            record.amplitude = amplitudes[i];
            records.push_back(record);
        }
        device->sendData(static_cast<std::uint16_t>(processDataPort()),
                         tavrel::encodeLaserPacket(records));
    }
};

TEST_F(ViewTest, HelperDrawsTheOutlineOfTheScanType) {
    openOn("SN-LX30-31");
    EXPECT_EQ(helperData()->GetNumberOfLines(), 0);

    // Bounded elevation: both limits all round (two circles, four rays to each), whatever the
    // disabled azimuth limits say.
    click("boundedradioButton");
    setValue("azMax_doubleSpinBox", 90);
    vtkPolyData* bounded = helperData();
    ASSERT_EQ(bounded->GetNumberOfLines(), 10);
    double bounds[6];
    bounded->GetBounds(bounds);
    EXPECT_LT(bounds[0], -0.5 * bounds[1]);
    EXPECT_LT(bounds[2], -0.5 * bounds[3]);

    click("regionradioButton");
    EXPECT_EQ(helperData()->GetNumberOfLines(), 6); // four rays, two arcs
    click("fullFieldradioButton");
    EXPECT_EQ(helperData()->GetNumberOfLines(), 0);
}

TEST_F(ViewTest, HelperRaysReachOutIntoTheScene) {
    openOn("SN-LX30-31");
    click("regionradioButton");
    double p[3];
    helperData()->GetPoint(1, p);
    // Before any data the rays have the stored (or default) length of metres, not one unit.
    EXPECT_GT(std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]), 1000.0);
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
    EXPECT_NEAR(p[2] / std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]),
                std::sin(10.0 * M_PI / 180.0), 1e-6);
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

TEST_F(ViewTest, UniformCountsTheSweepAcrossZero) {
    openOn("SN-LX30-31");
    click("regionradioButton");
    setValue("AzSpeedDoubleSpinBox", 15);
    setValue("azMin_doubleSpinBox", 345);
    setValue("azMax_doubleSpinBox", 15);
    widget<QAction>("actionSet_uniform")->trigger();
    // 30 degrees swept: 15 x 30 / 25000 = 0.018 degrees between points, 70 / 0.018 lines.
    EXPECT_EQ(lines(), 3888);
}

TEST_F(ViewTest, LegendShowsTheIntensityRangeAndFollowsIt) {
    openOn("SN-LX30-31");
    ASSERT_NE(legend(), nullptr);
    EXPECT_TRUE(legend()->GetVisibility());
    EXPECT_STREQ(legend()->GetTitle(), "Intensity");

    click("startLaserPushButton");
    sendAmplitudes({1200, 1500, 3400, 2000});
    ASSERT_TRUE(waitUntil([&] {
        const double* range = legend()->GetLookupTable()->GetRange();
        return range[0] == 1200 && range[1] == 3400;
    }));
    // The bar's ends carry the colours of the range's ends: red at the minimum, blue at the top.
    auto* table = vtkLookupTable::SafeDownCast(legend()->GetLookupTable());
    ASSERT_NE(table, nullptr);
    double low[4], high[4];
    table->GetTableValue(0, low);
    table->GetTableValue(table->GetNumberOfTableValues() - 1, high);
    EXPECT_GT(low[0], 0.9);
    EXPECT_LT(low[2], 0.1);
    EXPECT_GT(high[2], 0.9);
    EXPECT_LT(high[0], 0.1);
    EXPECT_STREQ(legend()->GetLabelFormat(), "%.0f");

    widget<QAction>("actionColour_legend")->trigger();
    EXPECT_FALSE(legend()->GetVisibility());
    EXPECT_FALSE(QSettings().value("view/legend").toBool());
}

TEST_F(ViewTest, PointSizeAndOverlaysAreKeptForTheNextRun) {
    openOn("SN-LX30-31");
    EXPECT_EQ(pointSize(), 1.0f);
    EXPECT_TRUE(widget<QAction>("actionPoint_size_1")->isChecked());
    widget<QAction>("actionPoint_size_4")->trigger();
    EXPECT_EQ(pointSize(), 4.0f);
    widget<QAction>("actionGround_grid")->trigger();

    window.reset();
    openWindow();
    EXPECT_EQ(pointSize(), 4.0f);
    EXPECT_TRUE(widget<QAction>("actionPoint_size_4")->isChecked());
    EXPECT_FALSE(widget<QAction>("actionPoint_size_1")->isChecked());
    EXPECT_FALSE(widget<QAction>("actionGround_grid")->isChecked());

    // A size outside 1 to 5 in the store gives the default.
    window.reset();
    QSettings().setValue("view/pointSize", 9);
    openWindow();
    EXPECT_EQ(pointSize(), 1.0f);
}

TEST_F(ViewTest, SettingsMenuShowsTheCurrentModel) {
    openOn("SN-LX20-31");
    auto* lx30 = widget<QAction>("actionLX30");
    auto* lx20 = widget<QAction>("actionLX20");
    auto* generic = widget<QAction>("actionGeneric");
    EXPECT_TRUE(lx20->isChecked());
    EXPECT_FALSE(lx30->isChecked());
    EXPECT_FALSE(generic->isChecked());
    generic->trigger();
    EXPECT_TRUE(generic->isChecked());
    EXPECT_FALSE(lx20->isChecked());
    EXPECT_EQ(widget<QStackedWidget>("stackedWidget")->currentIndex(), 2);
    // Choosing the current model again keeps it checked.
    generic->trigger();
    EXPECT_TRUE(generic->isChecked());
}

TEST_F(ViewTest, IntensityDialogsShowTheRangeOfAFileBeyondDeviceAmplitudes) {
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    openOn("SN-LX30-31");
    QTemporaryDir dir;
    const QString file = dir.filePath("bright.pcd");
    std::ofstream(QFile::encodeName(file).toStdString())
        << "# .PCD v0.7 - Point Cloud Data file format\nVERSION 0.7\nFIELDS x y z intensity\n"
           "SIZE 4 4 4 4\nTYPE F F F U\nCOUNT 1 1 1 1\nWIDTH 3\nHEIGHT 1\n"
           "VIEWPOINT 0 0 0 1 0 0 0\nPOINTS 3\nDATA ascii\n"
           "1 0 0 70000\n2 0 0 85000\n3 0 0 100000\n";
    onNextModal([file](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->selectFile(file);
        QMetaObject::invokeMethod(dialog, "accept");
    });
    ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "askForPCDFileToLoad"));
    ASSERT_TRUE(waitUntil([&] { return widget<QLabel>("totalPoints_label")->text() == "3"; }));
    ASSERT_TRUE(waitUntil([&] {
        return legendRange(renderer()) == std::array<double, 2>{70000, 100000};
    }));

    // Each dialog opens on its end of the range and accepts the other end's values.
    const auto shown = [&](const char* slot) {
        std::pair<int, int> valueAndMaximum{-1, -1};
        onNextModal([&valueAndMaximum](QWidget* modal) {
            auto* input = qobject_cast<QInputDialog*>(modal);
            ASSERT_NE(input, nullptr);
            valueAndMaximum = {input->intValue(), input->intMaximum()};
            input->reject();
        });
        EXPECT_TRUE(QMetaObject::invokeMethod(window.get(), slot));
        return valueAndMaximum;
    };
    EXPECT_EQ(shown("askForMaximumIntensity"), std::make_pair(100000, 100000));
    EXPECT_EQ(shown("askForMinimumIntensity"), std::make_pair(70000, 100000));
}

TEST_F(ViewTest, MenuHoversKeepTheStatusMessage) {
    openOn("SN-LX30-31");
    window->logMessage(QString("Home: done"));
    // A hovered entry of a menu bar's menu sends its (empty) tip through the menu bar.
    widget<QAction>("actionLoad")->showStatusText(widget<QWidget>("menuBar"));
    widget<QAction>("actionQuit")->showStatusText(window.get());
    EXPECT_EQ(widget<QStatusBar>("statusBar")->currentMessage(), "Home: done");
}

} // namespace
} // namespace viewer_test
