#include "CloudChunk.h"

#include "PointActor.h"

#include <vtkActor.h>
#include <vtkFloatArray.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkUnsignedCharArray.h>

#include <algorithm>
#include <cstring>

namespace viewer {

CloudChunk::CloudChunk(std::uint64_t first, int chunkBits, bool allocate, vtkProperty* property)
    : start(first), bits(chunkBits), xyzView(vtkSmartPointer<vtkFloatArray>::New()),
      rgbView(vtkSmartPointer<vtkUnsignedCharArray>::New()),
      polyData(vtkSmartPointer<vtkPolyData>::New()), actor(vtkSmartPointer<vtkActor>::New()) {
    if (allocate) {
        xyz.resize(size() * 3);
        intensity.resize(size());
        extra.resize(size());
    }
    wirePointActor(actor, property, xyzView, rgbView, polyData);
}

CloudChunk::~CloudChunk() = default;

DataPoint CloudChunk::pointAt(std::size_t s) const {
    DataPoint p;
    p.x = xyz[s * 3];
    p.y = xyz[s * 3 + 1];
    p.z = xyz[s * 3 + 2];
    p.intensity = intensity[s];
    const PointExtra e = extra.at(s);
    p.reflectance = e.reflectance;
    p.pulseShapeDeviation = e.pulseShapeDeviation;
    p.timestamp = e.timestamp;
    return p;
}

void CloudChunk::addBytes(CloudBytes& bytes) const {
    bytes.positions += xyz.capacity() * sizeof(float);
    bytes.intensities += intensity.capacity() * sizeof(float);
    bytes.extras += extra.bytes();
    bytes.colours += rgb.capacity();
    bytes.drawCopies += drawXyz.capacity() * sizeof(float) + drawRgb.capacity();
}

void CloudChunk::seal() {
    const std::size_t n = size();
    std::vector<float> sealedXyz(n * 3);
    std::vector<float> sealedIntensity(n);
    ExtraFields sealedExtra;
    sealedExtra.resize(n);
    for (std::size_t p = 0; p < n; ++p) {
        const std::size_t i = bitReverse(static_cast<std::uint32_t>(p), bits);
        std::memcpy(&sealedXyz[p * 3], &xyz[i * 3], 3 * sizeof(float));
        sealedIntensity[p] = intensity[i];
        sealedExtra.set(p, extra.at(i));
    }
    xyz.swap(sealedXyz);
    intensity.swap(sealedIntensity);
    extra.swap(sealedExtra);
    coloured = 0;
    sealed = true;
    dirty = true;
}

const IntensitySpan& CloudChunk::rangeOf(IntensitySpan& span, std::size_t first) const {
    const std::size_t until = std::max(first, filled);
    if (span.known && first == span.first && until == span.filled && sealed == span.sealed) {
        return span;
    }
    std::size_t from = first;
    if (span.known && first == span.first && until > span.filled && !sealed && !span.sealed) {
        // Only arrivals: the range widens.
        from = span.filled;
    } else {
        span.bounds = {};
    }
    if (!sealed) {
        for (std::size_t i = from; i < until; ++i) {
            span.bounds.add(intensity[i]);
        }
    } else if (from == 0 && until == size()) {
        for (std::size_t p = 0; p < until; ++p) {
            span.bounds.add(intensity[p]);
        }
    } else {
        // Arrival a lies in slot bitReverse(a): only the arrivals in range are read.
        for (std::size_t a = from; a < until; ++a) {
            span.bounds.add(intensity[bitReverse(static_cast<std::uint32_t>(a), bits)]);
        }
    }
    span.known = true;
    span.first = first;
    span.filled = until;
    span.sealed = sealed;
    return span;
}

void CloudChunk::colour(std::size_t slots, const ColourTable& table, const PointColourer* colourer,
                        std::uint64_t version, bool again) {
    if (again) {
        coloured = 0;
        colourVersion = version;
    }
    if (rgb.size() < slots * 3) {
        // Colours only for the slots drawn: a sealed chunk draws a prefix, often a small share
        // of it. The chunk still filling is drawn whole, so it gets room for all at once.
        rgb.reserve(sealed ? slots * 3 : size() * 3);
        rgb.resize(slots * 3);
    }
    if (!colourer) {
        for (std::size_t s = coloured; s < slots; ++s) {
            std::memcpy(&rgb[s * 3], table.colour(intensity[s]), 3);
        }
    } else {
        // The colourer takes whole points: rebuilt a block at a time from the chunk's copies.
        constexpr std::size_t kBlock = 256;
        DataPoint block[kBlock];
        for (std::size_t s = coloured; s < slots; s += kBlock) {
            const std::size_t n = std::min(kBlock, slots - s);
            for (std::size_t i = 0; i < n; ++i) {
                block[i] = pointAt(s + i);
            }
            colourer->colour(block, n, &rgb[s * 3]);
        }
    }
    coloured = std::max(coloured, slots);
}

void CloudChunk::draw(std::size_t first, std::size_t prefix) {
    const float* from = nullptr;
    const std::uint8_t* colours = nullptr;
    std::size_t count = 0;
    if (!sealed) {
        // Arrival order: the points shown are one run, drawn whole.
        from = xyz.data() + first * 3;
        colours = rgb.data() + first * 3;
        count = filled - first;
    } else if (first == 0) {
        from = xyz.data();
        colours = rgb.data();
        count = prefix;
    } else {
        drawXyz.clear();
        drawRgb.clear();
        for (std::size_t p = 0; p < prefix; ++p) {
            if (bitReverse(static_cast<std::uint32_t>(p), bits) >= first) {
                drawXyz.insert(drawXyz.end(), &xyz[p * 3], &xyz[p * 3] + 3);
                drawRgb.insert(drawRgb.end(), &rgb[p * 3], &rgb[p * 3] + 3);
            }
        }
        from = drawXyz.data();
        colours = drawRgb.data();
        count = drawXyz.size() / 3;
    }
    // The views borrow the chunk's memory (save = 1: VTK does not free it).
    xyzView->SetArray(const_cast<float*>(from), static_cast<vtkIdType>(count * 3), 1);
    rgbView->SetArray(const_cast<std::uint8_t*>(colours), static_cast<vtkIdType>(count * 3), 1);
    polyData->GetPoints()->Modified();
    polyData->Modified();
    actor->SetVisibility(count > 0);
    drawn = count;
    ++drawVersion;
    shownPrefix = prefix;
    shownFirst = first;
    dirty = false;
    hidden = false;
}

} // namespace viewer
