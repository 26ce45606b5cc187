// MCAP files of our own loaded through the window's "Load": the point cloud channel fills the
// buffer with every value as written, a file that cannot give points leaves the buffer alone,
// and a big one shows its progress and can be cancelled.
#include "FileFixture.h"

#include "Formats.h"
#include "SentovaMcap/ScanFile.h"

namespace viewer_test {
namespace {

using McapLoadTest = FileTest;

std::string localFile(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// Values the CSV the buffer is saved to holds exactly: x and y the nearest doubles to decimals
// of six places (beyond a float's precision), the float values binary fractions; time stamps up
// to the largest the device gives.
std::deque<DataPoint> distinctPoints(int count) {
    std::deque<DataPoint> points;
    for (int i = 0; i < count; ++i) {
        DataPoint p;
        p.x = 1000001.0 * (i + 1) / 1e6;
        p.y = -(2500000.0 + 3 * i) / 1e6;
        p.z = 0.125 * i;
        p.timestamp = i == count - 1 ? 4294967295u : 16777217u + 1000u * i;
        p.azimuth = 0.25f * i;
        p.elevation = -0.125f * i;
        p.range = 10.5f + i;
        p.reflectance = 0.5f * i;
        p.pulseShapeDeviation = 0.0625f * i;
        p.intensity = 100.0f + i;
        points.push_back(p);
    }
    return points;
}

QString writeMcap(const QString& path, const std::deque<DataPoint>& points) {
    sentova::mcap::ScanFile file(localFile(path));
    file.addLog(1, sentova::mcap::LogLevel::Info, "scan started");
    // Two messages: the load takes the points of both, in order.
    file.addPoints(points, 0, points.size() / 2, 10);
    file.addPoints(points, points.size() / 2, points.size(), 20);
    file.close();
    return path;
}

TEST_F(McapLoadTest, OurMcapFileLoadsWithEveryValueAsWritten) {
    openOn("SN-LX30-7");
    for (const char* key : {"save/az", "save/el", "save/range"}) {
        QSettings().setValue(key, 1);
    }
    feed(3);
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == "3"; }));

    const std::deque<DataPoint> written = distinctPoints(40);
    // A name without the extension: the file's magic tells it apart.
    for (const QString& name : {QString("scan.mcap"), QString("scan.log")}) {
        const QString file = writeMcap(dir.filePath(name), written);
        runToEnd("askForPCDFileToLoad", file);
        EXPECT_EQ(status(), "File " + file + " loaded.");
        EXPECT_TRUE(waitUntil([&] { return totalPoints() == "40"; }))
            << totalPoints().toStdString();
    }

    // The buffer, saved and read back: the points as written, in their order.
    runToEnd("saveFileAs", dir.filePath("back"), "CSV (*.csv)");
    const formats::ReadResult back = formats::read(localFile(dir.filePath("back.csv")));
    ASSERT_TRUE(back.ok) << back.error;
    ASSERT_EQ(back.points.size(), written.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
        const DataPoint& a = written[i];
        const DataPoint& b = back.points[i];
        EXPECT_EQ(b.x, a.x) << i;
        EXPECT_EQ(b.y, a.y) << i;
        EXPECT_EQ(b.z, a.z) << i;
        EXPECT_EQ(b.timestamp, a.timestamp) << i;
        EXPECT_EQ(b.azimuth, a.azimuth) << i;
        EXPECT_EQ(b.elevation, a.elevation) << i;
        EXPECT_EQ(b.range, a.range) << i;
        EXPECT_EQ(b.reflectance, a.reflectance) << i;
        EXPECT_EQ(b.pulseShapeDeviation, a.pulseShapeDeviation) << i;
        EXPECT_EQ(b.intensity, a.intensity) << i;
    }
}

TEST_F(McapLoadTest, AnMcapFileWithoutPointsKeepsTheBufferAndSaysWhy) {
    openOn("SN-LX30-7");
    feed(5);
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == "5"; }));

    const QString whole = writeMcap(dir.filePath("whole.mcap"), distinctPoints(40));
    const std::string bytes = contents(whole);
    const QString cut = dir.filePath("cut.mcap");
    std::ofstream(localFile(cut), std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    runToEnd("askForPCDFileToLoad", cut);
    EXPECT_TRUE(waitUntil([&] { return status().startsWith("Could not load file " + cut + ": "); }))
        << status().toStdString();

    const QString logOnly = dir.filePath("log-only.mcap");
    {
        sentova::mcap::ScanFile file(localFile(logOnly));
        file.addLog(1, sentova::mcap::LogLevel::Info, "scan started");
        file.close();
    }
    runToEnd("askForPCDFileToLoad", logOnly);
    EXPECT_EQ(status(), "Could not load file " + logOnly +
                            ": it holds no foxglove.PointCloud messages in JSON");

    // A point given afterwards joins the five: the failed loads had left them alone.
    feed(1);
    EXPECT_TRUE(waitUntil([&] { return totalPoints() == "6"; })) << totalPoints().toStdString();
}

TEST_F(McapLoadTest, ABigMcapFileShowsProgressAndCancelKeepsTheBuffer) {
    constexpr std::size_t kPoints = 1500000;
    constexpr std::size_t kPerMessage = 50000;
    std::deque<DataPoint> many(kPoints);
    for (std::size_t i = 0; i < kPoints; ++i) {
        many[i].x = static_cast<double>(i % 1000);
        many[i].y = static_cast<double>(i / 1000);
        many[i].timestamp = static_cast<std::uint32_t>(i);
    }
    const QString file = dir.filePath("big.mcap");
    {
        sentova::mcap::ScanFile out(local(file));
        for (std::size_t begin = 0; begin < kPoints; begin += kPerMessage) {
            out.addPoints(many, begin, begin + kPerMessage, 10 + begin);
        }
        out.close();
    }
    many.clear();

    openOn("SN-LX30-7");
    ASSERT_NO_FATAL_FAILURE(cancelLoadHalfWay(file, 9));

    runToEnd("askForPCDFileToLoad", file);
    EXPECT_EQ(status(), "File " + file + " loaded.");
    EXPECT_TRUE(waitUntil([&] { return totalPoints() == QString::number(kPoints); },
                          std::chrono::seconds(30)))
        << totalPoints().toStdString();
}

} // namespace
} // namespace viewer_test
