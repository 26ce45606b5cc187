#pragma once

// What a point can be coloured by: the field's texts, unit and value, which models measure it,
// and its automatic range over a set of points. Pure; any thread may use it.

#include "CircularArc.h"
#include "DataPoint.h"
#include "DeviceAngles.h"

#include <cstdint>
#include <optional>
#include <string>

namespace viewer {

enum class ColourField {
    Intensity,
    Range,
    Elevation,
    Azimuth,
    Height,
    Reflectance,
    PulseShapeDeviation,
    Time
};
inline constexpr int kColourFieldCount = 8;

// "Intensity", "Range", ..., "Time": the combo box's items, in this order, and the persisted
// names.
const char* fieldText(ColourField field);
std::optional<ColourField> fieldFromText(const std::string& text);

// The unit the value is shown in: lengths in the cloud's unit (the device's range unit,
// millimetres), angles in degrees, time stamps in the device's microseconds; empty for the
// device's unitless amplitudes.
const char* fieldUnit(ColourField field);

// "Range (mm)"; a field without unit is titled by its name alone ("Intensity").
std::string legendTitle(ColourField field);

// Reflectance and pulse shape deviation come from the LX30 only; the others from every model.
bool measuredBy(ColourField field, LIDAR_TYPE model);
// What the window shows instead of a flat colour: "Reflectance: not measured by this model";
// empty when the model measures the field.
std::string notMeasuredText(ColourField field, LIDAR_TYPE model);

// The field's value of a point (time stamps as doubles: exact up to 2^53). Range, azimuth and
// elevation of a point from a file without them come from its x, y, z.
double fieldValue(const DataPoint& p, ColourField field);

// The range a field is coloured over. Plain fields run from minimum to maximum. Azimuth is
// circular: from minimum up through maximum in degrees, across +-180 when minimum > maximum.
// Time uses firstTime and lastTime: the device's 32-bit counter across its wrap when
// firstTime > lastTime.
struct FieldRange {
    double minimum = 0.0;
    double maximum = 1.0;
    std::uint64_t firstTime = 0;
    std::uint64_t lastTime = 0;
};

// The texts at the legend's two ends: whole units for amplitudes and lengths, hundredths of a
// degree for angles, time stamps as the exact integers.
struct LegendEnds {
    std::string low;
    std::string high;
};
LegendEnds legendEnds(ColourField field, const FieldRange& range);

// The automatic range, fed point by point:
//  - Intensity: truncated amplitudes as the intensity scale takes them (when the maximum is not
//    above the minimum, 0 to 65535);
//  - Azimuth: the smallest arc holding the azimuths (the whole -180 to 180 when they leave no
//    gap);
//  - Time: when every time stamp fits the device's counter, the smallest stretch of the counter
//    holding them, across the wrap when that is shorter; otherwise (a file's times) the lowest
//    to the highest;
//  - the others: lowest to highest value.
// Non-finite values are skipped. With no points, or all of one value, a plain field gets a range
// one unit wide around it (0 to 1 when empty), so that every point takes the middle colour.
class FieldRangeFinder {
public:
    explicit FieldRangeFinder(ColourField field);

    void add(const DataPoint& p) {
        switch (m_field) {
        case ColourField::Azimuth:
            m_azimuth.add(pointAngles(p).azimuth);
            break;
        case ColourField::Time:
            addTime(p.timestamp);
            break;
        default:
            addValue(fieldValue(p, m_field));
            break;
        }
    }

    template <class It> void add(It first, It last) {
        for (; first != last; ++first) {
            add(*first);
        }
    }

    FieldRange range() const;

private:
    void addValue(double v) {
        if (v < m_low) {
            m_low = v;
        }
        if (v > m_high) {
            m_high = v;
        }
    }
    void addTime(std::uint64_t t);

    ColourField m_field;
    double m_low;
    double m_high;
    AzimuthArc m_azimuth;
    CounterArc m_counter;
    std::uint64_t m_firstTime;
    std::uint64_t m_lastTime;
    bool m_beyondCounter = false;
    bool m_anyTime = false;
};

} // namespace viewer
