#pragma once

#include "ColourMap.h"
#include "DataPoint.h"
#include "ExtraFields.h"
#include "PreparedCloud.h"

#include <vtkSmartPointer.h>

#include <cstddef>
#include <cstdint>
#include <vector>

class vtkActor;
class vtkFloatArray;
class vtkPolyData;
class vtkProperty;
class vtkUnsignedCharArray;

namespace viewer {

// The bit-reversed value of the low `bits` bits of v. Inline: the ranges and the draw of a chunk
// whose front has left call it for every point.
inline std::uint32_t bitReverse(std::uint32_t v, int bits) {
    if (bits <= 0) {
        return 0;
    }
    // All 32 bits swapped in halves, then the low `bits` of them kept.
    v = ((v >> 1) & 0x55555555u) | ((v & 0x55555555u) << 1);
    v = ((v >> 2) & 0x33333333u) | ((v & 0x33333333u) << 2);
    v = ((v >> 4) & 0x0F0F0F0Fu) | ((v & 0x0F0F0F0Fu) << 4);
    v = ((v >> 8) & 0x00FF00FFu) | ((v & 0x00FF00FFu) << 8);
    v = (v >> 16) | (v << 16);
    return v >> (32 - bits);
}

// The intensity range of a chunk's arrivals from `first` to those copied, as last worked out.
struct IntensitySpan {
    bool known = false;
    std::size_t first = 0;
    std::size_t filled = 0;
    bool sealed = false;
    IntensityBounds bounds;
};

// The memory a cloud's copies take, by what they hold (capacities, in bytes).
struct CloudBytes {
    std::size_t positions = 0;
    std::size_t intensities = 0;
    std::size_t extras = 0; // what colouring by the other fields reads
    std::size_t colours = 0;
    std::size_t drawCopies = 0;
    std::size_t total() const { return positions + intensities + extras + colours + drawCopies; }
};

// One chunk of the displayed cloud: the copies of 2^bits consecutive arrivals (float x, y, z,
// intensity, what colouring by the other fields needs, and colours), and the actor that draws
// some of them. Until it is full (sealed), slot i holds arrival i; once sealed, slot p holds
// arrival bitReverse(p, bits), so that any prefix of the slots is an evenly spread subsample.
// Which arrivals a chunk holds and which it draws is decided by the cloud that keeps it.
struct CloudChunk {
    // With room for its points when allocate (an adopted chunk brings its own); the actor starts
    // hidden and shares property.
    CloudChunk(std::uint64_t start, int bits, bool allocate, vtkProperty* property);
    ~CloudChunk();
    CloudChunk(const CloudChunk&) = delete;
    CloudChunk& operator=(const CloudChunk&) = delete;

    std::uint64_t start = 0;     // arrival number of the chunk's first point
    int bits = 0;                // the chunk holds 2^bits arrivals
    std::size_t filled = 0;      // arrivals start .. start + filled - 1 have passed
    std::size_t countedFrom = 0; // arrivals before this one were never copied (nor counted)
    std::size_t evicted = 0;     // the first `evicted` arrivals have left the buffer
    bool sealed = false;         // full; slot p holds arrival bitReverse(p, bits)

    std::vector<float> xyz; // 3 per slot
    std::vector<float> intensity;
    ExtraFields extra;
    std::vector<std::uint8_t> rgb; // 3 per slot, for the slots coloured so far
    std::size_t coloured = 0;      // slots 0 .. coloured - 1 hold colours of colourVersion
    std::uint64_t colourVersion = 0;

    // The drawn points when they are not one run of slots (a sealed chunk that lost some).
    std::vector<float> drawXyz;
    std::vector<std::uint8_t> drawRgb;

    bool dirty = true; // points arrived or left since the last draw()
    std::size_t shownPrefix = 0;
    std::size_t shownFirst = 0;    // the arrivals before it were not drawn by the last draw()
    std::size_t drawn = 0;         // points in the views
    std::uint64_t drawVersion = 0; // counts the draws: a copy of the views knows when it is old
    // Wholly before the points shown: the actor is hidden, its views kept as they were, so that
    // showing it again costs nothing while nothing else changed.
    bool hidden = false;

    // For the automatic range: that of the points still in the buffer, and that of the points
    // shown when the front of what is shown falls inside the chunk.
    IntensitySpan whole;
    IntensitySpan part;

    vtkSmartPointer<vtkFloatArray> xyzView;
    vtkSmartPointer<vtkUnsignedCharArray> rgbView;
    vtkSmartPointer<vtkPolyData> polyData;
    vtkSmartPointer<vtkActor> actor;

    std::size_t size() const { return std::size_t{1} << bits; }
    std::size_t drawnNow() const { return hidden ? 0 : drawn; }

    // The point in slot s as the colourers see it: without angles, so that they come from
    // x, y, z.
    DataPoint pointAt(std::size_t s) const;

    void addBytes(CloudBytes& bytes) const;

    // Puts the full chunk's slots into bit-reversed order.
    void seal();

    // The range of the arrivals from first to those copied, kept in span: worked out again only
    // when they changed, and only for the arrivals new since when nothing else did.
    const IntensitySpan& rangeOf(IntensitySpan& span, std::size_t first) const;

    // Colours slots [coloured, slots) from table, or by colourer when one is given; again:
    // every slot, as colours of version. May move the colours: draw() follows.
    void colour(std::size_t slots, const ColourTable& table, const PointColourer* colourer,
                std::uint64_t version, bool again);

    // Points the views at the arrivals from first on among the first `prefix` slots (all the
    // arrivals from first on while not sealed), coloured before.
    void draw(std::size_t first, std::size_t prefix);
};

} // namespace viewer
