#include "ChunkedCloud.h"

#include <vtkActor.h>
#include <vtkFloatArray.h>
#include <vtkPolyData.h>
#include <vtkUnsignedCharArray.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace viewer {

namespace {

// The rank threshold is rounded up to this many significant bits: every large chunk draws its
// prefix up to it, so the rounding is paid once per chunk, and a step fixed in slots would let a
// buffer of many chunks draw several times the budget (at ten million points, a step of 256
// slots is a floor of 39,000 points). Five bits keep the excess under a sixteenth.
constexpr int kThresholdBits = 5;

} // namespace

ChunkedCloud::ChunkedCloud(vtkRenderer* renderer, vtkProperty* property, int largeBits,
                           int smallBits)
    : m_renderer(renderer), m_property(property), m_largeBits(largeBits), m_smallBits(smallBits),
      m_largeSize(std::size_t{1} << largeBits) {}

ChunkedCloud::~ChunkedCloud() {
    for (const auto& chunk : m_chunks) {
        m_renderer->RemoveActor(chunk->actor);
    }
    for (const auto& chunk : m_retired) {
        m_renderer->RemoveActor(chunk->actor);
    }
    dropGroups();
}

std::vector<vtkActor*> ChunkedCloud::actors() const {
    std::vector<vtkActor*> result;
    for (const auto& chunk : m_chunks) {
        result.push_back(chunk->actor);
    }
    for (const auto& [key, group] : m_groups) {
        result.push_back(group->actor);
    }
    return result;
}

CloudBytes ChunkedCloud::bytes() const {
    CloudBytes bytes;
    for (const auto& chunk : m_chunks) {
        chunk->addBytes(bytes);
    }
    for (const auto& [key, group] : m_groups) {
        bytes.drawCopies += group->bytes();
    }
    return bytes;
}

std::size_t ChunkedCloud::firstShown(const CloudChunk& chunk) const {
    const std::uint64_t hidden = m_shownFrom > chunk.start ? m_shownFrom - chunk.start : 0;
    return std::max(chunk.evicted,
                    static_cast<std::size_t>(std::min<std::uint64_t>(hidden, chunk.size())));
}

std::unique_ptr<CloudChunk> ChunkedCloud::newChunk(std::uint64_t start, int bits, bool allocate) {
    auto chunk = std::make_unique<CloudChunk>(start, bits, allocate, m_property);
    m_renderer->AddActor(chunk->actor);
    return chunk;
}

void ChunkedCloud::reset() {
    // Taking down a whole buffer's actors and freeing its copies at once would stall the frame:
    // the actors go out of sight now and out of the renderer over the next applies, the copies
    // to whoever frees them. Views that borrowed the copies are emptied first.
    for (auto& chunk : m_chunks) {
        chunk->actor->VisibilityOff();
        chunk->xyzView->SetArray(nullptr, 0, 1);
        chunk->rgbView->SetArray(nullptr, 0, 1);
        chunk->polyData->Modified();
        m_dropped.push_back({std::move(chunk->xyz), std::move(chunk->intensity),
                             std::move(chunk->extra), std::move(chunk->rgb),
                             std::move(chunk->drawXyz), std::move(chunk->drawRgb)});
        m_retired.push_back(std::move(chunk));
    }
    m_chunks.clear();
    dropGroups();
    m_front = m_back = m_captured = m_shownFrom = 0;
    m_changed = true;
}

void ChunkedCloud::retireSome() {
    for (std::size_t n = 0; n < kReshowSlice && !m_retired.empty(); ++n) {
        m_renderer->RemoveActor(m_retired.front()->actor);
        m_retired.pop_front();
    }
}

