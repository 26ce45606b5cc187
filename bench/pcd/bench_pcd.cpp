// Saves and loads the same points with the viewer's PCD writer and loader and with PCL's ASCII
// writer and reader, and prints the times.
// Usage: bench_pcd [points] [directory]   (default 1000000 points in /tmp)
#include "PcdFile.h"

#include <pcl/io/pcd_io.h>
#include <pcl/point_types.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

using namespace formats;
using Clock = std::chrono::steady_clock;

namespace {

template <class F> double bestOf(int runs, F&& f) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        f();
        best =
            std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    const std::filesystem::path dir = argc > 2 ? argv[2] : "/tmp";
    const std::string ours = (dir / "bench_pcd_ours.pcd").string();
    const std::string ours4 = (dir / "bench_pcd_ours_xyzi.pcd").string();
    const std::string theirs = (dir / "bench_pcd_pcl.pcd").string();

    std::mt19937 rng(3);
    std::uniform_real_distribution<double> coord(-5000, 5000);
    std::uniform_int_distribution<int> amplitude(0, 65535);
    std::deque<DataPoint> points;
    pcl::PointCloud<pcl::PointXYZI> cloud;
    cloud.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        DataPoint p;
        p.x = coord(rng);
        p.y = coord(rng);
        p.z = coord(rng);
        p.intensity = amplitude(rng);
        p.reflectance = amplitude(rng) - 32768;
        p.pulseShapeDeviation = amplitude(rng) - 32768;
        p.timestamp = static_cast<double>(i * 40);
        points.push_back(p);
        pcl::PointXYZI q;
        q.x = static_cast<float>(p.x);
        q.y = static_cast<float>(p.y);
        q.z = static_cast<float>(p.z);
        q.intensity = static_cast<float>(p.intensity);
        cloud.push_back(q);
    }

    FieldSelection xyzi;
    xyzi.reflectance = xyzi.pulseShapeDeviation = xyzi.timestamp = false;

    std::string error;
    const double saveDefault =
        bestOf(3, [&] { error = savePcdFile(ours, points, FieldSelection{}, LIDAR_LX30); });
    const double saveXyzi =
        bestOf(3, [&] { error += savePcdFile(ours4, points, xyzi, LIDAR_LX30); });
    const double savePcl = bestOf(3, [&] { pcl::io::savePCDFileASCII(theirs, cloud); });
    if (!error.empty()) {
        std::fprintf(stderr, "save failed: %s\n", error.c_str());
        return 1;
    }

    std::size_t loadedCount = 0;
    const double loadOurs = bestOf(3, [&] { loadedCount = readPcdFile(ours4).points.size(); });
    const double loadOursDefault =
        bestOf(3, [&] { loadedCount = readPcdFile(ours).points.size(); });
    pcl::PointCloud<pcl::PointXYZI> back;
    const double loadPcl = bestOf(3, [&] { pcl::io::loadPCDFile(theirs, back); });
    const double loadPclOurs = bestOf(3, [&] { pcl::io::loadPCDFile(ours4, back); });

    const auto size = [](const std::string& f) {
        return static_cast<double>(std::filesystem::file_size(f)) / (1 << 20);
    };
    std::printf("%zu points\n", n);
    std::printf("save  ours, x y z amplitude (4 fields)            %8.1f ms  %6.1f MiB\n", saveXyzi,
                size(ours4));
    std::printf("save  ours, default LX30 selection (7 fields)     %8.1f ms  %6.1f MiB\n",
                saveDefault, size(ours));
    std::printf("save  PCL savePCDFileASCII, PointXYZI (4 fields)  %8.1f ms  %6.1f MiB\n", savePcl,
                size(theirs));
    std::printf("load  ours, 4-field file                          %8.1f ms  (%zu points)\n",
                loadOurs, loadedCount);
    std::printf("load  ours, 7-field file                          %8.1f ms\n", loadOursDefault);
    std::printf("load  PCL loadPCDFile<PointXYZI>, PCL's file      %8.1f ms\n", loadPcl);
    std::printf("load  PCL loadPCDFile<PointXYZI>, our 4-field file %7.1f ms\n", loadPclOurs);
    std::filesystem::remove(ours);
    std::filesystem::remove(ours4);
    std::filesystem::remove(theirs);
    return 0;
}
