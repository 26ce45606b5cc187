// Writes and reads the same points in every format of the formats module, and with PCL's own
// PCD and PLY functions on a cloud of the same columns, and prints the times; PCL also reads our
// PCD binary and binary_compressed files, beside our read of them, and our readers run alone,
// chunk by chunk, show what gathering the points into one set costs. The binary formats are also
// written from and read into one block of points (PointArray), the store without a deque's
// per-block allocations: a fresh block, and the block of the read before, already in memory.
// Every figure has its processor seconds beside its wall seconds, and the load average is printed
// before and after: the machine may be shared. With --writes, only the binary formats' writes
// from one block, three runs each beside PCL's writes of the same columns, each run with the load
// average at its end. Rows of the machine's own time for the same bytes (reading the points,
// writing a file, faulting in a fresh block) stand beside ours.
#include "Formats.h"
#include "PointStream.h"
#include "StreamPoints.h"

#include <pcl/PCLPointCloud2.h>
#include <pcl/console/print.h>
#include <pcl/io/pcd_io.h>
#include <pcl/io/ply_io.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Wall and processor seconds (every thread's, user and system): the machine is shared, and the
// processor time shows the work whatever the others do.
struct Timing {
    double wall = 0.0;
    double cpu = 0.0;
};

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

Timing timed(const std::function<void()>& work) {
    const double cpu = cpuSeconds();
    const Clock::time_point start = Clock::now();
    work();
    return {std::chrono::duration<double>(Clock::now() - start).count(), cpuSeconds() - cpu};
}

const char* loadAverage() {
    static char line[128];
    std::snprintf(line, sizeof line, "?");
    if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fgets(line, sizeof line, f) != nullptr) {
            line[std::strcspn(line, "\n")] = '\0';
        }
        std::fclose(f);
    }
    return line;
}

void printLoad(const char* when) {
    std::printf("load average %s: %s\n", when, loadAverage());
}

// The same columns as our default LX30 selection, as PCL holds them: seven of four bytes.
constexpr std::size_t kPclPointStep = 28;

pcl::PCLPointCloud2 toCloud(const std::deque<DataPoint>& points) {
    pcl::PCLPointCloud2 cloud;
    const char* names[] = {"x",        "y", "z", "amplitude", "reflectance", "pulseShapeDeviation",
                           "timestamp"};
    for (int i = 0; i < 7; ++i) {
        pcl::PCLPointField f;
        f.name = names[i];
        f.offset = 4 * i;
        f.datatype = i == 6 ? pcl::PCLPointField::UINT32 : pcl::PCLPointField::FLOAT32;
        f.count = 1;
        cloud.fields.push_back(f);
    }
    cloud.point_step = kPclPointStep;
    cloud.width = static_cast<std::uint32_t>(points.size());
    cloud.height = 1;
    cloud.row_step = cloud.point_step * cloud.width;
    cloud.is_dense = true;
    cloud.data.resize(std::size_t{cloud.row_step});
    std::uint8_t* out = cloud.data.data();
    for (const DataPoint& p : points) {
        const float v[6] = {float(p.x),         float(p.y),           float(p.z),
                            float(p.intensity), float(p.reflectance), float(p.pulseShapeDeviation)};
        std::memcpy(out, v, 24);
        const std::uint32_t t = formats::timestampU4(p.timestamp);
        std::memcpy(out + 24, &t, 4);
        out += 28;
    }
    return cloud;
}

void row(const char* what, Timing write, Timing read, const fs::path& file, std::size_t n,
         std::size_t readBack) {
    const double mb = static_cast<double>(fs::file_size(file)) / 1e6;
    std::printf("%-44s %7.2f %7.2f %7.2f %7.2f %8.1f %8.2f %8.2f%s\n", what, write.wall, write.cpu,
                read.wall, read.cpu, mb, n / write.wall / 1e6, n / read.wall / 1e6,
                readBack == n ? "" : "  (point count differs)");
    fs::remove(file);
}

// A read alone, without a write: its figures in the read columns.
void readRow(const char* what, Timing read, std::size_t n) {
    std::printf("%-44s %7s %7s %7.2f %7.2f %8s %8s %8.2f\n", what, "", "", read.wall, read.cpu, "",
                "", n / read.wall / 1e6);
}

