#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace viewer {

// What colouring by the fields other than intensity needs beyond x, y, z and intensity.
struct PointExtra {
    float reflectance = 0.0f;
    float pulseShapeDeviation = 0.0f;
    std::uint64_t timestamp = 0;
};

// The extra fields of a chunk's slots, each read back as it was set (a zero of either sign as
// +0; a slot never set reads as zero values and an unspecified time).
//
// Only the LX30 measures reflectance and pulse shape deviation; every other model's points carry
// zeros, so those two are kept only once a slot has either one other than zero. The time stamps
// of a chunk's points lie close together: they are kept as 32-bit offsets from the first one
// set (none while every one equals it, as in a file without times), and as whole time stamps
// for every slot once one lies too far from it (the device counter's wrap inside the chunk, a
// file's scattered times).
class ExtraFields {
public:
    // n slots, none set.
    void resize(std::size_t n);
    std::size_t size() const { return m_size; }

    void set(std::size_t slot, const PointExtra& extra) {
        const auto at = static_cast<std::uint32_t>(slot);
        setRun(&at, 1, [&extra](std::size_t) { return extra; });
    }
    // Sets places[i] to extraOf(i) for i below n: a run of points at once, which decides once
    // for all of them what needs keeping.
    template <class Extra> void setRun(const std::uint32_t* places, std::size_t n, Extra extraOf);

    PointExtra at(std::size_t slot) const {
        PointExtra e;
        if (!m_values.empty()) {
            e.reflectance = m_values[slot].reflectance;
            e.pulseShapeDeviation = m_values[slot].pulseShapeDeviation;
        }
        if (!m_wide.empty()) {
            e.timestamp = m_wide[slot];
        } else if (m_offsets.empty()) {
            e.timestamp = m_base;
        } else {
            e.timestamp =
                m_base + static_cast<std::uint64_t>(static_cast<std::int64_t>(m_offsets[slot]));
        }
        return e;
    }

    void swap(ExtraFields& other) noexcept;
    // The memory held, in bytes.
    std::size_t bytes() const;

private:
    void keepValues();
    void keepOffsets();
    void widen();

    struct Values {
        float reflectance = 0.0f;
        float pulseShapeDeviation = 0.0f;
    };
    std::size_t m_size = 0;
    std::vector<Values> m_values; // one per slot, or none while every value is zero
    bool m_based = false;         // m_base is the first time stamp set
    std::uint64_t m_base = 0;
    std::vector<std::int32_t> m_offsets; // time stamp - m_base, or none while every one is 0
    std::vector<std::uint64_t> m_wide;   // the time stamps, once one did not fit
};

template <class Extra>
void ExtraFields::setRun(const std::uint32_t* places, std::size_t n, Extra extraOf) {
    if (n == 0) {
        return;
    }
    if (m_values.empty()) {
        // Not-a-number is a value other than zero.
        for (std::size_t i = 0; i < n; ++i) {
            const PointExtra e = extraOf(i);
            if (!(e.reflectance == 0.0f && e.pulseShapeDeviation == 0.0f)) {
                keepValues();
                break;
            }
        }
    }
    if (!m_values.empty()) {
        for (std::size_t i = 0; i < n; ++i) {
            const PointExtra e = extraOf(i);
            m_values[places[i]] = {e.reflectance, e.pulseShapeDeviation};
        }
    }

    if (!m_based) {
        m_base = extraOf(0).timestamp;
        m_based = true;
    }
    if (m_wide.empty()) {
        // The offsets in 64 bits, as two's complement: within 32 bits either side of the base.
        bool fit = true;
        bool zero = true;
        for (std::size_t i = 0; i < n; ++i) {
            const auto offset = static_cast<std::int64_t>(extraOf(i).timestamp - m_base);
            fit = fit && offset >= std::numeric_limits<std::int32_t>::min() &&
                  offset <= std::numeric_limits<std::int32_t>::max();
            zero = zero && offset == 0;
        }
        if (fit) {
            if (zero && m_offsets.empty()) {
                return;
            }
            keepOffsets();
            for (std::size_t i = 0; i < n; ++i) {
                m_offsets[places[i]] = static_cast<std::int32_t>(
                    static_cast<std::int64_t>(extraOf(i).timestamp - m_base));
            }
            return;
        }
        widen();
    }
    for (std::size_t i = 0; i < n; ++i) {
        m_wide[places[i]] = extraOf(i).timestamp;
    }
}

} // namespace viewer
