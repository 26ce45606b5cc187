#include "Motion.h"

#include <algorithm>
#include <cmath>

namespace sentova {
namespace sim {

namespace {

// The top speed reached and the time spent accelerating to it.
void ramp(const MoveProfile& p, double& top, double& rampTime) {
    if (!(p.acceleration > 0.0)) {
        top = p.speed;
        rampTime = 0.0;
        return;
    }
    // Half the way is the most that may be spent speeding up.
    top = std::min(p.speed, std::sqrt(p.acceleration * p.distance));
    rampTime = top / p.acceleration;
}

} // namespace

double MoveProfile::duration() const {
    if (distance <= 0.0)
        return 0.0;
    double top = 0.0, rampTime = 0.0;
    ramp(*this, top, rampTime);
    // Two ramps cover top * rampTime; the rest is cruised.
    return 2.0 * rampTime + (distance - top * rampTime) / top;
}

double MoveProfile::travelled(double t) const {
    if (distance <= 0.0 || t <= 0.0)
        return 0.0;
    const double total = duration();
    if (t >= total)
        return distance;
    double top = 0.0, rampTime = 0.0;
    ramp(*this, top, rampTime);
    if (t < rampTime)
        return 0.5 * acceleration * t * t;
    const double braking = total - rampTime;
    if (t <= braking)
        return 0.5 * top * rampTime + top * (t - rampTime);
    const double left = total - t;
    return distance - 0.5 * acceleration * left * left;
}

double MoveProfile::velocity(double t) const {
    const double total = duration();
    if (distance <= 0.0 || t <= 0.0 || t >= total)
        return 0.0;
    double top = 0.0, rampTime = 0.0;
    ramp(*this, top, rampTime);
    if (t < rampTime)
        return acceleration * t;
    if (t > total - rampTime)
        return acceleration * (total - t);
    return top;
}

double MoveProfile::fraction(double t) const {
    return distance > 0.0 ? std::clamp(travelled(t) / distance, 0.0, 1.0) : 1.0;
}

} // namespace sim
} // namespace sentova
