// The region selection: the points inside a rectangle of the view found by walking the buffer a
// slice at a time (each slice one hold of the points lock), beside its peers, one pass over the
// whole buffer under a single hold, and the pick index built for the question and asked it.
// Prints the total time and the longest hold of the buffer for 1,000,000 and 10,000,000 points.
#include "BenchTiming.h"
#include "ObservationPoint.h"
#include "PickCamera.h"
#include "PointIndex.h"
#include "RectSelection.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <random>
#include <vector>

namespace {

using bench::msSince;

using namespace viewer;
using Clock = std::chrono::steady_clock;

// A room around the device: walls, floor and ceiling at a few metres.
std::deque<DataPoint> room(std::size_t n) {
    std::mt19937 random(3);
    std::uniform_real_distribution<double> az(0.0, 360.0);
    std::uniform_real_distribution<double> el(-35.0, 35.0);
    std::uniform_real_distribution<double> range(2000.0, 12000.0);
    std::deque<DataPoint> points;
    for (std::size_t i = 0; i < n; ++i) {
        points.push_back(formats::makeDataPoint(az(random), el(random), range(random), i, 100.0,
                                                0.0, 0.0, LIDAR_GENERIC, false));
    }
    return points;
}

void run(std::size_t n) {
    std::printf("%zu points\n", n);
    const std::deque<DataPoint> points = room(n);
    BufferLog log;
    log.appended = n;

    // The default view from behind the device and above; a rectangle over the middle quarter.
    PickCamera camera;
    camera.view = lookAt({0.0, -30000.0, 15000.0}, {0.0, 0.0, 0.0}, {0.0, 0.0, 1.0});
    camera.projection = perspective(30.0, 1000.0 / 700.0, 100.0, 200000.0);
    camera.width = 1000;
    camera.height = 700;
    const ScreenRect rect{250.0, 175.0, 750.0, 525.0};

    for (std::size_t slice : {std::size_t(16384), n}) {
        double best = 1e300;
        double longest = 0.0;
        double typical = 0.0;
        std::size_t selected = 0;
        RegionBounds bounds;
        for (int run = 0; run < 3; ++run) {
            const auto start = Clock::now();
            SelectionWalk walk(RectFrustum(camera, rect), 0, n, log.generation);
            std::vector<double> holds;
            SelectionWalk::Step step = SelectionWalk::Step::More;
            while (step == SelectionWalk::Step::More) {
                const auto held = Clock::now();
                step = walk.step(points, log, n, slice);
                holds.push_back(msSince(held));
            }
            bounds = walk.region().bounds({});
            const double total = msSince(start);
            if (total < best) {
                best = total;
                std::sort(holds.begin(), holds.end());
                longest = holds.back();
                typical = holds[holds.size() / 2];
            }
            selected = walk.selected().size();
        }
        std::printf("  %s: %.0f ms in all, hold of the buffer median %.1f ms, longest %.1f ms "
                    "(%zu selected, azimuth %.2f to %.2f, elevation %.2f to %.2f)\n",
                    slice == n ? "    peer: one pass under one hold" : "walk in slices of 16384",
                    best, typical, longest, selected, bounds.azMin, bounds.azMax, bounds.elMin,
                    bounds.elMax);
    }

    double best = 1e300;
    double copy = 0.0;
    std::size_t selected = 0;
    for (int run = 0; run < 3; ++run) {
        auto start = Clock::now();
        std::vector<float> xyz;
        xyz.reserve(n * 3);
        for (const DataPoint& p : points) {
            xyz.insert(xyz.end(), {float(p.x), float(p.y), float(p.z)});
        }
        const double copied = msSince(start);
        const PointIndex index = PointIndex::fromPositions(std::move(xyz), 0);
        std::size_t count = 0;
        RegionFinder finder;
        index.select(camera, rect, [&](std::uint64_t, const float* p) {
            finder.add(p[0], p[1], p[2]);
            ++count;
        });
        const double total = msSince(start);
        if (total < best) {
            best = total;
            copy = copied;
        }
        selected = count;
    }
    std::printf("      peer: index built and asked, %.0f ms in all, the copy of the positions "
                "(one hold) %.0f ms (%zu selected)\n",
                best, copy, selected);
}

} // namespace

int main() {
    for (std::size_t n : {std::size_t(1000000), std::size_t(10000000)}) {
        run(n);
    }
    return 0;
}
