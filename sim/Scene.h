// What the laser sees, seen from the device at the origin, and the built-in
// synthetic scene: a closed room with a floor, a ceiling, four walls (one with
// an open window) and a few objects of different reflectivity.
//
// Directions use the viewer's convention: a beam at azimuth az and elevation el
// (degrees) points along (cos el * sin az, cos el * cos az, sin el); z is up and
// azimuth 0 looks along +y. Distances are metres; measured ranges travel as
// whole millimetres.
#pragma once

#include "Sentova/LaserPacket.h"

#include <cstdint>
#include <optional>

namespace sentova {
namespace sim {

// One kind of surface and how it returns the beam.
struct Surface {
    const char* name;
    double reflectivity;      // 0..1, scales the amplitude
    std::int16_t reflectance; // reported per point, hundredths of a dB
    std::int16_t pulseShapeDeviation;
    // How the return falls off with the angle of incidence: amplitude goes
    // with cos(incidence) to this power (1 a matt surface, more a glossy one,
    // near 0 a retro-reflector that returns light whatever the angle).
    double incidenceExponent = 1.0;
};

// Where a beam first meets the scene.
struct BeamHit {
    double range = 0.0;        // metres along the beam
    double cosIncidence = 1.0; // between the beam and the surface normal, 0..1
    const Surface* surface = nullptr;
};

struct Vec3 {
    double x = 0.0, y = 0.0, z = 0.0;
};

// The unit vector of a beam at azimuth and elevation (degrees).
Vec3 beamDirection(double azimuthDeg, double elevationDeg);

// What the laser sees: the device sits at the origin. Implementations are
// immutable once built and may be shared between threads.
class Scene {
public:
    virtual ~Scene() = default;
    // The first surface along the unit direction, or nothing within
    // kMaximumRange.
    virtual std::optional<BeamHit> cast(const Vec3& direction) const = 0;
};

// The built-in room described above.
const Scene& builtInRoom();

// The first surface of the built-in room hit by the beam, or nothing (the beam
// leaves through the window).
std::optional<BeamHit> castBeam(double azimuthDeg, double elevationDeg);

// Amplitude of a return: falls with the square of the range, scales with the
// surface's reflectivity and with the incidence as the surface has it; 1..65535.
std::uint16_t returnAmplitude(const BeamHit& hit);

// The exact point record for a beam into the built-in room (no noise, no
// footprint), or nothing when it hits nothing. timestampUs is the device
// clock in microseconds (wraps at 2^32).
std::optional<tavrel::LaserRecord> measure(double azimuthDeg, double elevationDeg,
                                           std::uint32_t timestampUs);

// Beyond this range nothing is reported.
constexpr double kMaximumRange = 300.0;

} // namespace sim
} // namespace sentova
