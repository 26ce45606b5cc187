// Measures the display refresh with a full point buffer while data streams in: 3000 new points
// per 100 ms tick (30,000 points per second), each evicting the oldest. Prints, per buffer size:
//   rebuild-from-scratch  every point inserted anew and looked up in a fresh vtkLookupTable
//   stream tick           GUI-thread time of one refresh (lock section, range, array update)
//   lock held             the part of it spent holding the points lock
//   full rebuild          colour range changed (new table, every colour rewritten)
//   reload                buffer replaced (every point copied again)
//   render                one render of the scene, offscreen (with --render, needs a display)
// Usage: bench_display [--render] [sizes...]   (default sizes 100000 1000000 10000000)
#include "CloudDisplay.h"
#include "ObservationPoint.h"

#include <vtkActor.h>
#include <vtkCellArray.h>
#include <vtkLookupTable.h>
#include <vtkPointData.h>
#include <vtkPolyDataMapper.h>
#include <vtkRenderWindow.h>
#include <vtkRenderer.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

using namespace viewer;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Source {
    std::mt19937 rng{1};
    std::uniform_real_distribution<double> angle{-180, 180};
    std::uniform_real_distribution<double> range{1, 5000};
    std::uniform_int_distribution<int> amplitude{0, 65535};

    DataPoint next() {
        return formats::makeDataPoint(angle(rng), angle(rng) / 4, range(rng), 0, amplitude(rng), 0,
                                      0, LIDAR_LX30, false);
    }
};

// The rebuild the window would do without the incremental display.
double rebuildFromScratch(const std::deque<DataPoint>& points, std::uint32_t minimum,
                          std::uint32_t maximum) {
    const auto start = Clock::now();
    auto lut = vtkSmartPointer<vtkLookupTable>::New();
    lut->SetTableRange(minimum, maximum);
    lut->SetHueRange(0, 2.0 / 3.0);
    lut->SetNumberOfColors(maximum - minimum + 1);
    lut->SetNumberOfTableValues(maximum - minimum + 1);
    lut->ForceBuild();
    auto pts = vtkSmartPointer<vtkPoints>::New();
    auto verts = vtkSmartPointer<vtkCellArray>::New();
    auto colors = vtkSmartPointer<vtkUnsignedCharArray>::New();
    colors->SetNumberOfComponents(3);
    colors->SetName("Colors");
    for (const DataPoint& p : points) {
        const vtkIdType id = pts->InsertNextPoint(p.x, p.y, p.z);
        verts->InsertNextCell(1, &id);
        double rgb[3];
        lut->GetColor(p.intensity, rgb);
        const unsigned char c[3] = {static_cast<unsigned char>(255 * rgb[0]),
                                    static_cast<unsigned char>(255 * rgb[1]),
                                    static_cast<unsigned char>(255 * rgb[2])};
        colors->InsertNextTypedTuple(c);
    }
    auto polyData = vtkSmartPointer<vtkPolyData>::New();
    polyData->SetPoints(pts);
    polyData->SetVerts(verts);
    polyData->GetPointData()->SetScalars(colors);
    return msSince(start);
}

struct Scene {
    vtkSmartPointer<vtkRenderWindow> window;
    explicit Scene(vtkPolyData* polyData) {
        auto mapper = vtkSmartPointer<vtkPolyDataMapper>::New();
        mapper->SetInputData(polyData);
        auto actor = vtkSmartPointer<vtkActor>::New();
        actor->SetMapper(mapper);
        auto renderer = vtkSmartPointer<vtkRenderer>::New();
        renderer->AddActor(actor);
        window = vtkSmartPointer<vtkRenderWindow>::New();
        window->SetOffScreenRendering(1);
        window->SetSize(1024, 768);
        window->AddRenderer(renderer);
        renderer->ResetCamera();
    }
    double render() {
        const auto start = Clock::now();
        window->Render();
        return msSince(start);
    }
};

void run(std::size_t size, bool render) {
    Source source;
    std::deque<DataPoint> points;
    BufferLog log;
    for (std::size_t i = 0; i < size; ++i) {
        appendBounded(points, source.next(), static_cast<std::uint32_t>(size), log);
    }
    auto polyData = vtkSmartPointer<vtkPolyData>::New();
    CloudDisplay display;
    display.attachTo(polyData);
    IntensityScale scale;
    std::uint32_t minimum = 65535;
    std::uint32_t maximum = 0;

    const int scratchRuns = size >= 10000000 ? 1 : 3;
    std::vector<double> scratch;
    for (int i = 0; i < scratchRuns; ++i) {
        scratch.push_back(rebuildFromScratch(points, 0, 65535));
    }

    // One refresh as the window runs it; returns GUI-thread ms and the locked part.
    auto refresh = [&](double& lockedMs) {
        const auto start = Clock::now();
        display.capture(points, points.size(), log);
        lockedMs = msSince(start);
        display.automaticRange(minimum, maximum);
        display.apply(scale.update(minimum, maximum, kDefaultMinimumColour, kDefaultMaximumColour));
        polyData->Modified();
        return msSince(start);
    };

    double locked = 0;
    const double first = refresh(locked);
    std::unique_ptr<Scene> scene;
    std::vector<double> renders;
    if (render) {
        scene = std::make_unique<Scene>(polyData);
        scene->render();
    }

    std::vector<double> ticks;
    std::vector<double> locks;
    for (int tick = 0; tick < 20; ++tick) {
        for (int i = 0; i < 3000; ++i) {
            appendBounded(points, source.next(), static_cast<std::uint32_t>(size), log);
        }
        ticks.push_back(refresh(locked));
        locks.push_back(locked);
        if (scene) {
            renders.push_back(scene->render());
        }
    }

    // Colour range changed: a new table and every colour rewritten.
    std::vector<double> recolour;
    for (int i = 0; i < 3; ++i) {
        const auto start = Clock::now();
        std::uint32_t lo = 100 + i;
        std::uint32_t hi = 60000 - i;
        display.apply(scale.update(lo, hi, kDefaultMinimumColour, kDefaultMaximumColour));
        polyData->Modified();
        recolour.push_back(msSince(start));
    }

    // Buffer replaced (a load, "Reset scene" followed by data): every point copied again.
    std::vector<double> reload;
    std::vector<double> reloadLocks;
    for (int i = 0; i < 3; ++i) {
        log.generation++;
        reload.push_back(refresh(locked));
        reloadLocks.push_back(locked);
    }

    std::printf("%9zu points: rebuild-from-scratch %8.1f ms | first build %7.1f ms | "
                "stream tick %6.2f ms (lock held %5.2f ms) | full rebuild %6.1f ms | "
                "reload %6.1f ms (lock held %6.1f ms)",
                size, median(scratch), first, median(ticks), median(locks), median(recolour),
                median(reload), median(reloadLocks));
    if (!renders.empty()) {
        std::printf(" | render %7.1f ms", median(renders));
    }
    std::printf("\n");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    bool render = false;
    std::vector<std::size_t> sizes;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--render") == 0) {
            render = true;
        } else {
            sizes.push_back(std::strtoull(argv[i], nullptr, 10));
        }
    }
    if (sizes.empty()) {
        sizes = {100000, 1000000, 10000000};
    }
    for (std::size_t size : sizes) {
        run(size, render);
    }
    return 0;
}
