#pragma once

// The laser settings as the tool's options give them, with the check that no option of another
// model was given. Pure.

#include "Sentova/DeviceModel.h"

#include <string>

namespace cli {

struct LaserSettings : tavrel::LaserSettings {
    // The first option given that belongs to one model only ("--gain"), for the check below.
    std::string lx30Option;
    std::string lx20Option;
};

// A usage error when an option of another model was given.
void checkOptionsFor(const LaserSettings& settings, LIDAR_TYPE model);

} // namespace cli
