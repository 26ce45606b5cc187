#pragma once

// The laser points of a capture file (a recording of the device's traffic): the device's laser
// datagrams, decoded by the listener's own decoder and turned into point records as live data
// is. Runs on any thread; progress and cancel are called on it.

#include "DataPoint.h"
#include "Progress.h"

#include <cstdint>
#include <deque>
#include <string>

namespace viewer {

struct CapturePoints {
    bool ok = false;        // the file could be read, up to its end or its damage
    bool cancelled = false; // cancel returned true: no points
    std::string error;      // why nothing could be read (!ok, !cancelled); without the file name
    std::deque<DataPoint> points;
    std::string device;      // the laser source whose points these are, dotted decimal
    std::size_t sources = 0; // laser sources seen in the file
    // What was wrong with the file although it was read (damage after some packets, packets
    // that are not IPv4 UDP); without the file name; empty when nothing was.
    std::string problems;
};

// Reads the points of the busiest laser source (the device, unless the capture holds several),
// as the window would have shown them live with this model and mode. A file that holds no laser
// data is an error. progress counts per mille.
CapturePoints readCapturePoints(const std::string& path, LIDAR_TYPE mode, bool highSpeed,
                                const formats::Progress& progress = {},
                                const formats::Cancel& cancel = {});

} // namespace viewer
