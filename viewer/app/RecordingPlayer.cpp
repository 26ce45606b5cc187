#include "RecordingPlayer.h"

#include "PointStore.h"
#include "RecordingStats.h"
#include "TimelineBar.h"

#include "SentovaPcap/RecordingIndex.h"

#include <QBoxLayout>
#include <QEvent>
#include <QKeyEvent>
#include <QWidget>

#include <chrono>
#include <mutex>
#include <numeric>

namespace window {

namespace {

constexpr int kReportMs = 5000;
// The timeline grows at this pace while the index is built: each growth redraws the bar and the
// Stats box, and so the whole window, which in software costs tens of milliseconds.
constexpr std::chrono::milliseconds kGrowthInterval{250};

// The reader names the file in its reports; the window's message names it already.
QString withoutPath(const std::string& text, const std::string& path) {
    const std::string named = path + ": ";
    return QString::fromStdString(
        text.compare(0, named.size(), named) == 0 ? text.substr(named.size()) : text);
}

bool playbackKey(const QEvent* event) {
    const int key = static_cast<const QKeyEvent*>(event)->key();
    const Qt::KeyboardModifiers modifiers = static_cast<const QKeyEvent*>(event)->modifiers();
    return (modifiers & ~Qt::KeypadModifier) == Qt::NoModifier &&
           (key == Qt::Key_Space || key == Qt::Key_Left || key == Qt::Key_Right);
}

} // namespace

RecordingPlayer::RecordingPlayer(QWidget* view, QBoxLayout* layout, QWidget* statsBox,
                                 viewer::PointStore& store, Report report)
    : view(view), store(store), bar(new TimelineBar(view->parentWidget())),
      stats(new RecordingStats(statsBox)), report(std::move(report)),
      listener(std::make_shared<Listener>(this)),
      loader(store, [this](std::size_t frame, const std::string& error) {
          const QString text = QString::fromStdString(error);
          QMetaObject::invokeMethod(
              this, [this, frame, text] { frameShown(frame, text); }, Qt::QueuedConnection);
      }) {
    layout->insertWidget(layout->indexOf(view) + 1, bar);
    bar->hide();
    view->installEventFilter(this);
    steady.start();
    timer.setSingleShot(true);

    connect(&timer, &QTimer::timeout, this, [this] {
        // Playback moves on once the frame asked for is in the store: a recording read slower
        // than its speed skips frames to keep time, and "As fast as possible" shows each one.
        if (awaiting) {
            return;
        }
        if (clock.update(now())) {
            show();
        }
        arm();
    });
    connect(bar, &TimelineBar::stepForwardRequested, this, [this] {
        clock.stepForward();
        show();
    });
    connect(bar, &TimelineBar::stepBackRequested, this, [this] {
        clock.stepBack();
        show();
    });
    connect(bar, &TimelineBar::frameRequested, this, [this](int k) {
        clock.seek(std::size_t(k), now());
        show();
        arm();
    });
    connect(bar, &TimelineBar::playToggled, this, [this] {
        clock.togglePlaying(now());
        show();
        arm();
    });
    connect(bar, &TimelineBar::speedChanged, this, [this](int speed) {
        clock.setSpeed(static_cast<PlaybackSpeed>(speed), now());
        arm();
    });
    connect(bar, &TimelineBar::loopChanged, this, [this](bool on) {
        clock.setLoop(on);
        arm();
    });
    connect(bar, &TimelineBar::closeRequested, this, [this] {
        const QString closed = name;
        close();
        this->report("Closed " + closed + ": showing the live data", kReportMs);
    });
}

RecordingPlayer::~RecordingPlayer() {
    {
        std::lock_guard<std::mutex> lock(listener->mutex);
        listener->player = nullptr;
    }
    loader.stop();
    index.reset();
}

void RecordingPlayer::open(const std::string& path, const QString& fileName) {
    stopRecording();
    // Live data arriving from now on waits apart until the recording is closed.
    store.showRecording();
    name = fileName;
    reported = false;
    // The index's thread only posts: the GUI thread takes the frames when it comes to it. A save
    // of the whole recording may keep the index, and its thread, after this has gone.
    index = std::make_shared<sentova::pcap::RecordingIndex>(
        path, sentova::pcap::RecordingIndexOptions{},
        [listener = listener] {
            std::lock_guard<std::mutex> lock(listener->mutex);
            if (RecordingPlayer* player = listener->player) {
                QMetaObject::invokeMethod(
                    player, [player] { player->takeFrames(); }, Qt::QueuedConnection);
            }
        },
        kGrowthInterval);
    bar->show();
    report("Reading recording: " + name, 0);
}

void RecordingPlayer::close() {
    stopRecording();
    store.showLive();
}

void RecordingPlayer::stopRecording() {
    timer.stop();
    loader.stop();
    awaiting.reset();
    index.reset();
    // The speed and the loop are the user's choice, kept for the next recording.
    const PlaybackSpeed speed = clock.speed();
    const bool loops = clock.loops();
    clock = PlaybackClock();
    clock.setSpeed(speed, now());
    clock.setLoop(loops);
    bar->clear();
    bar->hide();
    stats->clear();
    incompleteFrames = 0;
}

void RecordingPlayer::setModel(LIDAR_TYPE shownModel, bool fast) {
    model = shownModel;
    highSpeed = fast;
    show();
}

void RecordingPlayer::setMode(viewer::DisplayMode shownMode, unsigned shownCount) {
    mode = shownMode;
    count = shownCount;
    show();
}

void RecordingPlayer::takeFrames() {
    if (!index) {
        return;
    }
    const std::size_t known = clock.frameCount();
    // The status first: frames published before it said complete are all there by
    // then.
    const sentova::pcap::RecordingIndexStatus status = index->status();
    const std::vector<sentova::pcap::RecordingFrame> found = index->frames(known);
    std::vector<PlaybackFrameTimes> times;
    times.reserve(found.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        times.push_back({found[i].firstHostMicros, found[i].lastHostMicros});
        if (!found[i].complete()) {
            bar->markIncomplete(int(known + i));
            ++incompleteFrames;
        }
    }
    clock.addFrames(times);
    clock.setIndexComplete(status.complete);
    bar->setFrameCount(int(clock.frameCount()), clock.indexComplete());
    stats->setFrames(clock.frameCount(), clock.indexComplete());
    stats->setIncompleteFrames(incompleteFrames);
    if (known == 0 && clock.frameCount() > 0) {
        show();
    }
    arm();
    if (!status.complete || reported) {
        return;
    }
    reported = true;
    if (status.cancelled) {
        return;
    }
    if (clock.frameCount() == 0) {
        const QString why = !status.error.empty() ? withoutPath(status.error, index->path())
                                                  : QString("it holds no laser data");
        close();
        report("Could not load file " + name + ": " + why, 0);
        return;
    }
    const std::vector<sentova::pcap::RecordingFrame> all = index->frames();
    const std::uint64_t points =
        std::accumulate(all.begin(), all.end(), std::uint64_t(0),
                        [](std::uint64_t sum, const auto& frame) { return sum + frame.points; });
    const std::uint32_t device = status.device;
    QString text = QString("File %1 loaded: %2 points of the laser stream from "
                           "%3.%4.%5.%6 in %7 "
                           "%8.")
                       .arg(name)
                       .arg(points)
                       .arg(device >> 24)
                       .arg((device >> 16) & 0xff)
                       .arg((device >> 8) & 0xff)
                       .arg(device & 0xff)
                       .arg(all.size())
                       .arg(all.size() == 1 ? "frame" : "frames");
    if (!status.problems.empty()) {
        text += " Not all of it could be read: " + withoutPath(status.problems, index->path());
    }
    report(text, status.problems.empty() ? kReportMs : 0);
}

void RecordingPlayer::show() {
    bar->setPlaying(clock.playing());
    if (!index || clock.frameCount() == 0) {
        return;
    }
    const std::size_t k = clock.current();
    const sentova::pcap::RecordingFrame frame = index->frame(k);
    bar->setCurrentFrame(int(k), frame.firstHostMicros - index->frame(0).firstHostMicros);
    stats->setFramePoints(frame.points);
    awaiting = k;
    loader.request({index, k, mode, count, model, highSpeed});
}

void RecordingPlayer::frameShown(std::size_t frame, const QString& error) {
    if (!error.isEmpty()) {
        report("Could not read the frame of " + name + ": " + error, 0);
    }
    if (error.isEmpty()) {
        emit frameInStore();
    }
    if (awaiting == frame) {
        awaiting.reset();
        arm();
    }
}

void RecordingPlayer::arm() {
    const std::int64_t wait = clock.untilNextMicros(now());
    if (wait >= 0) {
        timer.start(int((wait + 999) / 1000));
    } else {
        timer.stop();
    }
    bar->setPlaying(clock.playing());
}

std::uint64_t RecordingPlayer::now() const {
    return std::uint64_t(steady.nsecsElapsed() / 1000);
}

bool RecordingPlayer::eventFilter(QObject* object, QEvent* event) {
    if (object != view || !index || clock.frameCount() == 0) {
        return false;
    }
    // Accepting the override keeps a window shortcut on the same key from taking
    // it.
    if (event->type() == QEvent::ShortcutOverride && playbackKey(event)) {
        event->accept();
        return true;
    }
    if (event->type() != QEvent::KeyPress || !playbackKey(event)) {
        return false;
    }
    switch (static_cast<QKeyEvent*>(event)->key()) {
    case Qt::Key_Space:
        clock.togglePlaying(now());
        break;
    case Qt::Key_Left:
        clock.stepBack();
        break;
    default:
        clock.stepForward();
        break;
    }
    show();
    arm();
    return true;
}

} // namespace window
