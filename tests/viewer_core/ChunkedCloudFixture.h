// The cloud's test window: a buffer, its change log and a cloud drawn from them, and what the
// cloud draws, read back from its actors.
#pragma once

#include "ChunkedCloud.h"
#include "ObservationPoint.h"

#include <vtkActor.h>
#include <vtkLookupTable.h>
#include <vtkMapper.h>
#include <vtkPointData.h>
#include <vtkPolyData.h>
#include <vtkProperty.h>
#include <vtkRenderer.h>
#include <vtkUnsignedCharArray.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <set>
#include <tuple>
#include <vector>

using namespace viewer;

namespace {

using Drawn = std::tuple<float, float, float, int, int, int>;

// What the scene shows: every point of every visible chunk actor with its colour, in no
// particular order.
std::vector<Drawn> drawnBy(const ChunkedCloud& cloud) {
    std::vector<Drawn> drawn;
    for (vtkActor* actor : cloud.actors()) {
        if (!actor->GetVisibility()) {
            continue;
        }
        auto* polyData = vtkPolyData::SafeDownCast(actor->GetMapper()->GetInput());
        auto colors = vtkUnsignedCharArray::SafeDownCast(polyData->GetPointData()->GetScalars());
        EXPECT_NE(colors, nullptr);
        EXPECT_STREQ(colors->GetName(), "Colors");
        EXPECT_EQ(colors->GetNumberOfTuples(), polyData->GetNumberOfPoints());
        for (vtkIdType id = 0; id < polyData->GetNumberOfPoints(); ++id) {
            double p[3];
            polyData->GetPoint(id, p);
            drawn.emplace_back(static_cast<float>(p[0]), static_cast<float>(p[1]),
                               static_cast<float>(p[2]), colors->GetValue(id * 3),
                               colors->GetValue(id * 3 + 1), colors->GetValue(id * 3 + 2));
        }
    }
    std::sort(drawn.begin(), drawn.end());
    return drawn;
}

// The range the display finds over its drawn points is the one over the buffered points.
void expectSameRange(const FieldRange& drawn, const FieldRange& buffered) {
    EXPECT_NEAR(drawn.minimum, buffered.minimum, 1e-3);
    EXPECT_NEAR(drawn.maximum, buffered.maximum, 1e-3);
    EXPECT_EQ(drawn.firstTime, buffered.firstTime);
    EXPECT_EQ(drawn.lastTime, buffered.lastTime);
}

// What a colourer makes of the points at the display's float precision, sorted as drawnBy.
std::vector<Drawn> colouredBy(const PointColourer& colourer, const std::deque<DataPoint>& points) {
    std::vector<Drawn> coloured;
    for (DataPoint p : points) {
        p.x = static_cast<float>(p.x);
        p.y = static_cast<float>(p.y);
        p.z = static_cast<float>(p.z);
        std::uint8_t rgb[3];
        colourer.colour(&p, 1, rgb);
        coloured.emplace_back(static_cast<float>(p.x), static_cast<float>(p.y),
                              static_cast<float>(p.z), rgb[0], rgb[1], rgb[2]);
    }
    std::sort(coloured.begin(), coloured.end());
    return coloured;
}

// The rebuild from scratch: every point inserted anew, coloured through a fresh vtkLookupTable.
std::vector<Drawn> rebuiltFrom(const std::deque<DataPoint>& points, std::uint32_t minimum,
                               std::uint32_t maximum, const HsvColour& low, const HsvColour& high) {
    if (points.empty()) {
        return {}; // no table: the range may not have been normalised yet
    }
    auto lut = vtkSmartPointer<vtkLookupTable>::New();
    lut->SetTableRange(minimum, maximum);
    lut->SetHueRange(low.hue, high.hue);
    lut->SetSaturationRange(low.saturation, high.saturation);
    lut->SetValueRange(low.value, high.value);
    // Ranges wider than the device's (files only) get the bounded number of entries.
    const auto entries = static_cast<vtkIdType>(
        std::min<std::uint64_t>(std::uint64_t{maximum} - minimum + 1, kMaximumTableEntries));
    lut->SetNumberOfColors(entries);
    lut->SetNumberOfTableValues(entries);
    lut->ForceBuild();
    std::vector<Drawn> drawn;
    for (const DataPoint& p : points) {
        double rgb[3];
        lut->GetColor(p.intensity, rgb);
        drawn.emplace_back(static_cast<float>(p.x), static_cast<float>(p.y),
                           static_cast<float>(p.z), static_cast<int>(255 * rgb[0]),
                           static_cast<int>(255 * rgb[1]), static_cast<int>(255 * rgb[2]));
    }
    std::sort(drawn.begin(), drawn.end());
    return drawn;
}

// The automatic range as a scan over every point computes it.
std::pair<std::uint32_t, std::uint32_t> scannedRange(const std::deque<DataPoint>& points) {
    std::uint32_t minimum = 65535;
    std::uint32_t maximum = 0;
    std::uint32_t lowest = std::numeric_limits<std::uint32_t>::max();
    for (const DataPoint& p : points) {
        if (p.intensity > maximum) {
            maximum = formats::truncateIntensity(p.intensity);
        }
        if (minimum > p.intensity) {
            minimum = formats::truncateIntensity(p.intensity);
        }
        if (!std::isnan(p.intensity)) {
            lowest = std::min(lowest, formats::truncateIntensity(p.intensity));
        }
    }
    // Every point above device amplitudes (a file's): the smallest of them.
    if (lowest > 65535 && lowest != std::numeric_limits<std::uint32_t>::max()) {
        minimum = lowest;
    }
    return {minimum, maximum};
}

// The window's side of the display: buffer, its log, the range members and the refresh, with
// large chunks of 64 points and small ones of 8, so that a few hundred points cross several.
class Window : public ::testing::Test {
protected:
    DataPoint randomPoint(double maxIntensity = 4000) {
        std::uniform_real_distribution<double> coord(-100, 100);
        std::uniform_real_distribution<double> amp(0, maxIntensity);
        DataPoint p;
        p.x = coord(rng);
        p.y = coord(rng);
        p.z = coord(rng);
        p.intensity = std::floor(amp(rng));
        return p;
    }

