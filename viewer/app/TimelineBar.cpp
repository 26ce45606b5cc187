#include "TimelineBar.h"

#include "PlaybackClock.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionSlider>

TimelineSlider::TimelineSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setObjectName("timelineSlider");
    setRange(0, 0);
    setPageStep(10);
    setTracking(true);
}

void TimelineSlider::setFrames(int frames) {
    m_incomplete.resize(frames > 0 ? std::size_t(frames) : 0, false);
    update();
}

void TimelineSlider::markIncomplete(int frame) {
    if (frame < 0)
        return;
    if (std::size_t(frame) >= m_incomplete.size())
        m_incomplete.resize(std::size_t(frame) + 1, false);
    m_incomplete[std::size_t(frame)] = true;
    update();
}

bool TimelineSlider::incomplete(int frame) const {
    return frame >= 0 && std::size_t(frame) < m_incomplete.size() &&
           m_incomplete[std::size_t(frame)];
}

void TimelineSlider::clearMarks() {
    m_incomplete.clear();
    update();
}

void TimelineSlider::paintEvent(QPaintEvent* event) {
    QSlider::paintEvent(event);
    if (maximum() <= minimum())
        return;
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const QRect handle =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    // The handle's centre travels over the groove less the handle's width.
    const int span = groove.width() - handle.width();
    const int left = groove.left() + handle.width() / 2;
    QPainter painter(this);
    painter.setPen(QPen(QColor(200, 40, 40), 2));
    int lastX = -1;
    for (std::size_t k = 0; k < m_incomplete.size(); ++k) {
        if (!m_incomplete[k] || int(k) > maximum())
            continue;
        const int x = left + QStyle::sliderPositionFromValue(minimum(), maximum(), int(k), span);
        // Thousands of frames share a few hundred pixels: one mark per pixel.
        if (x == lastX)
            continue;
        lastX = x;
        painter.drawLine(x, groove.bottom() - 1, x, groove.bottom() + 3);
    }
}

TimelineBar::TimelineBar(QWidget* parent)
    : QWidget(parent), m_slider(new TimelineSlider(this)), m_play(new QPushButton(this)),
      m_stepBack(new QPushButton(this)), m_stepForward(new QPushButton(this)),
      m_speed(new QComboBox(this)), m_loop(new QCheckBox("Loop", this)), m_label(new QLabel(this)),
      m_close(new QPushButton("Close", this)) {
    setObjectName("timelineBar");
    m_play->setObjectName("playPushButton");
    m_stepBack->setObjectName("stepBackPushButton");
    m_stepForward->setObjectName("stepForwardPushButton");
    m_speed->setObjectName("speedComboBox");
    m_loop->setObjectName("loopCheckBox");
    m_label->setObjectName("frameLabel");
    m_close->setObjectName("closeRecordingPushButton");
    m_close->setToolTip("Close the recording and show the live data again");

    m_stepBack->setIcon(style()->standardIcon(QStyle::SP_MediaSkipBackward));
    m_stepBack->setToolTip("Step back");
    m_stepForward->setIcon(style()->standardIcon(QStyle::SP_MediaSkipForward));
    m_stepForward->setToolTip("Step forward");
    for (int i = 0; i < kPlaybackSpeedCount; ++i)
        m_speed->addItem(QString::fromUtf8(playbackSpeedText(static_cast<PlaybackSpeed>(i))));
    m_speed->setCurrentIndex(static_cast<int>(PlaybackSpeed::Normal));
    m_speed->setToolTip("Playback speed");
    setPlaying(false);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->addWidget(m_stepBack);
    layout->addWidget(m_play);
    layout->addWidget(m_stepForward);
    layout->addWidget(m_slider, 1);
    layout->addWidget(m_label);
    layout->addWidget(m_speed);
    layout->addWidget(m_loop);
    layout->addWidget(m_close);

    connect(m_slider, &QSlider::valueChanged, this, [this](int value) {
        m_current = value;
        emit frameRequested(value);
    });
    connect(m_play, &QPushButton::clicked, this, &TimelineBar::playToggled);
    connect(m_stepBack, &QPushButton::clicked, this, &TimelineBar::stepBackRequested);
    connect(m_stepForward, &QPushButton::clicked, this, &TimelineBar::stepForwardRequested);
    connect(m_speed, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &TimelineBar::speedChanged);
    connect(m_loop, &QCheckBox::toggled, this, &TimelineBar::loopChanged);
    connect(m_close, &QPushButton::clicked, this, &TimelineBar::closeRequested);
    clear();
}

void TimelineBar::setFrameCount(int frames, bool indexComplete) {
    m_frames = frames > 0 ? frames : 0;
    m_complete = indexComplete;
    {
        const QSignalBlocker blocker(m_slider);
        m_slider->setRange(0, m_frames > 0 ? m_frames - 1 : 0);
        m_slider->setFrames(m_frames);
    }
    const bool any = m_frames > 0;
    m_slider->setEnabled(any);
    m_play->setEnabled(any);
    m_stepBack->setEnabled(any);
    m_stepForward->setEnabled(any);
    showFrameText();
}

void TimelineBar::markIncomplete(int frame) {
    m_slider->markIncomplete(frame);
}

void TimelineBar::setCurrentFrame(int frame, quint64 sinceStartMicros) {
    m_current = frame;
    m_sinceStart = sinceStartMicros;
    {
        // Only the user's moves are requests.
        const QSignalBlocker blocker(m_slider);
        m_slider->setValue(frame);
    }
    showFrameText();
}

void TimelineBar::setPlaying(bool playing) {
    m_playing = playing;
    m_play->setIcon(style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    m_play->setToolTip(playing ? "Pause" : "Play");
}

void TimelineBar::setSpeed(int speed) {
    const QSignalBlocker blocker(m_speed);
    if (speed >= 0 && speed < kPlaybackSpeedCount)
        m_speed->setCurrentIndex(speed);
}

void TimelineBar::setLoop(bool loop) {
    const QSignalBlocker blocker(m_loop);
    m_loop->setChecked(loop);
}

void TimelineBar::clear() {
    m_slider->clearMarks();
    setPlaying(false);
    m_sinceStart = 0;
    m_current = 0;
    setFrameCount(0, false);
    setCurrentFrame(0, 0);
}

void TimelineBar::showFrameText() {
    if (m_frames == 0) {
        m_label->setText(m_complete ? "No frames" : "No frames yet");
        return;
    }
    const int shown = m_current < m_frames ? m_current : m_frames - 1;
    QString text =
        QString::fromStdString(frameCountText(std::size_t(shown), std::size_t(m_frames)) + " (" +
                               recordingTimeText(m_sinceStart) + ")");
    m_label->setText(text);
    m_label->setToolTip(m_complete ? QString() : QString("Still reading the recording"));
}
