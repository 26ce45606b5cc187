#pragma once

// The device models as the tool names them, and the laser stream parameters each model takes,
// as the viewer's laser panels build them. Pure.

#include "DataPoint.h"

#include "Sentova/CommandSerialiser.h"

#include <optional>
#include <string>
#include <vector>

namespace cli {

// "lx30", "lx20", "generic".
std::optional<LIDAR_TYPE> modelFromName(const std::string& name);
const char* modelName(LIDAR_TYPE model);  // "lx30", ...
const char* modelLabel(LIDAR_TYPE model); // "LX30", "LX20", "generic"

// The laser panels' settings. LX30: measurement mode 0 "High Speed", 1 "Fast Mode", 2 "High
// Penetration"; target mode 0 "All Targets" to 4 "Highest Reflectance". LX20: sample rate
// 100..10000 Hz, averaged samples 1..10, gain 0..3; high-speed mode sends 30000 Hz and gives
// points of intensity 0.
struct LaserSettings {
    LIDAR_TYPE model = LIDAR_GENERIC;
    int measurement = 0;
    int target = 0;
    int sampleRate = 10000;
    int average = 1;
    int gain = 0;
    bool highSpeed = false;
    // The first option given that belongs to one model only ("--gain"), for the check below.
    std::string lx30Option;
    std::string lx20Option;
};

// A usage error when an option of another model was given.
void checkOptionsFor(const LaserSettings& settings, LIDAR_TYPE model);

// The names the tool takes for the LX30's two choices, in index order.
const std::vector<std::string>& measurementNames(); // high-speed, fast, penetration
const std::vector<std::string>& targetNames();      // all, first, last, highest-amplitude, ...

// The parameter list of the model's laser start, the data port last: LX30 [1, 2, 0], LX20
// [3, 4, 5, 0], generic [0].
std::vector<tavrel::Parameter> laserParameters(const LaserSettings& settings, int port);

// The firmware number of a serial text: the two characters after the first '-' (the first two
// without one), read as a decimal number, as the library's version check reads it.
int firmwareFromSerial(const std::string& serial);

} // namespace cli
