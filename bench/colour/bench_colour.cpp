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
#include "ColourField.h"
#include "ColourMap.h"
#include "ObservationPoint.h"
#include "PickCamera.h"
#include "PointIndex.h"

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

namespace {

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A region scan of a 20 m by 30 m room, 4 m high, from its middle: lines of rising elevation,
// azimuth sweeping 15 to 345 degrees, ranges to the walls with some noise.
std::deque<DataPoint> scan(std::size_t n) {
    std::mt19937 random(1);
    std::normal_distribution<double> noise(0.0, 5.0);
    std::uniform_real_distribution<double> amplitude(200.0, 60000.0);
    std::deque<DataPoint> points;
    const std::size_t perLine = std::max<std::size_t>(1, n / 500);
    std::uint64_t time = 4294967295ull - n / 2; // the counter wraps half way
    for (std::size_t i = 0; i < n; ++i) {
        const double az = 15.0 + 330.0 * static_cast<double>(i % perLine) / perLine;
        const double el = -35.0 + 70.0 * static_cast<double>((i / perLine) % 500) / 500.0;
        const double a = az * 3.141592653589793 / 180.0;
        const double e = el * 3.141592653589793 / 180.0;
        const double dx = std::fabs(std::sin(a) * std::cos(e));
        const double dy = std::fabs(std::cos(a) * std::cos(e));
        const double dz = std::sin(e);
        double range = std::min(dx > 0 ? 10000.0 / dx : 1e9, dy > 0 ? 15000.0 / dy : 1e9);
        range = std::min(range, dz > 0 ? 2500.0 / dz : (dz < 0 ? -1500.0 / dz : 1e9));
        points.push_back(formats::makeDataPoint(az, el, range + noise(random),
                                                (time + i * 40) & 0xffffffffu, amplitude(random),
                                                100.0, 3.0, LIDAR_LX30, false));
    }
    return points;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

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
    const std::deque<DataPoint> points = scan(n);

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
