// One laser sample: noise within its configured bounds and repeatable from the
// seed, several returns where the footprint crosses an edge, and what the
// models' modes and gain do to it.
#include "Measurement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace sentova::sim;

namespace {

constexpr double kPi = 3.141592653589793;

// A plane across the beam's way at a given distance straight ahead (+y).
class WallAhead : public Scene {
public:
    WallAhead(double distance, double reflectivity)
        : m_distance(distance), m_surface{"plane", reflectivity, 500, 2, 1.0} {}
    std::optional<BeamHit> cast(const Vec3& d) const override {
        if (d.y <= 0.0)
            return std::nullopt;
        return BeamHit{m_distance / d.y, d.y, &m_surface};
    }

private:
    double m_distance;
    Surface m_surface;
};

struct Statistics {
    double mean = 0.0, deviation = 0.0, largest = 0.0;
    std::size_t count = 0;
};

Statistics of(const std::vector<double>& values) {
    Statistics s;
    s.count = values.size();
    for (double v : values)
        s.mean += v / values.size();
    for (double v : values) {
        s.deviation += (v - s.mean) * (v - s.mean) / values.size();
        s.largest = std::max(s.largest, std::fabs(v));
    }
    s.deviation = std::sqrt(s.deviation);
    return s;
}

// Range errors (metres) and relative amplitude errors of n samples at the 8 m
// far wall of the built-in room, straight ahead.
void sampleFarWall(const NoiseSettings& noise, const LaserMode& mode, std::uint64_t seed,
                   std::size_t n, std::vector<double>& rangeErrors,
                   std::vector<double>& amplitudeErrors) {
    Return exact[2];
    NoiseSettings none;
    none.enabled = false;
    ASSERT_EQ(measureSample(builtInRoom(), 0.0, 0.0, none, mode, seed, 0, exact), 1);
    ASSERT_NEAR(exact[0].range, 8.0, 1e-9);
    for (std::size_t i = 0; i < n; ++i) {
        Return r[2];
        if (measureSample(builtInRoom(), 0.0, 0.0, noise, mode, seed, i, r) == 0)
            continue;
        rangeErrors.push_back(r[0].range - exact[0].range);
        amplitudeErrors.push_back(r[0].amplitude / exact[0].amplitude - 1.0);
    }
}

} // namespace

TEST(Measurement, NoiseStaysWithinItsBoundsForAFixedSeed) {
    const NoiseSettings noise; // the defaults: mild
    const LaserMode generic = laserMode(LIDAR_GENERIC, {{0, 4366}}, 0);
    constexpr std::size_t kN = 40000;
    std::vector<double> ranges, amplitudes;
    sampleFarWall(noise, generic, 7, kN, ranges, amplitudes);
    const Statistics r = of(ranges), a = of(amplitudes);
    const double sigma = noise.rangeNoise * 8.0; // 8 mm at 8 m
    EXPECT_LT(std::fabs(r.mean), 0.05 * sigma);
    EXPECT_NEAR(r.deviation, sigma, 0.03 * sigma);
    EXPECT_LE(r.largest, kRangeNoiseLimit * sigma + 1e-12);
    EXPECT_GT(r.largest, 3.0 * sigma);
    EXPECT_LT(std::fabs(a.mean), 0.002);
    EXPECT_NEAR(a.deviation, noise.amplitudeNoise, 0.1 * noise.amplitudeNoise);
    // Drop-outs: a share of about 0.001.
    const std::size_t dropped = kN - r.count;
    EXPECT_GT(dropped, 20u);
    EXPECT_LT(dropped, 65u);

    // The same seed repeats every sample; another seed does not.
    std::vector<double> again, otherSeed, unused;
    sampleFarWall(noise, generic, 7, 1000, again, unused);
    sampleFarWall(noise, generic, 8, 1000, otherSeed, unused);
    for (std::size_t i = 0; i < 100; ++i)
        EXPECT_EQ(again[i], ranges[i]);
    std::size_t same = 0;
    for (std::size_t i = 0; i < 100; ++i)
        same += otherSeed[i] == ranges[i];
    EXPECT_LT(same, 5u);

    // Switched off: the exact range every time, and nothing dropped.
    NoiseSettings off;
    off.enabled = false;
    std::vector<double> exact;
    sampleFarWall(off, generic, 7, 1000, exact, unused);
    EXPECT_EQ(exact.size(), 1000u);
    EXPECT_EQ(of(exact).largest, 0.0);
}

