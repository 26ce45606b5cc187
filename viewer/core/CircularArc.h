#pragma once

// The smallest arc of a circle that holds a set of values: azimuths that straddle zero, or
// time stamps of the device's 32-bit counter across its wrap. Values are gathered into bins
// that keep their lowest and highest value, so the largest empty stretch between neighbours is
// found exactly, in one pass and in constant memory whatever the number of values.

#include <cstdint>
#include <vector>

namespace viewer {

class CircularArc {
public:
    // A circle of the given period, in bins of period / bins.
    CircularArc(double period, std::size_t bins);

    // A value in [0, period).
    void add(double value) {
        std::size_t b = static_cast<std::size_t>(value * m_binsPerUnit);
        b = b < m_low.size() ? b : m_low.size() - 1;
        if (!m_used[b]) {
            m_used[b] = 1;
            m_low[b] = value;
            m_high[b] = value;
        } else if (value < m_low[b]) {
            m_low[b] = value;
        } else if (value > m_high[b]) {
            m_high[b] = value;
        }
        ++m_count;
    }

    bool empty() const { return m_count == 0; }

    // The arc runs from start up through sweep (wrapping past the period back to 0). whole is
    // true when no gap between the values is wider than a bin, so no arc short of the whole
    // circle can be told; start and sweep then give the lowest value and the span up to the
    // highest. Empty: start 0, sweep 0.
    struct Arc {
        double start = 0.0;
        double sweep = 0.0;
        bool whole = false;
    };
    Arc arc() const;

private:
    double m_period;
    double m_binWidth;
    double m_binsPerUnit;
    std::vector<double> m_low;
    std::vector<double> m_high;
    std::vector<std::uint8_t> m_used;
    std::uint64_t m_count = 0;
};

// Azimuths in degrees, any value (taken modulo 360), in bins of a tenth of a degree.
class AzimuthArc {
public:
    AzimuthArc() : m_arc(360.0, 3600) {}
    void add(double degrees);
    bool empty() const { return m_arc.empty(); }
    // start in [0, 360), sweep up to 360; the whole turn (start 0, sweep 360) when the values
    // leave no gap wider than a tenth of a degree.
    CircularArc::Arc arc() const;

private:
    CircularArc m_arc;
};

// Values of the device's 32-bit time stamp counter, which wraps from 4294967295 to 0 (given as
// 64-bit values, taken modulo 2^32), in bins of 65536 counts.
class CounterArc {
public:
    CounterArc() : m_arc(4294967296.0, 65536) {}
    void add(std::uint64_t value) { m_arc.add(static_cast<double>(value & 0xffffffffu)); }
    bool empty() const { return m_arc.empty(); }
    // From first up to last, across the wrap when first > last. Values that leave no gap wider
    // than a bin give the lowest and the highest value.
    struct Range {
        std::uint32_t first = 0;
        std::uint32_t last = 0;
    };
    Range range() const;

private:
    CircularArc m_arc;
};

} // namespace viewer
