#include "BlockIndex.h"

#include <algorithm>

namespace viewer {

std::optional<BlockIndex> BlockIndex::build(const BlockIndex& previous, std::uint64_t begin,
                                            std::uint64_t end, const Copy& copy,
                                            const std::function<bool()>& stop,
                                            const std::function<void(std::size_t)>& copied) {
    BlockIndex built(previous.m_blockPoints);
    const std::uint64_t size = previous.m_blockPoints;
    // Blocks still to sort: where they go in built, and their positions.
    std::vector<std::pair<std::size_t, Positions>> copies;
    auto held = previous.m_blocks.begin();
    for (std::uint64_t start = begin / size * size; start < end; start += size) {
        const std::uint64_t wanted = std::min(start + size, end);
        while (held != previous.m_blocks.end() && held->begin < start) {
            ++held;
        }
        if (held != previous.m_blocks.end() && held->begin == start && held->end >= wanted) {
            built.m_blocks.push_back(*held);
            continue;
        }
        if (stop()) {
            return std::nullopt;
        }
        std::optional<Positions> positions = copy(start, wanted);
        if (!positions) {
            return std::nullopt;
        }
        copies.emplace_back(built.m_blocks.size(), std::move(*positions));
        built.m_blocks.push_back(Block{start, wanted, nullptr});
    }
    if (copied) {
        copied(copies.size());
    }
    for (auto& [at, positions] : copies) {
        if (stop()) {
            return std::nullopt;
        }
        built.m_blocks[at].index = std::make_shared<const PointIndex>(
            PointIndex::fromPositions(std::move(positions.xyz), positions.first));
    }
    return built;
}

std::optional<PointIndex::Hit> BlockIndex::pick(const PickCamera& camera, double x, double y,
                                                double tolerance, std::uint64_t from,
                                                std::uint64_t to) const {
    std::optional<PointIndex::Hit> best;
    for (const Block& block : m_blocks) {
        if (block.end <= from || block.begin >= to) {
            continue;
        }
        const std::optional<PointIndex::Hit> hit =
            block.index->pick(camera, x, y, tolerance, from, to);
        if (hit && (!best || PointIndex::better(*hit, *best))) {
            best = hit;
        }
    }
    return best;
}

std::size_t BlockIndex::size() const {
    std::size_t n = 0;
    for (const Block& block : m_blocks) {
        n += block.index->size();
    }
    return n;
}

} // namespace viewer
