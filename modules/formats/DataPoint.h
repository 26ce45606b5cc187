#pragma once

// The point record shared by the viewer, the command-line tool and the point formats. A plain
// value: any thread may use it.

#include "Sentova/DeviceModel.h"

#include <cstdint>
#include <string>

// One displayed and saved point. Points read from a file carry only the file's columns.
//
// The device's angles, range and amplitudes are stored in single precision (at 100 m a float
// holds a tenth of a millimetre), so a point takes 56 bytes instead of 88. Coordinates are
// computed in double precision and kept so. The timestamp is the device's integer count of
// microseconds, kept exactly; a time read from a file as a real number (LAS GPS time from
// elsewhere) is rounded to the nearest whole value, negative ones to 0. Values read from files
// into the single-precision fields are rounded to float.
struct DataPoint {
    double x = 0.0; // same unit as range
    double y = 0.0;
    double z = 0.0;
    std::uint64_t timestamp = 0;
    float azimuth = 0.0f;             // degrees, as received
    float elevation = 0.0f;           // degrees, as received
    float range = 0.0f;               // as received, no unit conversion
    float reflectance = 0.0f;         // LX30 only
    float pulseShapeDeviation = 0.0f; // LX30 only
    float intensity = 0.0f;           // the amplitude; 0 for the LX20 in high-speed mode
};