// What the machine itself takes for a write's or a read's bytes, timed in the same run as the
// formats: on a shared virtual machine the memory's speed changes from day to day by half, and a
// format's figure beside these shows how much of its time is its own.
namespace machine {

// One pass reading every byte of a block, as an encoder reads its points.
Timing readPass(const void* data, std::size_t bytes) {
    volatile std::uint64_t sink = 0;
    const Timing t = timed([&] {
        const auto* words = static_cast<const std::uint64_t*>(data);
        std::uint64_t sum = 0;
        for (std::size_t i = 0; i < bytes / 8; ++i) {
            sum += words[i];
        }
        sink = sum;
    });
    (void)sink;
    return t;
}

// A fresh file of this many bytes written in 1 MB blocks, as the writers hand theirs over; none
// when the file cannot be written.
std::optional<Timing> writeFile(const fs::path& file, std::uintmax_t bytes) {
    fs::remove(file);
    const std::vector<char> block(1 << 20, 1);
    std::uintmax_t left = bytes;
    const Timing t = timed([&] {
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        while (fd >= 0 && left > 0) {
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uintmax_t>(left, block.size()));
            const ssize_t put = ::write(fd, block.data(), n);
            if (put <= 0) {
                break;
            }
            left -= static_cast<std::uintmax_t>(put);
        }
        if (fd < 0 || ::close(fd) != 0) {
            left = bytes;
        }
    });
    fs::remove(file);
    return left == 0 ? std::optional<Timing>(t) : std::nullopt;
}

// A fresh block of this many bytes faulted in, one write a page, as a read's stores fault it in.
Timing faultIn(std::size_t bytes) {
    void* at = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (at == MAP_FAILED) {
        return {};
    }
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const Timing t = timed([&] {
        auto* bytesAt = static_cast<volatile char*>(at);
        for (std::size_t i = 0; i < bytes; i += page) {
            bytesAt[i] = 1;
        }
    });
    ::munmap(at, bytes);
    return t;
}

} // namespace machine

void usage(const char* program, std::FILE* to) {
    std::fprintf(to,
                 "usage: %s [--binary | --writes] [points] [directory]\n"
                 "Writes and reads the points (default 10000000) in every format of the formats\n"
                 "module, then with PCL's PCD and PLY writers and readers, in the directory\n"
                 "(default /tmp), and prints the times, the file sizes and the rates.\n"
                 "--binary: the binary formats only, ours and PCL's.\n"
                 "--writes: the binary formats' writes from one block only, three runs each,\n"
                 "beside PCL's binary writes, each run followed by the machine's own time\n"
                 "for the same bytes (reading the points, writing the file).\n",
                 program);
}

bool isBinary(formats::Format f) {
    return f == formats::Format::PcdBinary || f == formats::Format::PcdBinaryCompressed ||
           f == formats::Format::PlyBinary || f == formats::Format::Las;
}

// One write row: wall and processor seconds, the file's size and the rate, the load after it.
void rateRow(const char* what, int run, Timing t, std::uintmax_t bytes, std::size_t n) {
    std::printf("%-36s %3d %7.3f %7.3f %8.1f %8.1f   %s\n", what, run, t.wall, t.cpu,
                static_cast<double>(bytes) / 1e6, n / t.wall / 1e6, loadAverage());
}

// The row of a written file, which it then removes.
void writeRow(const char* what, int run, Timing w, const fs::path& file, std::size_t n) {
    rateRow(what, run, w, fs::file_size(file), n);
    fs::remove(file);
}

