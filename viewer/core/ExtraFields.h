#pragma once

#include <cstddef>
#include <cstdint>
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
// set, and as whole time stamps for every slot once one lies too far from it (the device
// counter's wrap inside the chunk, a file's scattered times).
class ExtraFields {
public:
    // n slots, none set.
    void resize(std::size_t n);
    std::size_t size() const { return m_size; }

    void set(std::size_t slot, const PointExtra& extra);
    PointExtra at(std::size_t slot) const {
        PointExtra e;
        if (!m_values.empty()) {
            e.reflectance = m_values[slot].reflectance;
            e.pulseShapeDeviation = m_values[slot].pulseShapeDeviation;
        }
        e.timestamp =
            m_wide.empty()
                ? m_base + static_cast<std::uint64_t>(static_cast<std::int64_t>(m_offsets[slot]))
                : m_wide[slot];
        return e;
    }

    void swap(ExtraFields& other) noexcept;
    // The memory held, in bytes.
    std::size_t bytes() const;

private:
    void widen();

    struct Values {
        float reflectance = 0.0f;
        float pulseShapeDeviation = 0.0f;
    };
    std::size_t m_size = 0;
    std::vector<Values> m_values; // one per slot, or none while every value is zero
    bool m_based = false;         // m_base is the first time stamp set
    std::uint64_t m_base = 0;
    std::vector<std::int32_t> m_offsets; // time stamp - m_base, while every one fits
    std::vector<std::uint64_t> m_wide;   // the time stamps, once one did not fit
};

} // namespace viewer
