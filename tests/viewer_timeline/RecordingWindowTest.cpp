// Recordings on the window's timeline: loaded through "Load", stepped, played, driven from the
// keyboard, shown in the display modes, and the window answering while a large one is indexed.
#include "FileFixture.h"
#include "ScenePieces.h"

#include "FileChoice.h"
#include "Formats.h"
#include "PlaybackClock.h"
#include "Sentova/LaserPacket.h"
#include "SentovaPcap/Capture.h"
#include "SentovaPcap/CapturePoints.h"
#include "SentovaPcap/RecordingIndex.h"
#include "TimelineBar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QVTKOpenGLNativeWidget.h>

#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkRendererCollection.h>

#include <cmath>

namespace viewer_test {
namespace {

std::string local(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

constexpr unsigned kLinePoints = 400;
constexpr unsigned kFramePoints = 5 * kLinePoints;
constexpr unsigned kPacketPoints = 40;

// Rasters of five lines, each frame at a range of its own so that its points tell it apart; the
// first begins inside the recording's first frame, the last is cut by its end. 40 us a point.
// Ends after `points` points when given, inside the last frame.
void writeRasters(const std::string& path, std::uint64_t frames, std::uint64_t points = 0) {
    sentova::pcap::Writer w(path);
    std::vector<tavrel::LaserRecord> records(kPacketPoints);
    std::uint64_t n = 0;
    while (n < (points > 0 ? points : frames * kFramePoints)) {
        for (tavrel::LaserRecord& r : records) {
            r.azimuth = -180.0 + 0.9 * double(n % kLinePoints);
            r.elevation = -20.0 + 10.0 * double(n / kLinePoints % 5);
            r.timestamp = static_cast<std::uint32_t>(1000 + 40 * n);
            r.range = static_cast<std::int32_t>(5000 + 2000 * (n / kFramePoints % 3));
            r.amplitude = 300;
            ++n;
        }
        const std::string p = tavrel::encodeLaserPacket(records);
        w.write(1700000000000000 + 40 * n, 0x0a000005, 4365, 0x0a000001, 4366, p.data(), p.size());
    }
    w.close();
}

// The labels, buttons and input boxes that panel holds, as far as they are shown.
std::vector<QWidget*> controlsOf(QWidget* panel, QWidget* window) {
    std::vector<QWidget*> found;
    for (QWidget* w : panel->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) ||
                             qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QComboBox*>(w);
        if (control && w->isVisibleTo(window)) {
            found.push_back(w);
        }
    }
    return found;
}

// Why w cannot be reached, or empty: each parent up to the window holds it whole, or it lies
// inside the contents of a scroll area (which scrolls to it) that is reachable in turn.
std::string unreachable(QWidget* w, QWidget* window) {
    for (QWidget* held = w; held != window;) {
        for (QWidget* parent = held->parentWidget();; parent = parent->parentWidget()) {
            const QRect rect(held->mapTo(parent, QPoint(0, 0)), held->size());
            auto* area = qobject_cast<QScrollArea*>(parent->parentWidget());
            if (area && area->viewport() == parent) {
                const QRect contents(area->widget()->mapTo(parent, QPoint(0, 0)),
                                     area->widget()->size());
                if (!contents.contains(rect)) {
                    return "beyond the contents of " + area->objectName().toStdString();
                }
                held = area;
                break;
            }
            if (!parent->rect().contains(rect)) {
                return "cut off by " + parent->objectName().toStdString();
            }
            if (parent == window) {
                held = window;
                break;
            }
        }
    }
    return {};
}

// Lays out what the last changes asked for: a layout that has grown asks its parent in turn.
void settleLayouts() {
    QApplication::processEvents();
    for (int depth = 0; depth < 8; ++depth) {
        QApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    }
}

class RecordingWindowTest : public FileTest {
protected:
    TimelineBar* bar() { return widget<TimelineBar>("timelineBar"); }
    QString frameText() { return widget<QLabel>("frameLabel")->text(); }
    QWidget* view() { return widget<QWidget>("lidarQvtkWidget"); }
    bool indexing() { return !widget<QLabel>("frameLabel")->toolTip().isEmpty(); }

    std::vector<std::array<double, 3>> drawn() {
        auto* widget = child<QVTKOpenGLNativeWidget>(window.get(), "lidarQvtkWidget");
        return drawnCloudPoints(widget->renderWindow()->GetRenderers()->GetFirstRenderer());
    }

