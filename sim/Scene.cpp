#include "Scene.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace sentova {
namespace sim {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kInf = std::numeric_limits<double>::infinity();

const Surface kFloor{"floor", 0.35, 450, 3, 1.0};
const Surface kCeiling{"ceiling", 0.70, 820, 2, 1.0};
const Surface kWall{"wall", 0.50, 610, 4, 1.0};
const Surface kSign{"sign", 1.00, 1250, 1, 0.1}; // retro-reflective
const Surface kCrate{"crate", 0.60, 700, 9, 1.3};
const Surface kBall{"ball", 0.90, 960, 6, 3.0}; // glossy
const Surface kPillar{"pillar", 0.25, 320, 15, 1.0};

// The room, metres; the device sits at the origin, 1.5 m above the floor.
constexpr double kRoomMin[3] = {-6.0, -4.0, -1.5};
constexpr double kRoomMax[3] = {6.0, 8.0, 2.5};

using Vec = Vec3;

double component(const Vec& v, int axis) {
    return axis == 0 ? v.x : (axis == 1 ? v.y : v.z);
}

struct Candidate {
    double t = kInf;
    double cosIncidence = 1.0;
    const Surface* surface = nullptr;

    void offer(double tNew, double cosNew, const Surface* s) {
        if (tNew > 0.0 && tNew < t) {
            t = tNew;
            cosIncidence = std::min(1.0, std::fabs(cosNew));
            surface = s;
        }
    }
};

// The room is closed, so the beam leaves it through the nearest boundary plane.
void castRoom(const Vec& d, Candidate& best) {
    double exitT = kInf;
    int exitAxis = -1;
    for (int axis = 0; axis < 3; ++axis) {
        const double c = component(d, axis);
        if (c == 0.0)
            continue;
        const double t = (c > 0.0 ? kRoomMax[axis] : kRoomMin[axis]) / c;
        if (t < exitT) {
            exitT = t;
            exitAxis = axis;
        }
    }
    if (exitAxis < 0)
        return;
    const Vec p{d.x * exitT, d.y * exitT, d.z * exitT};
    const double c = component(d, exitAxis);
    const Surface* surface = &kWall;
    if (exitAxis == 2) {
        surface = c < 0.0 ? &kFloor : &kCeiling;
    } else if (exitAxis == 1 && c > 0.0) {
        // The far wall has an open window, off to the right of straight
        // ahead: the beam leaves the room there.
        if (p.x > 1.5 && p.x < 4.0 && p.z > -0.3 && p.z < 1.5)
            return;
    } else if (exitAxis == 0 && c < 0.0) {
        if (p.y > 1.0 && p.y < 2.0 && p.z > 0.0 && p.z < 1.0)
            surface = &kSign;
    }
    best.offer(exitT, c, surface);
}

void castBox(const Vec& d, const double lo[3], const double hi[3], const Surface* s,
             Candidate& best) {
    double tNear = -kInf;
    double tFar = kInf;
    int nearAxis = -1;
    for (int axis = 0; axis < 3; ++axis) {
        const double c = component(d, axis);
        if (c == 0.0) {
            if (lo[axis] > 0.0 || hi[axis] < 0.0)
                return;
            continue;
        }
        double t1 = lo[axis] / c;
        double t2 = hi[axis] / c;
        if (t1 > t2)
            std::swap(t1, t2);
        if (t1 > tNear) {
            tNear = t1;
            nearAxis = axis;
        }
        tFar = std::min(tFar, t2);
    }
    if (nearAxis >= 0 && tNear <= tFar)
        best.offer(tNear, component(d, nearAxis), s);
}

void castSphere(const Vec& d, const Vec& centre, double radius, const Surface* s, Candidate& best) {
    const double b = d.x * centre.x + d.y * centre.y + d.z * centre.z;
    const double cc = centre.x * centre.x + centre.y * centre.y + centre.z * centre.z;
    const double disc = b * b - (cc - radius * radius);
    if (disc < 0.0)
        return;
    const double t = b - std::sqrt(disc);
    const Vec n{(d.x * t - centre.x) / radius, (d.y * t - centre.y) / radius,
                (d.z * t - centre.z) / radius};
    best.offer(t, d.x * n.x + d.y * n.y + d.z * n.z, s);
}

void castUprightCylinder(const Vec& d, double cx, double cy, double radius, double zMin,
                         double zMax, const Surface* s, Candidate& best) {
    const double a = d.x * d.x + d.y * d.y;
    if (a == 0.0)
        return;
    const double b = d.x * cx + d.y * cy;
    const double disc = b * b - a * (cx * cx + cy * cy - radius * radius);
    if (disc < 0.0)
        return;
    const double t = (b - std::sqrt(disc)) / a;
    const double z = d.z * t;
    if (z < zMin || z > zMax)
        return;
    const double nx = (d.x * t - cx) / radius;
    const double ny = (d.y * t - cy) / radius;
    best.offer(t, d.x * nx + d.y * ny, s);
}

class Room : public Scene {
public:
    std::optional<BeamHit> cast(const Vec3& d) const override;
};

std::optional<BeamHit> Room::cast(const Vec3& d) const {
    if (!std::isfinite(d.x) || !std::isfinite(d.y) || !std::isfinite(d.z))
        return std::nullopt;
    Candidate best;
    castRoom(d, best);
    static const double crateLo[3] = {1.5, 3.0, -1.5};
    static const double crateHi[3] = {2.5, 4.0, -0.5};
    castBox(d, crateLo, crateHi, &kCrate, best);
    castSphere(d, Vec{-2.0, 3.0, -0.7}, 0.8, &kBall, best);
    castUprightCylinder(d, 3.5, -2.0, 0.3, kRoomMin[2], kRoomMax[2], &kPillar, best);

    if (!best.surface || best.t > kMaximumRange)
        return std::nullopt;
    return BeamHit{best.t, best.cosIncidence, best.surface};
}

} // namespace

