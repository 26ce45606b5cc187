#include "IntensityScale.h"

#include <vtkLookupTable.h>
#include <vtkSmartPointer.h>

#include <QColor>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using namespace viewer;

namespace {

HsvColour hsv(const QColor& c) {
    return {c.hueF(), c.saturationF(), c.valueF()};
}

// The table as the window's refresh builds it: one vtkLookupTable per rebuild, looked up per
// point, each fraction turned into a byte as int(255 * fraction).
struct Reference {
    vtkSmartPointer<vtkLookupTable> lut = vtkSmartPointer<vtkLookupTable>::New();

    Reference(std::uint32_t minimum, std::uint32_t maximum, const HsvColour& low,
              const HsvColour& high) {
        lut->SetTableRange(minimum, maximum);
        lut->SetHueRange(low.hue, high.hue);
        lut->SetSaturationRange(low.saturation, high.saturation);
        lut->SetValueRange(low.value, high.value);
        lut->SetNumberOfColors(maximum - minimum + 1);
        lut->SetNumberOfTableValues(maximum - minimum + 1);
        lut->ForceBuild();
    }

    void expectSame(const ColourTable& table, double intensity) {
        double rgb[3];
        lut->GetColor(intensity, rgb);
        const std::uint8_t* mine = table.colour(intensity);
        for (int c = 0; c < 3; ++c) {
            ASSERT_EQ(static_cast<int>(mine[c]), static_cast<int>(255 * rgb[c]))
                << "intensity " << intensity << " component " << c;
        }
    }
};

ColourTable makeTable(std::uint32_t minimum, std::uint32_t maximum, const HsvColour& low,
                      const HsvColour& high) {
    ScaleSettings s;
    s.minimum = minimum;
    s.maximum = maximum;
    s.minimumColour = low;
    s.maximumColour = high;
    return ColourTable(s);
}

} // namespace

TEST(ColourTable, DefaultColoursMatchTheLookupTableEverywhere) {
    const ColourTable table = makeTable(0, 65535, kDefaultMinimumColour, kDefaultMaximumColour);
    EXPECT_EQ(table.size(), 65536u);
    Reference ref(0, 65535, kDefaultMinimumColour, kDefaultMaximumColour);
    for (int v = 0; v <= 65535; ++v) {
        ref.expectSame(table, v);
        ref.expectSame(table, v + 0.5);
    }
    // Ends: red at the minimum, blue at the maximum, clamped beyond them.
    EXPECT_EQ(table.colour(0)[0], 255);
    EXPECT_EQ(table.colour(0)[2], 0);
    EXPECT_EQ(table.colour(65535)[2], 255);
    EXPECT_EQ(table.colour(65535)[0], 0);
    for (double v : {-1.0, -1e9, 65536.0, 1e12, std::numeric_limits<double>::infinity(),
                     -std::numeric_limits<double>::infinity(), std::nan("")}) {
        ref.expectSame(table, v);
    }
}

TEST(ColourTable, QtColoursIncludingGreysMatchTheLookupTable) {
    const QColor red = QColor::fromRgbF(1, 0, 0);
    const QColor blue = QColor::fromRgbF(0, 0, 1);
    ASSERT_EQ(hsv(red), kDefaultMinimumColour);
    ASSERT_EQ(hsv(blue), kDefaultMaximumColour);

    const QColor grey(128, 128, 128);
    EXPECT_EQ(grey.hueF(), -1.0);
    const std::pair<QColor, QColor> pairs[] = {{grey, blue},
                                               {Qt::white, Qt::black},
                                               {QColor(200, 30, 90), Qt::white},
                                               {QColor(10, 250, 100), QColor(250, 200, 0)}};
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> any(-50, 1200);
    for (const auto& [low, high] : pairs) {
        for (auto [minimum, maximum] :
             {std::pair<std::uint32_t, std::uint32_t>{0, 65535}, {100, 1000}, {7, 8}}) {
            const ColourTable table = makeTable(minimum, maximum, hsv(low), hsv(high));
            Reference ref(minimum, maximum, hsv(low), hsv(high));
            for (std::uint32_t v = minimum; v <= std::min<std::uint32_t>(maximum, 5000); ++v) {
                ref.expectSame(table, v);
            }
            for (int i = 0; i < 2000; ++i) {
                ref.expectSame(table, any(rng));
            }
        }
    }
}

TEST(ColourTable, RangeResetAndScaleCache) {
    std::uint32_t minimum = 300;
    std::uint32_t maximum = 300;
    EXPECT_TRUE(normaliseIntensityRange(minimum, maximum));
    EXPECT_EQ(minimum, 0u);
    EXPECT_EQ(maximum, 65535u);
    minimum = 500;
    maximum = 20;
    EXPECT_TRUE(normaliseIntensityRange(minimum, maximum));
    EXPECT_EQ(maximum, 65535u);
    minimum = 1;
    maximum = 2;
    EXPECT_FALSE(normaliseIntensityRange(minimum, maximum));

    IntensityScale scale;
    minimum = 40;
    maximum = 40;
    const ColourTable& t =
        scale.update(minimum, maximum, kDefaultMinimumColour, kDefaultMaximumColour);
    EXPECT_EQ(minimum, 0u);
    EXPECT_EQ(maximum, 65535u);
    EXPECT_EQ(t.size(), 65536u);

    minimum = 10;
    maximum = 20;
    const ColourTable& small =
        scale.update(minimum, maximum, kDefaultMinimumColour, kDefaultMaximumColour);
    EXPECT_EQ(small.size(), 11u);
    Reference ref(10, 20, kDefaultMinimumColour, kDefaultMaximumColour);
    for (double v = 0; v < 30; v += 0.25) {
        ref.expectSame(small, v);
    }
}

TEST(ColourTable, FileIntensitiesBeyondDeviceRangeGetABoundedTable) {
    const ColourTable huge =
        makeTable(0, 4294967295u, kDefaultMinimumColour, kDefaultMaximumColour);
    EXPECT_EQ(huge.size(), kMaximumTableEntries);
    // The same settings with the bounded number of entries give the same colours in VTK.
    auto lut = vtkSmartPointer<vtkLookupTable>::New();
    lut->SetTableRange(0, 4294967295.0);
    lut->SetHueRange(0, 2.0 / 3.0);
    lut->SetNumberOfTableValues(kMaximumTableEntries);
    lut->ForceBuild();
    for (double v : {0.0, 1.0, 65536.0, 1e6, 2e9, 4294967295.0, 5e9}) {
        double rgb[3];
        lut->GetColor(v, rgb);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(huge.colour(v)[c], static_cast<int>(255 * rgb[c])) << v;
        }
    }
    // Just above the device range the table is still one entry per unit.
    const ColourTable wide = makeTable(0, 65536, kDefaultMinimumColour, kDefaultMaximumColour);
    EXPECT_EQ(wide.size(), kMaximumTableEntries);
    const ColourTable device = makeTable(1, 65535, kDefaultMinimumColour, kDefaultMaximumColour);
    EXPECT_EQ(device.size(), 65535u);
}