    // The buffer holds frame k of the file, and nothing else, as the display draws it.
    bool showsFrame(const sentova::pcap::RecordingIndex& index, std::size_t k) {
        return showsPoints(sentova::pcap::readFramePoints(index, k, LIDAR_LX30, false));
    }

    // The buffer holds these points, and nothing else, as the display draws them.
    bool showsPoints(const std::vector<DataPoint>& expected) {
        const std::vector<std::array<double, 3>> points = drawn();
        if (points.size() != expected.size() || totalPoints() != QString::number(points.size())) {
            return false;
        }
        for (std::size_t i = 0; i < points.size(); i += 97) {
            if (std::abs(points[i][0] - expected[i].x) > 1e-3 ||
                std::abs(points[i][1] - expected[i].y) > 1e-3 ||
                std::abs(points[i][2] - expected[i].z) > 1e-3) {
                return false;
            }
        }
        return true;
    }

    // "Save as" with the shown frame(s) or the whole recording (the button's name), to name in
    // format, waited for.
    void saveAs(const char* choice, const QString& name, formats::Format format) {
        QString filter;
        for (const viewer::SaveFilter& f : viewer::saveFilters()) {
            if (f.format == format) {
                filter = QString::fromStdString(f.text);
            }
        }
        onNextModal([this, choice, name, filter](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            auto* button = box->findChild<QPushButton*>(choice);
            ASSERT_NE(button, nullptr);
            answerFileDialog(name, filter);
            button->click();
        });
        ASSERT_TRUE(QMetaObject::invokeMethod(window.get(), "saveFileAs"));
        EXPECT_TRUE(fileWorkDone());
        EXPECT_EQ(status(), "File " + name + " saved.");
    }

    void answerFileDialog(const QString& name, const QString& filter) {
        onNextModal([name, filter](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            ASSERT_NE(dialog, nullptr);
            dialog->selectNameFilter(filter);
            dialog->selectFile(name);
            if (auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit")) {
                edit->setText(name);
            }
            QMetaObject::invokeMethod(dialog, "accept");
        });
    }

