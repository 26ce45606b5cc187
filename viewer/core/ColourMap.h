#pragma once

// Colouring points by a field on a colour map, into display bytes. The colour work of a whole
// buffer runs off the GUI thread: a PointColourer is built once per change of field, map, range
// or colours, and then colours any block of points without allocating, one table look-up per
// point.

#include "ColourField.h"
#include "DataPoint.h"
#include "IntensityScale.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace viewer {

enum class ColourMap { MinMaxColours, Viridis, Turbo, Greyscale };
inline constexpr int kColourMapCount = 4;

// "Min/max colours", "Viridis", "Turbo", "Greyscale": the combo box's items and persisted names.
const char* mapText(ColourMap map);
std::optional<ColourMap> mapFromText(const std::string& text);

// The 256 entries (red, green, blue) of the fixed maps, lowest first; null for the min/max
// colours, which are built from the user's two colours.
const std::uint8_t* mapTable(ColourMap map);

// Immutable once built, so several threads may colour parts of one buffer at once.
class PointColourer {
public:
    // Intensity on the min/max colours is the intensity scale itself, byte for byte: its range
    // is that of the scale (already normalised, maximum above minimum). Every other field on
    // the min/max colours takes the same hue, saturation and value ramp spread over its range.
    PointColourer(ColourField field, ColourMap map, const FieldRange& range,
                  const HsvColour& minimumColour = kDefaultMinimumColour,
                  const HsvColour& maximumColour = kDefaultMaximumColour);

    ColourField field() const { return m_field; }
    ColourMap map() const { return m_map; }

    // Writes three bytes per point for n points from first. Below its range a point takes the
    // lowest colour, above it the highest; on a circular field (azimuth, a wrapped time range)
    // the colour of the nearer end. NaN values take the lowest colour. Points from files
    // without angles are coloured by the range and angles of their x, y, z.
    template <class It> void colour(It first, std::size_t n, std::uint8_t* rgb) const;

private:
    template <class It, class Value>
    void linear(It first, std::size_t n, std::uint8_t* rgb, Value value) const;
    template <class It, class Offset>
    void circular(It first, std::size_t n, std::uint8_t* rgb, Offset offset) const;

    void put(std::uint8_t* rgb, double position) const {
        position = position > 0.0 ? position : 0.0;
        position = position < m_lastEntry ? position : m_lastEntry;
        std::memcpy(rgb, &m_table[static_cast<std::size_t>(position) * 3], 3);
    }

    ColourField m_field;
    ColourMap m_map;
    FieldRange m_range;
    std::optional<ColourTable> m_intensityTable; // intensity on the min/max colours
    std::vector<std::uint8_t> m_table;           // 3 bytes per entry
    double m_lastEntry = 0.0;
    double m_low = 0.0;      // value at the table's first entry
    double m_span = 1.0;     // values over the whole table
    double m_perValue = 1.0; // entries per unit of value
    bool m_wrapped = false;  // time across the counter's wrap
};

template <class It> void PointColourer::colour(It first, std::size_t n, std::uint8_t* rgb) const {
    switch (m_field) {
    case ColourField::Intensity:
        if (m_intensityTable) {
            for (std::size_t i = 0; i < n; ++i, ++first) {
                std::memcpy(rgb + 3 * i, m_intensityTable->colour(first->intensity), 3);
            }
            return;
        }
        linear(first, n, rgb, [](const DataPoint& p) { return double(p.intensity); });
        return;
    case ColourField::Range:
        linear(first, n, rgb, [](const DataPoint& p) { return pointAngles(p).range; });
        return;
    case ColourField::Elevation:
        linear(first, n, rgb, [](const DataPoint& p) { return pointAngles(p).elevation; });
        return;
    case ColourField::Height:
        linear(first, n, rgb, [](const DataPoint& p) { return p.z; });
        return;
    case ColourField::Reflectance:
        linear(first, n, rgb, [](const DataPoint& p) { return double(p.reflectance); });
        return;
    case ColourField::PulseShapeDeviation:
        linear(first, n, rgb, [](const DataPoint& p) { return double(p.pulseShapeDeviation); });
        return;
    case ColourField::Azimuth: {
        const double low = m_low;
        circular(first, n, rgb, [low](const DataPoint& p) {
            double d = pointAngles(p).azimuth - low;
            d = d < 0.0 ? d + 360.0 : d;
            return d >= 360.0 ? d - 360.0 : d;
        });
        return;
    }
    case ColourField::Time:
        if (m_wrapped) {
            const std::uint64_t start = m_range.firstTime;
            circular(first, n, rgb, [start](const DataPoint& p) {
                return static_cast<double>(static_cast<std::uint32_t>(p.timestamp - start));
            });
        } else {
            const std::uint64_t start = m_range.firstTime;
            linear(first, n, rgb, [start](const DataPoint& p) {
                return p.timestamp >= start ? static_cast<double>(p.timestamp - start)
                                            : -static_cast<double>(start - p.timestamp);
            });
        }
        return;
    }
}

template <class It, class Value>
void PointColourer::linear(It first, std::size_t n, std::uint8_t* rgb, Value value) const {
    const double low = m_low;
    const double perValue = m_perValue;
    for (std::size_t i = 0; i < n; ++i, ++first) {
        put(rgb + 3 * i, (value(*first) - low) * perValue);
    }
}

template <class It, class Offset>
void PointColourer::circular(It first, std::size_t n, std::uint8_t* rgb, Offset offset) const {
    const double span = m_span;
    const double period = m_field == ColourField::Time ? 4294967296.0 : 360.0;
    const double perValue = m_perValue;
    for (std::size_t i = 0; i < n; ++i, ++first) {
        double d = offset(*first);
        // Outside the arc: the end it lies nearer to.
        if (d > span) {
            d = (d - span) < (period - d) ? span : 0.0;
        }
        put(rgb + 3 * i, d * perValue);
    }
}

} // namespace viewer
