// convert_bench: `sentova convert` of a binary PLY file of x, y, z and amplitude to PLY, LAS and
// PCD binary, each a child process timed from its start to its exit, with its peak resident
// memory from getrusage; beside it, in the same run, CloudCompare loading the same file and
// saving it as PLY (under xvfb-run, whose X server start-up it then includes).
#include "PointStream.h"
#include "StreamPoints.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Run {
    bool ok = false;
    double seconds = 0.0;
    double peakMiB = 0.0; // the largest of the process and the children it waited for
    int status = -1;
};

Run runChild(const std::vector<std::string>& command) {
    std::vector<char*> argv;
    for (const std::string& a : command) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    Run run;
    std::fflush(stdout);
    const Clock::time_point start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // The children's chatter is not ours to print; a failure shows in the table.
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        ::execvp(argv[0], argv.data());
        std::_Exit(127);
    }
    if (pid < 0) {
        return run;
    }
    int status = 0;
    struct rusage usage {};
    if (::wait4(pid, &status, 0, &usage) != pid) {
        return run;
    }
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// The file written a chunk at a time, so that its size is not bounded by this process's memory.
bool writeInput(const fs::path& file, std::size_t n) {
    formats::WriteOptions options;
    options.fields = formats::noFields();
    options.fields.x = options.fields.y = options.fields.z = options.fields.intensity = true;
    formats::Extent extent;
    extent.count = n;
    std::string error;
    std::unique_ptr<formats::PointWriter> writer =
        formats::createWriter(file.string(), formats::Format::PlyBinary, options, extent, error);
    if (!writer) {
        std::fprintf(stderr, "convert_bench: %s: %s\n", file.c_str(), error.c_str());
        return false;
    }
    bench::PointStream stream;
    std::vector<DataPoint> chunk;
    for (std::size_t done = 0; done < n;) {
        chunk.clear();
        while (chunk.size() < formats::kChunkPoints && done < n) {
            chunk.push_back(stream.next());
            ++done;
        }
        writer->write(chunk.data(), chunk.size());
    }
    const formats::Outcome o = writer->finish();
    if (!o.ok) {
        std::fprintf(stderr, "convert_bench: %s: %s\n", file.c_str(), o.error.c_str());
    }
    return o.ok;
}

void print(const char* what, const Run& r, std::size_t n) {
    if (!r.ok) {
        std::printf("%-34s failed (exit status %d)\n", what, r.status);
        return;
    }
    std::printf("%-34s %9.2f %12.1f %12.2f\n", what, r.seconds, r.peakMiB, n / r.seconds / 1e6);
}

void usage(const char* program, std::FILE* to) {
    std::fprintf(
        to,
        "usage: %s [points] [directory] [--no-peer]\n"
        "Writes a binary PLY file of the points (default 10000000; x, y, z, amplitude) in\n"
        "the directory (default /tmp), converts it with sentova convert to PLY, LAS and\n"
        "PCD binary, and loads and saves it with CloudCompare under xvfb-run unless\n"
        "--no-peer; prints the wall times and the peak resident memory of each.\n",
        program);
}

} // namespace

int main(int argc, char** argv) {
    std::size_t n = 10000000;
    fs::path dir = "/tmp";
    bool peer = true;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            usage(argv[0], stdout);
            return 0;
        }
        if (a == "--no-peer") {
            peer = false;
        } else if (positional == 0 && !a.empty() && a[0] != '-') {
            char* end = nullptr;
            n = std::strtoull(a.c_str(), &end, 10);
            if (*end != '\0' || n == 0) {
                usage(argv[0], stderr);
                return 2;
            }
            ++positional;
        } else if (positional == 1 && !a.empty() && a[0] != '-') {
            dir = a;
            ++positional;
        } else {
            usage(argv[0], stderr);
            return 2;
        }
    }
    const fs::path input = dir / "convert_bench.ply";
    if (!writeInput(input, n)) {
        return 1;
    }
    std::printf("%zu points, binary PLY x y z amplitude, %.1f MB\n", n,
                static_cast<double>(fs::file_size(input)) / 1e6);
    std::printf("%-34s %9s %12s %12s\n", "", "wall s", "peak MiB", "Mpt/s");

    const std::string cli = SENTOVA_CLI_PROGRAM;
    struct Target {
        const char* label;
        const char* name;
    };
    const Target targets[] = {{"sentova convert to PLY binary", "out.ply"},
                              {"sentova convert to LAS", "out.las"},
                              {"sentova convert to PCD binary", "out.pcd"}};
    Run toPly;
    for (const Target& t : targets) {
        const fs::path out = dir / (std::string("convert_bench_") + t.name);
        std::vector<std::string> command = {cli,          "convert", input.string(),
                                            out.string(), "--force", "-q"};
        if (std::strcmp(t.name, "out.pcd") == 0) {
            command.insert(command.end(), {"--format", "pcd-binary"});
        }
        const Run r = runChild(command);
        print(t.label, r, n);
        if (&t == &targets[0]) {
            toPly = r;
        }
        fs::remove(out);
    }
    if (peer) {
        const fs::path out = dir / "convert_bench_cc.ply";
        Run cc = runChild({"xvfb-run", "-a", "CloudCompare", "-SILENT", "-NO_TIMESTAMP", "-O",
                           input.string(), "-C_EXPORT_FMT", "PLY", "-PLY_EXPORT_FMT", "BINARY_LE",
                           "-SAVE_CLOUDS", "FILE", out.string()});
        cc.ok = cc.ok && fs::exists(out) && fs::file_size(out) > 0;
        print("CloudCompare load + save (PLY)", cc, n);
        if (cc.ok && toPly.ok) {
            std::printf("sentova convert / CloudCompare: %.2fx the wall time, %.2fx the memory\n",
                        toPly.seconds / cc.seconds, toPly.peakMiB / cc.peakMiB);
        }
        fs::remove(out);
    }
    fs::remove(input);
    return 0;
}
