#include "Raster.h"

#include <cmath>

namespace sentova {
namespace sim {

namespace {

// Bounds travel in the angle coding and may come back a hair outside +-35.
constexpr double kAngleTolerance = 1e-6;

bool elevationInLimits(double el) {
    return std::isfinite(el) && std::fabs(el) <= kElevationLimit + kAngleTolerance;
}

} // namespace

double wrapDegrees(double degrees) {
    double w = std::fmod(degrees + 180.0, 360.0);
    if (w < 0.0)
        w += 360.0;
    return w - 180.0;
}

tavrel::tavrel_error_t makeScanPattern(ScanKind kind, double speed, double azimuthMin,
                                       double azimuthMax, double elevationMin, double elevationMax,
                                       double lines, ScanPattern& out) {
    if (!std::isfinite(speed) || speed < kMinimumScanSpeed || speed > kMaximumScanSpeed)
        return tavrel::ArgumentOutOfRange;
    if (!std::isfinite(lines) || lines < 1.0 || lines >= kMaximumLines + 1.0)
        return tavrel::ArgumentOutOfRange;
    ScanPattern p;
    p.kind = kind;
    p.speed = speed;
    p.lines = static_cast<unsigned>(lines);
    if (kind != ScanKind::FullField) {
        if (!elevationInLimits(elevationMin) || !elevationInLimits(elevationMax) ||
            elevationMin > elevationMax)
            return tavrel::ArgumentOutOfRange;
        p.elevationMin = elevationMin;
        p.elevationMax = elevationMax;
    }
    if (kind == ScanKind::Region) {
        if (!std::isfinite(azimuthMin) || !std::isfinite(azimuthMax))
            return tavrel::ArgumentOutOfRange;
        p.azimuthMin = azimuthMin;
        p.azimuthMax = azimuthMax;
    }
    out = p;
    return tavrel::NoError;
}

double regionSpan(const ScanPattern& p) {
    double span = std::fmod(p.azimuthMax - p.azimuthMin, 360.0);
    if (span < 0.0)
        span += 360.0;
    // Equal bounds (0 and 360 both arrive as 0) mean a whole turn.
    return span < kAngleTolerance ? 360.0 : span;
}

double lineDuration(const ScanPattern& p) {
    const double turn = 1.0 / p.speed;
    return p.kind == ScanKind::Region ? turn * regionSpan(p) / 360.0 : turn;
}

double frameDuration(const ScanPattern& p) {
    return lineDuration(p) * p.lines;
}

RasterPosition rasterAt(const ScanPattern& p, double t) {
    RasterPosition pos;
    const double lineTime = lineDuration(p);
    const double frameTime = lineTime * p.lines;
    const double framesElapsed = std::floor(t / frameTime);
    pos.frame = static_cast<unsigned long>(framesElapsed);
    const double inFrame = t - framesElapsed * frameTime;
    unsigned line = static_cast<unsigned>(inFrame / lineTime);
    if (line >= p.lines)
        line = p.lines - 1;
    pos.line = line;
    const double inLine = inFrame - line * lineTime;

    // Lines counted from the bottom, whichever end the frame begins at.
    const unsigned fromBottom = p.order == LineOrder::TopFirst ? p.lines - 1 - line : line;
    pos.elevation = p.lines > 1 ? p.elevationMin + (p.elevationMax - p.elevationMin) * fromBottom /
                                                       static_cast<double>(p.lines - 1)
                                : 0.5 * (p.elevationMin + p.elevationMax);

    if (p.kind == ScanKind::Region) {
        const double swept = regionSpan(p) * inLine / lineTime;
        const bool forward = line % 2 == 0;
        pos.azimuth = wrapDegrees(forward ? p.azimuthMin + swept : p.azimuthMax - swept);
    } else {
        pos.azimuth = wrapDegrees(360.0 * p.speed * inLine);
    }
    return pos;
}

} // namespace sim
} // namespace sentova
