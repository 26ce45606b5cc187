// Counter-based random draws: a number is a pure function of the seed, an
// index and a salt, so that what the simulator injects or measures repeats
// exactly for a given seed however the work is split into calls.
#pragma once

#include <cmath>
#include <cstdint>

namespace sentova {
namespace sim {

inline std::uint64_t mixBits(std::uint64_t z) {
    // splitmix64's finaliser: small, fast, and well spread.
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Uniform in [0, 1).
inline double uniformDraw(std::uint64_t seed, std::uint64_t index, std::uint64_t salt) {
    const std::uint64_t z = mixBits(mixBits(seed + 0x9E3779B97F4A7C15ull) ^
                                    (index * 0xD1B54A32D192ED03ull) ^ (salt << 56));
    return static_cast<double>(z >> 11) * 0x1.0p-53;
}

// Standard normal (Box-Muller over two uniform draws with salts salt and salt + 1).
inline double gaussianDraw(std::uint64_t seed, std::uint64_t index, std::uint64_t salt) {
    const double u1 = 1.0 - uniformDraw(seed, index, salt); // (0, 1]
    const double u2 = uniformDraw(seed, index, salt + 1);
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
}

} // namespace sim
} // namespace sentova