Vec3 beamDirection(double azimuthDeg, double elevationDeg) {
    const double az = azimuthDeg * kPi / 180.0;
    const double el = elevationDeg * kPi / 180.0;
    return Vec3{std::cos(el) * std::sin(az), std::cos(el) * std::cos(az), std::sin(el)};
}

const Scene& builtInRoom() {
    static const Room room;
    return room;
}

std::optional<BeamHit> castBeam(double azimuthDeg, double elevationDeg) {
    if (!std::isfinite(azimuthDeg) || !std::isfinite(elevationDeg))
        return std::nullopt;
    return builtInRoom().cast(beamDirection(azimuthDeg, elevationDeg));
}

std::uint16_t returnAmplitude(const BeamHit& hit) {
    constexpr double kReferenceRange = 2.0;
    const double r = std::max(hit.range, 0.05);
    const double incidence = std::pow(hit.cosIncidence, hit.surface->incidenceExponent);
    const double relative =
        hit.surface->reflectivity * incidence * (kReferenceRange / r) * (kReferenceRange / r);
    const double amplitude = std::round(65535.0 * std::min(1.0, relative));
    return static_cast<std::uint16_t>(std::clamp(amplitude, 1.0, 65535.0));
}

std::optional<tavrel::LaserRecord> measure(double azimuthDeg, double elevationDeg,
                                           std::uint32_t timestampUs) {
    const auto hit = castBeam(azimuthDeg, elevationDeg);
    if (!hit)
        return std::nullopt;
    tavrel::LaserRecord r;
    r.azimuth = azimuthDeg;
    r.elevation = elevationDeg;
    r.timestamp = timestampUs;
    r.range = static_cast<std::int32_t>(std::lround(hit->range * 1000.0));
    r.amplitude = returnAmplitude(*hit);
    r.reflectance = hit->surface->reflectance;
    r.pulseShapeDeviation = hit->surface->pulseShapeDeviation;
    return r;
}

} // namespace sim
} // namespace sentova