bool ChunkedCloud::adopt(PreparedCloud& prepared) {
    if (!prepared.finished() || prepared.largeBits() != m_largeBits ||
        prepared.smallBits() != m_smallBits) {
        return false;
    }
    reset();
    for (PreparedCloud::Chunk& piece : prepared.chunks()) {
        auto chunk = newChunk(piece.start, piece.bits, false);
        chunk->filled = piece.filled;
        chunk->sealed = piece.sealed;
        chunk->xyz.swap(piece.xyz);
        chunk->intensity.swap(piece.intensity);
        chunk->extra.swap(piece.extra);
        chunk->whole = {true, 0, piece.filled, piece.sealed, piece.bounds};
        // Drawn a few chunks per apply, as hidden ones shown again: the first frame of an actor
        // costs its buffers' set-up, which for a whole file's chunks would stall one frame.
        chunk->hidden = true;
        m_chunks.push_back(std::move(chunk));
    }
    prepared.chunks().clear();
    m_back = m_captured = prepared.size();
    m_seen = prepared.log;
    m_everCaptured = true;
    return true;
}

void ChunkedCloud::dropFront() {
    while (!m_chunks.empty()) {
        CloudChunk& chunk = *m_chunks.front();
        if (m_front <= chunk.start) {
            return;
        }
        const std::size_t gone =
            static_cast<std::size_t>(std::min<std::uint64_t>(m_front - chunk.start, chunk.size()));
        if (gone == chunk.evicted) {
            return;
        }
        chunk.evicted = gone;
        chunk.dirty = true;
        m_changed = true;
        if (gone < chunk.size()) {
            return;
        }
        m_renderer->RemoveActor(chunk.actor);
        m_chunks.pop_front();
    }
}

// Merges the small chunks of the large block that the newest one completes into one large
// chunk. A point's rank does not change, so neither does what is drawn.
void ChunkedCloud::mergeBlock() {
    const CloudChunk& last = *m_chunks.back();
    const std::uint64_t blockStart = last.start >> m_largeBits << m_largeBits;
    auto first = m_chunks.end();
    while (first != m_chunks.begin() && (*std::prev(first))->start >= blockStart &&
           (*std::prev(first))->bits == m_smallBits) {
        --first;
    }
    auto large = newChunk(blockStart, m_largeBits);
    large->filled = m_largeSize;
    const int shift = m_largeBits - m_smallBits;
    const CloudChunk& oldest = **first;
    large->countedFrom = static_cast<std::size_t>(oldest.start - blockStart) + oldest.countedFrom;
    large->evicted = static_cast<std::size_t>(oldest.start - blockStart) + oldest.evicted;
    for (auto it = first; it != m_chunks.end(); ++it) {
        const CloudChunk& small = **it;
        const auto block = static_cast<std::uint32_t>((small.start - blockStart) >> m_smallBits);
        for (std::size_t p = 0; p < small.size(); ++p) {
            // Arrival block * small size + bitReverse(p) of the block, at its rank's slot.
            const std::uint32_t slot =
                static_cast<std::uint32_t>(p) << shift | bitReverse(block, shift);
            std::memcpy(&large->xyz[slot * 3], &small.xyz[p * 3], 3 * sizeof(float));
            large->intensity[slot] = small.intensity[p];
            large->extra.set(slot, small.extra.at(p));
        }
        m_renderer->RemoveActor(small.actor);
    }
    large->sealed = true;
    m_chunks.erase(first, m_chunks.end());
    m_chunks.push_back(std::move(large));
}

