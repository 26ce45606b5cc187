#pragma once

// `sentova record`: the device's raw traffic to a capture file. Starts the laser stream (and a
// scan when asked), records every datagram of the command channels and of the laser data port,
// stops what it started at the end (after --seconds, or on SIGINT or SIGTERM) and gives the
// file its name only once it is complete. An MCAP file is made at the end from a capture of the
// same traffic, kept meanwhile in a temporary file beside it, so that its frames and log are
// those `sentova convert` makes of a recording. Runs on the main thread; the library's threads only
// queue the datagrams for the recorder's writer thread.

#include "Device.h"
#include "Sentova/Protocol.h"

#include <optional>
#include <string>

namespace cli {

struct RecordOptions {
    std::string address;
    std::string output; // the capture file
    bool mcap = false;  // the output is MCAP instead of pcap
    int port = tavrel::protocol::kDefaultDataPort;
    std::optional<LIDAR_TYPE> model; // from the serial number when not given
    LaserSettings laser;
    std::optional<ScanSettings> scan;
    std::optional<double> seconds;
    bool quiet = false;
};

// Whether the output is MCAP: format "mcap", or none given and the name ends in .mcap. A usage
// error for an existing file without force, or a pcap output whose name does not end in .pcap.
bool checkRecordOutput(const std::string& path, const std::string& format, bool force);

// Returns the exit status; throws Failure.
int runRecord(RecordOptions options);

} // namespace cli
