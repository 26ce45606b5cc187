#pragma once

// The laser points of a capture file (a recording of the device's traffic): the device's laser
// datagrams, decoded by the listener's own decoder, cut into the device's scan frames and turned
// into point records as live data is. Runs on any thread; the callbacks are called on it.

#include "DataPoint.h"
#include "Progress.h"
#include "Sentova/ScanFrames.h"
#include "Sentova/SentovaGrabber.h"
#include "SentovaPcap/RecordingIndex.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace sentova {
namespace pcap {

struct CaptureRead {
    bool ok = false;         // the file could be read, up to its end or its damage
    bool cancelled = false;  // cancel returned true
    bool stopped = false;    // a sink asked to stop: the rest of the file was not read (ok)
    std::string error;       // why nothing could be read (!ok, !cancelled); without the file name
    std::string device;      // the laser source whose points these are, dotted decimal
    std::size_t sources = 0; // laser sources seen in the file
    std::uint64_t points = 0;
    // Every frame, in order; the last one is closed by the file's end (or its damage).
    std::vector<tavrel::scan_frame_t> frames;
    // What was wrong with the file although it was read (damage after some packets, packets
    // that are not IPv4 UDP); without the file name; empty when nothing was.
    std::string problems;
};

// The observations of one laser datagram and the frames they fall in.
using ObservationSink = std::function<void(const std::vector<tavrel::tavrel_rbe_obs_t>&,
                                           const std::vector<tavrel::scan_frame_piece_t>&)>;
// A frame that has closed; return false to stop reading (the rest of the file is not read).
using FrameSink = std::function<bool(const tavrel::scan_frame_t&)>;

// For an index of the frames: where each laser datagram lies, and which datagrams are taken.
struct CapturePlaces {
    // The file position from which Reader::next gives again the datagram whose observations
    // come next.
    std::function<void(std::uint64_t position)> datagram;
    // The filter in use: once the source is chosen, before its first observations, and again
    // whenever a later stream start adds a data port. False stops reading.
    std::function<bool(const LaserFilter&)> filter;
};

// Reads the observations of the busiest laser source (the device, unless the capture holds
// several) as they come, cutting them into frames: a frame is whole when its start and end were
// seen and the device time stamps inside it show no gap. A file that holds no laser data is an
// error. progress counts per mille.
CaptureRead readCaptureObservations(const std::string& path, const ObservationSink& observations,
                                    const FrameSink& frames = {},
                                    const formats::Progress& progress = {},
                                    const formats::Cancel& cancel = {},
                                    const CapturePlaces& places = {});

struct CapturePoints : CaptureRead {
    std::deque<DataPoint> points; // empty when cancelled
};

// Every point of the file, as the window would have shown them live with this model and mode.
CapturePoints readCapturePoints(const std::string& path, LIDAR_TYPE mode, bool highSpeed,
                                const formats::Progress& progress = {},
                                const formats::Cancel& cancel = {});

// The points of one frame of an index, read from its file, as the window would have shown them
// live. Throws CaptureError as RecordingIndex::readFrame does.
std::vector<DataPoint> readFramePoints(const RecordingIndex& index, std::size_t frame,
                                       LIDAR_TYPE mode, bool highSpeed);

} // namespace pcap
} // namespace sentova