bool ChunkedCloud::capture(const std::deque<DataPoint>& buffer, const BufferLog& bufferLog,
                           std::size_t limit, std::size_t skip) {
    skip = std::min(skip, buffer.size());
    const BufferLog& log = bufferLog;
    const std::uint64_t n = buffer.size();
    bool same =
        m_everCaptured && log.generation == m_seen.generation && log.evicted >= m_seen.evicted;
    std::uint64_t back = m_back + (log.appended - m_seen.appended);
    std::uint64_t front = m_front + (log.evicted - m_seen.evicted);
    if (same && back - front != n) {
        same = false;
    }
    if (same && front > m_front) {
        // Most of what is held leaving at once (a smaller cap): copying again what stays costs
        // less than following everything that goes.
        const std::uint64_t leaving = std::min(front, m_captured) - m_front;
        const std::uint64_t staying = m_captured > front ? m_captured - front : 0;
        if (leaving > kRestartLeavingChunks * m_largeSize && leaving > staying) {
            same = false;
        }
    }
    m_seen = log;
    m_everCaptured = true;
    if (!same) {
        reset();
        back = n;
        front = 0;
    }
    if (back != m_back || front != m_front || front + skip != m_shownFrom) {
        m_changed = true;
    }
    m_back = back;
    m_front = front;
    m_shownFrom = front + skip;
    dropFront();
    if (m_captured < m_front) {
        // Points that left before they were ever copied.
        m_captured = m_front;
    }

    const std::uint64_t until = std::min<std::uint64_t>(m_back, m_captured + limit);
    if (until == m_captured) {
        return !same;
    }
    m_changed = true;
    const std::size_t smallSize = std::size_t{1} << m_smallBits;
    auto it = buffer.begin() + static_cast<std::ptrdiff_t>(m_captured - m_front);
    for (std::uint64_t s = m_captured; s < until; ++s, ++it) {
        const std::uint64_t start = s >> m_smallBits << m_smallBits;
        if (m_chunks.empty() || m_chunks.back()->start + m_chunks.back()->size() <= s) {
            auto chunk = newChunk(start, m_smallBits);
            chunk->filled = chunk->countedFrom = static_cast<std::size_t>(s - start);
            chunk->evicted = static_cast<std::size_t>(
                std::min<std::uint64_t>(m_front > start ? m_front - start : 0, chunk->filled));
            m_chunks.push_back(std::move(chunk));
        }
        CloudChunk& chunk = *m_chunks.back();
        const std::size_t slot = static_cast<std::size_t>(s - start);
        float* xyz = &chunk.xyz[slot * 3];
        xyz[0] = static_cast<float>(it->x);
        xyz[1] = static_cast<float>(it->y);
        xyz[2] = static_cast<float>(it->z);
        const auto intensity = static_cast<float>(it->intensity);
        chunk.intensity[slot] = intensity;
        chunk.extra.set(slot, {it->reflectance, it->pulseShapeDeviation, it->timestamp});
        chunk.filled = slot + 1;
        chunk.dirty = true;
        if (chunk.filled == smallSize) {
            chunk.seal();
            if (((start + smallSize) & (m_largeSize - 1)) == 0) {
                mergeBlock();
            }
        }
    }
    m_captured = until;
    return !same;
}

void ChunkedCloud::automaticRange(std::uint32_t& minimum, std::uint32_t& maximum) const {
    bool any = false;
    std::uint32_t lowest = 0;
    std::uint32_t highest = 0;
    for (const auto& chunk : m_chunks) {
        const std::size_t kept = std::max(chunk->evicted, chunk->countedFrom);
        const std::size_t first = std::max(firstShown(*chunk), kept);
        if (first >= chunk->filled) {
            continue;
        }
        // Chunks wholly shown keep their range until points arrive or leave; only the one
        // where the points shown begin has a range of its part.
        const IntensitySpan& span = first == kept ? chunk->rangeOf(chunk->whole, first)
                                                  : chunk->rangeOf(chunk->part, first);
        if (!span.bounds.any) {
            continue;
        }
        lowest = any ? std::min(lowest, span.bounds.lowest) : span.bounds.lowest;
        highest = any ? std::max(highest, span.bounds.highest) : span.bounds.highest;
        any = true;
    }
    // The smallest point is the minimum whether it lies below 65535 or above (a file's).
    minimum = any ? lowest : 65535;
    maximum = any ? highest : 0;
}

