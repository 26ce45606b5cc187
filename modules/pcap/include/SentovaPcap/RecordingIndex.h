#pragma once

// A recording's frames, found by one pass over the capture file on a thread of its own and
// published as each closes, so that a player can show the first frame long before the file is
// read through. The index holds where each frame begins in the file, never its points: a frame's
// points are read back from the file when asked for.

#include "Sentova/ScanFrames.h"
#include "Sentova/SentovaGrabber.h"
#include "SentovaPcap/LaserCapture.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sentova {
namespace pcap {

// Why a frame is not whole, as bits of RecordingFrame::flags.
enum RecordingFrameFlag : unsigned {
    kFrameStartMissing = 1u << 0, // the recording began inside it, or its start was not seen
    kFrameDropInside = 1u << 1,   // the device time stamps show data missing inside it
    kFrameEndCut = 1u << 2,       // the recording ended inside it, or its end was never seen
    // One piece of a run that is no frame (a laser stream with the aperture at rest) or of a
    // frame too long to be read at once; not a fault of the data.
    kFramePiece = 1u << 3,
};

struct RecordingFrame {
    std::uint64_t offset = 0; // where reading starts: the packet holding the first point
    std::uint32_t skip = 0;   // points of that datagram that come before the frame's first
    std::uint64_t points = 0;
    std::uint64_t firstTimestamp = 0; // device time stamps (32-bit counts) of first and last point
    std::uint64_t lastTimestamp = 0;
    std::uint64_t firstHostMicros = 0; // capture times of its first and last datagram
    std::uint64_t lastHostMicros = 0;
    unsigned flags = 0;

    bool complete() const {
        return (flags & (kFrameStartMissing | kFrameDropInside | kFrameEndCut)) == 0;
    }
    bool piece() const { return (flags & kFramePiece) != 0; }
};

struct RecordingIndexOptions {
    RecordingIndexOptions() { frames.timestampGaps = true; }
    // A recording holds no drop counts: gaps in the device time stamps stand for them.
    tavrel::scan_frame_options_t frames;
    // While the aperture rests (azimuth and elevation within restDegrees since the entry began)
    // the stream is cut into pieces of this much capture time.
    std::uint64_t pieceMicros = 1000000;
    double restDegrees = 0.5;
    // No entry holds more points, so that reading one back stays bounded.
    std::uint64_t maximumPoints = 2000000;
};

// Cuts a recording's laser datagrams, given with their file positions in file order, into
// entries. Pure: no file, no thread.
class RecordingFrameCutter {
public:
    explicit RecordingFrameCutter(const RecordingIndexOptions& options = {});

    void addDatagram(std::uint64_t offset, std::uint64_t hostMicros,
                     const tavrel::tavrel_rbe_obs_t* observations, std::size_t count);
    void addEvent(unsigned event, std::uint64_t hostMicros);
    // The recording ended: the open entry closes, its end cut unless a notification said so.
    void finish();
    // Entries closed since the last call, oldest first.
    std::vector<RecordingFrame> take();

private:
    // Whether data went missing before the batch; keeps the time stamps for the next.
    bool gapBefore(const tavrel::tavrel_rbe_obs_t* observations, std::size_t count);
    bool cutsBefore(std::size_t count, std::uint64_t hostMicros) const;
    void begin(const tavrel::scan_frame_piece_t& piece, std::uint64_t offset, unsigned flags);
    void extend(const tavrel::tavrel_rbe_obs_t* observations, std::size_t count,
                std::uint64_t hostMicros);
    void close(unsigned flags);
    // The splitter closed the frame that the open entry ends.
    void closeFrame(const tavrel::scan_frame_t& frame);

    RecordingIndexOptions m_options;
    tavrel::ScanFrameSplitter m_splitter;
    std::vector<tavrel::scan_frame_piece_t> m_pieces;
    std::vector<RecordingFrame> m_closed;

