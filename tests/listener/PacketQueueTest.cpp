#include "DatagramQueue.h"
#include "ObservationDecoding.h"

#include <gtest/gtest.h>

#include <thread>

using tavrel::DatagramChunk;
using tavrel::DatagramQueue;

namespace {
constexpr std::size_t kRecord = tavrel::kLaserRecordSize;

DatagramChunk Chunk(DatagramQueue& queue, std::initializer_list<std::uint32_t> stamps) {
    DatagramChunk chunk = queue.spare();
    for (std::uint32_t t : stamps) {
        tavrel::LaserRecord r;
        r.timestamp = t;
        const std::string bytes = tavrel::encodeLaserRecord(r);
        chunk.records.insert(chunk.records.end(), bytes.begin(), bytes.end());
    }
    chunk.datagramEnds.push_back(chunk.records.size());
    return chunk;
}

std::vector<std::uint64_t> Stamps(const std::vector<DatagramChunk>& chunks) {
    std::vector<std::uint64_t> stamps;
    for (const auto& o : tavrel::observationsOf(chunks))
        stamps.push_back(o.timestamp);
    return stamps;
}
} // namespace

TEST(DatagramQueue, ChunksKeepTheirOrderAndAStopDiscardsTheRest) {
    DatagramQueue queue(1 << 20);
    queue.push(Chunk(queue, {1, 2}));
    queue.push(Chunk(queue, {3}));
    std::vector<DatagramChunk> taken;
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

TEST(DatagramQueue, BoundedByTheBytesItHoldsUntilRecycled) {
    const std::size_t three = tavrel::chunkBytesOf(3);
    DatagramQueue queue(three + tavrel::chunkBytesOf(1));
    EXPECT_TRUE(queue.fits(0, three + tavrel::chunkBytesOf(1)));
    EXPECT_FALSE(queue.fits(1, three + tavrel::chunkBytesOf(1)));
    queue.push(Chunk(queue, {1, 2, 3}));
    EXPECT_EQ(queue.heldBytes(), three);
    EXPECT_TRUE(queue.fits(0, tavrel::chunkBytesOf(1)));
    EXPECT_FALSE(queue.fits(0, tavrel::chunkBytesOf(2)));

    // Taken chunks still count until given back: the consumer is reading them.
    std::vector<DatagramChunk> taken;
    ASSERT_TRUE(queue.pop(taken, 100));
    EXPECT_FALSE(queue.fits(0, tavrel::chunkBytesOf(2)));
    queue.recycle(taken);
    EXPECT_EQ(queue.heldBytes(), 0u);
    EXPECT_TRUE(queue.fits(0, three + tavrel::chunkBytesOf(1)));
    EXPECT_EQ(queue.peakBytes(), three);

    // A recycled chunk comes back empty, its storage kept.
    const DatagramChunk again = queue.spare();
    EXPECT_TRUE(again.records.empty());
    EXPECT_TRUE(again.datagramEnds.empty());
    EXPECT_GE(again.records.capacity(), 3 * kRecord);
}

TEST(DatagramQueue, DatagramsWithoutRecordsCountTowardsTheBound) {
    // A flood of them, with the consumer stalled, must not grow the queue
    // without end.
    DatagramQueue queue(2 * tavrel::chunkBytesOf(0));
    DatagramChunk empty = queue.spare();
    empty.datagramEnds.push_back(0);
    EXPECT_EQ(empty.bytes(), tavrel::chunkBytesOf(0));
    queue.push(std::move(empty));
    EXPECT_TRUE(queue.fits(0, tavrel::chunkBytesOf(0)));
    EXPECT_FALSE(queue.fits(tavrel::chunkBytesOf(0), tavrel::chunkBytesOf(0)));
}

TEST(DatagramQueue, APopTakesWholeChunksUpToTheBatchSizeButAlwaysOne) {
    DatagramQueue queue(1 << 20);
    queue.push(Chunk(queue, {1, 2, 3}));
    queue.push(Chunk(queue, {4}));
    queue.push(Chunk(queue, {5, 6}));
    std::vector<DatagramChunk> taken;
    ASSERT_TRUE(queue.pop(taken, 2));
    EXPECT_EQ(Stamps(taken), (std::vector<std::uint64_t>{1, 2, 3}));
    queue.recycle(taken);
    ASSERT_TRUE(queue.pop(taken, 3));
    EXPECT_EQ(Stamps(taken), (std::vector<std::uint64_t>{4, 5, 6}));
    queue.recycle(taken);
}

TEST(DatagramQueue, StopWakesAWaitingReader) {
    DatagramQueue queue(1 << 20);
    std::vector<std::uint64_t> first;
    bool result = true;
    std::thread reader([&] {
        std::vector<DatagramChunk> taken;
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

TEST(DatagramQueue, TheTakenChunksDecodeInOrderAndCountOffOnceRecycled) {
    DatagramQueue queue(1 << 20);
    queue.push(Chunk(queue, {1, 2}));
    queue.push(Chunk(queue, {3, 4000000001u}));
    std::vector<DatagramChunk> taken;
    ASSERT_TRUE(queue.pop(taken, 100));
    const std::vector<tavrel::tavrel_rbe_obs_t> joined = tavrel::observationsOf(taken);
    ASSERT_EQ(joined.size(), 4u);
    EXPECT_EQ(joined[0].timestamp, 1u);
    EXPECT_EQ(joined[2].timestamp, 3u);
    EXPECT_EQ(joined[3].timestamp, 4000000001u);
    EXPECT_GT(queue.heldBytes(), 0u);
    queue.recycle(taken);
    EXPECT_TRUE(taken.empty());
    EXPECT_EQ(queue.heldBytes(), 0u);
}

TEST(DatagramQueue, ARecycledChunkKeepsItsStorageForTheProducer) {
    DatagramQueue queue(1 << 20);
    DatagramChunk chunk = Chunk(queue, {1, 2, 3, 4});
    chunk.records.shrink_to_fit();
    const unsigned char* storage = chunk.records.data();
    queue.push(std::move(chunk));
    std::vector<DatagramChunk> taken;
    ASSERT_TRUE(queue.pop(taken, 100));
    const std::vector<tavrel::tavrel_rbe_obs_t> decoded = tavrel::observationsOf(taken);
    ASSERT_EQ(decoded.size(), 4u);
    EXPECT_EQ(decoded[3].timestamp, 4u);
    queue.recycle(taken);
    EXPECT_EQ(queue.heldBytes(), 0u);

    // The pooled chunk comes back with its storage, for the socket thread not to allocate.
    const DatagramChunk again = queue.spare();
    EXPECT_TRUE(again.records.empty());
    EXPECT_TRUE(again.datagramEnds.empty());
    EXPECT_EQ(again.records.data(), storage);
}

TEST(DatagramQueue, TheDecodedBatchHasNoMoreStorageThanItsObservationsNeed) {
    DatagramQueue queue(1 << 20);
    DatagramChunk chunk = Chunk(queue, {1});
    chunk.records.reserve(64 * kRecord);
    queue.push(std::move(chunk));
    std::vector<DatagramChunk> taken;
    ASSERT_TRUE(queue.pop(taken, 100));
    const std::vector<tavrel::tavrel_rbe_obs_t> decoded = tavrel::observationsOf(taken);
    ASSERT_EQ(decoded.size(), 1u);
    EXPECT_EQ(decoded.capacity(), 1u);
    queue.recycle(taken);
}
