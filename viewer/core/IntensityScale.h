#pragma once

#include <cstdint>
#include <vector>

namespace viewer {

// A colour as hue, saturation and value fractions (QColor::hueF, saturationF, valueF). A colour
// without hue (white, greys, black) has hue -1, which is passed on to the table unchanged.
struct HsvColour {
    double hue = 0.0;
    double saturation = 0.0;
    double value = 0.0;
    bool operator==(const HsvColour& o) const {
        return hue == o.hue && saturation == o.saturation && value == o.value;
    }
    bool operator!=(const HsvColour& o) const { return !(*this == o); }
};

// Defaults and "Reset colors": red at the minimum, blue at the maximum.
inline constexpr HsvColour kDefaultMinimumColour{0.0, 1.0, 1.0};
inline constexpr HsvColour kDefaultMaximumColour{2.0 / 3.0, 1.0, 1.0};

// Most entries a table gets. Device intensities span 0..65535, so device data always gets one
// entry per unit; only a loaded file with larger values spreads its range over this many.
inline constexpr std::uint32_t kMaximumTableEntries = 65536;

// The range reset: when maximum is not above minimum both become 0 and 65535. Returns true when
// it reset them.
bool normaliseIntensityRange(std::uint32_t& minimum, std::uint32_t& maximum);

struct ScaleSettings {
    std::uint32_t minimum = 0; // already normalised: maximum > minimum
    std::uint32_t maximum = 65535;
    HsvColour minimumColour = kDefaultMinimumColour;
    HsvColour maximumColour = kDefaultMaximumColour;
    bool operator==(const ScaleSettings& o) const {
        return minimum == o.minimum && maximum == o.maximum && minimumColour == o.minimumColour &&
               maximumColour == o.maximumColour;
    }
    bool operator!=(const ScaleSettings& o) const { return !(*this == o); }
};

// The intensity colour scale as display bytes: an HSV ramp from the minimum to the maximum colour
// over [minimum, maximum], one entry per unit, clamped at both ends. Each byte is the integer
// part of 255 times the colour fraction that vtkLookupTable gives for the same settings.
class ColourTable {
public:
    explicit ColourTable(const ScaleSettings& settings);

    const ScaleSettings& settings() const { return m_settings; }
    std::uint32_t size() const { return m_entries; }

    // Index of the entry for an intensity, as vtkLookupTable picks it; -1 for NaN.
    long long index(double intensity) const {
        if (intensity != intensity) {
            return -1;
        }
        if (intensity < m_low) {
            return 0;
        }
        if (intensity > m_high) {
            return m_lastIndex;
        }
        double d = (intensity + m_shift) * m_scale;
        d = d < m_maxIndex ? d : m_maxIndex;
        return static_cast<long long>(d);
    }

    // Three bytes (red, green, blue) for an intensity.
    const std::uint8_t* colour(double intensity) const {
        const long long i = index(intensity);
        return i < 0 ? m_nan : &m_rgb[static_cast<std::size_t>(i) * 3];
    }

private:
    ScaleSettings m_settings;
    std::uint32_t m_entries = 0;
    double m_low = 0.0;
    double m_high = 0.0;
    double m_shift = 0.0;
    double m_scale = 1.0;
    double m_maxIndex = 0.0;
    long long m_lastIndex = 0;
    std::vector<std::uint8_t> m_rgb; // 3 bytes per entry
    std::uint8_t m_nan[3] = {0, 0, 0};
};

// Keeps the current table and builds a new one only when its settings change (a full table
// costs a few milliseconds, the refresh runs every 100 ms).
class IntensityScale {
public:
    IntensityScale();

    // Applies the range reset to the caller's members (so they show 0 and 65535 afterwards, as
    // the window expects), then makes the table match. Returns the table.
    const ColourTable& update(std::uint32_t& minimum, std::uint32_t& maximum,
                              const HsvColour& minimumColour, const HsvColour& maximumColour);

    const ColourTable& table() const { return m_table; }

private:
    ColourTable m_table;
};

} // namespace viewer
