// sentova convert of a 100,000,000-point binary PLY file to LAS and to PCD binary: its peak
// resident memory, read from the finished process, stays under 256 MiB whatever the file's size.
// Slow (minutes, 6 GB of files): left out of the default run.
#include "PointStream.h"
#include "ScratchFiles.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace formats;
namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kPoints = 100000000;

struct Finished {
    int status = -1;
    double peakMiB = 0.0;
};

Finished runTool(std::vector<std::string> args) {
    args.insert(args.begin(), SENTOVA_CLI_PROGRAM);
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    Finished f;
    int status = 0;
    struct rusage usage {};
    if (pid > 0 && ::wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status)) {
        f.status = WEXITSTATUS(status);
        f.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    }
    return f;
}

// Written a chunk at a time: this process holds no more of it than the tool may.
void writeLargePly(const fs::path& file) {
    WriteOptions options;
    options.fields = noFields();
    options.fields.x = options.fields.y = options.fields.z = options.fields.intensity = true;
    Extent extent;
    extent.count = kPoints;
    std::string error;
    std::unique_ptr<PointWriter> writer =
        createWriter(file.string(), Format::PlyBinary, options, extent, error);
    ASSERT_TRUE(writer) << error;
    std::vector<DataPoint> chunk(kChunkPoints);
    for (std::uint64_t done = 0; done < kPoints;) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(kChunkPoints, kPoints - done));
        for (std::size_t i = 0; i < n; ++i) {
            const double k = static_cast<double>(done + i);
            chunk[i].x = std::fmod(k * 0.001, 80.0) - 40.0;
            chunk[i].y = std::fmod(k * 0.0007, 60.0) - 30.0;
            chunk[i].z = std::fmod(k * 0.0003, 10.0);
            chunk[i].intensity = static_cast<float>((done + i) % 65536);
        }
        ASSERT_TRUE(writer->write(chunk.data(), n)) << writer->error();
        done += n;
    }
    const Outcome o = writer->finish();
    ASSERT_TRUE(o.ok) << o.error;
}

} // namespace

TEST(ConvertMemory, HundredMillionPointsInUnder256MiB) {
    testing_support::ScratchDir scratch{"convert_memory_test"};
    const fs::path input = scratch.path() / "large.ply";
    ASSERT_NO_FATAL_FAILURE(writeLargePly(input));

    const fs::path las = scratch.path() / "large.las";
    const Finished toLas = runTool({"convert", input.string(), las.string(), "-q"});
    EXPECT_EQ(toLas.status, 0);
    EXPECT_LT(toLas.peakMiB, 256.0);
    // The 375-byte header, then a 28-byte record per point.
    EXPECT_EQ(fs::file_size(las), 375 + 28 * kPoints);
    fs::remove(las);

    const fs::path pcd = scratch.path() / "large.pcd";
    const Finished toPcd =
        runTool({"convert", input.string(), pcd.string(), "--format", "pcd-binary", "-q"});
    EXPECT_EQ(toPcd.status, 0);
    EXPECT_LT(toPcd.peakMiB, 256.0);
    EXPECT_GT(fs::file_size(pcd), 16 * kPoints);
    std::printf("peak memory: to LAS %.1f MiB, to PCD binary %.1f MiB\n", toLas.peakMiB,
                toPcd.peakMiB);
}
