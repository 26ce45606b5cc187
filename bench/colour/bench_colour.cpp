// Colour by field and pick from the view, on a buffer of a synthetic region scan. Prints, per
// buffer size:
//   range        the automatic range of each field over the buffer
//   recolour     the whole buffer into display bytes per field and map, on one thread and split
//                over two; beside it the peer, vtkLookupTable's own look-up per point as the
//                display did it before (intensity, min/max colours)
//   index        building the pick index: copying the positions out of the buffer, and sorting
//                them into the grid
//   pick         the median and longest of 200 picks at random places of the view, 4 pixels of
//                tolerance; beside it the peer, projecting every point (5 picks)
// Usage: bench_colour [sizes...]   (default sizes 1000000 10000000)
#include "BenchTiming.h"
#include "ColourField.h"
#include "ColourMap.h"
#include "ObservationPoint.h"
#include "PickCamera.h"
#include "PointIndex.h"
#include "RoomScan.h"

#include <vtkLookupTable.h>
#include <vtkSmartPointer.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <random>
#include <thread>
#include <vector>

using namespace viewer;
using Clock = std::chrono::steady_clock;
using bench::median;
using bench::msSince;

namespace {

void colourTwoThreads(const PointColourer& c, const std::deque<DataPoint>& points,
                      std::vector<std::uint8_t>& rgb) {
    const std::size_t half = points.size() / 2;
    std::thread other([&] { c.colour(points.begin(), half, rgb.data()); });
    c.colour(points.begin() + static_cast<std::ptrdiff_t>(half), points.size() - half,
             rgb.data() + half * 3);
    other.join();
}

void run(std::size_t n) {
    std::printf("\n%zu points\n", n);
    // The counter wraps half way.
    const std::deque<DataPoint> points = bench::roomScan(n, 4294967295ull - n / 2);

    std::printf("  range (ms):");
    FieldRange ranges[kColourFieldCount];
    for (int f = 0; f < kColourFieldCount; ++f) {
        const auto field = static_cast<ColourField>(f);
        const auto start = Clock::now();
        FieldRangeFinder finder(field);
        finder.add(points.begin(), points.end());
        ranges[f] = finder.range();
        std::printf("  %s %.0f", fieldText(field), msSince(start));
    }
    std::printf("\n");

    std::vector<std::uint8_t> rgb(n * 3);
    std::printf("  recolour (ms, one thread / two threads):\n");
    for (const ColourField field :
         {ColourField::Intensity, ColourField::Range, ColourField::Azimuth, ColourField::Time}) {
        std::printf("    %-10s", fieldText(field));
        for (int m = 0; m < kColourMapCount; ++m) {
            const auto map = static_cast<ColourMap>(m);
            const PointColourer c(field, map, ranges[static_cast<int>(field)]);
            auto start = Clock::now();
            c.colour(points.begin(), n, rgb.data());
            const double one = msSince(start);
            start = Clock::now();
            colourTwoThreads(c, points, rgb);
            std::printf("  %s %.0f / %.0f", mapText(map), one, msSince(start));
        }
        std::printf("\n");
    }
    {
        // The peer: the lookup table's own colour look-up per point.
        const FieldRange& r = ranges[static_cast<int>(ColourField::Intensity)];
        auto lut = vtkSmartPointer<vtkLookupTable>::New();
        lut->SetTableRange(r.minimum, r.maximum);
        lut->SetHueRange(0.0, 2.0 / 3.0);
        lut->SetNumberOfColors(static_cast<vtkIdType>(r.maximum - r.minimum + 1));
        lut->SetNumberOfTableValues(static_cast<vtkIdType>(r.maximum - r.minimum + 1));
        lut->ForceBuild();
        const auto start = Clock::now();
        std::size_t i = 0;
        for (const DataPoint& p : points) {
            double c[3];
            lut->GetColor(p.intensity, c);
            for (int k = 0; k < 3; ++k) {
                rgb[i * 3 + k] = static_cast<std::uint8_t>(255.0 * c[k]);
            }
            ++i;
        }
        std::printf("    peer: vtkLookupTable::GetColor per point, intensity %.0f ms\n",
                    msSince(start));
    }

    // The copy is what the buffer's lock would be held for; the grid is built from the copy.
    auto start = Clock::now();
    std::vector<float> xyz;
    xyz.reserve(n * 3);
    for (const DataPoint& p : points) {
        xyz.insert(xyz.end(), {float(p.x), float(p.y), float(p.z)});
    }
    const double copy = msSince(start);
    start = Clock::now();
    const PointIndex index = PointIndex::fromPositions(std::move(xyz), 0);
    std::printf("  index: positions copied in %.0f ms, grid built in %.0f ms, %zu cells\n", copy,
                msSince(start), index.cellCount());

    // The default view: from behind the device and above, framing the room.
    PickCamera camera;
    camera.view = lookAt({0.0, -45000.0, 20000.0}, {0.0, 0.0, 0.0}, {0.0, 0.0, 1.0});
    camera.projection = perspective(30.0, 1000.0 / 700.0, 100.0, 200000.0);
    camera.width = 1000;
    camera.height = 700;
    std::mt19937 random(5);
    std::uniform_real_distribution<double> x(0.0, camera.width);
    std::uniform_real_distribution<double> y(0.0, camera.height);
    std::vector<double> times;
    int hits = 0;
    for (int k = 0; k < 200; ++k) {
        const double px = x(random);
        const double py = y(random);
        start = Clock::now();
        hits += index.pick(camera, px, py, 4.0).has_value() ? 1 : 0;
        times.push_back(msSince(start));
    }
    std::printf("  pick: median %.2f ms, longest %.2f ms (%d of 200 hit a point)\n", median(times),
                *std::max_element(times.begin(), times.end()), hits);

    const Matrix4 m = multiply(camera.projection, camera.view);
    times.clear();
    int peerHits = 0;
    for (int k = 0; k < 5; ++k) {
        const double px = x(random);
        const double py = y(random);
        start = Clock::now();
        double best = 2.0;
        for (const DataPoint& p : points) {
            double clip[4];
            for (int r = 0; r < 4; ++r) {
                clip[r] = m[r * 4] * p.x + m[r * 4 + 1] * p.y + m[r * 4 + 2] * p.z + m[r * 4 + 3];
            }
            if (clip[3] <= 0.0) {
                continue;
            }
            const double sx = (clip[0] / clip[3] + 1.0) * 0.5 * camera.width;
            const double sy = (clip[1] / clip[3] + 1.0) * 0.5 * camera.height;
            if (std::hypot(sx - px, sy - py) <= 4.0) {
                best = std::min(best, clip[2] / clip[3]);
            }
        }
        times.push_back(msSince(start));
        peerHits += best < 2.0 ? 1 : 0;
    }
    std::printf("    peer: projecting every point, median %.1f ms (%d of 5 hit a point)\n",
                median(times), peerHits);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::size_t> sizes;
    for (int i = 1; i < argc; ++i) {
        sizes.push_back(std::strtoull(argv[i], nullptr, 10));
    }
    if (sizes.empty()) {
        sizes = {1000000, 10000000};
    }
    for (const std::size_t n : sizes) {
        run(n);
    }
    return 0;
}
