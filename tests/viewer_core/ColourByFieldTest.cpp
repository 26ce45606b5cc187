#include "ColourField.h"
#include "ColourMap.h"
#include "IntensityScale.h"
#include "ObservationPoint.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <limits>
#include <random>
#include <vector>

using namespace viewer;

namespace {

using Rgb = std::array<int, 3>;

Rgb colourOf(const PointColourer& colourer, const DataPoint& p) {
    std::uint8_t rgb[3];
    colourer.colour(&p, 1, rgb);
    return {rgb[0], rgb[1], rgb[2]};
}

DataPoint withRange(float range) {
    DataPoint p;
    p.range = range;
    return p;
}

DataPoint withTime(std::uint64_t t) {
    DataPoint p;
    p.timestamp = t;
    return p;
}

DataPoint withAzimuth(float az) {
    DataPoint p;
    p.azimuth = az;
    return p;
}

FieldRange plain(double minimum, double maximum) {
    FieldRange r;
    r.minimum = minimum;
    r.maximum = maximum;
    return r;
}

} // namespace

TEST(ColourFields, TextsUnitsAndLegendTitles) {
    const char* expected[] = {"Intensity",
                              "Range",
                              "Elevation",
                              "Azimuth",
                              "Height",
                              "Reflectance",
                              "Pulse shape deviation",
                              "Time"};
    for (int i = 0; i < kColourFieldCount; ++i) {
        const auto field = static_cast<ColourField>(i);
        EXPECT_STREQ(fieldText(field), expected[i]);
        EXPECT_EQ(fieldFromText(expected[i]), field);
    }
    EXPECT_FALSE(fieldFromText("intensity"));
    EXPECT_EQ(legendTitle(ColourField::Range), "Range (mm)");
    EXPECT_EQ(legendTitle(ColourField::Height), "Height (mm)");
    EXPECT_EQ(legendTitle(ColourField::Azimuth), "Azimuth (\u00b0)");
    EXPECT_EQ(legendTitle(ColourField::Time), "Time (\u00b5s)");
    EXPECT_EQ(legendTitle(ColourField::Intensity), "Intensity");
    EXPECT_EQ(legendTitle(ColourField::PulseShapeDeviation), "Pulse shape deviation");
}

TEST(ColourFields, ReflectanceAndPulseShapeOnlyFromTheLX30) {
    for (const ColourField f : {ColourField::Reflectance, ColourField::PulseShapeDeviation}) {
        EXPECT_TRUE(measuredBy(f, LIDAR_LX30));
        EXPECT_FALSE(measuredBy(f, LIDAR_LX20));
        EXPECT_FALSE(measuredBy(f, LIDAR_GENERIC));
        EXPECT_TRUE(notMeasuredText(f, LIDAR_LX30).empty());
    }
    EXPECT_EQ(notMeasuredText(ColourField::Reflectance, LIDAR_LX20),
              "Reflectance: not measured by this model");
    for (int i = 0; i < kColourFieldCount; ++i) {
        const auto f = static_cast<ColourField>(i);
        if (f != ColourField::Reflectance && f != ColourField::PulseShapeDeviation) {
            EXPECT_TRUE(measuredBy(f, LIDAR_GENERIC)) << fieldText(f);
        }
    }
}

