// Reads a recording's frames for playback on a thread of its own, so that the GUI thread never
// reads the file, and hands their points to the point store. One request waits at most: a newer
// one (the slider dragged on) takes its place. The frames of the last request stay read, so that
// a step forward in "Last N frames" reads one frame, not N.
#pragma once

#include "FrameSelection.h"

#include "DataPoint.h"
#include "Sentova/DeviceModel.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace sentova::pcap {
class RecordingIndex;
}

namespace viewer {
class PointStore;
}

namespace window {

class FrameLoader {
public:
    struct Request {
        std::shared_ptr<const sentova::pcap::RecordingIndex> index;
        std::size_t frame = 0;
        viewer::DisplayMode mode = viewer::DisplayMode::AllPoints;
        unsigned count = 1;
        LIDAR_TYPE model = LIDAR_GENERIC;
        bool highSpeed = false;
    };
    // Called on the loader's thread once the store holds the frame's points; error is empty
    // unless the file could not be read (the store is then left as it was).
    using Shown = std::function<void(std::size_t frame, const std::string& error)>;

    // store must outlive this.
    FrameLoader(viewer::PointStore& store, Shown shown);
    // Waits for the frame being read.
    ~FrameLoader();
    FrameLoader(const FrameLoader&) = delete;
    FrameLoader& operator=(const FrameLoader&) = delete;

    void request(Request request);
    // Drops the request waiting and the frames kept, and waits for the frame being read: after
    // it the store is the caller's again.
    void stop();

private:
    void run();
    void load(const Request& request);

    viewer::PointStore& m_store;
    const Shown m_shown;

    // m_mutex guards m_pending, m_busy, m_forget and m_quit, between the caller and the thread.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::optional<Request> m_pending;
    bool m_busy = false;
    bool m_forget = false;
    bool m_quit = false;

    // The thread's own: the frames of the last request, oldest first, and what they were read
    // for.
    std::deque<std::vector<DataPoint>> m_kept;
    std::size_t m_keptFirst = 0; // the frame m_kept.front() holds
    const sentova::pcap::RecordingIndex* m_keptIndex = nullptr;
    LIDAR_TYPE m_keptModel = LIDAR_GENERIC;
    bool m_keptHighSpeed = false;

    std::thread m_thread;
};

} // namespace window
