// Scan patterns as rasters: the azimuth sweeps at the pattern's speed while the
// elevation steps through the lines, from the first line to the last (the
// bottom line first unless the pattern says otherwise); one frame follows
// another until the scan is stopped.
#pragma once

#include "Sentova/SentovaError.h"

namespace sentova {
namespace sim {

enum class ScanKind { FullField, BoundedElevation, Region };

// Which end of the elevation range a frame's first line is at.
enum class LineOrder { BottomFirst, TopFirst };

struct ScanPattern {
    ScanKind kind = ScanKind::FullField;
    double speed = 1.0; // revolutions per second
    double azimuthMin = 0.0;
    double azimuthMax = 0.0;
    double elevationMin = -35.0;
    double elevationMax = 35.0;
    unsigned lines = 1;
    LineOrder order = LineOrder::BottomFirst;
};

// Mechanical and sensible limits of the aperture and its scans.
constexpr double kElevationLimit = 35.0;
constexpr double kMinimumScanSpeed = 0.01;
constexpr double kMaximumScanSpeed = 20.0;
constexpr unsigned kMaximumLines = 10000;

// Builds a pattern from the values received on the wire (lines as a possibly
// fractional count: the device scans whole lines). Returns ArgumentOutOfRange
// for a speed, a line count or bounds outside the limits, else NoError.
tavrel::tavrel_error_t makeScanPattern(ScanKind kind, double speed, double azimuthMin,
                                       double azimuthMax, double elevationMin, double elevationMax,
                                       double lines, ScanPattern& out);

// Azimuth covered by one line of a region scan, degrees in (0, 360]: from the
// minimum towards increasing azimuth up to the maximum, wrapping at 360.
double regionSpan(const ScanPattern& p);

double lineDuration(const ScanPattern& p);  // seconds
double frameDuration(const ScanPattern& p); // seconds

struct RasterPosition {
    double azimuth = 0.0;   // degrees, [-180, 180)
    double elevation = 0.0; // degrees
    unsigned long frame = 0;
    unsigned line = 0; // 0 for the frame's first line, whichever end it is at
};

// Where the aperture points t seconds after the scan started (t >= 0). Region
// lines alternate direction so that the aperture never jumps in azimuth: the
// first line of every frame sweeps from the azimuth minimum.
RasterPosition rasterAt(const ScanPattern& p, double t);

// Wraps an angle into [-180, 180).
double wrapDegrees(double degrees);

} // namespace sim
} // namespace sentova
