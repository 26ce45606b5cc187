// Saving and loading on the file thread, on a real window: every format offered and read back,
// progress with Cancel while the window keeps answering, a save during streaming, and
// recordings of the device's traffic opened on the timeline.
#include "FileFixture.h"

#include "CaptureTestSupport.h"
#include "Formats.h"
#include "Sentova/CommandSerialiser.h"
#include "Sentova/LaserPacket.h"

#include <QElapsedTimer>
#include <QTimer>

#include <cmath>
#include <thread>

namespace viewer_test {
namespace {

using BackgroundFileTest = FileTest;

std::string local(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// The file's points, read by the formats module on its own.
formats::ReadResult readBack(const QString& path) {
    return formats::read(local(path));
}

TEST_F(BackgroundFileTest, EveryFormatIsOfferedSavedAndLoadedBack) {
    openOn("SN-LX30-7");
    QSettings().setValue("save/range", 1);
    feed(50);
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == "50"; }));

    const std::vector<std::pair<QString, formats::Format>> filters = {
        {"PCD binary (*.pcd)", formats::Format::PcdBinary},
        {"PCD binary compressed (*.pcd)", formats::Format::PcdBinaryCompressed},
        {"PLY binary (*.ply)", formats::Format::PlyBinary},
        {"PLY ascii (*.ply)", formats::Format::PlyAscii},
        {"LAS 1.4 (*.las)", formats::Format::Las},
        {"CSV (*.csv)", formats::Format::Csv},
    };
    for (const auto& [filter, format] : filters) {
        const QString extension = formats::formatInfo(format).extension;
        const QString name = dir.filePath(QString("scan-%1").arg(formats::formatInfo(format).name));
        runToEnd("saveFileAs", name, filter);
        const QString saved = name + extension;
        EXPECT_EQ(status(), "File " + saved + " saved.") << filter.toStdString();
        const formats::ReadResult read = readBack(saved);
        ASSERT_TRUE(read.ok) << filter.toStdString() << ": " << read.error;
        ASSERT_EQ(read.points.size(), 50u) << filter.toStdString();
        EXPECT_NEAR(read.points[7].x, 17.0, 1e-3) << filter.toStdString();
        EXPECT_NEAR(read.points[7].intensity, 107.0, 1e-3) << filter.toStdString();
        if (format != formats::Format::Las) {
            EXPECT_EQ(read.points[7].range, 17.0) << filter.toStdString();
            // The format is in the file, not only in its name.
            if (format == formats::Format::PcdBinary) {
                EXPECT_NE(contents(saved).find("\nDATA binary\n"), std::string::npos);
            }
        }
    }

    // Each loads back into the window, replacing the buffer.
    for (const auto& [filter, format] : filters) {
        feed(3);
        const QString saved = dir.filePath(QString("scan-%1%2")
                                               .arg(formats::formatInfo(format).name)
                                               .arg(formats::formatInfo(format).extension));
        runToEnd("askForPCDFileToLoad", saved);
        EXPECT_EQ(status(), "File " + saved + " loaded.") << filter.toStdString();
        EXPECT_TRUE(waitUntil([&] { return totalPoints() == "50"; })) << filter.toStdString();
    }

    // The default stays the ASCII PCD, whatever was chosen before.
    runToEnd("saveFileAs", dir.filePath("default"));
    EXPECT_NE(contents(dir.filePath("default.pcd")).find("\nDATA ascii\n"), std::string::npos);
}

