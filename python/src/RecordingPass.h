// One pass over a recording: its laser observations cut into scan frames, as the command-line
// tool cuts them, with where each frame begins in the file, so that a frame can later be read
// back alone and the file never has to be held. Pure C++, no interpreter: runs on any thread.
#pragma once

#include "Sentova/ScanFrames.h"
#include "Sentova/SentovaGrabber.h"
#include "SentovaPcap/LaserCapture.h"
#include "SentovaPcap/RecordingIndex.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace sentova::python {

// Where a frame's points are: the datagram holding its first point (offset, skip) and how many
// there are (points), read with filters[filter] of its index.
struct FramePlace {
    sentova::pcap::RecordingFrame frame;
    std::size_t filter = 0;
};

// What a whole pass found: every frame and its place; kept, it answers len() and indexing.
struct FrameIndex {
    std::vector<tavrel::scan_frame_t> frames;
    std::vector<FramePlace> places; // by frame
    std::vector<sentova::pcap::LaserFilter> filters;
};

struct PassSinks {
    // The observations of one datagram and the frames they fall in.
    std::function<void(const std::vector<tavrel::tavrel_rbe_obs_t>&,
                       const std::vector<tavrel::scan_frame_piece_t>&)>
        observations;
    // A frame that closed; false stops the pass.
    std::function<bool(const tavrel::scan_frame_t&)> frame;
    // The laser source, once chosen (before its first observations; 0 at the end of a file
    // without laser data); false stops the pass.
    std::function<bool(std::uint32_t address)> source;
};

struct PassResult {
    bool ok = false;      // read to its end (or its damage)
    bool stopped = false; // a sink asked to stop, or stop() did
    std::string error;    // why the file cannot be read, without its name
    std::string problems; // what was wrong with it although it was read, without its name
    std::string device;   // the laser source, dotted decimal, once chosen
    FrameIndex index;     // whole only when ok
};

// Reads the file through, or until a sink or stop (polled between datagrams, any thread)
// ends it.
PassResult readRecordingPass(const std::string& path, const PassSinks& sinks,
                             const std::function<bool()>& stop = {});

// The points of one frame of an index, read from its file.
std::vector<tavrel::tavrel_rbe_obs_t> readIndexedFrame(const std::string& path,
                                                       const FrameIndex& index, std::size_t k);

} // namespace sentova::python
