// Loads of binary point files on a real window: files of several of the readers' chunks replace
// one another whole, every value as the file holds it, and a damaged one keeps the points shown.
#include "FileFixture.h"

#include "Formats.h"
#include "PointStream.h"

#include <QTimer>

#include <unistd.h>

#include <iterator>
#include <map>

namespace viewer_test {
namespace {

using BinaryLoadTest = FileTest;

std::string localPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// Points with values of their own in every column a binary file holds exactly.
std::deque<DataPoint> numbered(std::size_t n, double offset) {
    std::deque<DataPoint> points;
    for (std::size_t i = 0; i < n; ++i) {
        DataPoint p;
        p.x = offset + static_cast<double>(i);
        p.y = -static_cast<double>(i % 977);
        p.z = 0.25 * static_cast<double>(i % 64);
        p.intensity = static_cast<float>(i % 65536);
        p.reflectance = static_cast<float>(i % 301) - 150.0f;
        p.pulseShapeDeviation = static_cast<float>(i % 7);
        p.timestamp = 4000000001u + i;
        points.push_back(p);
    }
    return points;
}

void expectSamePoints(const std::deque<DataPoint>& expected, const std::deque<DataPoint>& got,
                      const std::string& what) {
    ASSERT_EQ(got.size(), expected.size()) << what;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const DataPoint& e = expected[i];
        const DataPoint& g = got[i];
        ASSERT_TRUE(e.x == g.x && e.y == g.y && e.z == g.z && e.intensity == g.intensity &&
                    e.reflectance == g.reflectance &&
                    e.pulseShapeDeviation == g.pulseShapeDeviation && e.timestamp == g.timestamp)
            << what << ": point " << i << " x " << g.x << " timestamp " << g.timestamp;
    }
}

// The nice value of each thread of this process, by thread id.
std::map<std::string, int> threadNiceValues() {
    std::map<std::string, int> values;
    for (const QString& tid :
         QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream in("/proc/self/task/" + tid.toStdString() + "/stat");
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // After the command's closing parenthesis: the state (field 3) ... the nice value (19).
        std::istringstream fields(stat.substr(stat.rfind(')') + 1));
        std::string field;
        for (int k = 3; k <= 19 && fields >> field; ++k) {
        }
        values[tid.toStdString()] = std::stoi(field);
    }
    return values;
}

TEST_F(BinaryLoadTest, TheFileThreadGivesWayToTheWindow) {
    openOn("SN-LX30-7");
    const QString file = dir.filePath("small.ply");
    ASSERT_TRUE(formats::write(localPath(file), formats::Format::PlyBinary, numbered(10, 0.0)).ok);
    const std::string gui = std::to_string(::getpid());
    const int base = threadNiceValues().at(gui);
    if (base > 14) {
        GTEST_SKIP() << "the process runs at nice " << base << ": no room below it";
    }
    runToEnd("askForPCDFileToLoad", file);
    ASSERT_EQ(status(), "File " + file + " loaded.");
    const std::map<std::string, int> after = threadNiceValues();
    // The GUI thread keeps the process's priority; one thread, the file thread, runs below it.
    EXPECT_EQ(after.at(gui), base);
    int below = 0;
    for (const auto& [tid, nice] : after) {
        below += nice == base + 5 ? 1 : 0;
    }
    EXPECT_EQ(below, 1);
}

TEST_F(BinaryLoadTest, FilesOfSeveralChunksReplaceOneAnotherWithEveryValue) {
    openOn("SN-LX30-7");
    feed(3);
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == "3"; }));

    // Sizes about the readers' chunk: one over several, one over one.
    const std::size_t sizes[] = {3 * formats::kChunkPoints + 1, formats::kChunkPoints + 1};
    const formats::Format kinds[] = {formats::Format::PlyBinary, formats::Format::PcdBinary};
    for (int k = 0; k < 2; ++k) {
        const formats::FormatInfo& info = formats::formatInfo(kinds[k]);
        const QString file = dir.filePath(QString("load-%1%2").arg(info.name).arg(info.extension));
        const std::deque<DataPoint> points = numbered(sizes[k], 1000.0 * k);
        ASSERT_TRUE(formats::write(localPath(file), kinds[k], points).ok);
        runToEnd("askForPCDFileToLoad", file);
        ASSERT_EQ(status(), "File " + file + " loaded.");
        EXPECT_TRUE(waitUntil([&] { return totalPoints() == QString::number(sizes[k]); }))
            << info.name << ": " << totalPoints().toStdString();

        // What the buffer holds, through Save as: the file's points and nothing of before.
        QSettings().setValue("save/pulseShapeDeviation", 1);
        const QString saved = dir.filePath(QString("saved-%1").arg(info.name));
        runToEnd("saveFileAs", saved, "PCD binary (*.pcd)");
        ASSERT_EQ(status(), "File " + saved + ".pcd saved.");
        const formats::ReadResult back = formats::read(localPath(saved + ".pcd"));
        ASSERT_TRUE(back.ok) << back.error;
        expectSamePoints(points, back.points, info.name);
    }
    // Live points join the loaded ones behind them.
    feed(2);
    EXPECT_TRUE(waitUntil([&] { return totalPoints() == QString::number(sizes[1] + 2); }))
        << totalPoints().toStdString();
}

