// "Select region" on a real window: a rectangle dragged over a loaded cloud sets the region
// scan's bounds from the points inside it, "Start Scan" sends them, and the points inside can be
// saved.
#include "ViewFixture.h"

#include "Formats.h"

#include "Sentova/CommandSerialiser.h"

namespace viewer_test {
namespace {

using RegionSelectTest = ViewTest;

const Patch kRight{40.0, 50.0, 5.0, 10.0};
const Patch kAcrossZero{355.0, 5.0, 20.0, 25.0};
const Patch kLeft{300.0, 310.0, -20.0, -12.0};

TEST_F(RegionSelectTest, DraggedRectangleSetsTheRegionAndStartScanUsesIt) {
    openOn("SN-LX30-7");
    const std::vector<Patch> patches{kRight, kAcrossZero, kLeft};
    loadPatches(patches);
    const QRect rect = around(kRight, {kAcrossZero, kLeft});

    QAction* mode = action("actionSelect_region");
    ASSERT_NE(mode, nullptr);
    mode->setChecked(true);
    const std::array<double, 3> before = cameraPosition();
    drag(rect);
    ASSERT_TRUE(waitUntil([&] { return selected(); })) << status().toStdString();
    EXPECT_EQ(status(), "Selected 66 points: azimuth 40.00 to 50.00, elevation 5.00 to 10.00.");
    EXPECT_EQ(spinBoxes(), (std::array<double, 4>{40.0, 50.0, 5.0, 10.0}));
    EXPECT_TRUE(widget<QRadioButton>("regionradioButton")->isChecked());
    EXPECT_TRUE(widget<QDoubleSpinBox>("azMin_doubleSpinBox")->isEnabled());
    // The drag drew the rectangle; it did not turn the camera.
    EXPECT_EQ(cameraPosition(), before);

    device->clearReceived();
    click("scanPushButton");
    ASSERT_TRUE(device->waitFor("SVSRES", std::chrono::seconds(3)));
    // The device gets the bounds as the spin boxes show them.
    std::string sent;
    for (const ReceivedCommand& c : device->received()) {
        if (c.code() == "SVSRES") {
            sent = c.bytes;
        }
    }
    EXPECT_EQ(sent, tavrel::CommandSerialiser::SVSRES(5.0, 40.0, 50.0, 5.0, 10.0, 99.0));
    EXPECT_TRUE(waitUntil([&] {
        return logLines(window.get()).filter("StartRegionScan(5, 40, 50, 5, 10, 99.99): ").size() ==
               1;
    })) << logLines(window.get()).join(" | ").toStdString();
}

TEST_F(RegionSelectTest, RegionAcrossZeroAzimuth) {
    openOn("SN-LX30-7");
    const std::vector<Patch> patches{kRight, kAcrossZero, kLeft};
    loadPatches(patches);
    const QRect rect = around(kAcrossZero, {kRight, kLeft});
    action("actionSelect_region")->setChecked(true);
    drag(rect);
    ASSERT_TRUE(waitUntil([&] { return selected(); })) << status().toStdString();
    EXPECT_EQ(spinBoxes(), (std::array<double, 4>{355.0, 5.0, 20.0, 25.0}));
}

TEST_F(RegionSelectTest, EmptyRectangleKeepsTheBoundsAndModeOffTurnsTheCamera) {
    openOn("SN-LX30-7");
    loadPatches({kRight});
    const std::array<double, 4> initial = spinBoxes();
    action("actionSelect_region")->setChecked(true);
    // A corner of the view far from the patch.
    const QRect rect = around(kRight, {});
    const QRect empty = rect.left() > 40
                            ? QRect(2, 2, 20, 20)
                            : QRect(view()->width() - 22, view()->height() - 22, 20, 20);
    ASSERT_FALSE(empty.intersects(rect));
    drag(empty);
    ASSERT_TRUE(waitUntil([&] { return status() == "No point lies inside the rectangle."; }))
        << status().toStdString();
    EXPECT_EQ(spinBoxes(), initial);
    EXPECT_TRUE(widget<QRadioButton>("fullFieldradioButton")->isChecked());

    // With the mode off the same drag turns the camera again.
    action("actionSelect_region")->setChecked(false);
    const std::array<double, 3> before = cameraPosition();
    drag(QRect(view()->width() / 2, view()->height() / 2, 120, 60));
    EXPECT_TRUE(waitUntil([&] { return cameraPosition() != before; }));
}

// A click either picks or starts a rectangle: turning one mode on turns the other off.
TEST_F(RegionSelectTest, PickModeAndRegionModeExcludeEachOther) {
    openOn("SN-LX30-7");
    QAction* pickMode = action("actionPick_mode");
    QAction* region = action("actionSelect_region");
    ASSERT_TRUE(pickMode && region);
    pickMode->trigger();
    EXPECT_TRUE(pickMode->isChecked());
    region->trigger();
    EXPECT_TRUE(region->isChecked());
    EXPECT_FALSE(pickMode->isChecked());
    region->trigger(); // and both may be off
    EXPECT_FALSE(region->isChecked());
    EXPECT_FALSE(pickMode->isChecked());
}

TEST_F(RegionSelectTest, SaveSelectionWritesExactlyTheSelectedPoints) {
    openOn("SN-LX30-7");
    const std::vector<Patch> patches{kRight, kAcrossZero, kLeft};
    loadPatches(patches);
    QAction* save = action("actionSave_selection_as");
    ASSERT_NE(save, nullptr);
    EXPECT_FALSE(save->isEnabled());

    action("actionSelect_region")->setChecked(true);
    drag(around(kAcrossZero, {kRight, kLeft}));
    ASSERT_TRUE(waitUntil([&] { return selected(); })) << status().toStdString();
    EXPECT_TRUE(save->isEnabled());

    // In another format than the viewer's own, as the save dialog offers them all.
    const QString file = dir.filePath("selection.ply");
    onNextModal([file](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), "Save selection as");
        const QStringList filters = dialog->nameFilters().filter("PLY binary");
        ASSERT_EQ(filters.size(), 1) << dialog->nameFilters().join(";;").toStdString();
        dialog->selectNameFilter(filters.front());
        dialog->selectFile(file);
        if (auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit")) {
            edit->setText(file);
        }
        QMetaObject::invokeMethod(dialog, "accept");
    });
    save->trigger();
    ASSERT_TRUE(fileWorkDone());
    EXPECT_EQ(status(), "File " + file + " saved.");

    const formats::ReadResult read = formats::read(QFile::encodeName(file).toStdString());
    ASSERT_TRUE(read.ok) << read.error;
    const std::deque<DataPoint> expected = patchPoints(kAcrossZero);
    ASSERT_EQ(read.points.size(), expected.size());
    // In buffer order, each with its position and amplitude.
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NEAR(read.points[i].x, expected[i].x, 1e-3) << i;
        EXPECT_NEAR(read.points[i].y, expected[i].y, 1e-3) << i;
        EXPECT_NEAR(read.points[i].z, expected[i].z, 1e-3) << i;
        EXPECT_EQ(read.points[i].intensity, expected[i].intensity) << i;
    }

    // A selection of no point leaves nothing to save.
    drag(QRect(2, 2, 4, 4));
    ASSERT_TRUE(waitUntil([&] { return status() == "No point lies inside the rectangle."; }));
    EXPECT_FALSE(save->isEnabled());
}

} // namespace
} // namespace viewer_test