TEST(ColourMaps, EndsAndMiddleOfEachMap) {
    struct Expected {
        ColourMap map;
        Rgb low, middle, high;
    };
    // The published Viridis and Turbo values at 0, 128/255 and 1, rounded to bytes.
    const Expected maps[] = {
        {ColourMap::Viridis, {68, 1, 84}, {33, 145, 140}, {253, 231, 37}},
        {ColourMap::Turbo, {48, 18, 59}, {164, 252, 60}, {122, 4, 3}},
        {ColourMap::Greyscale, {0, 0, 0}, {128, 128, 128}, {255, 255, 255}},
        // The default red to blue ramp through hue: green in the middle.
        {ColourMap::MinMaxColours, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}},
    };
    for (const Expected& e : maps) {
        const PointColourer c(ColourField::Range, e.map, plain(1000.0, 3000.0));
        EXPECT_EQ(colourOf(c, withRange(1000.0f)), e.low) << mapText(e.map);
        EXPECT_EQ(colourOf(c, withRange(2000.0f)), e.middle) << mapText(e.map);
        EXPECT_EQ(colourOf(c, withRange(3000.0f)), e.high) << mapText(e.map);
        // Beyond the range: the colour of the nearer end.
        EXPECT_EQ(colourOf(c, withRange(-5.0f)), e.low) << mapText(e.map);
        EXPECT_EQ(colourOf(c, withRange(1e9f)), e.high) << mapText(e.map);
        EXPECT_EQ(colourOf(c, withRange(std::numeric_limits<float>::quiet_NaN())), e.low);
        EXPECT_EQ(mapFromText(mapText(e.map)), e.map);
    }
}

TEST(ColourMaps, IntensityOnMinMaxColoursIsTheIntensityScaleByteForByte) {
    const HsvColour low{0.1, 0.8, 0.9};
    const HsvColour high{0.9, 0.3, 0.5};
    for (const auto& r : {std::array<std::uint32_t, 2>{0, 65535}, {12, 300}, {1000, 1001}}) {
        FieldRange range = plain(r[0], r[1]);
        const PointColourer colourer(ColourField::Intensity, ColourMap::MinMaxColours, range, low,
                                     high);
        ScaleSettings s;
        s.minimum = r[0];
        s.maximum = r[1];
        s.minimumColour = low;
        s.maximumColour = high;
        const ColourTable table(s);
        std::vector<DataPoint> points;
        for (double v : {0.0, 11.0, 12.0, 12.5, 150.0, 299.9, 300.0, 1000.0, 1000.5, 1001.0,
                         40000.0, 65535.0, 70000.0}) {
            DataPoint p;
            p.intensity = static_cast<float>(v);
            points.push_back(p);
        }
        std::vector<std::uint8_t> rgb(points.size() * 3);
        colourer.colour(points.begin(), points.size(), rgb.data());
        for (std::size_t i = 0; i < points.size(); ++i) {
            const std::uint8_t* want = table.colour(points[i].intensity);
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(rgb[i * 3 + c], want[c])
                    << r[0] << ".." << r[1] << " at " << points[i].intensity;
            }
        }
    }
}

TEST(ColourMaps, ColoursABlockFromADequeAsPointByPoint) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> ranges(0.0f, 50000.0f);
    std::deque<DataPoint> points(1000);
    for (DataPoint& p : points) {
        p.range = ranges(random);
    }
    const PointColourer c(ColourField::Range, ColourMap::Turbo, plain(1000.0, 40000.0));
    std::vector<std::uint8_t> block(points.size() * 3);
    c.colour(points.begin(), points.size(), block.data());
    for (std::size_t i = 0; i < points.size(); ++i) {
        const Rgb one = colourOf(c, points[i]);
        ASSERT_EQ((Rgb{block[i * 3], block[i * 3 + 1], block[i * 3 + 2]}), one) << i;
    }
}

