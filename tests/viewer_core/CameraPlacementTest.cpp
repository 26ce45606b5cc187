#include "CameraPlacement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace viewer;

namespace {

Vec3 direction(const CameraPose& pose) {
    Vec3 d{pose.focalPoint[0] - pose.position[0], pose.focalPoint[1] - pose.position[1],
           pose.focalPoint[2] - pose.position[2]};
    const double l = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    return {d[0] / l, d[1] / l, d[2] / l};
}

void expectNear(const Vec3& a, const Vec3& b, const char* what) {
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(a[i], b[i], 1e-9) << what << " [" << i << "]";
    }
}

// The corners of a box beside the device.
SceneSample boxCorners(const Vec3& low, const Vec3& high) {
    SceneSample sample;
    for (int c = 0; c < 8; ++c) {
        sample.points.push_back(
            {(c & 1) ? high[0] : low[0], (c & 2) ? high[1] : low[1], (c & 4) ? high[2] : low[2]});
    }
    return sample;
}

const SceneSample kCloud = boxCorners({-2000.0, 1000.0, -500.0}, {6000.0, 9000.0, 1500.0});

double dotted(const Vec3& a, const Vec3& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

CameraBookmark bookmark(const std::string& name, double x) {
    CameraBookmark b;
    b.name = name;
    b.position = {x, 0.1, -1e-300};
    b.focalPoint = {1.0 / 3.0, 2e30, std::nextafter(1.0, 2.0)};
    b.viewUp = {0.0, -0.0, 1.0};
    b.viewAngle = 17.25;
    b.parallel = true;
    b.parallelScale = 1234.5678901234567;
    return b;
}

} // namespace

TEST(StandardViews, DirectionsAndUpOfEachView) {
    const StandardPlacement top = standardView(StandardView::Top, kCloud, 1.5);
    expectNear(direction(top.pose), {0.0, 0.0, -1.0}, "top looks down");
    expectNear(top.pose.viewUp, {0.0, 1.0, 0.0}, "top has +y up the screen");
    const StandardPlacement front = standardView(StandardView::Front, kCloud, 1.5);
    expectNear(direction(front.pose), {0.0, 1.0, 0.0}, "front looks along azimuth 0");
    expectNear(front.pose.viewUp, {0.0, 0.0, 1.0}, "front has z up");
    const StandardPlacement side = standardView(StandardView::Side, kCloud, 1.5);
    expectNear(direction(side.pose), {-1.0, 0.0, 0.0}, "side looks from azimuth 90");
    expectNear(side.pose.viewUp, {0.0, 0.0, 1.0}, "side has z up");
    // Each frames the cloud (with the device) from its centre, from outside it, at the default
    // angle.
    const Bounds bounds = sceneBounds(kCloud);
    for (const StandardPlacement& placed : {top, front, side}) {
        EXPECT_EQ(placed.viewAngle, kDefaultViewAngle);
        expectNear(placed.pose.focalPoint, bounds.centre(), "focal point");
        const Vec3& p = placed.pose.position;
        const bool outside = p[0] < bounds.min[0] || p[0] > bounds.max[0] || p[1] < bounds.min[1] ||
                             p[1] > bounds.max[1] || p[2] < bounds.min[2] || p[2] > bounds.max[2];
        EXPECT_TRUE(outside);
    }
}