    void load(const QString& file) {
        runToEnd("askForPCDFileToLoad", file);
        ASSERT_TRUE(waitUntil([&] { return !bar()->isHidden(); }));
    }
};

TEST_F(RecordingWindowTest, ThreeFramesStepPlayAndLoopOnTheTimeline) {
    openOn("SN-LX30-7");
    EXPECT_TRUE(bar()->isHidden()); // no recording open
    const QString file = dir.filePath("three.pcap");
    writeRasters(local(file), 3);
    const sentova::pcap::RecordingIndex index(local(file));
    ASSERT_TRUE(index.waitForComplete(std::chrono::seconds(10)));
    ASSERT_EQ(index.frameCount(), 3u);

    load(file);
    ASSERT_TRUE(waitUntil([&] { return !indexing() && frameText().startsWith("Frame 1 of 3"); }))
        << frameText().toStdString();
    auto* slider = widget<QSlider>("timelineSlider");
    EXPECT_EQ(slider->maximum() - slider->minimum() + 1, 3);
    EXPECT_TRUE(waitUntil([&] { return showsFrame(index, 0); }));
    EXPECT_EQ(status(), "File " + file +
                            " loaded: 6000 points of the laser stream from 10.0.0.5 in 3 frames.");

    click("stepForwardPushButton");
    EXPECT_TRUE(frameText().startsWith("Frame 2 of 3")) << frameText().toStdString();
    EXPECT_TRUE(waitUntil([&] { return showsFrame(index, 1); }));

    // At 8x a frame lasts 10 ms: play runs to the last frame and stops there.
    widget<QComboBox>("speedComboBox")->setCurrentIndex(int(PlaybackSpeed::Octuple));
    click("playPushButton");
    ASSERT_TRUE(waitUntil([&] { return !bar()->isPlaying(); }));
    EXPECT_TRUE(frameText().startsWith("Frame 3 of 3")) << frameText().toStdString();
    EXPECT_TRUE(waitUntil([&] { return showsFrame(index, 2); }));

    // Looping, it comes round to the first frame and plays on.
    click("loopCheckBox");
    click("playPushButton");
    ASSERT_TRUE(waitUntil([&] { return frameText().startsWith("Frame 1 of 3"); }));
    EXPECT_TRUE(bar()->isPlaying());
    click("playPushButton");
    EXPECT_FALSE(bar()->isPlaying());

    // As fast as possible, each frame waits for the one before it to be read, to the last.
    click("loopCheckBox");
    widget<QComboBox>("speedComboBox")->setCurrentIndex(int(PlaybackSpeed::AsFastAsPossible));
    click("playPushButton");
    ASSERT_TRUE(waitUntil([&] { return !bar()->isPlaying(); }));
    EXPECT_TRUE(frameText().startsWith("Frame 3 of 3")) << frameText().toStdString();
    EXPECT_TRUE(waitUntil([&] { return showsFrame(index, 2); }));
}

TEST_F(RecordingWindowTest, TheStatsBoxCountsTheFramesAndShowsTheShownFramesPoints) {
    openOn("SN-LX30-7");
    const QString file = dir.filePath("three.pcap");
    // The third frame ends half way.
    writeRasters(local(file), 3, 5 * kFramePoints / 2);
    const sentova::pcap::RecordingIndex index(local(file));
    ASSERT_TRUE(index.waitForComplete(std::chrono::seconds(10)));
    const std::vector<sentova::pcap::RecordingFrame> frames = index.frames();
    ASSERT_EQ(frames.size(), 3u);
    const auto incomplete = std::count_if(frames.begin(), frames.end(),
                                          [](const auto& frame) { return !frame.complete(); });
    // The first frame began before the recording did, and the last is cut by its end.
    ASSERT_EQ(incomplete, 2);
    EXPECT_TRUE(widget<QWidget>("recordingStats")->isHidden());

    load(file);
    const auto figure = [this](const char* name) { return widget<QLabel>(name)->text(); };
    ASSERT_TRUE(waitUntil([&] { return !indexing() && showsFrame(index, 0); }));
    EXPECT_TRUE(widget<QWidget>("recordingStats")->isVisible());
    EXPECT_EQ(figure("recordingFrames_label"), "3");
    EXPECT_EQ(figure("incompleteFrames_label"), "2");
    EXPECT_EQ(figure("framePoints_label"), QString::number(frames[0].points));

    click("stepForwardPushButton");
    click("stepForwardPushButton");
    ASSERT_TRUE(waitUntil([&] { return showsFrame(index, 2); }));
    EXPECT_EQ(figure("framePoints_label"), QString::number(frames[2].points));
    EXPECT_EQ(frames[2].points, kFramePoints / 2);

    click("closeRecordingPushButton");
    EXPECT_TRUE(widget<QWidget>("recordingStats")->isHidden());
    EXPECT_TRUE(bar()->isHidden());
}

TEST_F(RecordingWindowTest, TheViewsKeysPlayAndStepAndAFocusedButtonKeepsItsSpace) {
    openOn("SN-LX30-7");
    const QString file = dir.filePath("three.pcap");
    writeRasters(local(file), 3);
    load(file);
    ASSERT_TRUE(waitUntil([&] { return !indexing() && frameText().startsWith("Frame 1 of 3"); }));

    // Keys go to the focus of the active window.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    view()->setFocus();
    ASSERT_TRUE(waitUntil([&] { return view()->hasFocus(); }));
    QTest::keyClick(view(), Qt::Key_Right);
    EXPECT_TRUE(frameText().startsWith("Frame 2 of 3")) << frameText().toStdString();
    QTest::keyClick(view(), Qt::Key_Right);
    QTest::keyClick(view(), Qt::Key_Right); // past the end: stays on the last
    EXPECT_TRUE(frameText().startsWith("Frame 3 of 3")) << frameText().toStdString();
    QTest::keyClick(view(), Qt::Key_Left);
    EXPECT_TRUE(frameText().startsWith("Frame 2 of 3")) << frameText().toStdString();
    QTest::keyClick(view(), Qt::Key_Space);
    EXPECT_TRUE(bar()->isPlaying());
    QTest::keyClick(view(), Qt::Key_Space);
    EXPECT_FALSE(bar()->isPlaying());

    // Space on the focused step button presses the button, and playback stays paused.
    auto* step = widget<QPushButton>("stepBackPushButton");
    step->setFocus();
    ASSERT_TRUE(waitUntil([&] { return step->hasFocus(); }));
    QTest::keyClick(step, Qt::Key_Space);
    EXPECT_TRUE(frameText().startsWith("Frame 1 of 3")) << frameText().toStdString();
    EXPECT_FALSE(bar()->isPlaying());

    // With a point file loaded the bar goes, and the view's keys are the view's again.
    const QString points = dir.filePath("points.csv");
    std::ofstream(local(points)) << "x,y,z\n1,2,3\n";
    runToEnd("askForPCDFileToLoad", points);
    EXPECT_TRUE(waitUntil([&] { return totalPoints() == "1"; }));
    EXPECT_TRUE(bar()->isHidden());
    view()->setFocus();
    QTest::keyClick(view(), Qt::Key_Right);
    EXPECT_TRUE(frameText().startsWith("No frames")) << frameText().toStdString();
}

TEST_F(RecordingWindowTest, LastNFramesAccumulatesThePlayedFrames) {
    openOn("SN-LX30-7");
    const QString file = dir.filePath("three.pcap");
    writeRasters(local(file), 3);
    load(file);
    ASSERT_TRUE(waitUntil([&] { return !indexing() && frameText().startsWith("Frame 1 of 3"); }));
    auto* modes = widget<QComboBox>("displayModeComboBox");
    modes->setCurrentIndex(2);
    QMetaObject::invokeMethod(modes, "activated", Q_ARG(int, 2));
    widget<QSpinBox>("displayCountSpinBox")->setValue(2);

    EXPECT_TRUE(waitUntil([&] { return totalPoints() == QString::number(kFramePoints); }));
    click("stepForwardPushButton");
    EXPECT_TRUE(waitUntil([&] { return totalPoints() == QString::number(2 * kFramePoints); }));
    click("stepForwardPushButton");
    // Two frames of three: the first has gone.
    EXPECT_TRUE(waitUntil([&] { return totalPoints() == QString::number(2 * kFramePoints); }));
    click("stepBackPushButton");
    click("stepBackPushButton");
    EXPECT_TRUE(waitUntil([&] { return totalPoints() == QString::number(kFramePoints); }));
}

TEST_F(RecordingWindowTest, SaveAsTakesTheShownFramesOrTheWholeRecording) {
    openOn("SN-LX30-7");
    const QString file = dir.filePath("three.pcap");
    writeRasters(local(file), 3);
    load(file);
    ASSERT_TRUE(waitUntil([&] { return !indexing() && frameText().startsWith("Frame 1 of 3"); }));
    click("stepForwardPushButton");
    ASSERT_TRUE(waitUntil([&] { return totalPoints() == QString::number(kFramePoints); }));

    const QString shown = dir.filePath("shown.csv");
    saveAs("saveShownPushButton", shown, formats::Format::Csv);
    const formats::ReadResult frame = formats::read(local(shown));
    ASSERT_EQ(frame.points.size(), kFramePoints);
    EXPECT_EQ(frame.points.front().timestamp, 1000u + 40u * kFramePoints);

    // Every point of every frame, in order; LAS needs the bounds before the first point.
    for (const formats::Format format : {formats::Format::PcdBinary, formats::Format::Las}) {
        const QString whole =
            dir.filePath(format == formats::Format::Las ? "whole.las" : "whole.pcd");
        saveAs("saveWholePushButton", whole, format);
        const formats::ReadResult all = formats::read(local(whole));
        ASSERT_EQ(all.points.size(), 3u * kFramePoints) << all.error;
        if (format == formats::Format::PcdBinary) {
            for (std::size_t i = 0; i < all.points.size(); i += 499) {
                EXPECT_EQ(all.points[i].timestamp, 1000u + 40u * i) << i;
            }
        }
        EXPECT_NEAR(
            std::hypot(all.points.back().x, all.points.back().y, all.points.back().z),
            std::hypot(frame.points.back().x, frame.points.back().y, frame.points.back().z) * 9.0 /
                7.0,
            0.01);
    }
}

TEST_F(RecordingWindowTest, AFrameThatCannotBeReadIsReportedAndTheViewKept) {
    openOn("SN-LX30-7");
    const QString file = dir.filePath("three.pcap");
    writeRasters(local(file), 3);
    const sentova::pcap::RecordingIndex index(local(file));
    ASSERT_TRUE(index.waitForComplete(std::chrono::seconds(10)));
    load(file);
    ASSERT_TRUE(waitUntil([&] { return !indexing() && showsFrame(index, 0); }));
    const std::vector<DataPoint> first =
        sentova::pcap::readFramePoints(index, 0, LIDAR_LX30, false);

    ASSERT_TRUE(QFile::remove(file));
    click("stepForwardPushButton");
    EXPECT_TRUE(waitUntil([&] {
        return status().startsWith("Could not read the frame of " + file);
    })) << status().toStdString();
    // The loader reports after it has left the store alone: the first frame's points stay, as
    // the redraw that a change of colours makes shows (live data given meanwhile waits apart).
    feed(1);
    action("actionReset_colors")->trigger();
    ASSERT_TRUE(waitForDisplayRefresh(window.get()));
    EXPECT_EQ(totalPoints(), QString::number(first.size()));
    EXPECT_TRUE(showsPoints(first));
}

TEST_F(RecordingWindowTest, AtTheFirstSizeEveryControlIsReachableAndNoneLiesOverAnother) {
    openOn("SN-LX30-7");
    // The first run opens at the layout's size: nothing under the view asks for more.
    EXPECT_EQ(window->size(), QSize(1160, 536));
    const QString file = dir.filePath("three.pcap");
    writeRasters(local(file), 3);
    // A recording open: the bar under the view and the most rows the Stats box has.
    load(file);
    ASSERT_TRUE(waitUntil([&] { return !indexing() && frameText().startsWith("Frame 1 of 3"); }));
    ASSERT_TRUE(widget<QWidget>("recordingStats")->isVisible());

    for (const char* model : {"actionLX30", "actionLX20", "actionGeneric"}) {
        widget<QAction>(model)->trigger();
        settleLayouts();
        for (const char* panel :
             {"scan_groupBox", "stackedWidget", "device_groupBox", "timelineBar"}) {
            const std::vector<QWidget*> controls = controlsOf(widget<QWidget>(panel), window.get());
            EXPECT_FALSE(controls.empty()) << model << " " << panel;
            for (QWidget* w : controls) {
                const std::string name =
                    std::string(model) + " " + panel + " " + w->objectName().toStdString() + " \"" +
                    (qobject_cast<QLabel*>(w) ? qobject_cast<QLabel*>(w)->text() : "")
                        .toStdString() +
                    "\"";
                EXPECT_EQ(unreachable(w, window.get()), "") << name;
                // Squeezed below what it needs, a text is cut or runs over its neighbour.
                EXPECT_GE(w->width(), w->minimumSizeHint().width()) << name;
                EXPECT_GE(w->height(), w->minimumSizeHint().height()) << name;
                for (QWidget* other : controls) {
                    if (other != w && !w->isAncestorOf(other) && !other->isAncestorOf(w)) {
                        const QRect a(w->mapTo(window.get(), QPoint(0, 0)), w->size());
                        const QRect b(other->mapTo(window.get(), QPoint(0, 0)), other->size());
                        EXPECT_FALSE(a.intersects(b))
                            << name << " and " << other->objectName().toStdString();
                    }
                }
            }
        }
    }
}

TEST_F(RecordingWindowTest, TheWindowAnswersWhileALargeRecordingIsIndexed) {
    openOn("SN-LX30-7");
    const QString file = dir.filePath("large.pcap");
    writeRasters(local(file), 1500); // 3,000,000 points, 80 MB
    QElapsedTimer clock;
    clock.start();
    load(file);

    // A zero-timer counts the event loop's turns while the index grows.
    int turnsWhileIndexing = 0;
    qint64 last = clock.elapsed();
    qint64 longest = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (indexing()) {
            ++turnsWhileIndexing;
            longest = std::max(longest, clock.elapsed() - last);
        }
        last = clock.elapsed();
    });
    ticker.start(0);
    ASSERT_TRUE(
        waitUntil([&] { return frameText().startsWith("Frame 1 of "); }, std::chrono::seconds(10)));
    const qint64 firstFrame = clock.elapsed();
    ASSERT_TRUE(waitUntil([&] { return !indexing(); }, std::chrono::seconds(60)));
    const qint64 indexed = clock.elapsed();
    EXPECT_GT(turnsWhileIndexing, 0);
    EXPECT_TRUE(frameText().startsWith("Frame 1 of 1500")) << frameText().toStdString();

    // A move far into it: the frame is read from the file, not held.
    auto* slider = widget<QSlider>("timelineSlider");
    const qint64 moved = clock.elapsed();
    slider->setValue(1200);
    EXPECT_TRUE(frameText().startsWith("Frame 1201 of 1500")) << frameText().toStdString();
    // The next refresh that takes in a change of the buffer draws the frame.
    EXPECT_TRUE(waitForDisplayRefresh(window.get()));
    EXPECT_EQ(totalPoints(), QString::number(kFramePoints));
    RecordProperty("first_frame_ms", int(firstFrame));
    RecordProperty("index_ms", int(indexed));
    RecordProperty("longest_turn_while_indexing_ms", int(longest));
    RecordProperty("move_to_drawn_ms", int(clock.elapsed() - moved));
}

} // namespace
} // namespace viewer_test
