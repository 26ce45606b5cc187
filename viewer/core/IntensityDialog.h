// What the intensity range dialogs offer: device amplitudes span 0 to 65535, a loaded file can
// carry larger values, and the dialogs take an int.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

namespace viewer {

struct IntensityDialogRange {
    int minimum = 0;
    int maximum = 65535;
    int initial = 0;
};

// The dialog for one end of the range, showing value: 0 to 65535, widened to the larger of the
// range's two ends when a file took them beyond, bounded to what an int holds.
inline IntensityDialogRange intensityDialogRange(std::uint32_t value, std::uint32_t otherEnd) {
    constexpr std::uint32_t largest = static_cast<std::uint32_t>(std::numeric_limits<int>::max());
    IntensityDialogRange range;
    range.maximum = static_cast<int>(std::min(largest, std::max({65535u, value, otherEnd})));
    range.initial = static_cast<int>(std::min(largest, value));
    return range;
}

} // namespace viewer
