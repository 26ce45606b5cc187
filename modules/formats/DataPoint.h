#pragma once

// The point record shared by the viewer, the command-line tool and the point formats, and the
// device models. Plain values and a pure function: any thread may use them.

#include <cstdint>
#include <string>

// Device model; also the index of the model's laser panel in the window.
enum LIDAR_TYPE { LIDAR_LX30 = 0, LIDAR_LX20 = 1, LIDAR_GENERIC = 2 };

// Model strings looked for in the serial number, indexed by LIDAR_TYPE (no entry for the generic
// model, which is the fall-back).
inline constexpr const char* LIDAR_VARIANT[] = {"LX30", "LX20"};
inline constexpr int LIDAR_VARIANT_COUNT = 2;

// One displayed and saved point. Points read from a file carry only x, y, z and intensity.
struct DataPoint {
    struct Rgb {
        std::uint8_t red = 0;
        std::uint8_t green = 0;
        std::uint8_t blue = 0;
    };

    double azimuth = 0.0;   // degrees, as received
    double elevation = 0.0; // degrees, as received
    double range = 0.0;     // as received, no unit conversion
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    Rgb color;                        // grey level or white for the LX20 model; nothing reads it
    double reflectance = 0.0;         // LX30 only
    double pulseShapeDeviation = 0.0; // LX30 only
    double timestamp = 0.0;
    double intensity = 0.0;
};

namespace formats {

// The model whose string occurs first in LIDAR_VARIANT order anywhere in the serial number
// (case-sensitive); LIDAR_GENERIC when neither occurs.
LIDAR_TYPE modelFromSerial(const std::string& serial);

} // namespace formats
