// The bar under the view while a recording is open: a slider with one step per frame, play and
// pause, steps, the speed, looping and "Frame k of n". It holds no playback state of its own
// beyond what it shows: it says what the user asks for, and is told the frame count as the
// index grows and the frame shown.
#pragma once

#include <QSlider>
#include <QWidget>

#include <cstdint>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

// A slider that marks the incomplete frames on its track.
class TimelineSlider : public QSlider {
    Q_OBJECT
public:
    explicit TimelineSlider(QWidget* parent = nullptr);
    void setFrames(int frames);
    void markIncomplete(int frame);
    bool incomplete(int frame) const;
    void clearMarks();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<bool> m_incomplete; // by frame
};

class TimelineBar : public QWidget {
    Q_OBJECT
public:
    explicit TimelineBar(QWidget* parent = nullptr);

    int frameCount() const { return m_frames; }
    int currentFrame() const { return m_current; }
    bool isPlaying() const { return m_playing; }
    TimelineSlider* slider() const { return m_slider; }

public slots:
    // The frames found so far; complete once the index is.
    void setFrameCount(int frames, bool indexComplete);
    void markIncomplete(int frame);
    // The frame shown, and its time counted from the recording's first frame.
    void setCurrentFrame(int frame, quint64 sinceStartMicros);
    void setPlaying(bool playing);
    void setSpeed(int speed); // a PlaybackSpeed
    void setLoop(bool loop);
    // No recording: no frames, nothing playing.
    void clear();

signals:
    void frameRequested(int frame);
    void playToggled();
    void stepBackRequested();
    void stepForwardRequested();
    void speedChanged(int speed); // a PlaybackSpeed
    void loopChanged(bool loop);
    // Close the recording and go back to the live data.
    void closeRequested();

private:
    void showFrameText();

    TimelineSlider* m_slider;
    QPushButton* m_play;
    QPushButton* m_stepBack;
    QPushButton* m_stepForward;
    QComboBox* m_speed;
    QCheckBox* m_loop;
    QLabel* m_label;
    QPushButton* m_close;

    int m_frames = 0;
    int m_current = 0;
    quint64 m_sinceStart = 0;
    bool m_complete = false;
    bool m_playing = false;
};
