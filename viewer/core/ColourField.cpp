#include "ColourField.h"

#include "ObservationPoint.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <limits>

namespace viewer {

namespace {

constexpr const char* kFieldTexts[kColourFieldCount] = {
    "Intensity", "Range", "Elevation", "Azimuth", "Height", "Reflectance", "Pulse shape deviation",
    "Time"};

// The device's time stamps travel through single precision, so the counter's last value
// 4294967295 arrives as 2^32: that is still the counter (2^32 is its 0).
constexpr std::uint64_t kCounterEnd = std::uint64_t{1} << 32;

} // namespace

const char* fieldText(ColourField field) {
    return kFieldTexts[static_cast<int>(field)];
}

std::optional<ColourField> fieldFromText(const std::string& text) {
    for (int i = 0; i < kColourFieldCount; ++i) {
        if (text == kFieldTexts[i]) {
            return static_cast<ColourField>(i);
        }
    }
    return std::nullopt;
}

const char* fieldUnit(ColourField field) {
    switch (field) {
    case ColourField::Range:
    case ColourField::Height:
        return "mm";
    case ColourField::Elevation:
    case ColourField::Azimuth:
        return "\u00b0";
    case ColourField::Time:
        return "\u00b5s";
    case ColourField::Intensity:
    case ColourField::Reflectance:
    case ColourField::PulseShapeDeviation:
        break;
    }
    return "";
}

std::string legendTitle(ColourField field) {
    const std::string unit = fieldUnit(field);
    return unit.empty() ? std::string(fieldText(field))
                        : std::string(fieldText(field)) + " (" + unit + ")";
}

bool measuredBy(ColourField field, LIDAR_TYPE model) {
    if (field == ColourField::Reflectance || field == ColourField::PulseShapeDeviation) {
        return model == LIDAR_LX30;
    }
    return true;
}

std::string notMeasuredText(ColourField field, LIDAR_TYPE model) {
    if (measuredBy(field, model)) {
        return {};
    }
    return std::string(fieldText(field)) + ": not measured by this model";
}

double fieldValue(const DataPoint& p, ColourField field) {
    switch (field) {
    case ColourField::Intensity:
        return p.intensity;
    case ColourField::Range:
        return pointAngles(p).range;
    case ColourField::Elevation:
        return pointAngles(p).elevation;
    case ColourField::Azimuth:
        return pointAngles(p).azimuth;
    case ColourField::Height:
        return p.z;
    case ColourField::Reflectance:
        return p.reflectance;
    case ColourField::PulseShapeDeviation:
        return p.pulseShapeDeviation;
    case ColourField::Time:
        return static_cast<double>(p.timestamp);
    }
    return 0.0;
}

LegendEnds legendEnds(ColourField field, const FieldRange& range) {
    char low[32];
    char high[32];
    if (field == ColourField::Time) {
        std::snprintf(low, sizeof low, "%" PRIu64, range.firstTime);
        std::snprintf(high, sizeof high, "%" PRIu64, range.lastTime);
    } else {
        const bool angle = field == ColourField::Azimuth || field == ColourField::Elevation;
        std::snprintf(low, sizeof low, angle ? "%.2f" : "%.0f", range.minimum);
        std::snprintf(high, sizeof high, angle ? "%.2f" : "%.0f", range.maximum);
    }
    return {low, high};
}

FieldRangeFinder::FieldRangeFinder(ColourField field)
    : m_field(field), m_low(std::numeric_limits<double>::infinity()),
      m_high(-std::numeric_limits<double>::infinity()),
      m_firstTime(std::numeric_limits<std::uint64_t>::max()), m_lastTime(0) {
    if (field == ColourField::Intensity) {
        // The intensity scale's own starting point: a range that any point widens.
        m_low = 65535.0;
        m_high = 0.0;
    }
}

void FieldRangeFinder::addTime(std::uint64_t t) {
    m_anyTime = true;
    if (t < m_firstTime) {
        m_firstTime = t;
    }
    if (t > m_lastTime) {
        m_lastTime = t;
    }
    if (t > kCounterEnd) {
        m_beyondCounter = true;
    }
    if (!m_beyondCounter) {
        m_counter.add(t);
    }
}

FieldRange FieldRangeFinder::range() const {
    FieldRange r;
    switch (m_field) {
    case ColourField::Intensity: {
        std::uint32_t low = m_low <= m_high ? formats::truncateIntensity(m_low) : 65535;
        std::uint32_t high = m_low <= m_high ? formats::truncateIntensity(m_high) : 0;
        if (high <= low) {
            low = 0;
            high = 65535;
        }
        r.minimum = low;
        r.maximum = high;
        return r;
    }
    case ColourField::Azimuth: {
        const CircularArc::Arc arc = m_azimuth.arc();
        if (m_azimuth.empty() || arc.sweep >= 360.0) {
            r.minimum = -180.0;
            r.maximum = 180.0;
            return r;
        }
        const auto signedDegrees = [](double a) { return a >= 180.0 ? a - 360.0 : a; };
        r.minimum = signedDegrees(arc.start);
        r.maximum = signedDegrees(std::fmod(arc.start + arc.sweep, 360.0));
        if (r.minimum == r.maximum) {
            r.minimum -= 0.5;
            r.maximum += 0.5;
        }
        return r;
    }
    case ColourField::Time:
        if (!m_anyTime) {
            r.firstTime = 0;
            r.lastTime = 1;
        } else if (m_beyondCounter) {
            r.firstTime = m_firstTime;
            r.lastTime = m_lastTime;
        } else {
            const CounterArc::Range c = m_counter.range();
            r.firstTime = c.first;
            r.lastTime = c.last;
        }
        r.minimum = static_cast<double>(r.firstTime);
        r.maximum = static_cast<double>(r.lastTime);
        return r;
    default:
        break;
    }
    if (!(m_low <= m_high)) {
        r.minimum = 0.0;
        r.maximum = 1.0;
    } else if (m_low == m_high) {
        r.minimum = m_low - 0.5;
        r.maximum = m_high + 0.5;
    } else {
        r.minimum = m_low;
        r.maximum = m_high;
    }
    return r;
}

} // namespace viewer
