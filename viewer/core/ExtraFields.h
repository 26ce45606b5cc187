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

// The extra fields of a chunk's slots. Only the LX30 measures reflectance and pulse shape
// deviation; every other model's points carry zeros, so those two are kept only once a slot of
// the chunk has either one other than zero, and read as zero until then. Which slot has which
// values does not change: what is read back is what was set (a zero of either sign as +0).
class ExtraFields {
public:
    // n slots, each with no time stamp and zero values.
    void resize(std::size_t n);
    std::size_t size() const { return m_timestamps.size(); }

    void set(std::size_t slot, const PointExtra& extra);
    PointExtra at(std::size_t slot) const {
        if (m_values.empty()) {
            return {0.0f, 0.0f, m_timestamps[slot]};
        }
        return {m_values[slot].reflectance, m_values[slot].pulseShapeDeviation, m_timestamps[slot]};
    }

    void swap(ExtraFields& other) noexcept;
    // The memory held, in bytes.
    std::size_t bytes() const;

private:
    struct Values {
        float reflectance = 0.0f;
        float pulseShapeDeviation = 0.0f;
    };
    std::vector<std::uint64_t> m_timestamps;
    std::vector<Values> m_values; // one per slot, or none while every value is zero
};

} // namespace viewer
