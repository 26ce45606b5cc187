#pragma once

// A synthetic scan the benches measure on, the same for each so that their figures compare.

#include "DataPoint.h"

#include <cstddef>
#include <cstdint>
#include <deque>

namespace bench {

// A region scan of a 20 m by 30 m room, 4 m high, from its middle: lines of rising elevation,
// azimuth sweeping 15 to 345 degrees, ranges to the walls with some noise, as the LX30 gives
// them. Time stamps 40 µs apart from firstTimestamp, on the device's 32-bit counter.
std::deque<DataPoint> roomScan(std::size_t n, std::uint64_t firstTimestamp = 0);

} // namespace bench