TEST(FieldRanges, PlainFieldsRunFromLowestToHighest) {
    std::vector<DataPoint> points(3);
    points[0].range = 500.0f;
    points[1].range = 2500.0f;
    points[2].range = std::numeric_limits<float>::quiet_NaN();
    points[0].z = -120.5;
    points[1].z = 800.25;
    points[0].elevation = -30.0f;
    points[2].elevation = 12.5f;
    points[1].reflectance = -7.0f;
    points[2].reflectance = 3.0f;

    const auto rangeOf = [&](ColourField f) {
        FieldRangeFinder finder(f);
        finder.add(points.begin(), points.end());
        return finder.range();
    };
    EXPECT_DOUBLE_EQ(rangeOf(ColourField::Range).minimum, 500.0);
    EXPECT_DOUBLE_EQ(rangeOf(ColourField::Range).maximum, 2500.0);
    EXPECT_DOUBLE_EQ(rangeOf(ColourField::Height).minimum, -120.5);
    EXPECT_DOUBLE_EQ(rangeOf(ColourField::Height).maximum, 800.25);
    EXPECT_DOUBLE_EQ(rangeOf(ColourField::Elevation).minimum, -30.0);
    EXPECT_DOUBLE_EQ(rangeOf(ColourField::Elevation).maximum, 12.5);
    EXPECT_DOUBLE_EQ(rangeOf(ColourField::Reflectance).minimum, -7.0);
    EXPECT_DOUBLE_EQ(rangeOf(ColourField::Reflectance).maximum, 3.0);
}

TEST(FieldRanges, OneValueOrNoneGivesAUnitAroundIt) {
    FieldRangeFinder empty(ColourField::Range);
    EXPECT_DOUBLE_EQ(empty.range().minimum, 0.0);
    EXPECT_DOUBLE_EQ(empty.range().maximum, 1.0);

    FieldRangeFinder one(ColourField::Range);
    one.add(withRange(42.0f));
    one.add(withRange(42.0f));
    EXPECT_DOUBLE_EQ(one.range().minimum, 41.5);
    EXPECT_DOUBLE_EQ(one.range().maximum, 42.5);
    const PointColourer c(ColourField::Range, ColourMap::Greyscale, one.range());
    EXPECT_EQ(colourOf(c, withRange(42.0f)), (Rgb{128, 128, 128}));
}

TEST(FieldRanges, IntensityAsTheIntensityScaleTakesIt) {
    FieldRangeFinder finder(ColourField::Intensity);
    DataPoint p;
    p.intensity = 12.7f;
    finder.add(p);
    p.intensity = 300.2f;
    finder.add(p);
    EXPECT_DOUBLE_EQ(finder.range().minimum, 12.0);
    EXPECT_DOUBLE_EQ(finder.range().maximum, 300.0);

    FieldRangeFinder flat(ColourField::Intensity);
    p.intensity = 77.0f;
    flat.add(p);
    EXPECT_DOUBLE_EQ(flat.range().minimum, 0.0);
    EXPECT_DOUBLE_EQ(flat.range().maximum, 65535.0);
    EXPECT_DOUBLE_EQ(FieldRangeFinder(ColourField::Intensity).range().maximum, 65535.0);
}

TEST(FieldRanges, TimeAcrossTheCounterWrap) {
    // The counter passes 4294967295 and goes on from 0; the last value arrives as 2^32 after
    // single precision.
    FieldRangeFinder finder(ColourField::Time);
    for (std::uint64_t t : {4294000000ull, 4294967296ull, 500ull, 900000ull}) {
        finder.add(withTime(t));
    }
    const FieldRange r = finder.range();
    EXPECT_EQ(r.firstTime, 4294000000u);
    EXPECT_EQ(r.lastTime, 900000u);

    // The oldest point takes the lowest colour, the newest the highest, the one just after the
    // wrap lies in between.
    const PointColourer c(ColourField::Time, ColourMap::Greyscale, r);
    EXPECT_EQ(colourOf(c, withTime(4294000000ull)), (Rgb{0, 0, 0}));
    EXPECT_EQ(colourOf(c, withTime(900000ull)), (Rgb{255, 255, 255}));
    const int wrapped = colourOf(c, withTime(500ull))[0];
    EXPECT_GT(wrapped, 130);
    EXPECT_LT(wrapped, 150);
    // Outside: the nearer end.
    EXPECT_EQ(colourOf(c, withTime(4293000000ull)), (Rgb{0, 0, 0}));
    EXPECT_EQ(colourOf(c, withTime(2000000ull)), (Rgb{255, 255, 255}));
}

