#pragma once

#include "ChunkGroup.h"
#include "CloudChunk.h"
#include "ColourMap.h"
#include "DataPoint.h"
#include "IntensityScale.h"
#include "PointBuffer.h"
#include "PreparedCloud.h"

#include <vtkProperty.h>
#include <vtkRenderer.h>
#include <vtkSmartPointer.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

class vtkActor;

namespace viewer {

// The copies of a chunk's points that the display has let go: freeing a whole buffer's worth takes
// tens of milliseconds, which the GUI thread hands to another.
struct DroppedCopies {
    std::vector<float> xyz;
    std::vector<float> intensity;
    ExtraFields extra;
    std::vector<std::uint8_t> rgb;
    std::vector<float> drawXyz;
    std::vector<std::uint8_t> drawRgb;
};

// The displayed point cloud, drawn within a budget of points per frame.
//
// The points are kept in chunks of consecutive arrivals, one actor each (vertex-free point
// rendering, float coordinates, one shared property), so that streaming uploads only the chunks
// that changed. The newest points fill a small chunk in arrival order, always drawn whole: the
// newest points always show. A full chunk keeps its points in bit-reversed arrival order, so
// that any prefix of it is an evenly spread subsample and a longer prefix contains a shorter one.
// Every point has a rank, the bit-reversed position of its arrival in its large block; a frame
// draws the points whose rank is below one threshold (and the newest chunk), which is the same
// prefix of every large chunk and a matching prefix of every small one. So the subsample is
// stable: it neither shimmers from frame to frame nor jumps when small chunks are merged into a
// large one (which keeps the number of actors low) or when the budget changes, and every point
// is drawn when the budget allows.
//
// The large chunks that neither fill nor lose points any more, and draw a small share of their
// points, are drawn by one actor per group of 2^kGroupBits consecutive ones, from a copy of what
// their own actors would draw: every actor costs a frame the same whatever it draws, and the
// groups keep a buffer of ten million points to about 20 actors. A group copies its members' drawn
// points again when one of them is drawn anew or the members change (one joins as its block
// completes, one leaves as the buffer's front reaches it), so that a refresh still uploads what
// changed and little more.
//
// The points shown may start later than the buffer does (the display modes show the newest
// frames): those before are kept, only not drawn, so that a change of mode neither copies nor
// frees anything, and the chunks wholly before are simply hidden.
//
// Colours are those of the intensity table for every drawn point, or of a colourer by another
// field when one is set; points left out are coloured when they are drawn, so a recolour costs
// the drawn points only. Figures and files do not use this: they read the buffer.
//
// A refresh on the GUI thread:
//     {   lock the buffer's mutex
//         cloud.capture(points, pointsLog, limit);   // copies at most `limit` new points
//     }
//     if (autoIntensity) cloud.automaticRange(lo, hi)   // no lock needed
//     const ColourTable& table = scale.update(...);
//     cloud.apply(table, budget);                       // no lock: works on its own copy
//     render
//
// Not thread-safe: every member runs on the GUI thread; capture() needs the caller to hold the
// lock that guards the buffer and its BufferLog.
class ChunkedCloud {
public:
    // Large chunks of 65536 points, small (newest) ones of 8192.
    static constexpr int kDefaultLargeBits = 16;
    static constexpr int kDefaultSmallBits = 13;
    // Beyond this many large chunks' worth of points leaving the buffer at once, and more than
    // stay, the display starts again from the points that stay.
    static constexpr std::uint64_t kRestartLeavingChunks = 16;
    // At most about this many points are recoloured by one apply(), so that a change of colours
    // over ten million points does not stall the window; needsApply() stays true until all are.
    static constexpr std::size_t kRecolourSlice = std::size_t{1} << 18;
    // At most this many hidden chunks are shown again by one apply(), and as many actors of a
    // display started again are taken down.
    static constexpr std::size_t kReshowSlice = 16;
    // At most this many chunks whose points did not change take a new share or new colours in
    // one apply(); needsApply() stays true until all have.
    static constexpr std::size_t kRedrawSlice = 32;
    // Consecutive large chunks drawn by one actor (a power of two), when they draw at most
    // 2^-kGroupedShareBits of their points.
    static constexpr int kGroupBits = 4;
    static constexpr int kGroupedShareBits = 3;

    // Chunk actors are added to renderer and share property (point size and the like).
    ChunkedCloud(vtkRenderer* renderer, vtkProperty* property, int largeBits = kDefaultLargeBits,
                 int smallBits = kDefaultSmallBits);
    ~ChunkedCloud();
    ChunkedCloud(const ChunkedCloud&) = delete;
    ChunkedCloud& operator=(const ChunkedCloud&) = delete;

    // Follows the buffer's changes since the last capture: dropped points leave, and up to
    // `limit` of the points new to the display are copied (the rest at the next captures). After
    // a clear or replace of the buffer, everything starts again: returns true then, when the
    // copies of the former points have been freed.
    // The first `skip` points of the buffer are kept but not shown (the display modes show the
    // newest frames only): a change of skip costs no copy.
    bool capture(const std::deque<DataPoint>& buffer, const BufferLog& log, std::size_t limit,
                 std::size_t skip = 0);

