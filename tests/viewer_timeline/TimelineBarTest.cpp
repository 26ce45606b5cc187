// The timeline bar on a real display: its parts by name, what it tells of the user's actions,
// and what it shows as the index grows.
#include "TimelineBar.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyleOptionSlider>
#include <QTest>

#include <gtest/gtest.h>

namespace {

template <typename T> T* part(const TimelineBar& bar, const char* name) {
    T* p = bar.findChild<T*>(name);
    EXPECT_NE(p, nullptr) << name;
    return p;
}

QString label(const TimelineBar& bar) {
    return bar.findChild<QLabel*>("frameLabel")->text();
}

// Whether a column of the slider near x holds the mark colour.
bool markedNear(const QImage& image, int x) {
    for (int dx = -1; dx <= 1; ++dx)
        for (int y = 0; y < image.height(); ++y)
            if (x + dx >= 0 && x + dx < image.width() &&
                image.pixelColor(x + dx, y) == QColor(200, 40, 40))
                return true;
    return false;
}

} // namespace

TEST(TimelineBar, HasItsPartsAndTheSpeedsInOrder) {
    TimelineBar bar;
    part<QSlider>(bar, "timelineSlider");
    part<QPushButton>(bar, "playPushButton");
    part<QPushButton>(bar, "stepBackPushButton");
    part<QPushButton>(bar, "stepForwardPushButton");
    part<QCheckBox>(bar, "loopCheckBox");
    part<QLabel>(bar, "frameLabel");
    QComboBox* speed = part<QComboBox>(bar, "speedComboBox");
    ASSERT_NE(speed, nullptr);
    QStringList items;
    for (int i = 0; i < speed->count(); ++i)
        items << speed->itemText(i);
    EXPECT_EQ(items, (QStringList{QString::fromUtf8("\u00bc\u00d7"),
                                  QString::fromUtf8("\u00bd\u00d7"), QString::fromUtf8("1\u00d7"),
                                  QString::fromUtf8("2\u00d7"), QString::fromUtf8("4\u00d7"),
                                  QString::fromUtf8("8\u00d7"), "As fast as possible"}));
    EXPECT_EQ(speed->currentIndex(), 2);
    // Nothing to play yet.
    EXPECT_FALSE(bar.findChild<QPushButton*>("playPushButton")->isEnabled());
    EXPECT_EQ(label(bar), "No frames yet");
}

TEST(TimelineBar, GrowsWithTheIndexWithoutMovingTheFrameShown) {
    TimelineBar bar;
    QSignalSpy requested(&bar, &TimelineBar::frameRequested);
    bar.setFrameCount(1, false);
    auto* slider = bar.findChild<QSlider*>("timelineSlider");
    EXPECT_EQ(slider->maximum(), 0);
    EXPECT_EQ(label(bar), "Frame 1 of 1 (0:00.000)");
    EXPECT_TRUE(bar.findChild<QPushButton*>("playPushButton")->isEnabled());
    bar.setFrameCount(3, true);
    EXPECT_EQ(slider->maximum(), 2);
    EXPECT_EQ(label(bar), "Frame 1 of 3 (0:00.000)");
    bar.setCurrentFrame(1, 100000);
    EXPECT_EQ(slider->value(), 1);
    EXPECT_EQ(label(bar), "Frame 2 of 3 (0:00.100)");
    bar.setFrameCount(40, false);
    EXPECT_EQ(slider->value(), 1);
    EXPECT_EQ(label(bar), "Frame 2 of 40 (0:00.100)");
    // What the program sets is no request of the user's.
    EXPECT_EQ(requested.count(), 0);

    bar.clear();
    EXPECT_EQ(bar.frameCount(), 0);
    EXPECT_EQ(label(bar), "No frames yet");
    EXPECT_FALSE(slider->isEnabled());
    EXPECT_EQ(requested.count(), 0);
}

