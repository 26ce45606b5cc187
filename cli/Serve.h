#pragma once

// `sentova serve`: starts the laser stream (and a scan, if asked) through the device session and
// serves it live over the Foxglove WebSocket protocol: a point cloud message per scan frame when
// a scan runs, otherwise the points of every 100 ms, and the device traffic on a log channel.
// Ctrl-C (SIGINT, SIGTERM) stops what it started. Runs on the main thread, which makes the
// messages; the listener's thread only hands points over, the server's thread only sends.

#include "Device.h"
#include "Sentova/Protocol.h"

#include <cstdint>
#include <optional>
#include <string>

namespace cli {

struct ServeOptions {
    std::string address;
    int port = tavrel::protocol::kDefaultDataPort;
    std::optional<LIDAR_TYPE> model; // from the serial number when not given
    LaserSettings laser;
    std::optional<ScanSettings> scan;
    std::string listen = "127.0.0.1";
    int wsPort = 8765; // 0: any free port, as the first line then says
    bool stats = false;
};

// Returns the exit status; throws Failure.
int runServe(ServeOptions options);

} // namespace cli
