// Recolouring the displayed cloud when the colouring changes: every held point drawn (budget as
// large as the buffer), ten million at most. Prints per buffer size, each beside the peer (the
// intensity table, as the display coloured before):
//   intensity   apply() after a change of the intensity scale's colours
//   <field>     apply() after setting a colourer of that field (Viridis), and drawnRange()
// Every apply runs on the GUI thread in one go: its time is the longest stall a recolour causes.
// Usage: bench_recolour [sizes...]   (default sizes 1000000 10000000)
#include "BenchTiming.h"
#include "ChunkedCloud.h"
#include "ColourMap.h"

#include <vtkProperty.h>
#include <vtkRenderer.h>
#include <vtkSmartPointer.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <random>

using namespace viewer;
using Clock = std::chrono::steady_clock;

namespace {

using bench::msSince;

void run(std::size_t n) {
    std::mt19937 random(1);
    std::uniform_real_distribution<double> coord(-10000.0, 10000.0);
    std::uniform_real_distribution<float> amplitude(0.0f, 60000.0f);
    std::deque<DataPoint> points;
    BufferLog log;
    for (std::size_t i = 0; i < n; ++i) {
        DataPoint p;
        p.x = coord(random);
        p.y = coord(random);
        p.z = coord(random) / 5.0;
        p.intensity = std::floor(amplitude(random));
        p.reflectance = amplitude(random) / 1000.0f;
        p.timestamp = i;
        appendBounded(points, p, static_cast<std::uint32_t>(n), log);
    }
    auto renderer = vtkSmartPointer<vtkRenderer>::New();
    auto property = vtkSmartPointer<vtkProperty>::New();
    ChunkedCloud cloud(renderer, property);
    cloud.capture(points, log, n);
    IntensityScale scale;
    std::uint32_t minimum = 0;
    std::uint32_t maximum = 60000;
    // Every apply until all drawn points have the current colours: the total, and the longest
    // one (the window's longest stall).
    const auto recolour = [&](const ColourTable& table, double& longest) {
        const auto start = Clock::now();
        longest = 0.0;
        while (cloud.needsApply(table, n)) {
            const auto one = Clock::now();
            cloud.apply(table, n);
            longest = std::max(longest, msSince(one));
        }
        return msSince(start);
    };
    double longest = 0.0;
    recolour(scale.update(minimum, maximum, kDefaultMinimumColour, kDefaultMaximumColour), longest);

    double peerLongest = 0.0;
    const double peer = recolour(
        scale.update(minimum, maximum, {0.1, 1.0, 1.0}, kDefaultMaximumColour), peerLongest);
    std::printf("%9zu points  %-16s %8.1f ms, longest apply %6.1f ms\n", n, "intensity table", peer,
                peerLongest);
    for (const ColourField field : {ColourField::Height, ColourField::Range,
                                    ColourField::Reflectance, ColourField::Azimuth}) {
        const auto start = Clock::now();
        const FieldRange range = cloud.drawnRange(field);
        const double rangeMs = msSince(start);
        cloud.setColourer(std::make_shared<const PointColourer>(field, ColourMap::Viridis, range));
        const double ms = recolour(scale.table(), longest);
        std::printf("%9zu points  %-16s %8.1f ms, longest apply %6.1f ms, range %6.1f ms "
                    "(peer %6.1f ms, longest %6.1f ms)\n",
                    n, fieldText(field), ms, longest, rangeMs, peer, peerLongest);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        run(1000000);
        run(10000000);
    }
    for (int i = 1; i < argc; ++i) {
        run(std::strtoull(argv[i], nullptr, 10));
    }
}
