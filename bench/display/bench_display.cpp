// The display refresh with a full point buffer while data streams in: 3000 new points per
// 100 ms tick (30,000 points per second), each evicting the oldest. Prints, per buffer size:
//   stream tick   GUI-thread time of one refresh (capture, range, drawing update), and the part
//                 spent holding the points lock
//   recolour      the refresh after the colour range changed (drawn points recoloured)
//   reload        the buffer replaced: refreshes until the display holds it all, the longest of
//                 them and the longest lock held
//   front left out the display modes: the refresh that leaves all but the newest 7% out (all
//                 points to the latest frame), and the refreshes that bring back the newest 34%
//                 (to the last few frames), the longest of them
//   frame         with --render: the frame budget settled on this machine's OpenGL (offscreen,
//                 1000x700, no multisampling): points drawn per frame and the frame's time,
//                 the longest tick (refresh and frame) while streaming, the actors drawn,
//                 beside a frame of the same points by one actor (what the actors cost) and
//                 a frame of every point
// Usage: bench_display [--render] [sizes...]   (default sizes 100000 1000000 10000000)
#include "BenchTiming.h"
#include "ChunkedCloud.h"
#include "FrameBudget.h"
#include "ObservationPoint.h"
#include "PointBuffer.h"

#include <vtkActor.h>
#include <vtkAppendPolyData.h>
#include <vtkCamera.h>
#include <vtkMapper.h>
#include <vtkPointGaussianMapper.h>
#include <vtkPolyData.h>
#include <vtkProperty.h>
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

using bench::median;
using bench::msSince;

constexpr std::size_t kCaptureLimit = 200000; // as the window

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

struct Window {
    vtkSmartPointer<vtkRenderer> renderer = vtkSmartPointer<vtkRenderer>::New();
    vtkSmartPointer<vtkRenderWindow> renderWindow = vtkSmartPointer<vtkRenderWindow>::New();
    vtkSmartPointer<vtkProperty> property = vtkSmartPointer<vtkProperty>::New();
    ChunkedCloud cloud{renderer, property};
    FrameBudget budget;
    std::deque<DataPoint> points;
    BufferLog log;
    IntensityScale scale;
    std::uint32_t minimum = 65535;
    std::uint32_t maximum = 0;
    bool render = false;
    std::size_t skip = 0;

    // One refresh as the window runs it; returns GUI-thread ms and the locked part.
    double refresh(double& lockedMs) {
        const auto start = Clock::now();
        cloud.capture(points, log, kCaptureLimit, skip);
        lockedMs = msSince(start);
        cloud.automaticRange(minimum, maximum);
        const ColourTable& table =
            scale.update(minimum, maximum, kDefaultMinimumColour, kDefaultMaximumColour);
        if (cloud.needsApply(table, budget.budget())) {
            cloud.apply(table, budget.budget());
        }
        return msSince(start);
    }

    double frame() {
        const auto start = Clock::now();
        renderWindow->Render();
        renderWindow->WaitForCompletion();
        const double ms = msSince(start);
        budget.frameRendered(cloud.drawnCount(), ms);
        return ms;
    }
};

// The frame of the same drawn points by one actor instead of the cloud's: what the actors
// themselves cost, beside the frame they drew.
double oneActorFrame(Window& w) {
    auto append = vtkSmartPointer<vtkAppendPolyData>::New();
    std::vector<vtkActor*> actors = w.cloud.actors();
    for (vtkActor* actor : actors) {
        if (actor->GetVisibility()) {
            append->AddInputData(vtkPolyData::SafeDownCast(actor->GetMapper()->GetInput()));
        }
    }
    append->Update();
    auto mapper = vtkSmartPointer<vtkPointGaussianMapper>::New();
    mapper->SetScaleFactor(0.0);
    mapper->SetInputData(append->GetOutput());
    auto one = vtkSmartPointer<vtkActor>::New();
    one->SetMapper(mapper);
    one->SetProperty(w.property);
    std::vector<int> visibility;
    for (vtkActor* actor : actors) {
        visibility.push_back(actor->GetVisibility());
        actor->VisibilityOff();
    }
    w.renderer->AddActor(one);
    std::vector<double> frames;
    for (int i = 0; i < 8; ++i) {
        frames.push_back(w.frame());
    }
    w.renderer->RemoveActor(one);
    for (std::size_t i = 0; i < actors.size(); ++i) {
        actors[i]->SetVisibility(visibility[i]);
    }
    return median(frames);
}

