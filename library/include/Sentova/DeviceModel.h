// What the station knows of the device models: which model a serial number names, its
// firmware number, and the laser stream parameters each model takes. Pure.
#pragma once

#include "Sentova/CommandSerialiser.h"

#include <optional>
#include <string>
#include <vector>

// Device model; also the index of the model's laser panel in the viewer's window.
enum LIDAR_TYPE { LIDAR_LX30 = 0, LIDAR_LX20 = 1, LIDAR_GENERIC = 2 };

// Model strings looked for in the serial number, indexed by LIDAR_TYPE (no entry for the generic
// model, which is the fall-back).
inline constexpr const char* LIDAR_VARIANT[] = {"LX30", "LX20"};
inline constexpr int LIDAR_VARIANT_COUNT = 2;

namespace tavrel {

// The model whose string occurs first in LIDAR_VARIANT order anywhere in the serial number
// (case-sensitive); LIDAR_GENERIC when neither occurs.
LIDAR_TYPE ModelFromSerial(const std::string& serial);

// The firmware number of a serial text: the two characters after the first '-' (the first two
// without one), their leading decimal digits read as a number, 0 when there are none. The
// device controller's version check reads it so.
int FirmwareFromSerial(const std::string& serial);

// "lx30", "lx20", "generic": the names programs take on their command lines.
const char* ModelName(LIDAR_TYPE model);
std::optional<LIDAR_TYPE> ModelFromName(const std::string& name);
// "LX30", "LX20", "generic": the model as texts for people name it.
const char* ModelLabel(LIDAR_TYPE model);

// The LX30's two laser choices, in the order of their parameter values, as program options
// name them.
const std::vector<std::string>& LX30MeasurementNames(); // high-speed, fast, penetration
const std::vector<std::string>& LX30TargetNames();      // all, first, last, highest-amplitude, ...

// The LX20's sample rates, Hz. In high-speed mode it samples at kLX20HighSpeedRate without
// averaging, and its points carry no amplitude.
constexpr int kLX20MinimumRate = 100;
constexpr int kLX20MaximumRate = 10000;
constexpr int kLX20HighSpeedRate = 30000;

// The aperture's reach in elevation, degrees (it turns all round in azimuth), and the speed of
// a move that names none, degrees per second.
constexpr double kApertureElevationMinimum = -35.0;
constexpr double kApertureElevationMaximum = 35.0;
constexpr double kDefaultMoveSpeed = 45.0;

// The laser settings of one model. LX30: measurement mode 0 "High Speed", 1 "Fast Mode",
// 2 "High Penetration"; target selection 0 "All Targets" to 4 "Highest Reflectance". LX20:
// sample rate kLX20MinimumRate..kLX20MaximumRate, averaged samples 1..10, gain 0..3.
struct LaserSettings {
    LIDAR_TYPE model = LIDAR_GENERIC;
    int measurement = 0;
    int target = 0;
    int sampleRate = kLX20MaximumRate;
    int average = 1;
    int gain = 0;
    bool highSpeed = false;
};

// The "SVRRBE" parameter list that starts the model's laser stream to port, the port last:
// LX30 [1, 2, 0], LX20 [3, 4, 5, 0] (high speed: kLX20HighSpeedRate and 1 sample), generic [0].
std::vector<Parameter> LaserStreamParameters(const LaserSettings& settings, unsigned short port);

// The event programming that captures one scan frame: the device starts the laser stream at
// the next frame's start (event 0) and stops the stream and the aperture at its end (event 1).
struct FrameCaptureStep {
    enum class Kind { ConfigureCommandBuffer, EventEnable };
    Kind kind = Kind::ConfigureCommandBuffer;
    unsigned buffer = 0; // command buffer
    std::string command; // ConfigureCommandBuffer: the command stored in the buffer
    unsigned event = 0;  // EventEnable: the event that runs the buffer
    std::string name;    // "ConfigureCommandBuffer(128)", "EventEnable(129)", ...
};
// In the order they are sent, after the device's events have been reset.
std::vector<FrameCaptureStep> FrameCaptureSequence(const std::vector<Parameter>& streamParameters);

} // namespace tavrel
