// A recording of the device's traffic played on a timeline under the view: the frame index built
// on its own thread as the file is read, the playback clock, and the bar. The frames are read on
// the frame loader's thread and reach the display through the point store, as the display mode
// says. While the view has the focus, Space plays and pauses and Left and Right step.
#pragma once

#include "FrameLoader.h"
#include "PlaybackClock.h"

#include "FrameSelection.h"
#include "Sentova/DeviceModel.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class QBoxLayout;
class QWidget;
class TimelineBar;

namespace window {
class RecordingStats;
}

namespace sentova::pcap {
class RecordingIndex;
}

namespace viewer {
class PointStore;
}

namespace window {

class RecordingPlayer : public QObject {
    Q_OBJECT

public:
    // A message for the status bar, shown for timeoutMs (0: until the next).
    using Report = std::function<void(const QString& message, int timeoutMs)>;

    // Places the bar, hidden, below view in layout, the recording's rows at the end of the Stats
    // box statsBox, and watches the view's keys. store must outlive this.
    RecordingPlayer(QWidget* view, QBoxLayout* layout, QWidget* statsBox, viewer::PointStore& store,
                    Report report);
    // Stops the reading of the index and of frames.
    ~RecordingPlayer() override;
    RecordingPlayer(const RecordingPlayer&) = delete;
    RecordingPlayer& operator=(const RecordingPlayer&) = delete;

    // Opens the capture file at path (named name to the user) in place of any recording open.
    // The live data is kept apart in the store meanwhile: the view shows the recording's frames
    // only.
    void open(const std::string& path, const QString& name);
    // Closes the recording and hides the bar; the live data comes back to the view, and the
    // store is the caller's once this returns.
    void close();
    // The recording open, or null.
    std::shared_ptr<const sentova::pcap::RecordingIndex> recording() const { return index; }

    // How observations become points, and which frames show with the current one.
    void setModel(LIDAR_TYPE model, bool highSpeed);
    void setMode(viewer::DisplayMode mode, unsigned count);

signals:
    // The frame asked for is in the store, to be drawn.
    void frameInStore();

protected:
    bool eventFilter(QObject* object, QEvent* event) override;

private:
    // The frames the index found since the last call, onto the clock and the bar.
    void takeFrames();
    // The clock's frame onto the bar, and its points asked of the loader.
    void show();
    void frameShown(std::size_t frame, const QString& error);
    void arm();
    std::uint64_t now() const;
    // Stops reading and playing, and clears the bar; the store stays as it is.
    void stopRecording();

    QWidget* view;
    viewer::PointStore& store;
    TimelineBar* bar;
    RecordingStats* stats;
    std::size_t incompleteFrames = 0;
    const Report report;
    QString name;
    std::shared_ptr<sentova::pcap::RecordingIndex> index;
    PlaybackClock clock;
    QTimer timer;
    QElapsedTimer steady;
    LIDAR_TYPE model = LIDAR_GENERIC;
    bool highSpeed = false;
    viewer::DisplayMode mode = viewer::DisplayMode::AllPoints;
    unsigned count = 1;
    bool reported = false; // the index's end was reported
    // The frame last asked of the loader, until it is in the store.
    std::optional<std::size_t> awaiting;
    // Where the index's thread posts its news. mutex guards player, which the destructor clears:
    // the posting is all that is done under it.
    struct Listener {
        explicit Listener(RecordingPlayer* p) : player(p) {}
        std::mutex mutex;
        RecordingPlayer* player;
    };
    const std::shared_ptr<Listener> listener;
    // Last, so that its thread has ended before what it calls back goes.
    FrameLoader loader;
};

} // namespace window
