#include "ObservationQueue.h"

#include <gtest/gtest.h>

#include <thread>

using tavrel::ObservationChunk;
using tavrel::ObservationQueue;

namespace {
constexpr std::size_t kObservation = sizeof(tavrel::tavrel_rbe_obs_t);

ObservationChunk Chunk(ObservationQueue& queue, std::initializer_list<std::uint64_t> stamps) {
    ObservationChunk chunk = queue.spare();
    for (std::uint64_t t : stamps) {
        tavrel::tavrel_rbe_obs_t o{};
        o.timestamp = t;
        chunk.observations.push_back(o);
    }
    chunk.datagramEnds.push_back(chunk.observations.size());
    return chunk;
}

std::vector<std::uint64_t> Stamps(const std::vector<ObservationChunk>& chunks) {
    std::vector<std::uint64_t> stamps;
    for (const auto& c : chunks)
        for (const auto& o : c.observations)
            stamps.push_back(o.timestamp);
    return stamps;
}
} // namespace

TEST(ObservationQueue, ChunksKeepTheirOrderAndAStopDiscardsTheRest) {
    ObservationQueue queue(1 << 20);
    queue.push(Chunk(queue, {1, 2}));
    queue.push(Chunk(queue, {3}));
    std::vector<ObservationChunk> taken;
    ASSERT_TRUE(queue.pop(taken, 100));
    EXPECT_EQ(Stamps(taken), (std::vector<std::uint64_t>{1, 2, 3}));
    queue.recycle(taken);
    EXPECT_TRUE(taken.empty());

    queue.push(Chunk(queue, {4}));
    queue.stop();
    EXPECT_TRUE(queue.stopRequested());
    EXPECT_FALSE(queue.pop(taken, 100));
    EXPECT_TRUE(taken.empty());
    queue.push(Chunk(queue, {5})); // refused once stopped
    EXPECT_FALSE(queue.pop(taken, 100));
    EXPECT_EQ(queue.heldBytes(), 0u);
}

TEST(ObservationQueue, BoundedByTheBytesItHoldsUntilRecycled) {
    ObservationQueue queue(4 * kObservation);
    EXPECT_TRUE(queue.fits(0, 4 * kObservation));
    EXPECT_FALSE(queue.fits(kObservation, 4 * kObservation));
    queue.push(Chunk(queue, {1, 2, 3}));
    EXPECT_EQ(queue.heldBytes(), 3 * kObservation);
    EXPECT_TRUE(queue.fits(0, kObservation));
    EXPECT_FALSE(queue.fits(0, 2 * kObservation));

    // Taken chunks still count until given back: the consumer is reading them.
    std::vector<ObservationChunk> taken;
    ASSERT_TRUE(queue.pop(taken, 100));
    EXPECT_FALSE(queue.fits(0, 2 * kObservation));
    queue.recycle(taken);
    EXPECT_EQ(queue.heldBytes(), 0u);
    EXPECT_TRUE(queue.fits(0, 4 * kObservation));
    EXPECT_EQ(queue.peakBytes(), 3 * kObservation);

    // A recycled chunk comes back empty, its storage kept.
    const ObservationChunk again = queue.spare();
    EXPECT_TRUE(again.observations.empty());
    EXPECT_TRUE(again.datagramEnds.empty());
    EXPECT_GE(again.observations.capacity(), 3u);
}

TEST(ObservationQueue, APopTakesWholeChunksUpToTheBatchSizeButAlwaysOne) {
    ObservationQueue queue(1 << 20);
    queue.push(Chunk(queue, {1, 2, 3}));
    queue.push(Chunk(queue, {4}));
    queue.push(Chunk(queue, {5, 6}));
    std::vector<ObservationChunk> taken;
    ASSERT_TRUE(queue.pop(taken, 2));
    EXPECT_EQ(Stamps(taken), (std::vector<std::uint64_t>{1, 2, 3}));
    queue.recycle(taken);
    ASSERT_TRUE(queue.pop(taken, 3));
    EXPECT_EQ(Stamps(taken), (std::vector<std::uint64_t>{4, 5, 6}));
    queue.recycle(taken);
}

TEST(ObservationQueue, StopWakesAWaitingReader) {
    ObservationQueue queue(1 << 20);
    std::vector<std::uint64_t> first;
    bool result = true;
    std::thread reader([&] {
        std::vector<ObservationChunk> taken;
        while ((result = queue.pop(taken, 100))) {
            const auto stamps = Stamps(taken);
            first.insert(first.end(), stamps.begin(), stamps.end());
            queue.recycle(taken);
        }
    });
    queue.push(Chunk(queue, {7}));
    queue.stop();
    reader.join();
    EXPECT_FALSE(result);
    EXPECT_TRUE(first.empty() || first == std::vector<std::uint64_t>{7});
}

TEST(ObservationQueue, AReleaseJoinsTheTakenChunksAndCountsTheirBytesOff) {
    ObservationQueue queue(1 << 20);
    queue.push(Chunk(queue, {1, 2}));
    queue.push(Chunk(queue, {3}));
    std::vector<ObservationChunk> taken;
    ASSERT_TRUE(queue.pop(taken, 100));
    const std::vector<tavrel::tavrel_rbe_obs_t> joined = queue.release(taken);
    ASSERT_EQ(joined.size(), 3u);
    EXPECT_EQ(joined[0].timestamp, 1u);
    EXPECT_EQ(joined[2].timestamp, 3u);
    EXPECT_TRUE(taken.empty());
    EXPECT_EQ(queue.heldBytes(), 0u);
}

TEST(ObservationQueue, AReleasedChunkKeepsItsStorageForTheProducer) {
    ObservationQueue queue(1 << 20);
    ObservationChunk chunk = Chunk(queue, {1, 2, 3, 4});
    chunk.observations.shrink_to_fit();
    const tavrel::tavrel_rbe_obs_t* storage = chunk.observations.data();
    queue.push(std::move(chunk));
    std::vector<ObservationChunk> taken;
    ASSERT_TRUE(queue.pop(taken, 100));
    const std::vector<tavrel::tavrel_rbe_obs_t> copied = queue.release(taken);
    EXPECT_NE(copied.data(), storage);
    ASSERT_EQ(copied.size(), 4u);
    EXPECT_EQ(copied[3].timestamp, 4u);
    EXPECT_EQ(queue.heldBytes(), 0u);

    // The pooled chunk comes back with its storage, for the socket thread not to allocate.
    const ObservationChunk again = queue.spare();
    EXPECT_TRUE(again.observations.empty());
    EXPECT_TRUE(again.datagramEnds.empty());
    EXPECT_EQ(again.observations.data(), storage);
}

TEST(ObservationQueue, AReleaseGivesNoMoreStorageThanItsObservationsNeed) {
    ObservationQueue queue(1 << 20);
    ObservationChunk chunk = Chunk(queue, {1});
    chunk.observations.reserve(64);
    queue.push(std::move(chunk));
    std::vector<ObservationChunk> taken;
    ASSERT_TRUE(queue.pop(taken, 100));
    const std::vector<tavrel::tavrel_rbe_obs_t> copied = queue.release(taken);
    ASSERT_EQ(copied.size(), 1u);
    EXPECT_LT(copied.capacity(), 64u);
    EXPECT_EQ(queue.heldBytes(), 0u);
}
