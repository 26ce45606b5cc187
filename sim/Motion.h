// How the aperture moves from one direction to another: both axes travel a
// straight line in angle space, led by the axis with the longer way to go,
// which accelerates at the device's acceleration up to the commanded speed,
// cruises and brakes to a stop (a triangle when the way is too short to reach
// the speed).
#pragma once

namespace sentova {
namespace sim {

struct MoveProfile {
    double distance = 0.0;     // degrees along the leading axis, >= 0
    double speed = 1.0;        // cruise speed, degrees per second, > 0
    double acceleration = 0.0; // degrees per second squared; 0 or less = at once

    double duration() const;          // seconds
    double travelled(double t) const; // degrees after t seconds, 0..distance
    double velocity(double t) const;  // degrees per second after t seconds
    // Share of the way done after t seconds, 0..1 (1 for a move of no distance).
    double fraction(double t) const;
};

} // namespace sim
} // namespace sentova
