// The cloud drawn from the buffer: growing, streaming, eviction, loads and colours.
#include "ChunkedCloudFixture.h"

#include <vtkActorCollection.h>

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
        expectSameRange(range, finder.range());

        auto colourer = std::make_shared<const PointColourer>(field, ColourMap::Viridis, range);
        cloud.setColourer(colourer);
        EXPECT_TRUE(refresh());
        EXPECT_EQ(drawnBy(cloud), colouredBy(*colourer, points));
    }
    // Streaming on under a colourer, then back to the intensity table.
    feed(200);
    refresh();
    cloud.setColourer(nullptr);
    EXPECT_TRUE(refresh());
    expectScene();
}

// Reflectance and pulse shape deviation arrive zero from every model but the LX30: a stream
// that starts so and turns to an LX30's in the middle of a chunk (some of its values zero, one
// not a number, one time stamp far from the others), captured point by point or adopted from a
// load's copy, colours every drawn point by each field as its buffered point.
TEST_F(Window, FieldsThatStartZeroColourAsTheBufferedPoints) {
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::deque<DataPoint> source;
    for (int i = 0; i < 420; ++i) {
        DataPoint p = randomPoint();
        p.timestamp = 1000 + static_cast<std::uint64_t>(i) * 7;
        if (i >= 150 && i % 5 != 0) {
            p.reflectance = 100.0f * unit(rng);
            p.pulseShapeDeviation = i % 3 == 0 ? 0.0f : unit(rng);
        }
        if (i == 200) {
            p.reflectance = std::numeric_limits<float>::quiet_NaN();
        }
        if (i == 300) {
            p.timestamp = std::uint64_t{1} << 40; // a file's time, far from its chunk's others
        }
        source.push_back(p);
    }
    const auto expectColoursByEachField = [&] {
        for (const ColourField field :
             {ColourField::Reflectance, ColourField::PulseShapeDeviation, ColourField::Time}) {
            SCOPED_TRACE(fieldText(field));
            FieldRangeFinder finder(field);
            finder.add(points.begin(), points.end());
            const FieldRange range = cloud.drawnRange(field);
            expectSameRange(range, finder.range());
            auto colourer = std::make_shared<const PointColourer>(field, ColourMap::Turbo, range);
            cloud.setColourer(colourer);
            refresh();
            EXPECT_EQ(drawnBy(cloud), colouredBy(*colourer, points));
        }
        cloud.setColourer(nullptr);
    };
    {
        SCOPED_TRACE("captured");
        for (const DataPoint& p : source) {
            appendBounded(points, p, cap, log);
            if (points.size() % 50 == 0) {
                refresh();
            }
        }
        changed = true;
        refresh();
        expectColoursByEachField();
    }
    {
        SCOPED_TRACE("adopted");
        PreparedCloud prepared(6, 3);
        const std::vector<DataPoint> flat(source.begin(), source.end());
        prepared.append(flat.data(), flat.size());
        prepared.finish();
        replaceBuffer(points, std::deque<DataPoint>(source), log);
        prepared.log = log;
        ASSERT_TRUE(cloud.adopt(prepared));
        changed = true;
        refresh();
        expectColoursByEachField();
    }
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

TEST_F(Window, LeavingPointsOutKeepsTheCopiesAndMostOfThemEvictedAtOnceStartsAgain) {
    cap = 5000;
    stream(5000);
    refresh();
    expectScene();
    // Most of the points left out at once (a display mode showing only the newest frame): the
    // copies stay, only not drawn, and bringing them back copies nothing either.
    skip = 4000;
    changed = true;
    EXPECT_FALSE(cloud.capture(points, log, 1u << 30, skip));
    refresh();
    expectScene();
    stream(600);
    skip = 4200;
    EXPECT_FALSE(cloud.capture(points, log, 1u << 30, skip));
    refresh();
    expectScene();
    skip = 0;
    changed = true;
    EXPECT_FALSE(cloud.capture(points, log, 1u << 30, skip));
    EXPECT_EQ(cloud.pendingCount(), 0u);
    // Recoloured for the wider range, the hidden chunks come back a slice of them at a time,
    // the newest first.
    ASSERT_GT(cloud.chunkCount(), 2 * ChunkedCloud::kReshowSlice);
    refresh();
    EXPECT_TRUE(cloud.needsApply(scale.table(), budget));
    EXPECT_LT(cloud.drawnCount(), points.size());
    for (int i = 0; i < 100 && refresh(); ++i) {
    }
    expectScene();
    // Over sixteen large chunks evicted between two refreshes, and fewer points staying: the
    // display starts again from those that stay.
    stream(4500);
    EXPECT_TRUE(cloud.capture(points, log, 1u << 30, skip));
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

// A load's copy for the display, built beside the buffer, draws what capturing the same points
// draws, at every size around the chunks' (none, a partial small chunk, whole small ones, whole
// large blocks and what follows them), and the display follows the buffer from there.
TEST_F(Window, AnAdoptedCopyDrawsWhatACaptureDraws) {
    cap = 10;
    for (const std::size_t n : {0, 1, 8, 9, 63, 64, 65, 64 * 5 + 8 * 3 + 5}) {
        SCOPED_TRACE(n);
        std::deque<DataPoint> loaded;
        for (std::size_t i = 0; i < n; ++i) {
            loaded.push_back(randomPoint(30000));
        }
        PreparedCloud prepared(6, 3);
        // In uneven pieces, as a reader's chunks come.
        const std::vector<DataPoint> flat(loaded.begin(), loaded.end());
        for (std::size_t done = 0; done < n;) {
            const std::size_t take = std::min<std::size_t>(7, n - done);
            prepared.append(flat.data() + done, take);
            done += take;
        }
        prepared.finish();
        replaceBuffer(points, std::move(loaded), log);
        prepared.log = log;
        ASSERT_TRUE(cloud.adopt(prepared));
        EXPECT_EQ(cloud.pendingCount(), 0u);
        changed = true;
        refresh();
        expectScene();
        // A live arrival after it evicts one point, the cap being below the load's size.
        stream(3);
        refresh();
        expectScene();
    }
}

TEST_F(Window, ACopyOfAnEarlierBufferIsCopiedAgain) {
    std::deque<DataPoint> loaded;
    for (int i = 0; i < 100; ++i) {
        loaded.push_back(randomPoint());
    }
    PreparedCloud prepared(6, 3);
    prepared.append(loaded.cbegin(), loaded.size());
    prepared.finish();
    replaceBuffer(points, std::move(loaded), log);
    prepared.log = log;
    // Cleared before the display took it in: the copy shows nothing of the old points.
    clearBuffer(points, log);
    stream(20);
    ASSERT_TRUE(cloud.adopt(prepared));
    changed = true;
    refresh();
    expectScene();

    // Laid out for other chunk sizes, or unfinished: refused.
    PreparedCloud other(5, 3);
    other.finish();
    EXPECT_FALSE(cloud.adopt(other));
    PreparedCloud open(6, 3);
    EXPECT_FALSE(cloud.adopt(open));
    refresh();
    expectScene();
}

// A load over a full scene: the former points leave the view at the first apply, while the new
// chunks are still being shown a slice at a time; the former actors leave the renderer over the
// next applies, and the copies they drew are handed back whole, to be freed elsewhere.
TEST_F(Window, ALoadOverAFullSceneShowsOnlyTheNewPointsAndLetsTheOldGo) {
    cap = 64 * 40;
    stream(cap);
    refresh();
    while (refresh()) {
    }
    expectScene();
    const std::size_t formerChunks = cloud.chunkCount();
    ASSERT_GT(formerChunks, 2 * ChunkedCloud::kReshowSlice);
    EXPECT_TRUE(cloud.takeDropped().empty());

    std::deque<DataPoint> loaded;
    for (std::size_t i = 0; i < cap; ++i) {
        DataPoint p = randomPoint();
        p.x += 1000.0; // apart from every former point
        loaded.push_back(p);
    }
    PreparedCloud prepared(6, 3);
    prepared.append(loaded.cbegin(), loaded.size());
    prepared.finish();
    replaceBuffer(points, std::move(loaded), log);
    prepared.log = log;
    ASSERT_TRUE(cloud.adopt(prepared));

    const std::vector<DroppedCopies> dropped = cloud.takeDropped();
    ASSERT_EQ(dropped.size(), formerChunks);
    std::size_t slots = 0;
    for (const DroppedCopies& copies : dropped) {
        slots += copies.intensity.size();
        EXPECT_EQ(copies.xyz.size(), 3 * copies.intensity.size());
    }
    EXPECT_EQ(slots, std::size_t{cap});
    EXPECT_TRUE(cloud.takeDropped().empty());

    changed = true;
    int applies = 0;
    while (refresh()) {
        ++applies;
        ASSERT_LT(applies, 100);
        for (const Drawn& d : drawnBy(cloud)) {
            ASSERT_GT(std::get<0>(d), 500.0f);
        }
    }
    EXPECT_GT(applies, 1);
    expectScene();
    EXPECT_EQ(renderer->GetActors()->GetNumberOfItems(), static_cast<int>(cloud.actors().size()));
}