TEST_F(BackgroundFileTest, LoadShowsProgressKeepsTheWindowAnsweringAndCancelKeepsTheBuffer) {
    constexpr int kPoints = 2000000;
    std::deque<DataPoint> many;
    for (int i = 0; i < kPoints; ++i) {
        DataPoint p;
        p.x = i % 1000;
        p.y = i / 1000;
        p.intensity = i % 4096;
        p.timestamp = i;
        many.push_back(p);
    }
    const QString file = dir.filePath("two-million.pcd");
    ASSERT_TRUE(formats::write(local(file), formats::Format::PcdAscii, many).ok);
    many.clear();

    openOn("SN-LX30-7");
    // Cancelled half way: the points shown stay.
    ASSERT_NO_FATAL_FAILURE(cancelLoadHalfWay(file, 9));

    // A zero-length timer measures how long the event loop goes without answering.
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    int ticks = 0;
    int progressSeen = 0;
    QTimer ticker;
    ticker.setInterval(0);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, sinceTick.restart());
        ++ticks;
        const int value = progressBar()->value();
        if (progressBar()->isVisible() && value > 0 && value < 1000) {
            progressSeen = value;
        }
    });

    // Loaded to the end, with the window answering throughout.
    sinceTick.start();
    ticker.start();
    runSlot("askForPCDFileToLoad", file);
    ASSERT_TRUE(fileWorkDone());
    ticker.stop();
    EXPECT_EQ(status(), "File " + file + " loaded.");
    EXPECT_TRUE(waitUntil([&] { return totalPoints() == QString::number(kPoints); },
                          std::chrono::seconds(30)))
        << totalPoints().toStdString();
    EXPECT_GT(progressSeen, 0) << "progress shown while the event loop ran";
    EXPECT_GT(ticks, 20);
    std::cout << "[ figures  ] 2,000,000-point load: " << ticks << " event-loop turns, longest gap "
              << longestGap << " ms\n";
}

TEST_F(BackgroundFileTest, CancelledSaveLeavesNoFile) {
    openOn("SN-LX30-7");
    setMaximumPoints(3000000);
    feedNumbered(window.get(), 0, 2000000);
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == "2000000"; }, std::chrono::seconds(30)));

    // Over an older file of the same name, which stays as it was.
    const QString name = dir.filePath("big.pcd");
    std::ofstream(local(name)) << "older\n";
    runSlot("saveFileAs", name);
    QTest::mouseClick(cancelButton(), Qt::LeftButton);
    ASSERT_TRUE(fileWorkDone());
    EXPECT_EQ(status(), "Saving file " + name + " cancelled; nothing was written.");
    EXPECT_EQ(contents(name), "older\n");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"big.pcd"})
        << "no temporary file left behind";

    // Busy refusals: a second file command while one runs says so and changes nothing.
    runSlot("saveFileAs", dir.filePath("first.csv"), "CSV (*.csv)");
    ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "saveLX20FileAs"));
    EXPECT_EQ(status(), "A file is being saved or loaded: wait for it, or cancel it.");
    ASSERT_TRUE(fileWorkDone());
    EXPECT_EQ(status(), "File " + dir.filePath("first.csv") + " saved.");
    EXPECT_EQ(readBack(dir.filePath("first.csv")).points.size(), 2000000u);
}

TEST_F(BackgroundFileTest, SaveDuringStreamingKeepsEveryPointAndTheFileItsMoment) {
    openOn("SN-LX30-7");
    constexpr int kCap = 300000;
    setMaximumPoints(kCap);
    feedNumbered(window.get(), 0, kCap);
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == QString::number(kCap); }));

    const QString file = dir.filePath("moment.csv");
    runSlot("saveFileAs", file, "CSV (*.csv)");
    // The stream goes on at a full buffer while the save copies it.
    MainWindow* target = window.get();
    std::thread stream([target] { feedNumbered(target, kCap, 100000); });
    ASSERT_TRUE(fileWorkDone());
    stream.join();
    EXPECT_EQ(status(), "File " + file + " saved.");

    const formats::ReadResult read = readBack(file);
    ASSERT_TRUE(read.ok) << read.error;
    ASSERT_EQ(read.points.size(), std::size_t(kCap));
    EXPECT_EQ(read.points.front().timestamp, 0.0);
    EXPECT_EQ(read.points.back().timestamp, kCap - 1.0);

    // The buffer ends as streaming alone would have left it: the newest kCap points.
    runToEnd("saveFileAs", dir.filePath("after.csv"), "CSV (*.csv)");
    const formats::ReadResult after = readBack(dir.filePath("after.csv"));
    ASSERT_EQ(after.points.size(), std::size_t(kCap));
    EXPECT_EQ(after.points.front().timestamp, 100000.0);
    EXPECT_EQ(after.points.back().timestamp, kCap + 99999.0);
}

