#include "BlockIndex.h"
#include "FrameSelection.h"
#include "PointBuffer.h"
#include "PositionCopy.h"

#include <gtest/gtest.h>

#include <deque>
#include <set>
#include <utility>
#include <vector>

using namespace viewer;

namespace {

constexpr std::uint64_t kBlock = 1000;
constexpr std::uint64_t kFramePoints = 700;
constexpr int kWallWidth = 400;
constexpr int kWallHeight = 300;

// A bounded buffer fed frame by frame with a raster that repeats on a wall: every frame's points
// lie where an earlier frame's did, or a little nearer, so that picks meet exact ties.
struct RepeatingStream {
    std::deque<DataPoint> points;
    BufferLog log;
    std::deque<FrameSpan> frames;
    std::uint32_t cap = 5000;

    std::uint64_t back() const { return log.appended; }

    void append(std::uint64_t count) {
        for (std::uint64_t k = 0; k < count; ++k) {
            const std::uint64_t n = back();
            const std::uint64_t frame = n / kFramePoints;
            const std::uint64_t i = n % kFramePoints;
            if (i == 0) {
                if (!frames.empty()) {
                    frames.back().closed = frames.back().complete = true;
                }
                FrameSpan span;
                span.index = frame;
                span.begin = n;
                frames.push_back(span);
            }
            DataPoint p;
            p.x = -3000.0 + static_cast<double>(i % 35) * 170.0;
            p.z = static_cast<double>(i / 35) * 100.0;
            p.y = 5000.0 - 50.0 * static_cast<double>((frame * 7 + i) % 5 == 0);
            p.timestamp = n * 1000; // 1 ms apart
            appendBounded(points, p, cap, log);
            frames.back().end = n + 1;
        }
        while (!frames.empty() && frames.front().end <= back() - points.size()) {
            frames.pop_front();
        }
    }

    // The positions of [begin, end) still buffered, as the picker copies them.
    std::optional<BlockIndex::Positions> copy(std::uint64_t begin, std::uint64_t end) {
        PositionCopy block(points, log, begin, back(), end);
        block.copy(points, log, back(), static_cast<std::size_t>(end - begin));
        const std::uint64_t first = block.range().begin;
        return BlockIndex::Positions{block.take(), first};
    }
};

PickCamera wallCamera() {
    PickCamera c;
    c.view = lookAt({0.0, -6000.0, 1000.0}, {0.0, 5000.0, 1000.0}, {0.0, 0.0, 1.0});
    c.projection = perspective(60.0, double(kWallWidth) / kWallHeight, 1.0, 1e6);
    c.width = kWallWidth;
    c.height = kWallHeight;
    return c;
}

} // namespace

TEST(BlockIndex, PicksWhatOneIndexOverTheShownRangePicksAcrossEvictionAndEveryMode) {
    RepeatingStream stream;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> copied;
    const auto copy = [&](std::uint64_t begin, std::uint64_t end) {
        copied.emplace_back(begin, end);
        return stream.copy(begin, end);
    };
    const auto never = [] { return false; };

    stream.append(4 * kFramePoints);
    const std::optional<BlockIndex> first =
        BlockIndex::build(BlockIndex(kBlock), 0, stream.back(), copy, never);
    ASSERT_TRUE(first);

    // Nine frames and half of the next: arrivals 0..1649 have left, block 1 lost its front after
    // it was indexed.
    stream.append(5 * kFramePoints + kFramePoints / 2);
    ASSERT_EQ(stream.back() - stream.points.size(), 1650u);
    copied.clear();
    const std::optional<BlockIndex> grown =
        BlockIndex::build(*first, 1650, stream.back(), copy, never);
    ASSERT_TRUE(grown);
    // The sealed block is kept as it was; the one that was still filling and the new ones are
    // indexed.
    const std::vector<std::pair<std::uint64_t, std::uint64_t>> expected{
        {2000, 3000}, {3000, 4000}, {4000, 5000}, {5000, 6000}, {6000, 6650}};
    EXPECT_EQ(copied, expected);
    ASSERT_EQ(grown->blocks().size(), 6u);
    EXPECT_EQ(grown->blocks()[0].index, first->blocks()[1].index);

    const PickCamera c = wallCamera();
    const struct {
        DisplayMode mode;
        unsigned count;
    } modes[] = {{DisplayMode::AllPoints, 1},
                 {DisplayMode::LatestFrame, 1},
                 {DisplayMode::LastFrames, 3},
                 {DisplayMode::LastSeconds, 2}};
    std::set<std::uint64_t> begins;
    for (const auto& m : modes) {
        const ShownPoints shown =
            shownPoints(m.mode, m.count, stream.frames, stream.points, stream.back());
        begins.insert(shown.begin);
        const std::optional<BlockIndex> blocks =
            BlockIndex::build(*grown, shown.begin, shown.end, copy, never);
        ASSERT_TRUE(blocks);
        const PointIndex whole =
            PointIndex::fromPositions(stream.copy(shown.begin, shown.end)->xyz, shown.begin);

        int hits = 0;
        for (int y = 2; y < kWallHeight; y += 5) {
            for (int x = 2; x < kWallWidth; x += 5) {
                const auto a = whole.pick(c, x, y, 4.0);
                const auto b = blocks->pick(c, x, y, 4.0, shown.begin, shown.end);
                ASSERT_EQ(a.has_value(), b.has_value()) << x << " " << y;
                if (a) {
                    ++hits;
                    ASSERT_EQ(a->id, b->id) << int(m.mode) << " at " << x << " " << y;
                    ASSERT_GE(b->id, shown.begin);
                }
            }
        }
        EXPECT_GT(hits, 200) << int(m.mode);
    }
    // Each mode showed a range of its own.
    EXPECT_EQ(begins.size(), 4u);
}