void run(std::size_t size, bool render) {
    Source source;
    Window w;
    if (render) {
        w.renderWindow->SetOffScreenRendering(1);
        w.renderWindow->SetMultiSamples(0);
        w.renderWindow->SetSize(1000, 700);
        w.renderWindow->AddRenderer(w.renderer);
        w.renderer->GetActiveCamera()->SetPosition(0, -12000, 3000);
        w.renderer->GetActiveCamera()->SetFocalPoint(0, 0, 0);
    }
    for (std::size_t i = 0; i < size; ++i) {
        appendBounded(w.points, source.next(), static_cast<std::uint32_t>(size), w.log);
    }

    // The first fill, as after a load: refreshes until everything is held.
    double locked = 0;
    std::vector<double> fillTicks;
    double fillLocked = 0;
    while (w.cloud.heldCount() < w.points.size() || fillTicks.empty()) {
        fillTicks.push_back(w.refresh(locked));
        fillLocked = std::max(fillLocked, locked);
    }
    if (render) {
        w.renderer->ResetCameraClippingRange();
    }

    std::vector<double> ticks;
    std::vector<double> locks;
    std::vector<double> frames;
    double longestTick = 0;
    for (int tick = 0; tick < 60; ++tick) {
        for (int i = 0; i < 3000; ++i) {
            appendBounded(w.points, source.next(), static_cast<std::uint32_t>(size), w.log);
        }
        ticks.push_back(w.refresh(locked));
        locks.push_back(locked);
        if (render) {
            frames.push_back(w.frame());
            // The first ticks belong to the budget still settling.
            if (tick >= 20) {
                longestTick = std::max(longestTick, ticks.back() + frames.back());
            }
        }
    }
    const std::size_t drawn = w.cloud.drawnCount();
    std::size_t visible = 0;
    for (vtkActor* actor : w.cloud.actors()) {
        visible += actor->GetVisibility() ? 1 : 0;
    }

    // Colour range changed: a new table, every drawn point recoloured.
    std::vector<double> recolour;
    for (int i = 0; i < 3; ++i) {
        const auto start = Clock::now();
        std::uint32_t lo = 100 + i;
        std::uint32_t hi = 60000 - i;
        w.cloud.apply(w.scale.update(lo, hi, kDefaultMinimumColour, kDefaultMaximumColour),
                      w.budget.budget());
        recolour.push_back(msSince(start));
    }

    // Buffer replaced: every point copied again, over several refreshes.
    w.log.generation++;
    std::vector<double> reload;
    double reloadLocked = 0;
    while (w.cloud.heldCount() < w.points.size() || reload.empty()) {
        reload.push_back(w.refresh(locked));
        reloadLocked = std::max(reloadLocked, locked);
    }

    // A display mode showing the newest 7% only, then the newest 34%.
    w.skip = w.points.size() - w.points.size() * 7 / 100;
    const double leaveOut = w.refresh(locked);
    w.skip = w.points.size() - w.points.size() * 34 / 100;
    std::vector<double> bringBack;
    while (w.cloud.heldCount() < w.points.size() - w.skip || bringBack.empty()) {
        bringBack.push_back(w.refresh(locked));
    }
    w.skip = 0;

    std::printf("%9zu points: stream tick %6.2f ms (lock held %5.2f ms) | recolour %6.1f ms | "
                "reload %zu refreshes, longest %6.1f ms (lock held %5.1f ms) | front left out "
                "%6.1f ms, back in %zu refreshes, longest %6.1f ms",
                size, median(ticks), median(locks), median(recolour), reload.size(),
                *std::max_element(reload.begin(), reload.end()), reloadLocked, leaveOut,
                bringBack.size(), *std::max_element(bringBack.begin(), bringBack.end()));
    if (render) {
        // Settled frames, then one frame of everything for comparison.
        std::vector<double> settled(frames.end() - 10, frames.end());
        std::printf(" | frame: %zu drawn (budget %zu) in %6.1f ms by %zu actors, longest tick "
                    "%6.1f ms",
                    drawn, w.budget.budget(), median(settled), visible, longestTick);
        std::printf(" (one actor: %6.1f ms)", oneActorFrame(w));
        w.cloud.apply(w.scale.table(), size);
        const double all = w.frame();
        std::printf(" (all %zu: %7.1f ms)", w.cloud.drawnCount(), all);
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