// A big file: the window keeps answering while it loads, and then holds and shows every point
// with its values exact (time stamps past 32 bits included).
TEST_F(BinaryLoadTest, ABigFileLoadsWholeWhileTheWindowAnswers) {
    openOn("SN-LX30-7");
    feed(5);
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == "5"; }));
    constexpr std::size_t kPoints = 2000000;
    const QString file = dir.filePath("big.ply");
    const std::deque<DataPoint> points = numbered(kPoints, 0.5);
    ASSERT_TRUE(formats::write(local(file), formats::Format::PlyBinary, points).ok);

    // Ticks of a timer on the GUI thread while the file thread works.
    int ticksDuringLoad = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (!progressBar()->isHidden()) {
            ++ticksDuringLoad;
        }
    });
    ticker.start(10);
    runSlot("askForPCDFileToLoad", file);
    ASSERT_TRUE(fileWorkDone());
    ticker.stop();
    EXPECT_GE(ticksDuringLoad, 2);
    ASSERT_EQ(status(), "File " + file + " loaded.");
    EXPECT_TRUE(waitUntil([&] { return totalPoints() == QString::number(kPoints); },
                          std::chrono::seconds(30)))
        << totalPoints().toStdString();

    QSettings().setValue("save/pulseShapeDeviation", 1);
    const QString saved = dir.filePath("big-saved");
    runToEnd("saveFileAs", saved, "PCD binary (*.pcd)");
    ASSERT_EQ(status(), "File " + saved + ".pcd saved.");
    const formats::ReadResult back = formats::read(local(saved + ".pcd"));
    ASSERT_TRUE(back.ok) << back.error;
    expectSamePoints(points, back.points, "big");

    // The display follows the buffer from the loaded points on: above the cap, each live point
    // takes the place of the oldest.
    feed(3);
    ASSERT_TRUE(waitForDisplayRefresh(window.get()));
    EXPECT_EQ(totalPoints(), QString::number(kPoints));
}

TEST_F(BinaryLoadTest, AFileDamagedAfterItsFirstChunksKeepsThePointsShown) {
    openOn("SN-LX30-7");
    feed(4);
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == "4"; }));

    // A PLY file whose header holds but whose last vertex is cut: every chunk but the last reads.
    const QString whole = dir.filePath("whole.ply");
    ASSERT_TRUE(formats::write(localPath(whole), formats::Format::PlyAscii,
                               numbered(2 * formats::kChunkPoints + 5, 0.0))
                    .ok);
    std::string text = contents(whole);
    text.resize(text.size() - 10);
    text += "x y\n";
    const QString damaged = dir.filePath("damaged.ply");
    std::ofstream(localPath(damaged), std::ios::binary) << text;

    runToEnd("askForPCDFileToLoad", damaged);
    EXPECT_TRUE(status().startsWith("Could not load file " + damaged + ": "))
        << status().toStdString();
    feed(1);
    EXPECT_TRUE(waitUntil([&] { return totalPoints() == "5"; })) << totalPoints().toStdString();
}

} // namespace
} // namespace viewer_test
