// What one frame of points costs on this machine's OpenGL, for choosing how the viewer draws:
//   verts      one actor, vtkPolyDataMapper, a vertex cell per point (the viewer's first design)
//   gaussian   one actor, vtkPointGaussianMapper with scale factor 0 (plain points, no cells)
//   chunks/K   K actors sharing the points, vertex-free, one of them changed before each frame
//              (what streaming into chunked actors costs)
//   upload     the frame after every point changed (a full re-upload)
// Each figure is the median of several frames of a 1000x700 window, points 1 pixel, random
// positions in view, without multisampling unless asked (VTK's default is 8 samples).
// Usage: bench_render [--multisamples N] [points...]   (default 25000 100000 400000 1000000)
#include "BenchTiming.h"

#include <vtkActor.h>
#include <vtkCamera.h>
#include <vtkCellArray.h>
#include <vtkFloatArray.h>
#include <vtkPointData.h>
#include <vtkPointGaussianMapper.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkPolyDataMapper.h>
#include <vtkProperty.h>
#include <vtkRenderWindow.h>
#include <vtkRenderer.h>
#include <vtkSmartPointer.h>
#include <vtkUnsignedCharArray.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using bench::median;

using Clock = std::chrono::steady_clock;

vtkSmartPointer<vtkPolyData> randomCloud(std::size_t n, bool cells, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> coordinate(-1000.0f, 1000.0f);
    std::uniform_int_distribution<int> byte(0, 255);
    auto points = vtkSmartPointer<vtkPoints>::New();
    points->SetDataTypeToFloat();
    points->SetNumberOfPoints(static_cast<vtkIdType>(n));
    auto* xyz = static_cast<float*>(points->GetData()->GetVoidPointer(0));
    auto colours = vtkSmartPointer<vtkUnsignedCharArray>::New();
    colours->SetNumberOfComponents(3);
    colours->SetNumberOfTuples(static_cast<vtkIdType>(n));
    for (std::size_t i = 0; i < n; ++i) {
        for (int k = 0; k < 3; ++k) {
            xyz[i * 3 + k] = coordinate(rng);
            colours->SetValue(static_cast<vtkIdType>(i * 3 + k),
                              static_cast<unsigned char>(byte(rng)));
        }
    }
    auto cloud = vtkSmartPointer<vtkPolyData>::New();
    cloud->SetPoints(points);
    cloud->GetPointData()->SetScalars(colours);
    if (cells) {
        auto vertices = vtkSmartPointer<vtkCellArray>::New();
        vertices->AllocateExact(static_cast<vtkIdType>(n), static_cast<vtkIdType>(n));
        for (vtkIdType i = 0; i < static_cast<vtkIdType>(n); ++i) {
            vertices->InsertNextCell(1, &i);
        }
        cloud->SetVerts(vertices);
    }
    return cloud;
}

// VTK's default is 8 samples per pixel, which the software rasteriser pays for in every frame.
int g_multiSamples = 0;

class Scene {
public:
    Scene() {
        m_window->SetMultiSamples(g_multiSamples);
        m_renderer->GetActiveCamera()->SetPosition(0, -4000, 800);
        m_renderer->GetActiveCamera()->SetFocalPoint(0, 0, 0);
        m_window->SetOffScreenRendering(1);
        m_window->SetSize(1000, 700);
        m_window->AddRenderer(m_renderer);
    }

    void add(vtkPolyData* cloud, bool gaussian) {
        vtkSmartPointer<vtkMapper> mapper;
        if (gaussian) {
            auto g = vtkSmartPointer<vtkPointGaussianMapper>::New();
            g->SetScaleFactor(0.0);
            g->EmissiveOff();
            mapper = g;
        } else {
            mapper = vtkSmartPointer<vtkPolyDataMapper>::New();
        }
        mapper->SetInputDataObject(cloud);
        auto actor = vtkSmartPointer<vtkActor>::New();
        actor->SetMapper(mapper);
        actor->GetProperty()->SetPointSize(1);
        m_renderer->AddActor(actor);
    }

    double render() {
        const auto start = Clock::now();
        m_window->Render();
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }

    // Median of several frames, after one that uploads everything.
    double frames(const std::function<void()>& beforeEach = {}) {
        m_renderer->ResetCameraClippingRange();
        render();
        std::vector<double> times;
        for (int i = 0; i < 7; ++i) {
            if (beforeEach) {
                beforeEach();
            }
            times.push_back(render());
        }
        return median(times);
    }

private:
    vtkSmartPointer<vtkRenderer> m_renderer = vtkSmartPointer<vtkRenderer>::New();
    vtkSmartPointer<vtkRenderWindow> m_window = vtkSmartPointer<vtkRenderWindow>::New();
};

void run(std::size_t n) {
    double verts = 0;
    double gaussian = 0;
    double upload = 0;
    {
        Scene scene;
        auto cloud = randomCloud(n, true, 1);
        scene.add(cloud, false);
        verts = scene.frames();
    }
    {
        Scene scene;
        auto cloud = randomCloud(n, false, 1);
        scene.add(cloud, true);
        gaussian = scene.frames();
        upload = scene.frames([&] {
            cloud->GetPoints()->Modified();
            cloud->Modified();
        });
    }
    std::printf("%8zu points: verts %7.1f ms | gaussian %7.1f ms | gaussian, all re-uploaded "
                "%7.1f ms",
                n, verts, gaussian, upload);
    for (std::size_t k : {16, 64, 256}) {
        Scene scene;
        std::vector<vtkSmartPointer<vtkPolyData>> chunks;
        for (std::size_t c = 0; c < k; ++c) {
            chunks.push_back(randomCloud(n / k, false, static_cast<unsigned>(c + 2)));
            scene.add(chunks.back(), true);
        }
        std::size_t next = 0;
        const double t = scene.frames([&] {
            vtkPolyData* changed = chunks[next++ % k];
            changed->GetPoints()->Modified();
            changed->Modified();
        });
        std::printf(" | chunks/%zu %7.1f ms", k, t);
    }
    std::printf("\n");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::size_t> sizes;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--multisamples" && i + 1 < argc) {
            g_multiSamples = std::atoi(argv[++i]);
            continue;
        }
        sizes.push_back(std::strtoull(argv[i], nullptr, 10));
    }
    if (sizes.empty()) {
        sizes = {25000, 100000, 400000, 1000000};
    }
    {
        Scene empty;
        std::printf("%d samples per pixel; empty scene: %.1f ms per frame\n", g_multiSamples,
                    empty.frames());
    }
    for (std::size_t n : sizes) {
        run(n);
    }
    return 0;
}