TEST(TimelineBar, TellsWhatTheUserAsksFor) {
    TimelineBar bar;
    bar.setFrameCount(5, true);
    bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
    QSignalSpy requested(&bar, &TimelineBar::frameRequested);
    QSignalSpy play(&bar, &TimelineBar::playToggled);
    QSignalSpy back(&bar, &TimelineBar::stepBackRequested);
    QSignalSpy forward(&bar, &TimelineBar::stepForwardRequested);
    QSignalSpy speed(&bar, &TimelineBar::speedChanged);
    QSignalSpy loop(&bar, &TimelineBar::loopChanged);

    QTest::mouseClick(bar.findChild<QPushButton*>("playPushButton"), Qt::LeftButton);
    QTest::mouseClick(bar.findChild<QPushButton*>("stepForwardPushButton"), Qt::LeftButton);
    QTest::mouseClick(bar.findChild<QPushButton*>("stepBackPushButton"), Qt::LeftButton);
    EXPECT_EQ(play.count(), 1);
    EXPECT_EQ(forward.count(), 1);
    EXPECT_EQ(back.count(), 1);

    auto* slider = bar.findChild<QSlider*>("timelineSlider");
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Right);
    QTest::keyClick(slider, Qt::Key_End);
    ASSERT_EQ(requested.count(), 2);
    EXPECT_EQ(requested.at(0).at(0).toInt(), 1);
    EXPECT_EQ(requested.at(1).at(0).toInt(), 4);
    EXPECT_EQ(bar.currentFrame(), 4);

    auto* speeds = bar.findChild<QComboBox*>("speedComboBox");
    speeds->setFocus();
    QTest::keyClick(speeds, Qt::Key_Down);
    ASSERT_EQ(speed.count(), 1);
    EXPECT_EQ(speed.at(0).at(0).toInt(), 3);
    QTest::mouseClick(bar.findChild<QCheckBox*>("loopCheckBox"), Qt::LeftButton);
    ASSERT_EQ(loop.count(), 1);
    EXPECT_TRUE(loop.at(0).at(0).toBool());

    // Settings restored by the program are not the user's choice.
    bar.setSpeed(0);
    bar.setLoop(false);
    EXPECT_EQ(speeds->currentIndex(), 0);
    EXPECT_EQ(speed.count(), 1);
    EXPECT_EQ(loop.count(), 1);

    bar.setPlaying(true);
    EXPECT_TRUE(bar.isPlaying());
    EXPECT_EQ(bar.findChild<QPushButton*>("playPushButton")->toolTip(), "Pause");
}

TEST(TimelineBar, IncompleteFramesAreMarkedOnTheTrack) {
    TimelineBar bar;
    bar.resize(900, 40);
    bar.setFrameCount(5, true);
    bar.markIncomplete(3);
    bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
    TimelineSlider* slider = bar.slider();
    EXPECT_TRUE(slider->incomplete(3));
    EXPECT_FALSE(slider->incomplete(1));

    QStyleOptionSlider option;
    option.initFrom(slider);
    option.orientation = Qt::Horizontal;
    option.minimum = 0;
    option.maximum = 4;
    const QRect groove = slider->style()->subControlRect(QStyle::CC_Slider, &option,
                                                         QStyle::SC_SliderGroove, slider);
    const QRect handle = slider->style()->subControlRect(QStyle::CC_Slider, &option,
                                                         QStyle::SC_SliderHandle, slider);
    const auto xOf = [&](int frame) {
        return groove.left() + handle.width() / 2 +
               QStyle::sliderPositionFromValue(0, 4, frame, groove.width() - handle.width());
    };
    const QImage image = slider->grab().toImage();
    EXPECT_TRUE(markedNear(image, xOf(3)));
    EXPECT_FALSE(markedNear(image, xOf(1)));

    // Marks come as the index finds the frames, and go with the recording.
    bar.setFrameCount(8, false);
    bar.markIncomplete(7);
    EXPECT_TRUE(slider->incomplete(3));
    EXPECT_TRUE(slider->incomplete(7));
    bar.clear();
    EXPECT_FALSE(slider->incomplete(3));
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
