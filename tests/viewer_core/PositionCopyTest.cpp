#include "PositionCopy.h"
#include "PointBuffer.h"
#include "PointIndex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>

using namespace viewer;

namespace {

DataPoint numbered(std::uint64_t n) {
    DataPoint p;
    p.x = static_cast<double>(n);
    p.y = 1000.0;
    p.z = -static_cast<double>(n);
    p.timestamp = n;
    return p;
}

// A buffer of the given cap holding arrival numbers from..to-1 (appended and evicted as the
// listener does), with its log.
struct Buffer {
    std::deque<DataPoint> points;
    BufferLog log;
    std::uint32_t cap = 1000;
    std::uint64_t back() const { return log.appended; }
    void append(std::uint64_t count) {
        for (std::uint64_t i = 0; i < count; ++i) {
            appendBounded(points, numbered(log.appended), cap, log);
        }
    }
};

} // namespace

TEST(PositionCopy, PointsEvictedBeforeTheirSliceKeepTheirPlaceAndTheRestTheirNumbers) {
    Buffer buffer;
    buffer.append(1000);
    PositionCopy copy(buffer.points, buffer.log, 0, buffer.back());
    EXPECT_EQ(copy.copy(buffer.points, buffer.log, buffer.back(), 100), PositionCopy::Step::More);
    // 300 more arrive: arrival numbers 0..299 leave the front, 100..299 before they were copied.
    buffer.append(300);
    PositionCopy::Step step;
    do {
        step = copy.copy(buffer.points, buffer.log, buffer.back(), 100);
    } while (step == PositionCopy::Step::More);
    ASSERT_EQ(step, PositionCopy::Step::Done);
    // The copy ends where the buffer ended when it began.
    EXPECT_EQ(copy.range().begin, 0u);
    EXPECT_EQ(copy.range().end, 1000u);
    const IndexedRange range = copy.range();
    std::vector<float> xyz = copy.take();
    ASSERT_EQ(xyz.size(), 3000u);
    EXPECT_FLOAT_EQ(xyz[99 * 3], 99.0f);
    EXPECT_TRUE(std::isnan(xyz[100 * 3]));
    EXPECT_TRUE(std::isnan(xyz[299 * 3 + 2]));
    EXPECT_FLOAT_EQ(xyz[300 * 3], 300.0f);
    EXPECT_FLOAT_EQ(xyz[999 * 3 + 2], -999.0f);

    const PointIndex index = PointIndex::fromPositions(std::move(xyz), range.begin);
    EXPECT_EQ(index.size(), 800u);
    std::vector<std::uint64_t> ids;
    PickCamera camera;
    camera.view = lookAt({500.0, -5000.0, -500.0}, {500.0, 1000.0, -500.0}, {0.0, 0.0, 1.0});
    camera.projection = perspective(60.0, 1.0, 1.0, 1e5);
    camera.width = camera.height = 1000;
    index.select(camera, {0, 0, 1000, 1000}, [&](std::uint64_t id, const float* p) {
        EXPECT_FLOAT_EQ(p[0], static_cast<float>(id));
        ids.push_back(id);
    });
    EXPECT_EQ(ids.size(), 800u);
}

TEST(PositionCopy, FromTheFirstShownPointAndNeverBeforeTheFront) {
    Buffer buffer;
    buffer.append(1500); // 500..1499 held
    PositionCopy shown(buffer.points, buffer.log, 1200, buffer.back());
    EXPECT_EQ(shown.copy(buffer.points, buffer.log, buffer.back(), 1000), PositionCopy::Step::Done);
    EXPECT_EQ(shown.range().begin, 1200u);
    const std::vector<float> xyz = shown.take();
    ASSERT_EQ(xyz.size(), 300u * 3);
    EXPECT_FLOAT_EQ(xyz[0], 1200.0f);

    PositionCopy before(buffer.points, buffer.log, 0, buffer.back());
    EXPECT_EQ(before.range().begin, 500u);
    EXPECT_EQ(before.copy(buffer.points, buffer.log, buffer.back(), 5000),
              PositionCopy::Step::Done);
    EXPECT_FLOAT_EQ(before.take()[0], 500.0f);

    // Nothing to copy: done at once.
    PositionCopy empty(buffer.points, buffer.log, buffer.back(), buffer.back());
    EXPECT_EQ(empty.copy(buffer.points, buffer.log, buffer.back(), 10), PositionCopy::Step::Done);
    EXPECT_TRUE(empty.take().empty());
}

TEST(PositionCopy, AClearOrALoadMeanwhileEndsTheCopy) {
    Buffer buffer;
    buffer.append(1000);
    PositionCopy cleared(buffer.points, buffer.log, 0, buffer.back());
    EXPECT_EQ(cleared.copy(buffer.points, buffer.log, buffer.back(), 10), PositionCopy::Step::More);
    clearBuffer(buffer.points, buffer.log);
    // Refilled past where the copy was, the buffer still is not the one it began on.
    buffer.append(1000);
    EXPECT_EQ(cleared.copy(buffer.points, buffer.log, buffer.back(), 10),
              PositionCopy::Step::Replaced);

    PositionCopy replaced(buffer.points, buffer.log, 0, buffer.back());
    std::deque<DataPoint> loaded(5, numbered(7));
    replaceBuffer(buffer.points, std::move(loaded), buffer.log);
    EXPECT_EQ(replaced.copy(buffer.points, buffer.log, buffer.back(), 10),
              PositionCopy::Step::Replaced);
}
