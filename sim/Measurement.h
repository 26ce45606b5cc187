// What one laser sample returns: the beam's footprint cast into the scene,
// the model's measurement mode and gain, and the measurement noise. Pure and
// deterministic: the same seed and sample index give the same returns.
#pragma once

#include "LaserSource.h"
#include "Scene.h"

#include <cstdint>
#include <map>

namespace sentova {
namespace sim {

struct NoiseSettings {
    bool enabled = true;             // off: the exact range of the beam's centre
    double rangeNoise = 0.001;       // standard deviation as a share of the range
    double amplitudeNoise = 0.03;    // standard deviation as a share of the amplitude
    double dropouts = 0.001;         // share of samples that return nothing
    bool multipleReturns = true;     // a footprint across an edge returns near and far
    double beamDivergenceMrad = 0.5; // full angle of the beam
};

// Range noise is cut off at this many standard deviations.
constexpr double kRangeNoiseLimit = 4.0;
// Hits within the footprint closer together than this are one return.
constexpr double kReturnSeparation = 0.3; // metres

enum class TargetSelection { All, First, Last, HighestAmplitude, HighestReflectance };

// How the laser measures with a stream's parameters.
struct LaserMode {
    double rate = 10000.0;           // points per second
    double noiseScale = 1.0;         // on the range noise
    double dropoutScale = 1.0;       // on the drop-out share
    double maximumRange = 150.0;     // metres
    double gain = 1.0;               // on the amplitude, before it saturates at 65535
    double detectionThreshold = 2.0; // weaker returns (after the gain) are not seen
    TargetSelection selection = TargetSelection::All;
};

// The mode of a model with these (already checked) stream parameters.
// laserGain is the gain last set with "SVSLGA", used by an LX20 stream that
// names no gain of its own.
LaserMode laserMode(LIDAR_TYPE model, const std::map<unsigned, std::int32_t>& parameters,
                    unsigned laserGain);

struct Return {
    double range = 0.0;     // metres
    double amplitude = 0.0; // 1..65535
    std::int16_t reflectance = 0;
    std::int16_t pulseShapeDeviation = 0;
};

// The returns of sample number `sample` of a stream, nearest first: none, one,
// or (a footprint across an edge, with All Targets) two.
int measureSample(const Scene& scene, double azimuthDeg, double elevationDeg,
                  const NoiseSettings& noise, const LaserMode& mode, std::uint64_t seed,
                  std::uint64_t sample, Return out[2]);

} // namespace sim
} // namespace sentova