    bool m_open = false;
    bool m_started = false; // an entry was begun before
    RecordingFrame m_entry;
    std::uint64_t m_frame = 0;  // the splitter's frame that the open entry is part of
    bool m_firstOfFrame = true; // the open entry holds the frame's first point
    bool m_dropMarked = false;  // the splitter's mark of a drop in m_frame went to an entry
    // Where the aperture pointed at the entry's first point, and whether it has moved since.
    double m_azimuth = 0.0;
    double m_elevation = 0.0;
    bool m_moved = false;
    // Device time: the last point's time stamp and the measurement interval (0 while unknown).
    bool m_stamped = false;
    std::uint32_t m_lastStamp = 0;
    std::uint32_t m_interval = 0;
};

// One pass over a recording. Called on the reading thread.
struct RecordingSinks {
    std::function<void(const std::vector<RecordingFrame>&)> frames;
    std::function<void(const LaserFilter&)> filter;
    std::function<void(double done)> progress; // 0 to 1
    std::function<bool()> cancel;
};
// Reads the file through, handing on entries as they close. Throws CaptureError when the file
// cannot be read at all.
LaserReadResult indexRecording(const std::string& path, const RecordingSinks& sinks,
                               const RecordingIndexOptions& options = {});

// The points of one entry, read back from the file with the filter that picks the recording's
// laser datagrams (the index's, which only ever gains data ports). Throws CaptureError when the
// file cannot be read; a file that ends before the entry is whole (changed since) gives what there
// is.
std::vector<tavrel::tavrel_rbe_obs_t>
readRecordingFrame(const std::string& path, const LaserFilter& filter, const RecordingFrame& frame);

struct RecordingIndexStatus {
    std::size_t frames = 0;
    bool complete = false; // the file is read through, or reading ended (error, cancel)
    bool cancelled = false;
    std::string error;        // why the file could not be read; empty when it could
    std::string problems;     // what was wrong with it although it was read (Reader::report)
    std::uint32_t device = 0; // the laser source indexed; 0 while unknown or when there is none
    double progress = 0.0;    // share of the file read, 0 to 1
};

// The index of one recording, built by a thread of its own from construction on.
class RecordingIndex {
public:
    // Called on the indexing thread, with no lock held, when frames were published (at most
    // every notifyInterval) and once at the end; a window posts itself an event from it. It
    // must not wait for the thread that destroys the index, which waits for it in turn.
    using Notify = std::function<void()>;

    explicit RecordingIndex(
        std::string path, RecordingIndexOptions options = {}, Notify notify = {},
        std::chrono::milliseconds notifyInterval = std::chrono::milliseconds(50));
    // Cancels the reading and waits for the thread.
    ~RecordingIndex();
    RecordingIndex(const RecordingIndex&) = delete;
    RecordingIndex& operator=(const RecordingIndex&) = delete;

    const std::string& path() const { return m_path; }
    RecordingIndexStatus status() const;
    std::size_t frameCount() const;
    bool complete() const;
    // Entry k; k must be below frameCount().
    RecordingFrame frame(std::size_t k) const;
    // Entries from k on, as published so far.
    std::vector<RecordingFrame> frames(std::size_t from = 0) const;
    // Waits until more than count frames are published or the index is complete; true when
    // more than count are.
    bool waitForFrames(std::size_t count, std::chrono::milliseconds timeout) const;
    bool waitForComplete(std::chrono::milliseconds timeout) const;
    // Ends the reading early; what was published stays.
    void cancel();

    // The points of entry k, read from the file on the caller's thread. Throws CaptureError.
    std::vector<tavrel::tavrel_rbe_obs_t> readFrame(std::size_t k) const;

private:
    void run();

    const std::string m_path;
    const RecordingIndexOptions m_options;
    const Notify m_notify;
    const std::chrono::milliseconds m_notifyInterval;
    std::atomic<bool> m_cancel{false};

    // m_mutex guards m_frames, m_filter and m_status: the indexing thread appends and updates,
    // readers copy. Held only for those copies.
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<RecordingFrame> m_frames;
    LaserFilter m_filter;
    RecordingIndexStatus m_status;

    std::thread m_thread;
};

} // namespace pcap
} // namespace sentova