    // Takes the copy of a whole buffer built elsewhere, as if capture() had copied it when the
    // buffer's log was prepared.log: the next capture follows the buffer from there, or starts
    // again when it was cleared or replaced since. The prepared chunks are moved out. False
    // (nothing changes) when it was laid out for other chunk sizes or is not finished.
    bool adopt(PreparedCloud& prepared);

    // Points of the buffer not yet copied by capture().
    std::size_t pendingCount() const { return static_cast<std::size_t>(m_back - m_captured); }

    // Points copied, still in the buffer and shown.
    std::size_t heldCount() const {
        const std::uint64_t first = std::max(m_front, m_shownFrom);
        return m_captured > first ? static_cast<std::size_t>(m_captured - first) : 0;
    }

    // The automatic intensity range of the held points shown: minimum 65535 and maximum 0 to
    // start with, then widened by every point (truncated intensities, NaN ignored); when every
    // point lies above 65535 (a file's), the minimum is the smallest of them. Each chunk keeps
    // the range of its points: only chunks whose shown points changed are read again.
    void automaticRange(std::uint32_t& minimum, std::uint32_t& maximum) const;

    // Whether apply() would change what is drawn.
    bool needsApply(const ColourTable& table, std::size_t budget) const;

    // Brings the actors up to the held points, drawing about `budget` of them: the budget's
    // share of the points by rank (held within a tenth, rounded up by at most a sixteenth), the
    // newest chunk whole on top; everything when it fits. Each drawn point is coloured from table
    // (or the colourer), up to kRecolourSlice points of chunks whose colours are out of date.
    void apply(const ColourTable& table, std::size_t budget);

    // Colours the points by colourer instead of the intensity table (null: the table again). The
    // next apply() recolours the drawn points.
    void setColourer(std::shared_ptr<const PointColourer> colourer);

    // The automatic range of field over about `most` of the drawn points (all of them when
    // fewer): an evenly spread subsample of the held ones, as each chunk's prefix is.
    FieldRange drawnRange(ColourField field, std::size_t most = kRangeSample) const;
    static constexpr std::size_t kRangeSample = std::size_t{1} << 17;

    // Points the actors draw now.
    std::size_t drawnCount() const { return m_drawn; }

    std::size_t chunkCount() const { return m_chunks.size(); }

    // The copies of the points let go when the display started again (a clear, a replace or an
    // adopt), to be freed by the caller, off the GUI thread; empty once taken.
    std::vector<DroppedCopies> takeDropped() { return std::move(m_dropped); }

    // What the chunks' copies take now.
    CloudBytes bytes() const;

    // The chunks' actors, oldest first, then the groups' actors, oldest first. A chunk a group
    // draws has its own actor hidden.
    std::vector<vtkActor*> actors() const;

private:
    // allocate: with room for its points (an adopted chunk brings its own).
    std::unique_ptr<CloudChunk> newChunk(std::uint64_t start, int bits, bool allocate = true);
    void reset();
    void retireSome();
    void dropFront();
    void mergeBlock();
    std::size_t firstShown(const CloudChunk& chunk) const;
    std::size_t thresholdFor(std::size_t budget) const;
    std::size_t prefixOf(const CloudChunk& chunk, std::size_t threshold) const;
    bool needsShow(const CloudChunk& chunk, std::size_t threshold) const;
    void show(CloudChunk& chunk, std::size_t threshold, const ColourTable& table);
    bool grouped(const CloudChunk& chunk) const;
    void regroup();
    void dropGroups();

    vtkSmartPointer<vtkRenderer> m_renderer;
    vtkSmartPointer<vtkProperty> m_property;
    int m_largeBits;
    int m_smallBits;
    std::size_t m_largeSize;

    // Arrival numbers since the last reset: the buffer holds [m_front, m_back), of which the
    // display holds [m_front, m_captured) and shows those from m_shownFrom on.
    std::uint64_t m_front = 0;
    std::uint64_t m_shownFrom = 0;
    std::uint64_t m_back = 0;
    std::uint64_t m_captured = 0;
    BufferLog m_seen;
    bool m_everCaptured = false;

    std::deque<std::unique_ptr<CloudChunk>> m_chunks;
    // Chunks of a display started again: hidden at once, their copies in m_dropped, their actors
    // taken down a slice per apply(), as new ones are shown.
    std::deque<std::unique_ptr<CloudChunk>> m_retired;
    std::vector<DroppedCopies> m_dropped;
    // The groups' actors, by the arrival number of their first slot over the group's size.
    std::map<std::uint64_t, std::unique_ptr<ChunkGroup>> m_groups;

    // What the actors show: set by apply().
    bool m_changed = true;
    std::size_t m_appliedThreshold = 0;
    std::uint64_t m_tableVersion = 0;
    ScaleSettings m_tableSettings;
    bool m_tableSeen = false;
    std::shared_ptr<const PointColourer> m_colourer;
    std::size_t m_drawn = 0;
};

} // namespace viewer