TEST(FieldRanges, TimeWithoutWrapAndTimesBeyondTheCounter) {
    // The widest gap is the one across the wrap: no wrap.
    FieldRangeFinder counter(ColourField::Time);
    for (std::uint64_t t : {1000ull, 1000000000ull, 2000000000ull, 3000000000ull}) {
        counter.add(withTime(t));
    }
    EXPECT_EQ(counter.range().firstTime, 1000u);
    EXPECT_EQ(counter.range().lastTime, 3000000000u);
    // Here the widest gap lies between 1000 and 2000000000: the shorter stretch holding them
    // runs from 2000000000 across the wrap to 1000.
    FieldRangeFinder sparse(ColourField::Time);
    for (std::uint64_t t : {1000ull, 2000000000ull, 3000000000ull}) {
        sparse.add(withTime(t));
    }
    EXPECT_EQ(sparse.range().firstTime, 2000000000u);
    EXPECT_EQ(sparse.range().lastTime, 1000u);

    // A file's times beyond the counter: lowest to highest, exactly.
    FieldRangeFinder file(ColourField::Time);
    for (std::uint64_t t : {9000000000123ull, 9000000000001ull, 9000000005000ull}) {
        file.add(withTime(t));
    }
    EXPECT_EQ(file.range().firstTime, 9000000000001ull);
    EXPECT_EQ(file.range().lastTime, 9000000005000ull);
    const PointColourer c(ColourField::Time, ColourMap::Greyscale, file.range());
    EXPECT_EQ(colourOf(c, withTime(9000000000001ull)), (Rgb{0, 0, 0}));
    EXPECT_EQ(colourOf(c, withTime(9000000005000ull)), (Rgb{255, 255, 255}));
    EXPECT_EQ(colourOf(c, withTime(5ull)), (Rgb{0, 0, 0}));

    FieldRangeFinder one(ColourField::Time);
    one.add(withTime(77));
    const PointColourer middle(ColourField::Time, ColourMap::Greyscale, one.range());
    EXPECT_EQ(colourOf(middle, withTime(77)), (Rgb{128, 128, 128}));
}

TEST(FieldRanges, AzimuthTakesTheSmallestArc) {
    // Across +-180 (behind the device) the arc runs from 170 through 180 to -170.
    FieldRangeFinder behind(ColourField::Azimuth);
    for (float a : {170.0f, 179.0f, -179.5f, -170.0f}) {
        behind.add(withAzimuth(a));
    }
    EXPECT_NEAR(behind.range().minimum, 170.0, 1e-4);
    EXPECT_NEAR(behind.range().maximum, -170.0, 1e-4);
    const PointColourer c(ColourField::Azimuth, ColourMap::Greyscale, behind.range());
    EXPECT_EQ(colourOf(c, withAzimuth(170.0f)), (Rgb{0, 0, 0}));
    EXPECT_EQ(colourOf(c, withAzimuth(-170.0f)), (Rgb{255, 255, 255}));
    EXPECT_EQ(colourOf(c, withAzimuth(180.0f))[0], 128);

    FieldRangeFinder ahead(ColourField::Azimuth);
    for (float a : {-20.0f, 5.0f, 30.0f}) {
        ahead.add(withAzimuth(a));
    }
    EXPECT_NEAR(ahead.range().minimum, -20.0, 1e-4);
    EXPECT_NEAR(ahead.range().maximum, 30.0, 1e-4);

    // All round: the whole turn.
    FieldRangeFinder round(ColourField::Azimuth);
    for (int a = -180; a < 180; ++a) {
        for (int k = 0; k < 20; ++k) {
            round.add(withAzimuth(a + k * 0.05f));
        }
    }
    EXPECT_DOUBLE_EQ(round.range().minimum, -180.0);
    EXPECT_DOUBLE_EQ(round.range().maximum, 180.0);
}

