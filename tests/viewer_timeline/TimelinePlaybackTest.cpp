// A recording on the timeline: its index, the playback clock and the bar put together as the
// window will put them, on a real display.
#include "PlaybackClock.h"
#include "TimelineBar.h"

#include "Sentova/LaserPacket.h"
#include "SentovaPcap/Capture.h"
#include "SentovaPcap/CapturePoints.h"
#include "SentovaPcap/RecordingIndex.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

constexpr unsigned kRecords = 40;
constexpr unsigned kFramePoints = 2000; // five lines of 400

// Three frames of a raster, the last one cut by the recording's end.
std::string writeRecording() {
    char folder[] = "/tmp/timeline-test-XXXXXX";
    const std::string path = std::string(::mkdtemp(folder)) + "/three.pcap";
    sentova::pcap::Writer w(path);
    std::vector<tavrel::LaserRecord> records(kRecords);
    std::uint64_t n = 0;
    while (n < 3 * kFramePoints) {
        for (tavrel::LaserRecord& r : records) {
            r.azimuth = -180.0 + 0.9 * double(n % 400);
            r.elevation = -20.0 + 10.0 * double(n / 400 % 5);
            r.timestamp = static_cast<std::uint32_t>(1000 + 40 * n++);
            r.range = 5000;
        }
        const std::string p = tavrel::encodeLaserPacket(records);
        w.write(1700000000000000 + 40 * n, 0x0a000002, 4365, 0x0a000001, 4366, p.data(), p.size());
    }
    w.close();
    return path;
}

// What the window's playback does: the bar's requests go to the clock, the frame it shows is
// read from the recording.
class Player : public QObject {
public:
    explicit Player(const std::string& path) : index(path) {
        timer.setSingleShot(true);
        connect(&timer, &QTimer::timeout, this, [this] {
            if (clock.update(now()))
                show();
            arm();
        });
        connect(&bar, &TimelineBar::stepForwardRequested, this, [this] {
            clock.stepForward();
            show();
        });
        connect(&bar, &TimelineBar::stepBackRequested, this, [this] {
            clock.stepBack();
            show();
        });
        connect(&bar, &TimelineBar::frameRequested, this, [this](int k) {
            clock.seek(std::size_t(k), now());
            show();
        });
        connect(&bar, &TimelineBar::playToggled, this, [this] {
            clock.togglePlaying(now());
            show();
            arm();
        });
        connect(&bar, &TimelineBar::speedChanged, this,
                [this](int s) { clock.setSpeed(static_cast<PlaybackSpeed>(s), now()); });
        connect(&bar, &TimelineBar::loopChanged, this, [this](bool on) { clock.setLoop(on); });
        steady.start();
    }
    // The index's frames so far onto the clock and the bar.
    void takeFrames() {
        const std::vector<sentova::pcap::RecordingFrame> found = index.frames(clock.frameCount());
        std::vector<PlaybackFrameTimes> times;
        for (std::size_t i = 0; i < found.size(); ++i) {
            times.push_back({found[i].firstHostMicros, found[i].lastHostMicros});
            if (!found[i].complete())
                bar.markIncomplete(int(clock.frameCount() + i));
        }
        clock.addFrames(times);
        clock.setIndexComplete(index.complete());
        bar.setFrameCount(int(clock.frameCount()), clock.indexComplete());
        show();
    }

    sentova::pcap::RecordingIndex index;
    PlaybackClock clock;
    TimelineBar bar;
    QTimer timer;
    std::vector<DataPoint> shown;
    std::vector<std::size_t> history; // every frame shown, in order

private:
    std::uint64_t now() const { return std::uint64_t(steady.nsecsElapsed() / 1000); }
    void show() {
        const std::size_t k = clock.current();
        bar.setPlaying(clock.playing());
        if (k >= clock.frameCount())
            return;
        shown = sentova::pcap::readFramePoints(index, k, LIDAR_LX30, false);
        history.push_back(k);
        const sentova::pcap::RecordingFrame first = index.frame(0);
        bar.setCurrentFrame(int(k), index.frame(k).firstHostMicros - first.firstHostMicros);
    }
    void arm() {
        const std::int64_t wait = clock.untilNextMicros(now());
        if (wait >= 0)
            timer.start(int((wait + 999) / 1000));
    }

    QElapsedTimer steady;
};

QString barLabel(const TimelineBar& bar) {
    return bar.findChild<QLabel*>("frameLabel")->text();
}

template <typename Condition> bool waitFor(Condition done, int milliseconds = 10000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

} // namespace

TEST(TimelinePlayback, ARecordingOfThreeFramesStepsAndPlaysToItsEnd) {
    Player player(writeRecording());
    ASSERT_TRUE(player.index.waitForComplete(std::chrono::seconds(10)));
    player.takeFrames();
    player.bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&player.bar));

    auto* slider = player.bar.findChild<QSlider*>("timelineSlider");
    EXPECT_EQ(slider->maximum() - slider->minimum() + 1, 3);
    EXPECT_TRUE(player.bar.slider()->incomplete(0)); // the recording began inside it
    EXPECT_FALSE(player.bar.slider()->incomplete(1));
    EXPECT_TRUE(barLabel(player.bar).startsWith("Frame 1 of 3"));

    QTest::mouseClick(player.bar.findChild<QPushButton*>("stepForwardPushButton"), Qt::LeftButton);
    EXPECT_TRUE(barLabel(player.bar).startsWith("Frame 2 of 3"));
    ASSERT_EQ(player.shown.size(), kFramePoints);
    EXPECT_EQ(player.shown.front().timestamp, 1000u + 40u * kFramePoints);

    // Played at 8x the frames take 10 ms each: playback reaches the last and stops there.
    auto* speed = player.bar.findChild<QComboBox*>("speedComboBox");
    speed->setCurrentIndex(int(PlaybackSpeed::Octuple));
    QTest::mouseClick(player.bar.findChild<QPushButton*>("playPushButton"), Qt::LeftButton);
    EXPECT_TRUE(player.bar.isPlaying());
    ASSERT_TRUE(waitFor([&] { return !player.clock.playing(); }));
    EXPECT_FALSE(player.bar.isPlaying());
    EXPECT_TRUE(barLabel(player.bar).startsWith("Frame 3 of 3"));
    EXPECT_EQ(player.shown.back().timestamp, 1000u + 40u * (3 * kFramePoints - 1));

    // Looping, it comes round to the first frame again.
    QTest::mouseClick(player.bar.findChild<QCheckBox*>("loopCheckBox"), Qt::LeftButton);
    player.history.clear();
    QTest::mouseClick(player.bar.findChild<QPushButton*>("playPushButton"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return player.history.size() >= 2; }));
    EXPECT_EQ(player.history[0], 2u);
    EXPECT_EQ(player.history[1], 0u);
    EXPECT_TRUE(player.clock.playing());
}
