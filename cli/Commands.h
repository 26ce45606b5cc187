#pragma once

// The subcommands other than capture. Each returns the exit status or throws Failure.

#include "Device.h"
#include "Output.h"

#include <optional>
#include <string>

namespace cli {

int runInfo(const std::string& address, bool json);
int runHome(const std::string& address);
int runStop(const std::string& address);
int runScan(const std::string& address, const ScanSettings& scan);
// Prints the angles, or moves to them when set.
int runAngles(const std::string& address, std::optional<std::pair<double, double>> set,
              double speed);
int runLaser(const std::string& address, bool start, std::optional<LIDAR_TYPE> model,
             LaserSettings settings, int port);

struct ConvertOptions {
    std::string input;
    std::string inputFormat; // empty: from the extension or the content
    Destination output;
    std::optional<formats::FieldSelection> fields; // default: the input's columns
    std::optional<std::uint64_t> frame;            // of a recording, 0-based; none: every point
    bool quiet = false;
};
int runConvert(const ConvertOptions& options);

} // namespace cli
