#include "IntensityScale.h"

#include <vtkLookupTable.h>
#include <vtkSmartPointer.h>
#include <vtkType.h>
#include <vtkUnsignedCharArray.h>

#include <algorithm>
#include <cfloat>

namespace viewer {

namespace {

// The display byte of a table byte: the lookup hands out byte / 255 as a fraction, and the
// display keeps the integer part of 255 times that fraction.
std::uint8_t displayByte(unsigned char tableByte) {
    return static_cast<std::uint8_t>(255.0 * (tableByte / 255.0));
}

} // namespace

bool normaliseIntensityRange(std::uint32_t& minimum, std::uint32_t& maximum) {
    if (maximum > minimum) {
        return false;
    }
    minimum = 0;
    maximum = 65535;
    return true;
}

ColourTable::ColourTable(const ScaleSettings& settings) : m_settings(settings) {
    const std::uint64_t span = static_cast<std::uint64_t>(settings.maximum) - settings.minimum + 1;
    m_entries = static_cast<std::uint32_t>(std::min<std::uint64_t>(span, kMaximumTableEntries));

    auto lut = vtkSmartPointer<vtkLookupTable>::New();
    lut->SetTableRange(settings.minimum, settings.maximum);
    lut->SetHueRange(settings.minimumColour.hue, settings.maximumColour.hue);
    lut->SetSaturationRange(settings.minimumColour.saturation, settings.maximumColour.saturation);
    lut->SetValueRange(settings.minimumColour.value, settings.maximumColour.value);
    lut->SetNumberOfColors(m_entries);
    lut->SetNumberOfTableValues(m_entries);
    lut->ForceBuild();

    const unsigned char* table = lut->GetTable()->GetPointer(0);
    m_rgb.resize(static_cast<std::size_t>(m_entries) * 3);
    for (std::size_t i = 0; i < m_entries; ++i) {
        for (std::size_t c = 0; c < 3; ++c) {
            m_rgb[i * 3 + c] = displayByte(table[i * 4 + c]);
        }
    }
    const unsigned char* nan = lut->GetNanColorAsUnsignedChars();
    for (std::size_t c = 0; c < 3; ++c) {
        m_nan[c] = displayByte(nan[c]);
    }

    // The same index arithmetic as the table's own lookup.
    m_low = settings.minimum;
    m_high = settings.maximum;
    m_shift = -m_low;
    const double delta = m_high - m_low;
    m_scale = delta < DBL_MIN * m_entries ? 0.0 : m_entries / delta;
    m_lastIndex = static_cast<long long>(m_entries) - 1;
    m_maxIndex = static_cast<double>(m_lastIndex);
}

IntensityScale::IntensityScale() : m_table(ScaleSettings{}) {}

const ColourTable& IntensityScale::update(std::uint32_t& minimum, std::uint32_t& maximum,
                                          const HsvColour& minimumColour,
                                          const HsvColour& maximumColour) {
    normaliseIntensityRange(minimum, maximum);
    ScaleSettings wanted;
    wanted.minimum = minimum;
    wanted.maximum = maximum;
    wanted.minimumColour = minimumColour;
    wanted.maximumColour = maximumColour;
    if (wanted != m_table.settings()) {
        m_table = ColourTable(wanted);
    }
    return m_table;
}

} // namespace viewer
