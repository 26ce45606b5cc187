#include "PreparedCloud.h"
#include "CloudChunk.h"
#include "ExtraFields.h"
#include "FollowingCopy.h"
#include "PointStore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <vector>

using namespace viewer;

namespace {

constexpr int kLargeBits = 13; // two runs a block
constexpr int kSmallBits = 10;
constexpr std::size_t kRun = 4096;
constexpr std::size_t kBlock = std::size_t{1} << kLargeBits;

// Sizes around the runs and the blocks: none, one point, one run, one run and one, a block, a
// block and one, several blocks and runs with a partial small chunk after them.
const std::vector<std::size_t> kSizes = {
    0, 1, kRun, kRun + 1, kBlock, kBlock + 1, 3 * kBlock + 2 * kRun + 1500};

// Points with every field telling them apart; reflectance other than zero only where asked,
// a NaN intensity now and then, times a few microseconds apart.
std::vector<DataPoint> points(std::size_t n, bool reflectance) {
    std::vector<DataPoint> out(n);
    for (std::size_t i = 0; i < n; ++i) {
        DataPoint& p = out[i];
        p.x = static_cast<double>(i);
        p.y = -0.5 * static_cast<double>(i);
        p.z = static_cast<double>(i % 97);
        p.intensity = i % 1000 == 999 ? std::numeric_limits<float>::quiet_NaN()
                                      : static_cast<float>((i * 37) % 60000);
        p.reflectance = reflectance ? static_cast<float>(i % 5) : 0.0f;
        p.pulseShapeDeviation = reflectance ? 0.25f * static_cast<float>(i % 3) : 0.0f;
        p.timestamp = 1'000'000'000'000ull + 3 * i;
    }
    return out;
}

bool sameFloat(float a, float b) {
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

// Every slot of every chunk holds the point of the arrival it stands for, and each chunk's
// range is that of its points' intensities.
void expectLayout(PreparedCloud& copy, const std::vector<DataPoint>& source) {
    ASSERT_TRUE(copy.finished());
    ASSERT_EQ(copy.size(), source.size());
    std::uint64_t next = 0;
    for (const PreparedCloud::Chunk& chunk : copy.chunks()) {
        ASSERT_EQ(chunk.start, next);
        IntensityBounds bounds;
        for (std::size_t slot = 0; slot < chunk.filled; ++slot) {
            const std::size_t arrival =
                chunk.start +
                (chunk.sealed ? bitReverse(static_cast<std::uint32_t>(slot), chunk.bits) : slot);
            ASSERT_LT(arrival, source.size());
            const DataPoint& p = source[arrival];
            ASSERT_EQ(chunk.xyz[slot * 3], static_cast<float>(p.x)) << slot;
            ASSERT_EQ(chunk.xyz[slot * 3 + 1], static_cast<float>(p.y)) << slot;
            ASSERT_EQ(chunk.xyz[slot * 3 + 2], static_cast<float>(p.z)) << slot;
            ASSERT_TRUE(sameFloat(chunk.intensity[slot], p.intensity)) << slot;
            const PointExtra e = chunk.extra.at(slot);
            ASSERT_EQ(e.reflectance, p.reflectance) << slot;
            ASSERT_EQ(e.pulseShapeDeviation, p.pulseShapeDeviation) << slot;
            ASSERT_EQ(e.timestamp, p.timestamp) << slot;
            bounds.add(p.intensity);
        }
        EXPECT_EQ(chunk.bounds.any, bounds.any);
        EXPECT_EQ(chunk.bounds.lowest, bounds.lowest);
        EXPECT_EQ(chunk.bounds.highest, bounds.highest);
        next += chunk.filled;
    }
    EXPECT_EQ(next, source.size());
}

void expectSameChunks(PreparedCloud& a, PreparedCloud& b) {
    ASSERT_EQ(a.size(), b.size());
    ASSERT_EQ(a.chunks().size(), b.chunks().size());
    for (std::size_t c = 0; c < a.chunks().size(); ++c) {
        const PreparedCloud::Chunk& x = a.chunks()[c];
        const PreparedCloud::Chunk& y = b.chunks()[c];
        ASSERT_EQ(x.start, y.start);
        ASSERT_EQ(x.bits, y.bits);
        ASSERT_EQ(x.filled, y.filled);
        ASSERT_EQ(x.sealed, y.sealed);
        ASSERT_EQ(x.xyz, y.xyz);
        for (std::size_t s = 0; s < x.filled; ++s) {
            ASSERT_TRUE(sameFloat(x.intensity[s], y.intensity[s]));
            ASSERT_EQ(x.extra.at(s).timestamp, y.extra.at(s).timestamp);
            ASSERT_EQ(x.extra.at(s).reflectance, y.extra.at(s).reflectance);
        }
        EXPECT_EQ(x.bounds.lowest, y.bounds.lowest);
        EXPECT_EQ(x.bounds.highest, y.bounds.highest);
    }
}

} // namespace

// Laid out in runs, from a reader's uneven chunks or from the buffer's deque in one go.
TEST(PreparedCloud, RunsLayEveryPointAtItsArrivalsSlot) {
    for (const bool reflectance : {false, true}) {
        for (const std::size_t n : kSizes) {
            SCOPED_TRACE(testing::Message() << n << " points, reflectance " << reflectance);
            const std::vector<DataPoint> source = points(n, reflectance);
            PreparedCloud chunked(kLargeBits, kSmallBits);
            for (std::size_t done = 0; done < n;) {
                const std::size_t take = std::min<std::size_t>(3001, n - done);
                chunked.append(source.data() + done, take);
                done += take;
            }
            chunked.finish();
            expectLayout(chunked, source);

            const std::deque<DataPoint> buffer(source.begin(), source.end());
            PreparedCloud whole(kLargeBits, kSmallBits);
            whole.append(buffer.cbegin(), buffer.size());
            whole.finish();
            expectLayout(whole, source);
        }
    }
}

// The copy a load into an empty scene lays out while it reads equals the one laid out from the
// store's buffer after the exchange, and the store hands it to the display for that buffer.
TEST(PreparedCloud, ACopyLaidOutDuringTheReadEqualsOneLaidOutAfter) {
    for (const std::size_t n : kSizes) {
        SCOPED_TRACE(n);
        const std::vector<DataPoint> source = points(n, true);
        FollowingCopy following(kLargeBits, kSmallBits);
        std::deque<DataPoint> read;
        for (std::size_t done = 0; done < n;) {
            std::vector<DataPoint> chunk = following.spare();
            const std::size_t take = std::min<std::size_t>(1000, n - done);
            chunk.assign(source.begin() + static_cast<std::ptrdiff_t>(done),
                         source.begin() + static_cast<std::ptrdiff_t>(done + take));
            read.insert(read.end(), chunk.begin(), chunk.end());
            following.follow(std::move(chunk));
            done += take;
        }
        std::shared_ptr<PreparedCloud> during = following.finish();
        ASSERT_TRUE(during);
        expectLayout(*during, source);

        PointStore after;
        after.exchangeBeforeCopy(std::deque<DataPoint>(read));
        PreparedCloud laid(kLargeBits, kSmallBits);
        while (after.layCopy(laid, 5000) == PointStore::CopyStep::More) {
        }
        laid.finish();
        expectSameChunks(*during, laid);

        PointStore store;
        store.exchangeWithCopy(std::move(read), during);
        EXPECT_FALSE(store.copyAwaited());
        const std::shared_ptr<PreparedCloud> taken = store.takePrepared();
        ASSERT_EQ(taken, during);
        const BufferLog log =
            store.withBuffer([](const std::deque<DataPoint>&, const BufferLog& l) { return l; });
        EXPECT_EQ(taken->log.generation, log.generation);
        EXPECT_EQ(taken->log.appended, log.appended);
    }
}

// A copy that is not of every loaded point never reaches the display, which then copies the
// buffer itself; a load cancelled while its copy follows ends without waiting for the copy.
TEST(PreparedCloud, AnIncompleteCopyIsDroppedAndACancelledOneEnds) {
    PointStore store;
    auto partial = std::make_shared<PreparedCloud>(kLargeBits, kSmallBits);
    const std::vector<DataPoint> source = points(10, false);
    partial->append(source.data(), 9);
    partial->finish();
    store.exchangeWithCopy(std::deque<DataPoint>(source.begin(), source.end()), partial);
    EXPECT_FALSE(store.takePrepared());
    store.exchangeWithCopy(std::deque<DataPoint>(source.begin(), source.end()), nullptr);
    EXPECT_FALSE(store.takePrepared());

    auto following = std::make_unique<FollowingCopy>(kLargeBits, kSmallBits);
    for (int i = 0; i < 20; ++i) {
        following->follow(points(kBlock, false));
    }
    following.reset();
}

// Zero values and a time stamp shared by every slot (a file without those fields) take no
// memory; each is kept for every slot once one slot differs, and all read back as set.
TEST(ExtraFields, WhatEverySlotSharesStaysImplicitUntilOneDiffers) {
    ExtraFields extra;
    extra.resize(100);
    std::vector<std::uint32_t> places(100);
    for (std::uint32_t i = 0; i < 100; ++i) {
        places[i] = 99 - i;
    }
    extra.setRun(places.data(), 100, [](std::size_t) { return PointExtra{0.0f, -0.0f, 7}; });
    EXPECT_EQ(extra.bytes(), 0u);
    EXPECT_EQ(extra.at(42).timestamp, 7u);

    extra.set(5, {0.0f, 0.0f, 9});
    extra.set(3, {1.5f, 0.0f, 7});
    EXPECT_GT(extra.bytes(), 0u);
    for (std::size_t s = 0; s < 100; ++s) {
        const PointExtra e = extra.at(s);
        EXPECT_EQ(e.timestamp, s == 5 ? 9u : 7u) << s;
        EXPECT_EQ(e.reflectance, s == 3 ? 1.5f : 0.0f) << s;
    }

    // One time too far from the first for an offset: every slot keeps its whole time stamp,
    // whether offsets were kept by then or not.
    for (const bool offsets : {false, true}) {
        SCOPED_TRACE(offsets);
        ExtraFields wide;
        wide.resize(10);
        wide.setRun(places.data() + 90, 10, [](std::size_t) { return PointExtra{0, 0, 5}; });
        if (offsets) {
            wide.set(1, {0, 0, 4});
        }
        const std::uint64_t far = 5 + (std::uint64_t{1} << 33);
        wide.set(2, {0, 0, far});
        for (std::size_t s = 0; s < 10; ++s) {
            EXPECT_EQ(wide.at(s).timestamp, s == 2 ? far : (offsets && s == 1 ? 4u : 5u)) << s;
        }
    }
}