TEST(Measurement, ModesShapeTheNoise) {
    const NoiseSettings noise;
    const auto deviationFor = [&](const LaserMode& mode) {
        std::vector<double> ranges, unused;
        sampleFarWall(noise, mode, 3, 20000, ranges, unused);
        return of(ranges).deviation / (noise.rangeNoise * 8.0);
    };
    EXPECT_NEAR(deviationFor(laserMode(LIDAR_LX30, {{1, 0}, {2, 0}}, 0)), 1.5, 0.06);
    EXPECT_NEAR(deviationFor(laserMode(LIDAR_LX30, {{1, 1}, {2, 0}}, 0)), 1.0, 0.04);
    EXPECT_NEAR(deviationFor(laserMode(LIDAR_LX30, {{1, 2}, {2, 0}}, 0)), 0.5, 0.02);
    // Averaging four samples halves it.
    EXPECT_NEAR(deviationFor(laserMode(LIDAR_LX20, {{3, 10000}, {4, 4}}, 0)), 0.5, 0.02);
    EXPECT_EQ(laserMode(LIDAR_LX20, {{3, 10000}, {4, 4}}, 0).rate, 2500.0);
    EXPECT_EQ(laserMode(LIDAR_LX30, {{1, 2}}, 0).rate, 500.0);
}

TEST(Measurement, FootprintAcrossAnEdgeReturnsNearAndFar) {
    // The pillar (radius 0.3 m, centre (3.5, -2)) with the wall behind it.
    const double centre = std::atan2(3.5, -2.0) * 180.0 / kPi;
    const double halfWidth = std::asin(0.3 / std::hypot(3.5, -2.0)) * 180.0 / kPi;
    NoiseSettings noise;
    noise.dropouts = 0.0;
    const auto sweep = [&](int target, bool multiple, std::size_t& doubles,
                           std::vector<double>& ranges) {
        noise.multipleReturns = multiple;
        const LaserMode mode = laserMode(LIDAR_LX30, {{1, 1}, {2, target}}, 0);
        doubles = 0;
        ranges.clear();
        for (double az = centre + halfWidth - 0.05; az < centre + halfWidth + 0.05; az += 0.001) {
            Return r[2];
            const int n = measureSample(builtInRoom(), az, 0.0, noise, mode, 1, 0, r);
            doubles += n == 2;
            for (int i = 0; i < n; ++i)
                ranges.push_back(r[i].range);
            if (n == 2) {
                EXPECT_LT(r[0].range + kReturnSeparation, r[1].range);
                EXPECT_EQ(r[0].pulseShapeDeviation, 15 + 20); // a misshapen pulse
            }
        }
    };
    std::size_t doubles = 0, none = 0;
    std::vector<double> all, first, last, single;
    sweep(0, true, doubles, all);
    // 0.5 mrad across steps of 0.001 degrees: a few tens of samples see both.
    EXPECT_GT(doubles, 10u);
    EXPECT_LT(doubles, 60u);
    sweep(1, true, none, first);
    EXPECT_EQ(none, 0u);
    EXPECT_EQ(first.size() + doubles, all.size());
    sweep(2, true, none, last);
    EXPECT_EQ(last.size(), first.size());
    double nearSum = 0.0, farSum = 0.0;
    for (std::size_t i = 0; i < first.size(); ++i) {
        EXPECT_LE(first[i], last[i]);
        nearSum += first[i];
        farSum += last[i];
    }
    EXPECT_LT(nearSum, farSum);
    sweep(0, false, none, single);
    EXPECT_EQ(none, 0u);
}

TEST(Measurement, GainLiftsWeakReturnsAndSaturatesStrongOnes) {
    NoiseSettings off;
    off.enabled = false;
    const WallAhead far(100.0, 0.5), near(1.0, 0.5);
    const LaserMode low = laserMode(LIDAR_LX20, {{5, 0}}, 0);
    const LaserMode high = laserMode(LIDAR_LX20, {{5, 255}}, 0);
    Return r[2];
    // At 100 m the return is too weak to detect without gain.
    EXPECT_EQ(measureSample(far, 0.0, 0.0, off, low, 1, 0, r), 0);
    ASSERT_EQ(measureSample(far, 0.0, 0.0, off, high, 1, 0, r), 1);
    EXPECT_NEAR(r[0].amplitude, 65535.0 * 0.5 * 0.0004 * (1.0 + 255.0 / 16.0), 1.0);
    // Close by, more gain saturates.
    ASSERT_EQ(measureSample(near, 0.0, 0.0, off, low, 1, 0, r), 1);
    EXPECT_EQ(r[0].amplitude, 65535.0);
    // The gain set with "SVSLGA" stands in when the stream names none.
    EXPECT_EQ(laserMode(LIDAR_LX20, {}, 32).gain, 3.0);
    EXPECT_EQ(laserMode(LIDAR_LX20, {{5, 16}}, 32).gain, 2.0);
    // Only the LX30's slowest mode reaches a dark wall 200 m away.
    const WallAhead distant(200.0, 0.9);
    EXPECT_EQ(measureSample(distant, 0.0, 0.0, off, laserMode(LIDAR_LX30, {{1, 1}}, 0), 1, 0, r),
              0);
    EXPECT_EQ(measureSample(distant, 0.0, 0.0, off, laserMode(LIDAR_LX30, {{1, 2}}, 0), 1, 0, r),
              1);
}
