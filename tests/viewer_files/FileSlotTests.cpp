// "Save as...", the LX20 writer and "Load" on a real window: the file written, the buffer
// replaced or kept, and the status bar reports.
#include "WindowFixture.h"

#include "PcdFile.h"

#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QStatusBar>
#include <QTemporaryDir>

#include <fstream>
#include <sstream>

namespace viewer_test {
namespace {

class FileSlotTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        ASSERT_TRUE(dir.isValid());
    }

    void openOn(const char* serial) {
        device->setSerial(serial);
        openWindow();
    }

    // Hands the window n observations, as the listener would.
    void feed(int n, double amplitudeBase = 100) {
        std::vector<tavrel::tavrel_rbe_obs_t> batch;
        for (int i = 0; i < n; ++i) {
            batch.push_back({90.0, 0.0, 10.0 + i, static_cast<std::uint64_t>(4000000 + i),
                             amplitudeBase + i, -1.0 * i, 2.0 * i});
        }
        window->LaserDataCallback(batch, 0);
    }

    // Runs a file slot, answering its dialog with `name` (empty: cancel).
    void runSlot(const char* slot, const QString& name) {
        onNextModal([name](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            ASSERT_NE(dialog, nullptr);
            if (name.isEmpty()) {
                dialog->reject();
                return;
            }
            dialog->selectFile(name);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), slot));
    }

    QString status() { return window->statusBar()->currentMessage(); }
    QString totalPoints() { return widget<QLabel>("totalPoints_label")->text(); }

    static std::string contents(const QString& path) {
        std::ifstream in(QFile::encodeName(path).toStdString(), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    QTemporaryDir dir;
};

TEST_F(FileSlotTest, SaveWritesTheSelectedColumnsAndAppendsTheExtension) {
    openOn("SN-LX30-7");
    feed(3);
    QSettings().setValue("save/az", 1);
    QSettings().setValue("save/timestamp", 0);

    const QString chosen = dir.filePath("Überblick");
    runSlot("saveFileAs", chosen);
    const QString saved = chosen + ".pcd";
    EXPECT_EQ(status(), "File " + saved + " saved.");

    const std::string text = contents(saved);
    EXPECT_NE(text.find("FIELDS x y z az amplitude reflectance pulseShapeDeviation \n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\nPOINTS 3\nDATA ascii\n"), std::string::npos);
    EXPECT_NE(text.find(" 90.000000 102.000000 -2.000000 4.000000 \n"), std::string::npos) << text;

    // A name that already ends in .PCD is kept as it is.
    runSlot("saveFileAs", dir.filePath("again.PCD"));
    EXPECT_TRUE(QFile::exists(dir.filePath("again.PCD")));
    EXPECT_FALSE(QFile::exists(dir.filePath("again.PCD.pcd")));
}

TEST_F(FileSlotTest, Lx20WriterUsesTheFormatKeys) {
    openOn("SN-LX20-7");
    feed(2, 87.9);
    QSettings().setValue("save/x_format", 1);
    QSettings().setValue("save/intensity_format", 2);
    runSlot("saveLX20FileAs", dir.filePath("lx20.pcd"));
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
    QTest::qWait(250);
    EXPECT_EQ(totalPoints(), "4");
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
    onNextModal([](QWidget* modal) {
        auto* input = qobject_cast<QInputDialog*>(modal);
        ASSERT_NE(input, nullptr);
        input->setIntValue(1000);
        input->accept();
    });
    ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "askForMaximumPoints"));

    runSlot("askForPCDFileToLoad", file);
    EXPECT_EQ(status(), "File " + file + " loaded.");
    EXPECT_TRUE(waitUntil([&] { return totalPoints() == "1500"; })) << totalPoints().toStdString();
    feed(10);
    QTest::qWait(250);
    EXPECT_EQ(totalPoints(), "1500");
}

TEST_F(FileSlotTest, UnreadableFileKeepsThePointsOnScreenAndSaysWhy) {
    openOn("SN-LX30-7");
    feed(7);
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == "7"; }));

    const QString junk = dir.filePath("junk.pcd");
    std::ofstream(QFile::encodeName(junk).toStdString()) << "not a point cloud\n";
    runSlot("askForPCDFileToLoad", junk);
    EXPECT_TRUE(status().startsWith("Could not load file " + junk + ": "))
        << status().toStdString();
    QTest::qWait(250);
    EXPECT_EQ(totalPoints(), "7");
}

} // namespace
} // namespace viewer_test
