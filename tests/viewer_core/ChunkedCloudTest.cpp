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

TEST_F(Window, GrowsThenStreamsThroughAFullBuffer) {
    refresh();
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

// The display keeps what the other fields need through seals, merges and evictions: every drawn
// point takes the colourer's colour of the buffered point (its coordinates as drawn, in floats).
TEST_F(Window, AColourerColoursEveryDrawnPointByItsField) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::uint64_t time = 4294967000u; // across the device counter's wrap
    const auto feed = [&](int n) {
        for (int i = 0; i < n; ++i) {
            DataPoint p = randomPoint();
            p.reflectance = 100.0f * unit(rng);
            p.pulseShapeDeviation = unit(rng);
            p.timestamp = time++ & 0xffffffffu;
            appendBounded(points, p, cap, log);
        }
        changed = true;
    };
    feed(1300); // full: the first points have left
    refresh();
    for (const ColourField field :
         {ColourField::Reflectance, ColourField::Time, ColourField::Range, ColourField::Height}) {
        SCOPED_TRACE(fieldText(field));
        FieldRangeFinder finder(field);
        for (DataPoint p : points) {
            p.x = static_cast<float>(p.x);
            p.y = static_cast<float>(p.y);
            p.z = static_cast<float>(p.z);
            finder.add(p);
        }
        const FieldRange range = cloud.drawnRange(field);
        EXPECT_NEAR(range.minimum, finder.range().minimum, 1e-3);
        EXPECT_NEAR(range.maximum, finder.range().maximum, 1e-3);
        EXPECT_EQ(range.firstTime, finder.range().firstTime);
        EXPECT_EQ(range.lastTime, finder.range().lastTime);

        auto colourer = std::make_shared<const PointColourer>(field, ColourMap::Viridis, range);
        cloud.setColourer(colourer);
        EXPECT_TRUE(refresh());
        std::vector<Drawn> expected;
        for (DataPoint p : points) {
            p.x = static_cast<float>(p.x);
            p.y = static_cast<float>(p.y);
            p.z = static_cast<float>(p.z);
            std::uint8_t rgb[3];
            colourer->colour(&p, 1, rgb);
            expected.emplace_back(static_cast<float>(p.x), static_cast<float>(p.y),
                                  static_cast<float>(p.z), rgb[0], rgb[1], rgb[2]);
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(drawnBy(cloud), expected);
    }
    // Streaming on under a colourer, then back to the intensity table.
    feed(200);
    refresh();
    cloud.setColourer(nullptr);
    EXPECT_TRUE(refresh());
    expectScene();
}

TEST_F(Window, PointsLeftOutAtTheFrontLeaveAsEvictionsDoAndComeBackWhole) {
    stream(500);
    refresh();
    expectScene();
    // A frame completes: what is shown starts later, inside a chunk and then past several.
    for (std::size_t from : {37u, 37u, 190u, 499u}) {
        SCOPED_TRACE(from);
        skip = from;
        changed = true;
        refresh();
        expectScene();
    }
    // Streaming on through the cap with the front left out, then evictions passing it.
    skip = 300;
    for (int tick = 0; tick < 8; ++tick) {
        SCOPED_TRACE(tick);
        stream(150);
        refresh();
        expectScene();
    }
    // Back to every point: the display starts again and holds them all.
    skip = 0;
    changed = true;
    refresh();
    expectScene();
    EXPECT_EQ(cloud.heldCount(), points.size());
}

TEST_F(Window, MostOfTheDisplayLeavingAtOnceStartsItAgainFromWhatStays) {
    cap = 5000;
    stream(5000);
    refresh();
    expectScene();
    // Over sixteen large chunks leave and fewer points stay: the display starts again.
    skip = 4000;
    changed = true;
    EXPECT_TRUE(cloud.capture(points, log, 1u << 30, skip));
    refresh();
    expectScene();
    // The front moving on by a few chunks is followed as evictions are.
    stream(600);
    skip = 4200;
    EXPECT_FALSE(cloud.capture(points, log, 1u << 30, skip));
    refresh();
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

TEST_F(Window, AFileAboveDeviceAmplitudesGetsItsOwnRange) {
    std::deque<DataPoint> bright;
    for (const float intensity : {85000.0f, 70000.0f, 100000.0f, std::nanf("")}) {
        DataPoint p = randomPoint();
        p.intensity = intensity;
        bright.push_back(p);
    }
    replaceBuffer(points, std::move(bright), log);
    changed = true;
    EXPECT_TRUE(refresh());
    EXPECT_EQ(minimum, 70000u);
    EXPECT_EQ(maximum, 100000u);

    // One point within device amplitudes takes the minimum back to the histogram's.
    DataPoint dim = randomPoint();
    dim.intensity = 70;
    appendBounded(points, dim, cap, log);
    EXPECT_TRUE(refresh());
    EXPECT_EQ(minimum, 70u);
    EXPECT_EQ(maximum, 100000u);
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

namespace {

// Points whose x is their arrival number, so a drawn point says which one it is. The display
// starts from an empty buffer, so it counts arrivals as the test does.
class Budgeted : public Window {
protected:
    void SetUp() override { refresh(); }

    void numbered(std::size_t count) {
        for (std::size_t i = 0; i < count; ++i, ++next) {
            DataPoint p;
            p.x = static_cast<double>(next);
            p.intensity = static_cast<double>(next % 500);
            appendBounded(points, p, cap, log);
        }
    }

    std::set<long> drawnArrivals() {
        std::set<long> arrivals;
        for (const Drawn& d : drawnBy(cloud)) {
            arrivals.insert(static_cast<long>(std::get<0>(d)));
        }
        return arrivals;
    }

    std::set<long> heldArrivals() {
        std::set<long> arrivals;
        for (const DataPoint& p : points) {
            arrivals.insert(static_cast<long>(p.x));
        }
        return arrivals;
    }

    long next = 0;
};

} // namespace

// A recolour of more points than one apply() colours: the newest first, the rest keep their
// former colours, and later applies finish it.
TEST(ChunkedCloudRecolour, ManyPointsAreRecolouredOverSeveralApplies) {
    const std::size_t n = ChunkedCloud::kRecolourSlice + ChunkedCloud::kRecolourSlice / 2;
    std::deque<DataPoint> points;
    BufferLog log;
    for (std::size_t i = 0; i < n; ++i) {
        DataPoint p;
        p.x = static_cast<double>(i);
        p.y = 1.0;
        p.z = static_cast<double>(i % 1000);
        appendBounded(points, p, static_cast<std::uint32_t>(n), log);
    }
    auto renderer = vtkSmartPointer<vtkRenderer>::New();
    auto property = vtkSmartPointer<vtkProperty>::New();
    ChunkedCloud cloud(renderer, property);
    IntensityScale scale;
    std::uint32_t minimum = 0;
    std::uint32_t maximum = 1000;
    const ColourTable& table =
        scale.update(minimum, maximum, kDefaultMinimumColour, kDefaultMaximumColour);
    cloud.capture(points, log, n);
    while (cloud.needsApply(table, n)) {
        cloud.apply(table, n);
    }
    const std::vector<Drawn> before = drawnBy(cloud);
    ASSERT_EQ(before.size(), n);

    FieldRange range;
    range.minimum = 0.0;
    range.maximum = 999.0;
    auto colourer =
        std::make_shared<const PointColourer>(ColourField::Height, ColourMap::Turbo, range);
    cloud.setColourer(colourer);
    cloud.apply(table, n);
    EXPECT_TRUE(cloud.needsApply(table, n));
    EXPECT_EQ(cloud.drawnCount(), n);
    const auto colourOf = [&](const Drawn& d) {
        DataPoint p;
        p.z = std::get<2>(d);
        std::uint8_t rgb[3];
        colourer->colour(&p, 1, rgb);
        return std::make_tuple(int{rgb[0]}, int{rgb[1]}, int{rgb[2]});
    };
    const auto tail = [](const Drawn& d) {
        return std::make_tuple(std::get<3>(d), std::get<4>(d), std::get<5>(d));
    };
    std::size_t recoloured = 0;
    std::size_t newestRecoloured = 0;
    for (const Drawn& d : drawnBy(cloud)) {
        if (tail(d) == colourOf(d)) {
            ++recoloured;
            newestRecoloured += std::get<0>(d) >= static_cast<float>(n - 100000);
        }
    }
    EXPECT_GE(recoloured, ChunkedCloud::kRecolourSlice);
    EXPECT_LT(recoloured, n);
    EXPECT_EQ(newestRecoloured, 100000u);

    cloud.apply(table, n);
    EXPECT_FALSE(cloud.needsApply(table, n));
    for (const Drawn& d : drawnBy(cloud)) {
        ASSERT_EQ(tail(d), colourOf(d)) << std::get<0>(d);
    }
}

TEST(BitReverse, ReversesTheLowBits) {
    EXPECT_EQ(bitReverse(0, 6), 0u);
    EXPECT_EQ(bitReverse(1, 6), 32u);
    EXPECT_EQ(bitReverse(6, 6), 24u);
    EXPECT_EQ(bitReverse(63, 6), 63u);
    EXPECT_EQ(bitReverse(1, 16), 32768u);
    for (std::uint32_t v = 0; v < 64; ++v) {
        EXPECT_EQ(bitReverse(bitReverse(v, 6), 6), v);
    }
}

TEST_F(Budgeted, DrawsAboutTheBudgetNewestChunkWholeAndOnlyBufferedPoints) {
    cap = 640; // ten large chunks
    numbered(700);
    budget = 200;
    refresh();
    const std::set<long> drawn = drawnArrivals();
    EXPECT_EQ(drawn.size(), cloud.drawnCount());
    // The budget's share of the points, and the newest small chunk (arrivals 696..699) whole on
    // top.
    EXPECT_GE(cloud.drawnCount(), 180u);
    EXPECT_LE(cloud.drawnCount(), 200u + 8u);
    for (long a = 696; a < 700; ++a) {
        EXPECT_TRUE(drawn.count(a)) << a;
    }
    const std::set<long> held = heldArrivals();
    for (long a : drawn) {
        EXPECT_TRUE(held.count(a)) << a;
    }
    EXPECT_EQ(cloud.heldCount(), 640u);
}

TEST_F(Budgeted, AShareOfAChunkIsEvenlySpreadAndALargerShareContainsTheSmaller) {
    cap = 100000;
    numbered(64 * 5);
    std::set<long> previous;
    for (std::size_t b : {80, 160, 250, 320}) {
        budget = b;
        refresh();
        const std::set<long> drawn = drawnArrivals();
        EXPECT_TRUE(std::includes(drawn.begin(), drawn.end(), previous.begin(), previous.end()))
            << b;
        previous = drawn;
    }
    // A quarter of each older chunk: every fourth arrival.
    budget = 80;
    refresh();
    for (long a : drawnArrivals()) {
        if (a < 256) {
            EXPECT_EQ(a % 4, 0) << a;
        }
    }
    budget = 1u << 30;
    refresh();
    EXPECT_EQ(cloud.drawnCount(), points.size());
}

TEST_F(Budgeted, StreamingThroughAFullBufferKeepsTheSubsampleInPlace) {
    cap = 64 * 8;
    numbered(64 * 8 + 20);
    budget = 64 * 3;
    refresh();
    for (int tick = 0; tick < 12; ++tick) {
        SCOPED_TRACE(tick);
        const std::set<long> before = drawnArrivals();
        const long newestChunkStart = next / 8 * 8;
        numbered(23);
        refresh();
        const std::set<long> after = drawnArrivals();
        const std::set<long> held = heldArrivals();
        // Every point drawn before, still buffered and no longer in the newest chunk, is drawn
        // now: nothing flickers out.
        for (long a : before) {
            if (held.count(a) && a < newestChunkStart) {
                EXPECT_TRUE(after.count(a)) << a;
            }
        }
        for (long a : after) {
            EXPECT_TRUE(held.count(a)) << a;
        }
        for (long a = next / 8 * 8; a < next; ++a) {
            EXPECT_TRUE(after.count(a)) << a;
        }
        // Small chunks are merged as their large block completes: few actors.
        EXPECT_LE(cloud.chunkCount(), 9u + 8u);
    }
}

TEST_F(Budgeted, PointsDrawnLaterGetTheColoursOfTheCurrentTable) {
    cap = 100000;
    stream(64 * 6);
    budget = 80;
    refresh();
    autoIntensity = false;
    minimum = 500;
    maximum = 900;
    low = {0.2, 1.0, 1.0};
    changed = true;
    refresh();
    budget = 1u << 30;
    refresh();
    expectScene();
}

TEST_F(Budgeted, CaptureCopiesAtMostTheLimitAndCatchesUp) {
    cap = 100000;
    numbered(1000);
    refresh(true, 300);
    EXPECT_EQ(cloud.heldCount(), 300u);
    EXPECT_EQ(cloud.pendingCount(), 700u);
    numbered(50);
    refresh(true, 300);
    EXPECT_EQ(cloud.heldCount(), 600u);
    refresh(true, 300);
    refresh(true, 300);
    EXPECT_EQ(cloud.pendingCount(), 0u);
    expectScene();

    // Points that leave the buffer before they were copied are skipped.
    clearBuffer(points, log);
    cap = 200;
    numbered(150);
    refresh(true, 100);
    numbered(500);
    refresh(true, 100);
    EXPECT_EQ(cloud.heldCount(), 100u);
    refresh(true, 1000);
    expectScene();
}