TEST(ColourMaps, FilePointsWithoutAnglesByTheRangeAndAnglesOfTheirPosition) {
    DataPoint file;
    file.x = 3000.0;
    file.y = 4000.0;
    const PointColourer byRange(ColourField::Range, ColourMap::Greyscale, plain(0.0, 10000.0));
    EXPECT_EQ(colourOf(byRange, file), (Rgb{128, 128, 128}));

    DataPoint east;
    east.x = 1000.0;
    const PointColourer byAzimuth(ColourField::Azimuth, ColourMap::Greyscale, plain(0.0, 180.0));
    EXPECT_EQ(colourOf(byAzimuth, east), (Rgb{128, 128, 128}));
    FieldRangeFinder finder(ColourField::Range);
    finder.add(file);
    EXPECT_DOUBLE_EQ(finder.range().minimum, 4999.5);

    // The device itself, at the origin with range 0, stays at range 0.
    EXPECT_EQ(colourOf(byRange, DataPoint{}), (Rgb{0, 0, 0}));
}

TEST(ColourMaps, ASetAzimuthRangeGivenFrom0To360) {
    // 300 is -60: the arc from -60 up to -10.
    const PointColourer c(ColourField::Azimuth, ColourMap::Greyscale, plain(300.0, 350.0));
    EXPECT_EQ(colourOf(c, withAzimuth(-60.0f)), (Rgb{0, 0, 0}));
    EXPECT_EQ(colourOf(c, withAzimuth(-35.0f)), (Rgb{128, 128, 128}));
    EXPECT_EQ(colourOf(c, withAzimuth(-10.0f)), (Rgb{255, 255, 255}));
}

TEST(CircularArcs, AgreeWithTheLargestGapOfTheSortedValues) {
    std::mt19937 random(17);
    for (int round = 0; round < 300; ++round) {
        // Clusters of azimuths anywhere on the circle, so that some straddle zero.
        std::uniform_real_distribution<double> centre(0.0, 360.0);
        std::uniform_real_distribution<double> width(0.0, 60.0);
        std::uniform_int_distribution<int> clusters(1, 4);
        std::vector<double> values;
        AzimuthArc arc;
        const int k = clusters(random);
        for (int c = 0; c < k; ++c) {
            const double mid = centre(random);
            std::uniform_real_distribution<double> offset(-width(random), width(random) + 1e-9);
            for (int i = 0; i < 50; ++i) {
                const double v = mid + offset(random);
                arc.add(v);
                values.push_back(std::fmod(v + 720.0, 360.0));
            }
        }
        std::sort(values.begin(), values.end());
        double gap = values.front() + 360.0 - values.back();
        double start = values.front();
        for (std::size_t i = 1; i < values.size(); ++i) {
            if (values[i] - values[i - 1] > gap) {
                gap = values[i] - values[i - 1];
                start = values[i];
            }
        }
        const CircularArc::Arc a = arc.arc();
        ASSERT_GT(gap, 0.1) << round;
        EXPECT_NEAR(a.start, start, 1e-9) << round;
        EXPECT_NEAR(a.sweep, 360.0 - gap, 1e-9) << round;
    }
}

TEST(ColourFields, LegendEnds) {
    FieldRange r = plain(-35.004, 12.5);
    EXPECT_EQ(legendEnds(ColourField::Elevation, r).low, "-35.00");
    EXPECT_EQ(legendEnds(ColourField::Elevation, r).high, "12.50");
    r = plain(1200.4, 65535.0);
    EXPECT_EQ(legendEnds(ColourField::Range, r).low, "1200");
    EXPECT_EQ(legendEnds(ColourField::Intensity, r).high, "65535");
    // Time stamps beyond double precision's integers stay exact.
    r.firstTime = 18446744073709551557ull;
    r.lastTime = 4294967295ull;
    EXPECT_EQ(legendEnds(ColourField::Time, r).low, "18446744073709551557");
    EXPECT_EQ(legendEnds(ColourField::Time, r).high, "4294967295");
}
