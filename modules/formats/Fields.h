#pragma once

// The columns a point file can hold: their names in files, which of them a user selected, and
// how each is read from and stored into a point record. Pure: any thread may call these.

#include "DataPoint.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <type_traits>
#include <vector>

namespace formats {

// Columns chosen in the preferences ("save/..." keys; defaults as when the key is absent).
// In the viewer's files reflectance and pulseShapeDeviation are written only for the LX30 model
// (see forModel).
struct FieldSelection {
    bool x = true;
    bool y = true;
    bool z = true;
    bool az = false;
    bool el = false;
    bool range = false;
    bool intensity = true;
    bool reflectance = true;
    bool pulseShapeDeviation = true;
    bool timestamp = true;
};

// The columns in the order in which files hold them.
enum class Field {
    X,
    Y,
    Z,
    Azimuth,
    Elevation,
    Range,
    Intensity,
    Reflectance,
    PulseShapeDeviation,
    Timestamp
};
constexpr int kFieldCount = 10;

// The column's name in files: x, y, z, az, el, range, amplitude, reflectance,
// pulseShapeDeviation, timestamp.
const char* fieldName(Field field);

// A column name as found in a file: the names above, and "intensity", "azimuth", "elevation" and
// "pulse_shape_deviation" as other writers spell them. Case matters, as it does for PCL.
std::optional<Field> fieldFromName(std::string_view name);

bool isSelected(const FieldSelection& selection, Field field);
void setSelected(FieldSelection& selection, Field field, bool on);

// The selected columns in file order.
std::vector<Field> selectedFields(const FieldSelection& selection);

// A selection with every column off, and one with every column on.
FieldSelection noFields();
FieldSelection everyField();

// The selection as the viewer writes it for a device model: reflectance and pulse shape
// deviation only for the LX30.
FieldSelection forModel(FieldSelection selection, LIDAR_TYPE mode);

inline double fieldValue(const DataPoint& point, Field field);
inline void setFieldValue(DataPoint& point, Field field, double value);
// setFieldValue(points[i], field, valueOf(i)) for i below n, the field chosen once for all of
// them rather than once per value.
template <class Value>
void setFieldValues(DataPoint* points, std::size_t n, Field field, Value valueOf);

// The timestamp as an unsigned 32-bit file value: the device's timestamps are 32-bit; a larger
// one (from a file from elsewhere) is clamped to the largest.
inline std::uint32_t timestampU4(std::uint64_t timestamp) {
    return timestamp >= 4294967295u ? 4294967295u : static_cast<std::uint32_t>(timestamp);
}
// A time read as a real number (text, LAS GPS time, a float column) as the record's integer:
// rounded to the nearest, negative values and NaN to 0, clamped to the largest.
inline std::uint64_t timestampFromReal(double value) {
    if (!(value > 0.0)) {
        return 0; // negative, zero or NaN
    }
    if (value >= 18446744073709551615.0) {
        return UINT64_MAX;
    }
    // Exact for every whole value a double holds; halves round up.
    return static_cast<std::uint64_t>(std::floor(value + 0.5));
}

// Inline: the binary readers and writers call these for every value.
inline double fieldValue(const DataPoint& p, Field field) {
    switch (field) {
    case Field::X:
        return p.x;
    case Field::Y:
        return p.y;
    case Field::Z:
        return p.z;
    case Field::Azimuth:
        return p.azimuth;
    case Field::Elevation:
        return p.elevation;
    case Field::Range:
        return p.range;
    case Field::Intensity:
        return p.intensity;
    case Field::Reflectance:
        return p.reflectance;
    case Field::PulseShapeDeviation:
        return p.pulseShapeDeviation;
    case Field::Timestamp:
        return static_cast<double>(p.timestamp);
    }
    return 0.0;
}

inline void setFieldValue(DataPoint& p, Field field, double value) {
    switch (field) {
    case Field::X:
        p.x = value;
        break;
    case Field::Y:
        p.y = value;
        break;
    case Field::Z:
        p.z = value;
        break;
    case Field::Azimuth:
        p.azimuth = static_cast<float>(value);
        break;
    case Field::Elevation:
        p.elevation = static_cast<float>(value);
        break;
    case Field::Range:
        p.range = static_cast<float>(value);
        break;
    case Field::Intensity:
        p.intensity = static_cast<float>(value);
        break;
    case Field::Reflectance:
        p.reflectance = static_cast<float>(value);
        break;
    case Field::PulseShapeDeviation:
        p.pulseShapeDeviation = static_cast<float>(value);
        break;
    case Field::Timestamp:
        p.timestamp = timestampFromReal(value);
        break;
    }
}

template <class Value>
void setFieldValues(DataPoint* points, std::size_t n, Field field, Value valueOf) {
    // With the field a constant each loop's setFieldValue folds to one store.
    const auto each = [&](auto constant) {
        for (std::size_t i = 0; i < n; ++i) {
            setFieldValue(points[i], decltype(constant)::value, valueOf(i));
        }
    };
    switch (field) {
    case Field::X:
        return each(std::integral_constant<Field, Field::X>{});
    case Field::Y:
        return each(std::integral_constant<Field, Field::Y>{});
    case Field::Z:
        return each(std::integral_constant<Field, Field::Z>{});
    case Field::Azimuth:
        return each(std::integral_constant<Field, Field::Azimuth>{});
    case Field::Elevation:
        return each(std::integral_constant<Field, Field::Elevation>{});
    case Field::Range:
        return each(std::integral_constant<Field, Field::Range>{});
    case Field::Intensity:
        return each(std::integral_constant<Field, Field::Intensity>{});
    case Field::Reflectance:
        return each(std::integral_constant<Field, Field::Reflectance>{});
    case Field::PulseShapeDeviation:
        return each(std::integral_constant<Field, Field::PulseShapeDeviation>{});
    case Field::Timestamp:
        return each(std::integral_constant<Field, Field::Timestamp>{});
    }
}

} // namespace formats