std::size_t ChunkedCloud::thresholdFor(std::size_t budget) const {
    const std::size_t held = heldCount();
    if (m_chunks.empty() || budget >= held) {
        return m_largeSize;
    }
    // The budget's share of the whole buffer. The newest chunk is drawn whole on top: how full
    // it is must not move the others' share, or the picture would thin out as it fills.
    const double ideal =
        static_cast<double>(budget) / static_cast<double>(held) * static_cast<double>(m_largeSize);
    // The threshold in place is kept while it is near enough, so that a buffer still growing
    // thins out in steps rather than at every refresh.
    const auto applied = static_cast<double>(m_appliedThreshold);
    if (m_appliedThreshold < m_largeSize && applied >= ideal * 0.9 && applied <= ideal * 1.1) {
        return m_appliedThreshold;
    }
    const auto threshold = std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(ideal)));
    std::size_t step = 1;
    while (threshold >= step << kThresholdBits) {
        step <<= 1;
    }
    return std::min(m_largeSize, (threshold + step - 1) / step * step);
}

std::size_t ChunkedCloud::prefixOf(const CloudChunk& chunk, std::size_t threshold) const {
    if (!chunk.sealed) {
        return chunk.filled;
    }
    if (chunk.bits == m_largeBits) {
        return threshold;
    }
    // In a small chunk, slot p has rank p * 2^shift + bitReverse(its place in the block).
    const int shift = m_largeBits - m_smallBits;
    const auto block = static_cast<std::uint32_t>((chunk.start >> m_smallBits) &
                                                  ((std::uint64_t{1} << shift) - 1));
    const std::size_t offset = bitReverse(block, shift);
    if (threshold <= offset) {
        return 0;
    }
    const std::size_t ratio = std::size_t{1} << shift;
    return std::min(chunk.size(), (threshold - offset + ratio - 1) / ratio);
}

bool ChunkedCloud::needsApply(const ColourTable& table, std::size_t budget) const {
    return m_changed || !m_tableSeen || table.settings() != m_tableSettings ||
           thresholdFor(budget) != m_appliedThreshold;
}

bool ChunkedCloud::needsShow(const CloudChunk& chunk, std::size_t threshold) const {
    return chunk.colourVersion != m_tableVersion || chunk.dirty ||
           chunk.shownPrefix != prefixOf(chunk, threshold) || chunk.shownFirst != firstShown(chunk);
}

void ChunkedCloud::show(CloudChunk& chunk, std::size_t threshold, const ColourTable& table) {
    const bool stale = chunk.colourVersion != m_tableVersion;
    const std::size_t prefix = prefixOf(chunk, threshold);
    const std::size_t first = firstShown(chunk);
    if (first >= chunk.filled) {
        if (!chunk.hidden) {
            chunk.actor->VisibilityOff();
            chunk.hidden = true;
        }
        return;
    }
    if (!needsShow(chunk, threshold)) {
        if (chunk.hidden) {
            chunk.actor->SetVisibility(chunk.drawn > 0);
            chunk.hidden = false;
        }
        return;
    }
    chunk.colour(prefix, table, m_colourer.get(), m_tableVersion, stale);
    chunk.draw(first, prefix);
}

FieldRange ChunkedCloud::drawnRange(ColourField field, std::size_t most) const {
    FieldRangeFinder finder(field);
    const std::size_t share = m_drawn > most && most > 0 ? (m_drawn + most - 1) / most : 1;
    const auto add = [&finder](const CloudChunk& chunk, std::size_t s) {
        finder.add(chunk.pointAt(s));
    };
    for (const auto& chunk : m_chunks) {
        const std::size_t first = firstShown(*chunk);
        if (!chunk->sealed) {
            for (std::size_t s = std::min(first, chunk->filled); s < chunk->filled; ++s) {
                add(*chunk, s);
            }
            continue;
        }
        const std::size_t prefix = std::max<std::size_t>(1, chunk->shownPrefix / share);
        for (std::size_t s = 0; s < std::min(prefix, chunk->shownPrefix); ++s) {
            if (bitReverse(static_cast<std::uint32_t>(s), chunk->bits) >= first) {
                add(*chunk, s);
            }
        }
    }
    return finder.range();
}

void ChunkedCloud::setColourer(std::shared_ptr<const PointColourer> colourer) {
    m_colourer = std::move(colourer);
    ++m_tableVersion;
    m_changed = true;
}