TEST(StandardViews, FromTheDeviceHoldsEveryPointInFront) {
    for (double aspect : {1.0, 1.5, 5.0}) {
        // A wide cloud off to one side, and a point behind the device.
        SceneSample sample = boxCorners({-6000.0, 4000.0, -500.0}, {4000.0, 8000.0, 4000.0});
        sample.points.push_back({0.0, -5000.0, 0.0});
        const StandardPlacement placed = standardView(StandardView::FromDevice, sample, aspect);
        expectNear(placed.pose.position, {0.0, 0.0, 0.0}, "at the device");
        const Vec3 d = direction(placed.pose);
        const Vec3& up = placed.pose.viewUp;
        EXPECT_NEAR(dotted(d, up), 0.0, 1e-9);
        EXPECT_GT(up[2], 0.5);
        const Vec3 right{d[1] * up[2] - d[2] * up[1], d[2] * up[0] - d[0] * up[2],
                         d[0] * up[1] - d[1] * up[0]};
        const double tanHalf = std::tan(placed.viewAngle * 3.141592653589793 / 360.0);
        for (std::size_t i = 0; i + 1 < sample.points.size(); ++i) {
            const Vec3& p = sample.points[i];
            const double along = dotted(p, d);
            ASSERT_GT(along, 0.0) << i;
            EXPECT_LE(std::fabs(dotted(p, up)) / along, tanHalf) << i << " aspect " << aspect;
            EXPECT_LE(std::fabs(dotted(p, right)) / along, tanHalf * aspect)
                << i << " aspect " << aspect;
        }
    }

    // A cloud all round the device: ahead along azimuth 0.
    const SceneSample around = boxCorners({-1000.0, -1000.0, -1000.0}, {1000.0, 1000.0, 1000.0});
    const StandardPlacement centred = standardView(StandardView::FromDevice, around, 1.0);
    expectNear(centred.pose.position, {0.0, 0.0, 0.0}, "at the device");
    expectNear(direction(centred.pose), {0.0, 1.0, 0.0}, "along +y");
    // No points at all: still a camera with a direction.
    const StandardPlacement empty = standardView(StandardView::FromDevice, {}, 1.0);
    expectNear(direction(empty.pose), {0.0, 1.0, 0.0}, "along +y");
}

TEST(Bookmarks, EveryNumberReadsBackExactly) {
    const std::vector<CameraBookmark> saved{bookmark("Overview", 5.0),
                                            bookmark("Nord-Ost Ecke ä", -1e-7)};
    const std::vector<CameraBookmark> read = decodeBookmarks(encodeBookmarks(saved));
    ASSERT_EQ(read.size(), 2u);
    EXPECT_TRUE(read[0] == saved[0]);
    EXPECT_TRUE(read[1] == saved[1]);
    EXPECT_TRUE(std::signbit(read[0].viewUp[1]));
}

TEST(Bookmarks, NamesOnOneLineAndDamagedLinesSkipped) {
    EXPECT_EQ(bookmarkName("  two\nlines\tand tab  "), "two lines and tab");
    EXPECT_EQ(bookmarkName(" \n\t "), "");

    CameraBookmark typed = bookmark("\tcorner\n", 1.0);
    const std::string good = encodeBookmarks({typed});
    EXPECT_EQ(decodeBookmarks(good).front().name, "corner");

    const std::string text = "garbage\n"
                             "1 2 3 4 5 6 0 0 1 30 0 1\tshort of numbers\n"
                             "1 2 3 4 5 6 0 0 1 30 0 1 1 7\ttoo many\n"
                             "1 2 3 nan 5 6 0 0 1 30 0 1 1\tnot finite\n"
                             "1 2 3 1 2 3 0 0 1 30 0 1 1\tno direction\n"
                             "1 2 3 4 5 6 0 0 1 30 0 1 2\tlater version\n"
                             "1 2 3 4 5 6 0 0 1 30 0 1 1\t\n" +
                             good;
    const std::vector<CameraBookmark> read = decodeBookmarks(text);
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].name, "corner");
}

TEST(Bookmarks, SavedAgainUnderItsNameReplacesItInPlace) {
    std::vector<CameraBookmark> list;
    storeBookmark(list, bookmark("a", 1.0));
    storeBookmark(list, bookmark("b", 2.0));
    storeBookmark(list, bookmark("a", 3.0));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].name, "a");
    EXPECT_EQ(list[0].position[0], 3.0);
    ASSERT_NE(findBookmark(list, "b"), nullptr);
    EXPECT_EQ(findBookmark(list, "c"), nullptr);

    EXPECT_TRUE(removeBookmark(list, "a"));
    EXPECT_FALSE(removeBookmark(list, "a"));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].name, "b");
}
