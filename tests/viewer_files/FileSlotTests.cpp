// "Save as...", the LX20 writer and "Load" on a real window: the file written, the buffer
// replaced or kept, and the status bar reports.
#include "FileFixture.h"

#include "PcdFile.h"

namespace viewer_test {
namespace {

using FileSlotTest = FileTest;

TEST_F(FileSlotTest, SaveWritesTheSelectedColumnsAndAppendsTheExtension) {
    openOn("SN-LX30-7");
    feed(3);
    QSettings().setValue("save/az", 1);
    QSettings().setValue("save/timestamp", 0);

    const QString chosen = dir.filePath("Überblick");
    runToEnd("saveFileAs", chosen);
    const QString saved = chosen + ".pcd";
    EXPECT_EQ(status(), "File " + saved + " saved.");

    const std::string text = contents(saved);
    EXPECT_NE(text.find("FIELDS x y z az amplitude reflectance pulseShapeDeviation \n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\nPOINTS 3\nDATA ascii\n"), std::string::npos);
    EXPECT_NE(text.find(" 90.000000 102.000000 -2.000000 4.000000 \n"), std::string::npos) << text;

    // A name that already ends in .PCD is kept as it is.
    runToEnd("saveFileAs", dir.filePath("again.PCD"));
    EXPECT_TRUE(QFile::exists(dir.filePath("again.PCD")));
    EXPECT_FALSE(QFile::exists(dir.filePath("again.PCD.pcd")));
}

TEST_F(FileSlotTest, Lx20WriterUsesTheFormatKeys) {
    openOn("SN-LX20-7");
    feed(2, 87.9);
    QSettings().setValue("save/x_format", 1);
    QSettings().setValue("save/intensity_format", 2);
    runToEnd("saveLX20FileAs", dir.filePath("lx20.pcd"));
    const std::string text = contents(dir.filePath("lx20.pcd"));
    EXPECT_NE(text.find("FIELDS x y z intensity \nSIZE 2 4 4 1 \nTYPE I F F U \n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(" 87 \n"), std::string::npos) << text;
}

TEST_F(FileSlotTest, CancelledDialogsChangeNothing) {
    openOn("SN-LX30-7");
    feed(4);
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == "4"; }));
    const QString before = status();
    runSlot("saveFileAs", "");
    runSlot("askForPCDFileToLoad", "");
    EXPECT_EQ(status(), before);
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
    // A point given afterwards joins the four: nothing had emptied or replaced them.
    feed(1);
    EXPECT_TRUE(waitUntil([&] { return totalPoints() == "5"; })) << totalPoints().toStdString();
}

TEST_F(FileSlotTest, LoadReplacesTheBufferWithAllPointsOfTheFile) {
    openOn("SN-LX30-7");
    feed(5);
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == "5"; }));

    std::deque<DataPoint> points;
    for (int i = 0; i < 1500; ++i) {
        DataPoint p;
        p.x = i;
        p.intensity = i % 300;
        points.push_back(p);
    }
    const QString file = dir.filePath("big.pcd");
    ASSERT_EQ(formats::savePcdFile(QFile::encodeName(file).toStdString(), points,
                                   formats::FieldSelection{}, LIDAR_LX30),
              "");
    // Above the cap: the load keeps them all, and live data then drops one per point.
    setMaximumPoints(1000);

    runToEnd("askForPCDFileToLoad", file);
    EXPECT_EQ(status(), "File " + file + " loaded.");
    EXPECT_TRUE(waitUntil([&] { return totalPoints() == "1500"; })) << totalPoints().toStdString();
    feed(10);
    ASSERT_TRUE(waitForDisplayRefresh(window.get()));
    EXPECT_EQ(totalPoints(), "1500");
}

TEST_F(FileSlotTest, UnreadableFileKeepsThePointsOnScreenAndSaysWhy) {
    openOn("SN-LX30-7");
    feed(7);
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == "7"; }));

    const QString junk = dir.filePath("junk.pcd");
    std::ofstream(QFile::encodeName(junk).toStdString()) << "not a point cloud\n";
    runToEnd("askForPCDFileToLoad", junk);
    EXPECT_TRUE(status().startsWith("Could not load file " + junk + ": "))
        << status().toStdString();
    // A point given afterwards joins the seven: the failed load had left them alone.
    feed(1);
    EXPECT_TRUE(waitUntil([&] { return totalPoints() == "8"; })) << totalPoints().toStdString();
}

} // namespace
} // namespace viewer_test
