#include "CloudDisplay.h"
#include "ObservationPoint.h"

#include <vtkLookupTable.h>
#include <vtkPointData.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <tuple>
#include <vector>

using namespace viewer;

namespace {

using Drawn = std::tuple<float, float, float, int, int, int>;

// What the scene shows: every vertex cell's point with its colour, in no particular order.
std::vector<Drawn> drawnBy(vtkPolyData* polyData) {
    std::vector<Drawn> drawn;
    auto colors = vtkUnsignedCharArray::SafeDownCast(polyData->GetPointData()->GetScalars());
    EXPECT_NE(colors, nullptr);
    EXPECT_STREQ(colors->GetName(), "Colors");
    EXPECT_EQ(colors->GetNumberOfComponents(), 3);
    vtkCellArray* verts = polyData->GetVerts();
    EXPECT_EQ(verts->GetNumberOfCells(), polyData->GetNumberOfPoints());
    std::vector<int> seen(static_cast<std::size_t>(polyData->GetNumberOfPoints()), 0);
    verts->InitTraversal();
    vtkIdType count = 0;
    const vtkIdType* ids = nullptr;
    while (verts->GetNextCell(count, ids)) {
        EXPECT_EQ(count, 1);
        const vtkIdType id = ids[0];
        ++seen[static_cast<std::size_t>(id)];
        double p[3];
        polyData->GetPoint(id, p);
        drawn.emplace_back(static_cast<float>(p[0]), static_cast<float>(p[1]),
                           static_cast<float>(p[2]), colors->GetValue(id * 3),
                           colors->GetValue(id * 3 + 1), colors->GetValue(id * 3 + 2));
    }
    EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](int s) { return s == 1; }));
    std::sort(drawn.begin(), drawn.end());
    return drawn;
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
    for (const DataPoint& p : points) {
        if (p.intensity > maximum) {
            maximum = formats::truncateIntensity(p.intensity);
        }
        if (minimum > p.intensity) {
            minimum = formats::truncateIntensity(p.intensity);
        }
    }
    return {minimum, maximum};
}

// The window's side of the display: buffer, its log, the range members and the refresh.
class Window : public ::testing::Test {
protected:
    Window() {
        polyData = vtkSmartPointer<vtkPolyData>::New();
        display.attachTo(polyData);
    }

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
    bool refresh(bool applyIt = true) {
        display.capture(points, points.size(), log);
        if (autoIntensity) {
            display.automaticRange(minimum, maximum);
            const auto scanned = scannedRange(points);
            EXPECT_EQ(minimum, scanned.first);
            EXPECT_EQ(maximum, scanned.second);
        }
        if (!applyIt || (points.size() == display.displayedCount() && !changed)) {
            return false;
        }
        const ColourTable& table = scale.update(minimum, maximum, low, high);
        display.apply(table);
        changed = false;
        return true;
    }

    void expectScene() {
        ASSERT_EQ(display.displayedCount(), points.size());
        EXPECT_EQ(drawnBy(polyData), rebuiltFrom(points, minimum, maximum, low, high));
    }

    std::mt19937 rng{42};
    std::deque<DataPoint> points;
    BufferLog log;
    std::uint32_t cap = 1000;
    bool changed = false;
    bool autoIntensity = true;
    std::uint32_t minimum = 65535;
    std::uint32_t maximum = 0;
    HsvColour low = kDefaultMinimumColour;
    HsvColour high = kDefaultMaximumColour;
    IntensityScale scale;
    CloudDisplay display;
    vtkSmartPointer<vtkPolyData> polyData;
};

} // namespace

TEST_F(Window, GrowsThenStreamsThroughAFullBuffer) {
    EXPECT_FALSE(refresh()); // nothing to show yet
    expectScene();
    stream(400);
    EXPECT_TRUE(refresh());
    expectScene();
    stream(450);
    EXPECT_TRUE(refresh());
    expectScene();
    stream(300); // passes the cap in the middle of the batch
    EXPECT_TRUE(refresh());
    expectScene();
    for (int tick = 0; tick < 25; ++tick) {
        SCOPED_TRACE(tick);
        stream(tick % 5 == 4 ? 0 : 137, tick < 10 ? 4000 : 4000 + 100 * tick);
        refresh();
        expectScene();
    }
    EXPECT_FALSE(refresh());
}

