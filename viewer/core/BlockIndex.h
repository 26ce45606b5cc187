#pragma once

// The pick index of a buffer that points stream through, in blocks of arrivals aligned with the
// buffer's arrival numbers. A block whose arrivals have all come never changes: it is indexed
// once, kept while any of its points may be shown and dropped whole after; only the newest
// block, still filling, is indexed again as points arrive. So a rebuild costs what arrived since
// the last, not what is shown. A pick asks every block and takes only the arrivals of the range
// shown, and so finds exactly the point one index over that range would.

#include "PickCamera.h"
#include "PointIndex.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace viewer {

class BlockIndex {
public:
    // Arrivals per block: a block's positions are copied under one hold of the buffer's lock.
    static constexpr std::uint64_t kBlockPoints = 65536;

    struct Block {
        std::uint64_t begin = 0; // arrival number, a multiple of the block size
        std::uint64_t end = 0;   // past the last arrival indexed
        std::shared_ptr<const PointIndex> index;
    };

    // The arrivals of [begin, end) still in the buffer, three floats each, and the arrival
    // number of the first; nothing when the buffer was cleared or replaced since the build began.
    struct Positions {
        std::vector<float> xyz;
        std::uint64_t first = 0;
    };
    using Copy = std::function<std::optional<Positions>(std::uint64_t begin, std::uint64_t end)>;

    BlockIndex() = default;
    explicit BlockIndex(std::uint64_t blockPoints) : m_blockPoints(blockPoints) {}

    // The index of arrivals begin to end (each block from its start, whatever of it is still in
    // the buffer), keeping the blocks of previous that already hold what they must and copying
    // the others through copy. Every copy is made before the first block is sorted, and
    // copied(blocks to sort) runs in between: the copies hold the buffer's lock, the sorts hold
    // nothing and may run at a lower priority. Nothing when a copy finds the buffer replaced or
    // stop() turns true between blocks.
    static std::optional<BlockIndex> build(const BlockIndex& previous, std::uint64_t begin,
                                           std::uint64_t end, const Copy& copy,
                                           const std::function<bool()>& stop,
                                           const std::function<void(std::size_t)>& copied = {});

    // As PointIndex::pick, over the arrivals from to before to.
    std::optional<PointIndex::Hit> pick(const PickCamera& camera, double x, double y,
                                        double tolerance, std::uint64_t from,
                                        std::uint64_t to) const;

    const std::vector<Block>& blocks() const { return m_blocks; }
    std::size_t size() const;

private:
    std::uint64_t m_blockPoints = kBlockPoints;
    std::vector<Block> m_blocks; // oldest first
};

} // namespace viewer
