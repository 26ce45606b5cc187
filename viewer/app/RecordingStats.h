// The rows of the Stats box about the recording open: its frames found so far, those marked
// incomplete (a drop inside, or cut at an end), and the points of the frame shown. Hidden while
// no recording is open.
#pragma once

#include <QWidget>

#include <cstdint>

class QLabel;

namespace window {

class RecordingStats : public QWidget {
    Q_OBJECT

public:
    // Adds the rows at the end of box's grid layout.
    explicit RecordingStats(QWidget* box);

    // The frames found so far; complete once the index is.
    void setFrames(std::size_t frames, bool complete);
    void setIncompleteFrames(std::size_t frames);
    void setFramePoints(std::uint64_t points);
    // No recording: the rows hidden and their figures back to nothing.
    void clear();

private:
    QLabel* frames;
    QLabel* incomplete;
    QLabel* points;
};

} // namespace window