    void stream(std::size_t count, double maxIntensity = 4000) {
        for (std::size_t i = 0; i < count; ++i) {
            const DataPoint p = randomPoint(maxIntensity);
            if (autoIntensity && widenIntensityRange(p.intensity, minimum, maximum)) {
                changed = true;
            }
            if (appendBounded(points, p, cap, log)) {
                changed = true;
            }
        }
    }

    // Returns whether the scene was rebuilt.
    bool refresh(bool applyIt = true, std::size_t limit = 1u << 30) {
        cloud.capture(points, log, limit, skip);
        if (autoIntensity) {
            cloud.automaticRange(minimum, maximum);
            if (cloud.pendingCount() == 0) {
                const auto scanned = scannedRange(shown());
                EXPECT_EQ(minimum, scanned.first);
                EXPECT_EQ(maximum, scanned.second);
            }
        }
        if (!applyIt) {
            return false;
        }
        const ColourTable& table = scale.update(minimum, maximum, low, high);
        if (!changed && !cloud.needsApply(table, budget)) {
            return false;
        }
        cloud.apply(table, budget);
        changed = false;
        return true;
    }

    // The buffer without the points the display leaves out.
    std::deque<DataPoint> shown() const {
        return {points.begin() + static_cast<std::ptrdiff_t>(std::min(skip, points.size())),
                points.end()};
    }

    void expectScene() {
        const std::deque<DataPoint> expected = shown();
        ASSERT_EQ(cloud.heldCount(), expected.size());
        EXPECT_EQ(cloud.drawnCount(), expected.size());
        EXPECT_EQ(drawnBy(cloud), rebuiltFrom(expected, minimum, maximum, low, high));
    }

    std::mt19937 rng{42};
    std::deque<DataPoint> points;
    BufferLog log;
    std::uint32_t cap = 1000;
    std::size_t skip = 0;
    bool changed = false;
    bool autoIntensity = true;
    std::uint32_t minimum = 65535;
    std::uint32_t maximum = 0;
    HsvColour low = kDefaultMinimumColour;
    HsvColour high = kDefaultMaximumColour;
    std::size_t budget = 1u << 30;
    IntensityScale scale;
    vtkSmartPointer<vtkRenderer> renderer = vtkSmartPointer<vtkRenderer>::New();
    vtkSmartPointer<vtkProperty> property = vtkSmartPointer<vtkProperty>::New();
    ChunkedCloud cloud{renderer, property, 6, 3};
};

} // namespace