TEST_F(Window, ManualRangeAndColourChangesRecolourEverything) {
    stream(800);
    refresh();
    autoIntensity = false;
    minimum = 1000;
    maximum = 2000;
    changed = true;
    EXPECT_TRUE(refresh());
    expectScene();

    low = {-1.0, 0.0, 0.5}; // a grey: no hue
    high = {0.3, 0.5, 1.0};
    changed = true;
    EXPECT_TRUE(refresh());
    expectScene();

    stream(500); // full now; the manual range stays
    EXPECT_TRUE(refresh());
    expectScene();
    EXPECT_EQ(minimum, 1000u);

    // Back to automatic after a reload and streaming seen only in manual mode.
    std::deque<DataPoint> loaded;
    for (int i = 0; i < 1000; ++i) {
        loaded.push_back(randomPoint(30000));
    }
    replaceBuffer(points, std::move(loaded), log);
    changed = true;
    EXPECT_TRUE(refresh());
    stream(300);
    EXPECT_TRUE(refresh());
    autoIntensity = true;
    changed = true;
    EXPECT_TRUE(refresh());
    expectScene();
    stream(300);
    EXPECT_TRUE(refresh());
    expectScene();
}

TEST_F(Window, CapturesWithoutApplyAccumulate) {
    stream(600);
    refresh();
    cap = 600;
    for (int i = 0; i < 4; ++i) {
        stream(50);
        refresh(false);
    }
    EXPECT_TRUE(refresh());
    expectScene();
    for (int i = 0; i < 20; ++i) {
        stream(100);
        refresh(false);
    }
    EXPECT_TRUE(refresh());
    expectScene();
}

TEST_F(Window, ClearAndLoadReplaceTheScene) {
    stream(900);
    refresh();
    clearBuffer(points, log);
    changed = true;
    EXPECT_TRUE(refresh());
    expectScene();
    EXPECT_EQ(minimum, 0u);
    EXPECT_EQ(maximum, 65535u);

    // A file bigger than the cap, with intensities the device never sends.
    std::deque<DataPoint> loaded;
    for (int i = 0; i < 1500; ++i) {
        DataPoint p = randomPoint();
        if (i % 97 == 0) {
            p.intensity = 1e7 + i;
        } else if (i % 89 == 0) {
            p.intensity = std::nan("");
        } else if (i % 83 == 0) {
            p.intensity = -40.5;
        }
        loaded.push_back(p);
    }
    replaceBuffer(points, std::move(loaded), log);
    changed = true;
    EXPECT_TRUE(refresh());
    expectScene();
    EXPECT_EQ(minimum, 0u);
    EXPECT_GE(maximum, 10000000u);

    for (int tick = 0; tick < 5; ++tick) {
        stream(200);
        refresh();
        EXPECT_EQ(points.size(), 1500u);
        expectScene();
    }

    // Same count as before, different points: only the flag forces the rebuild.
    std::deque<DataPoint> again;
    for (int i = 0; i < 1500; ++i) {
        again.push_back(randomPoint());
    }
    replaceBuffer(points, std::move(again), log);
    changed = true;
    EXPECT_TRUE(refresh());
    expectScene();
}

TEST_F(Window, EqualIntensitiesColourAgainstTheFullRange) {
    std::deque<DataPoint> same;
    for (int i = 0; i < 100; ++i) {
        DataPoint p = randomPoint();
        p.intensity = 500;
        same.push_back(p);
    }
    replaceBuffer(points, std::move(same), log);
    changed = true;
    EXPECT_TRUE(refresh());
    EXPECT_EQ(minimum, 0u);
    EXPECT_EQ(maximum, 65535u);
    expectScene();
}
