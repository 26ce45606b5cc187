#pragma once

// `sentova capture`: starts what is asked (a scan, the laser stream, or one frame through the
// device's events), receives the laser stream into points, stops the laser and the scan at the
// end (also on SIGINT or SIGTERM, after which it still writes what it has) and writes the file.
// Runs on the main thread; the listener's thread only appends points.

#include "Device.h"
#include "Output.h"
#include "Sentova/Protocol.h"

#include <cstdint>
#include <optional>
#include <string>

namespace cli {

struct CaptureOptions {
    std::string address;
    int port = tavrel::protocol::kDefaultDataPort;
    std::optional<LIDAR_TYPE> model; // from the serial number when not given
    LaserSettings laser;             // the model's settings; laser.model is set from model
    std::optional<ScanSettings> scan;
    bool frame = false;
    // Whole scan frames to receive; only their points are written.
    std::optional<std::uint64_t> frames;
    std::optional<std::uint64_t> points;
    std::optional<double> seconds;
    Destination output;
    std::optional<formats::FieldSelection> fields;
    bool quiet = false;
};

// Returns the exit status; throws Failure.
int runCapture(CaptureOptions options);

} // namespace cli