constexpr std::uint32_t kDevice = 0x0a000005; // 10.0.0.5
constexpr std::uint32_t kHost = 0x0a000001;

std::string rawLaser(std::uint32_t source, std::uint32_t first, int count) {
    std::vector<tavrel::LaserRecord> records;
    for (int i = 0; i < count; ++i) {
        tavrel::LaserRecord r;
        r.timestamp = first + static_cast<std::uint32_t>(i);
        r.azimuth = 90.0;
        r.range = 10 + i;
        r.amplitude = 300;
        records.push_back(r);
    }
    sentova::pcap::Datagram d;
    d.sourceAddress = source;
    d.sourcePort = 4365;
    d.destinationAddress = kHost;
    d.destinationPort = 4366;
    d.bytes = tavrel::encodeLaserPacket(records);
    return pcaptest::rawFrame(d);
}

TEST_F(BackgroundFileTest, RecordingsLoadAsTheirDevicesPoints) {
    openOn("SN-LX30-7");
    feed(4);
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == "4"; }));

    pcaptest::PcapBytes bytes;
    bytes.frame(rawLaser(0x0a000009, 0, 60)); // another sender, less busy
    for (std::uint32_t i = 0; i < 20; ++i) {
        bytes.frame(rawLaser(kDevice, 60 * i, 60), 1000 * i);
    }
    const QString file = dir.filePath("session.pcap");
    std::ofstream(local(file), std::ios::binary) << bytes.bytes();
    runToEnd("askForPCDFileToLoad", file);
    // A recording opens on its timeline: the aperture at rest makes it one piece of 1200 points.
    EXPECT_TRUE(waitUntil([&] {
        return status() == "File " + file +
                               " loaded: 1200 points of the laser stream from 10.0.0.5 in 1 frame.";
    })) << status().toStdString();
    EXPECT_TRUE(waitUntil([&] { return totalPoints() == "1200"; }));

    // Cut off mid-packet: what came before the damage is shown, and the damage named.
    const QString cut = dir.filePath("cut.pcap");
    std::ofstream(local(cut), std::ios::binary)
        << bytes.bytes().substr(0, bytes.bytes().size() - 700);
    runToEnd("askForPCDFileToLoad", cut);
    EXPECT_TRUE(waitUntil([&] {
        return status().startsWith(
            "File " + cut +
            " loaded: 1140 points of the laser stream from 10.0.0.5 in 1 "
            "frame. Not all of it could be read: damaged after 20 packets: ");
    })) << status().toStdString();
    EXPECT_TRUE(waitUntil([&] { return totalPoints() == "1140"; }));

    // Nothing usable: the message says why.
    const QString wifi = dir.filePath("wifi.pcap");
    std::ofstream(local(wifi), std::ios::binary)
        << pcaptest::PcapBytes(105).frame(std::string(40, '\0')).bytes();
    runToEnd("askForPCDFileToLoad", wifi);
    EXPECT_TRUE(waitUntil([&] {
        return status().startsWith("Could not load file " + wifi + ": link type 105");
    })) << status().toStdString();
    const QString quiet = dir.filePath("quiet.pcapng");
    std::ofstream(local(quiet), std::ios::binary) << pcaptest::PcapngBytes().bytes();
    runToEnd("askForPCDFileToLoad", quiet);
    EXPECT_TRUE(waitUntil([&] {
        return status() == "Could not load file " + quiet + ": it holds no laser data";
    })) << status().toStdString();
    // Each load closed the recording open before it: the live data shows again, the four
    // points given before the first load, and a point given afterwards joins them.
    feed(1);
    EXPECT_TRUE(waitUntil([&] { return totalPoints() == "5"; })) << totalPoints().toStdString();
}

} // namespace
} // namespace viewer_test
