#include "Sentova/SentovaStreamStatistics.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using tavrel::SentovaTimestampGaps;

namespace {

// Time stamps first, first + step, ... (count of them), modulo 2^32.
std::vector<std::uint32_t> Stamps(std::uint32_t first, std::size_t count, std::uint32_t step = 40) {
    std::vector<std::uint32_t> t;
    for (std::size_t i = 0; i < count; ++i)
        t.push_back(first + static_cast<std::uint32_t>(i) * step);
    return t;
}

// Feeds datagrams 2 ms apart in arrival time.
struct Feed {
    SentovaTimestampGaps gaps;
    std::uint64_t arrival = 1000000;
    std::uint64_t add(const std::vector<std::uint32_t>& t, std::uint64_t after = 2000) {
        arrival += after;
        gaps.Add(t.data(), t.size(), arrival);
        return gaps.PointsMissing();
    }
};

} // namespace

TEST(TimestampGaps, ContinuousStreamMissesNothingFromTheFirstDatagramOn) {
    Feed f;
    // The first datagram has no predecessor: whatever its time stamps, no gap.
    EXPECT_EQ(f.add(Stamps(5000000, 40)), 0u);
    EXPECT_EQ(f.add(Stamps(5000000 + 40 * 40, 40)), 0u);
    EXPECT_EQ(f.add(Stamps(5000000 + 80 * 40, 40)), 0u);
}

TEST(TimestampGaps, LostDatagramsCountTheirPoints) {
    Feed f;
    f.add(Stamps(0, 40));
    // Datagrams of records 40..79 and 80..119 lost.
    EXPECT_EQ(f.add(Stamps(120 * 40, 40)), 80u);
    // A single lost record between datagrams.
    EXPECT_EQ(f.add(Stamps(161 * 40, 40)), 81u);
}

TEST(TimestampGaps, MeasurementsWithoutReturnInsideADatagramAreNotLosses) {
    Feed f;
    std::vector<std::uint32_t> sparse = {0, 40, 400, 440, 480, 2000};
    f.add(sparse);
    std::vector<std::uint32_t> next = {2040, 2080, 4000, 4040};
    EXPECT_EQ(f.add(next), 0u);
    EXPECT_EQ(f.add(Stamps(4080, 10)), 0u);
}

TEST(TimestampGaps, WrapAroundIsNoGap) {
    // 20 records ending at 2^32 - 40; the next one is 0 again.
    const std::uint32_t nearTheEnd = 4294967296u - 20 * 40;
    Feed f;
    f.add(Stamps(nearTheEnd, 20));
    EXPECT_EQ(f.add(Stamps(0, 20)), 0u);
    // A loss across the wrap is still counted.
    Feed g;
    g.add(Stamps(nearTheEnd, 20));
    EXPECT_EQ(g.add(Stamps(5 * 40, 20)), 5u);
}

TEST(TimestampGaps, ALateDatagramTakesItsPointsOffAgain) {
    Feed f;
    f.add(Stamps(0, 40));
    EXPECT_EQ(f.add(Stamps(80 * 40, 40)), 40u); // 40..79 not seen yet
    EXPECT_EQ(f.add(Stamps(40 * 40, 40)), 0u);  // there it is, late
    // The reference stayed at the newest: the next one in order is no gap.
    EXPECT_EQ(f.add(Stamps(120 * 40, 40)), 0u);
    // A duplicate never drives the count below zero.
    EXPECT_EQ(f.add(Stamps(120 * 40, 40)), 0u);
}

TEST(TimestampGaps, PauseOfTheStreamIsNoLoss) {
    Feed f;
    f.add(Stamps(0, 40));
    // Started again 3 s later, its time stamps far ahead.
    EXPECT_EQ(f.add(Stamps(3000000, 40), 3000000), 0u);
    EXPECT_EQ(f.add(Stamps(3000000 + 40 * 40, 40)), 0u);
    // A short silence with a jump in time stamps is a loss.
    EXPECT_EQ(f.add(Stamps(3000000 + 90 * 40, 40), 100000), 10u);
}

TEST(TimestampGaps, IntervalComesFromTheLatestDatagramWithTwoRecords) {
    Feed f;
    // Single records only: the interval is unknown and nothing is counted.
    f.add({100});
    EXPECT_EQ(f.add({500}), 0u);
    // Interval 100 learnt here; single records then use it.
    f.add(Stamps(600, 5, 100));
    EXPECT_EQ(f.add({1400}), 3u);
    // The rate changes (interval 10): the new datagram's own steps count.
    EXPECT_EQ(f.add(Stamps(1410, 10, 10)), 3u);
    EXPECT_EQ(f.add(Stamps(1540, 10, 10)), 6u); // 1510, 1520, 1530 lost
}

TEST(TimestampGaps, SmallJitterIsRoundedAway) {
    Feed f;
    f.add({0, 300, 601, 900});
    EXPECT_EQ(f.add({1201, 1500}), 0u);
    EXPECT_EQ(f.add({2101, 2400}), 1u);
    f.gaps.Reset();
    EXPECT_EQ(f.gaps.PointsMissing(), 0u);
}