int writesOnly(const formats::PointArray& block, const std::deque<DataPoint>& points,
               const fs::path& dir) {
    const std::size_t n = block.size();
    constexpr int kRuns = 3;
    std::printf("%-36s %3s %7s %7s %8s %8s   %s\n", "", "run", "write s", "cpu s", "file MB",
                "w Mpt/s", "load average");
    for (const formats::FormatInfo& info : formats::allFormats()) {
        if (!isBinary(info.format)) {
            continue;
        }
        const fs::path file = dir / (std::string("bench_writes") + info.extension);
        for (int run = 1; run <= kRuns; ++run) {
            // A fresh file each time, as PCL's below.
            fs::remove(file);
            formats::Outcome written;
            const Timing w = timed(
                [&] { written = formats::write(file.string(), info.format, block.data(), n, {}); });
            if (!written.ok) {
                std::printf("%s: %s\n", info.name, written.error.c_str());
                return 1;
            }
            // The file stays for the machine's write of the same size, which replaces it.
            const std::uintmax_t bytes = fs::file_size(file);
            rateRow((std::string("ours ") + info.description).c_str(), run, w, bytes, n);
            // The same bytes by the machine alone: the block read once, the file written.
            const Timing read = machine::readPass(block.data(), n * sizeof(DataPoint));
            const std::optional<Timing> put = machine::writeFile(file, bytes);
            if (!put) {
                std::printf("%s: the machine's own write failed\n", file.c_str());
                return 1;
            }
            char what[64];
            std::snprintf(what, sizeof what, "  machine: read %.3f + write %.3f", read.wall,
                          put->wall);
            rateRow(what, run, {read.wall + put->wall, read.cpu + put->cpu}, bytes, n);
        }
    }
    const pcl::PCLPointCloud2 cloud = toCloud(points);
    const Eigen::Vector4f origin = Eigen::Vector4f::Zero();
    const Eigen::Quaternionf orientation = Eigen::Quaternionf::Identity();
    pcl::PCDWriter pcd;
    pcl::PLYWriter ply;
    for (int peer = 0; peer < 2; ++peer) {
        const char* names[] = {"PCL PCD binary", "PCL PLY binary"};
        const fs::path file = dir / (peer == 1 ? "bench_writes_pcl.ply" : "bench_writes_pcl.pcd");
        for (int run = 1; run <= kRuns; ++run) {
            fs::remove(file);
            int status = 0;
            const Timing w = timed([&] {
                status = peer == 0
                             ? pcd.writeBinary(file.string(), cloud, origin, orientation)
                             : ply.writeBinary(file.string(), cloud, origin, orientation, true);
            });
            if (status != 0) {
                std::printf("%s: write failed\n", names[peer]);
                break;
            }
            writeRow(names[peer], run, w, file, n);
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        usage(argv[0], stdout);
        return 0;
    }
    const bool writes = argc > 1 && std::strcmp(argv[1], "--writes") == 0;
    const bool binaryOnly = writes || (argc > 1 && std::strcmp(argv[1], "--binary") == 0);
    if (binaryOnly) {
        argv[1] = argv[0];
        --argc;
        ++argv;
    }
    char* end = nullptr;
    const std::size_t n = argc > 1 ? std::strtoull(argv[1], &end, 10) : 10000000;
    if (argc > 3 || (argc > 1 && (*end != '\0' || n == 0 || argv[1][0] == '-'))) {
        usage(argv[0], stderr);
        return 2;
    }
    const fs::path dir = argc > 2 ? argv[2] : "/tmp";
    // PCL's PLY reader warns about the camera element its own writer adds.
    pcl::console::setVerbosityLevel(pcl::console::L_ERROR);
    std::printf("%zu points, columns x y z amplitude reflectance pulseShapeDeviation timestamp\n",
                n);
    const std::deque<DataPoint> points = bench::streamPoints(n);
    formats::PointArray block;
    block.reserve(n);
    for (const DataPoint& p : points) {
        block.push_back(p);
    }
    printLoad("at the start");
    if (writes) {
        return writesOnly(block, points, dir);
    }
    std::printf("%-44s %7s %7s %7s %7s %8s %8s %8s\n", "", "write s", "cpu s", "read s", "cpu s",
                "file MB", "w Mpt/s", "r Mpt/s");

    formats::WriteOptions options; // the LX30 defaults: the seven columns above
    Timing oursPcdRead;
    Timing oursPcdBlockRead;
    Timing oursPcdReusedRead;
    Timing pclPcdRead;
    Timing oursCompressedBlockRead;
    Timing pclCompressedRead;
    struct BlockRow {
        std::string what;
        Timing write;
        Timing read;
        fs::path file;
        std::size_t points;
    };
    struct ReadOnly {
        std::string what;
        Timing read;
    };
    std::vector<ReadOnly> reusedReads;
    // The block of the read before, already in memory, for the reads into it.
    formats::PointArray earlier;
    std::vector<BlockRow> blockRows;
    struct ChunkRead {
        const char* what;
        Timing time;
        std::size_t points;
    };
    std::vector<ChunkRead> chunkReads;
    const formats::FieldSelection all = formats::everyField();
    for (const formats::FormatInfo& info : formats::allFormats()) {
        if (binaryOnly && !isBinary(info.format)) {
            continue;
        }
        const fs::path file = dir / (std::string("bench_formats") + info.extension);
        formats::Outcome written;
        const Timing w =
            timed([&] { written = formats::write(file.string(), info.format, points, options); });
        if (!written.ok) {
            std::printf("%s: %s\n", info.name, written.error.c_str());
            return 1;
        }
        std::size_t back = 0;
        const Timing r =
            timed([&] { back = formats::read(file.string(), info.format).points.size(); });
        // The reader alone, its chunks not gathered into a point set.
        std::size_t streamed = 0;
        const Timing chunked = timed([&] {
            std::string error;
            const auto reader = formats::openReader(file.string(), info.format, all, error);
            std::vector<DataPoint> chunk;
            while (reader && reader->next(chunk)) {
                streamed += chunk.size();
            }
        });
        chunkReads.push_back({info.description, chunked, streamed});
        if (isBinary(info.format)) {
            // The same from and into one block; the file the block's writer gives is the one
            // read by both readers here and by PCL.
            // A fresh file, as PCL's below: replacing one costs ext4's flush of the new data
            // before the rename, a matter of the file system, not of the format.
            fs::remove(file);
            const Timing bw = timed([&] {
                written =
                    formats::write(file.string(), info.format, block.data(), block.size(), options);
            });
            // Into a fresh block, then into the block of the read before (this one's, for the
            // first format), already in memory; neither block's release is timed.
            formats::ArrayReadResult fresh;
            const Timing br =
                timed([&] { fresh = formats::readArray(file.string(), info.format); });
            const std::size_t blockBack = fresh.points.size();
            if (earlier.capacity() == 0) {
                earlier = std::move(fresh.points);
            }
            formats::ArrayReadResult reused;
            const Timing rr = timed([&] {
                reused = formats::readArray(file.string(), info.format, std::move(earlier));
            });
            reusedReads.push_back({std::string("ours ") + info.description + ", reused block", rr});
            earlier = std::move(reused.points);
            if (!written.ok) {
                std::printf("%s: %s\n", info.name, written.error.c_str());
                return 1;
            }
            // Kept under a name of its own for its row, which prints its size and removes it.
            const fs::path kept = file.string() + "." + info.name;
            blockRows.push_back(
                {std::string("ours ") + info.description + ", one block", bw, br, kept, blockBack});
            fs::copy_file(file, kept, fs::copy_options::overwrite_existing);
            if (info.format == formats::Format::PcdBinary ||
                info.format == formats::Format::PcdBinaryCompressed) {
                // PCL reading the very file we just read, for the ratio.
                pcl::PCLPointCloud2 cloud;
                const Timing peer = timed([&] { pcl::io::loadPCDFile(file.string(), cloud); });
                if (info.format == formats::Format::PcdBinary) {
                    oursPcdRead = r;
                    oursPcdBlockRead = br;
                    oursPcdReusedRead = rr;
                    pclPcdRead = peer;
                } else {
                    oursCompressedBlockRead = br;
                    pclCompressedRead = peer;
                }
            }
        }
        row((std::string("ours ") + info.description).c_str(), w, r, file, n, back);
    }
    for (const BlockRow& b : blockRows) {
        row(b.what.c_str(), b.write, b.read, b.file, n, b.points);
    }
    for (const ReadOnly& r : reusedReads) {
        readRow(r.what.c_str(), r.read, n);
    }
    readRow("PCL read of our PCD binary", pclPcdRead, n);
    readRow("PCL read of our PCD compressed", pclCompressedRead, n);
    for (const ChunkRead& c : chunkReads) {
        readRow((std::string("ours ") + c.what + ", chunks").c_str(), c.time, n);
        if (c.points != n) {
            std::printf("  (point count differs)\n");
        }
    }
    std::printf("our PCD binary read: %.2fx PCL's read of the same file (into a fresh block: "
                "%.2fx, into a reused block: %.2fx)\n",
                pclPcdRead.wall / oursPcdRead.wall, pclPcdRead.wall / oursPcdBlockRead.wall,
                pclPcdRead.wall / oursPcdReusedRead.wall);
    std::printf("  in processor time: %.2fx (fresh block %.2fx, reused block %.2fx)\n",
                pclPcdRead.cpu / oursPcdRead.cpu, pclPcdRead.cpu / oursPcdBlockRead.cpu,
                pclPcdRead.cpu / oursPcdReusedRead.cpu);
    std::printf("our PCD compressed read into one block: %.2fx PCL's read of the same file\n",
                pclCompressedRead.wall / oursCompressedBlockRead.wall);
    // A fresh block's pages cost their faults whoever fills them: ours holds a point in 56
    // bytes, PCL's cloud of these columns in 28.
    const Timing oursFaults = machine::faultIn(n * sizeof(DataPoint));
    const Timing pclFaults = machine::faultIn(n * kPclPointStep);
    std::printf("machine: faulting in a fresh block of %.0f MB takes %.3f s (%.3f s processor) of "
                "our fresh-block read's %.3f s; PCL's cloud's %.0f MB, %.3f s of its %.3f s\n",
                static_cast<double>(n * sizeof(DataPoint)) / 1e6, oursFaults.wall, oursFaults.cpu,
                oursPcdBlockRead.wall, static_cast<double>(n * kPclPointStep) / 1e6, pclFaults.wall,
                pclPcdRead.wall);

    pcl::PCLPointCloud2 cloud = toCloud(points);
    const Eigen::Vector4f origin = Eigen::Vector4f::Zero();
    const Eigen::Quaternionf orientation = Eigen::Quaternionf::Identity();
    pcl::PCDWriter pcd;
    pcl::PLYWriter ply;
    struct Peer {
        const char* name;
        const char* extension;
        std::function<int(const std::string&)> save;
        bool plyFile;
    };
    const Peer peers[] = {
        {"PCL PCD ascii", ".pcd",
         [&](const std::string& f) { return pcd.writeASCII(f, cloud, origin, orientation, 8); },
         false},
        {"PCL PCD binary", ".pcd",
         [&](const std::string& f) { return pcd.writeBinary(f, cloud, origin, orientation); },
         false},
        {"PCL PCD binary compressed", ".pcd",
         [&](const std::string& f) {
             return pcd.writeBinaryCompressed(f, cloud, origin, orientation);
         },
         false},
        {"PCL PLY binary", ".ply",
         [&](const std::string& f) { return ply.writeBinary(f, cloud, origin, orientation, true); },
         true},
        {"PCL PLY ascii", ".ply",
         [&](const std::string& f) {
             return ply.writeASCII(f, cloud, origin, orientation, 8, true);
         },
         true},
    };
    for (const Peer& peer : peers) {
        if (binaryOnly && std::strstr(peer.name, "ascii") != nullptr) {
            continue;
        }
        const fs::path file = dir / (std::string("bench_pcl") + peer.extension);
        int status = 0;
        const Timing w = timed([&] { status = peer.save(file.string()); });
        if (status != 0) {
            std::printf("%s: write failed\n", peer.name);
            continue;
        }
        pcl::PCLPointCloud2 back;
        const Timing r = timed([&] {
            status = peer.plyFile ? pcl::io::loadPLYFile(file.string(), back)
                                  : pcl::io::loadPCDFile(file.string(), back);
        });
        row(peer.name, w, r, file, n, status == 0 ? std::size_t{back.width} * back.height : 0);
    }
    printLoad("at the end");
    return 0;
}