void ChunkedCloud::apply(const ColourTable& table, std::size_t budget) {
    if (!m_tableSeen || table.settings() != m_tableSettings) {
        ++m_tableVersion;
        m_tableSettings = table.settings();
        m_tableSeen = true;
    }
    const std::size_t threshold = thresholdFor(budget);
    m_drawn = 0;
    // A recolour of millions of points is spread over several applies, newest chunks first; the
    // others keep their former colours until then. So is the showing again of hidden chunks
    // (the display mode back to every point): the first frame that draws an actor again
    // uploads its points afresh, and they stay hidden until their turn. And so is a new share
    // or new colours of chunks whose points did not change: each such actor uploads its views
    // again, at a cost per actor that with ten million points (150 actors) would stall the frame
    // whatever the budget; they keep their former share or colours until their turn.
    std::size_t recoloured = 0;
    std::size_t reshown = 0;
    std::size_t redrawn = 0;
    bool behind = false;
    for (auto it = m_chunks.rbegin(); it != m_chunks.rend(); ++it) {
        CloudChunk& chunk = **it;
        const bool shown = firstShown(chunk) < chunk.filled;
        if (shown && chunk.hidden) {
            if (reshown >= kReshowSlice) {
                behind = true;
                continue;
            }
            ++reshown;
        } else if (shown && !chunk.dirty && needsShow(chunk, threshold)) {
            if (redrawn >= kRedrawSlice) {
                behind = true;
                m_drawn += chunk.drawnNow();
                continue;
            }
            ++redrawn;
        }
        if (chunk.colourVersion != m_tableVersion && shown) {
            if (recoloured >= kRecolourSlice) {
                behind = true;
                m_drawn += chunk.drawnNow();
                continue;
            }
            recoloured += prefixOf(chunk, threshold);
        }
        show(chunk, threshold, table);
        m_drawn += chunk.drawnNow();
    }
    regroup();
    retireSome();
    m_appliedThreshold = threshold;
    m_changed = behind || !m_retired.empty();
}

// A chunk is drawn by its group while its views stay as they are for long (full, large, losing no
// points, drawn since it last changed) and hold a small share of it: there the actor's own cost
// is most of what it costs, and the group's copy stays small.
bool ChunkedCloud::grouped(const CloudChunk& chunk) const {
    return chunk.bits == m_largeBits && chunk.sealed && chunk.evicted == 0 && !chunk.dirty &&
           !chunk.hidden && chunk.drawn > 0 && chunk.drawn <= chunk.size() >> kGroupedShareBits;
}

void ChunkedCloud::regroup() {
    const int shift = m_largeBits + kGroupBits;
    std::vector<std::uint64_t> kept;
    std::vector<const CloudChunk*> members;
    const auto update = [&] {
        if (members.empty()) {
            return;
        }
        const std::uint64_t key = members.front()->start >> shift;
        std::unique_ptr<ChunkGroup>& group = m_groups[key];
        if (!group) {
            group = std::make_unique<ChunkGroup>(m_property);
            m_renderer->AddActor(group->actor);
        }
        group->update(members);
        kept.push_back(key);
        members.clear();
    };
    for (const auto& chunk : m_chunks) {
        const bool member = grouped(*chunk);
        chunk->actor->SetVisibility(!member && !chunk->hidden && chunk->drawn > 0);
        if (!member) {
            continue;
        }
        if (!members.empty() && (members.front()->start >> shift) != (chunk->start >> shift)) {
            update();
        }
        members.push_back(chunk.get());
    }
    update();
    // Groups left without members: keys are kept in ascending order, as the chunks are.
    for (auto it = m_groups.begin(); it != m_groups.end();) {
        if (std::binary_search(kept.begin(), kept.end(), it->first)) {
            ++it;
            continue;
        }
        m_renderer->RemoveActor(it->second->actor);
        it = m_groups.erase(it);
    }
}

void ChunkedCloud::dropGroups() {
    for (const auto& [key, group] : m_groups) {
        m_renderer->RemoveActor(group->actor);
    }
    m_groups.clear();
}

} // namespace viewer
