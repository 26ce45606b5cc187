// memory_bench: the viewer's memory per buffered point, taken apart. For each buffer size (a
// child process each, so that one size's heap does not carry into the next) it streams points
// into a bounded buffer from a thread of its own (as the listener's consumer thread does, with
// its own allocator arena), refreshes the chunked display and renders it offscreen after every
// batch, as the window does, and prints in bytes per buffered point:
//   buffer        the point buffer (the deque's blocks), from the heap's growth while filling it
//   display       the display's copies, counted by field (positions, intensity, the fields
//                 other colourings read, colours, the draw copies of chunks that lost their front)
//   VTK + GL      the heap's and resident memory's growth across the render of the drawn budget
//   turnover      what the heap and resident memory grew by while the full buffer turned over
//                 by half its size, points evicted as new ones came: the allocator's free memory
//                 (fragmentation) shown apart
//   pick index    the index the window builds over the shown points for picking, in blocks of
//                 arrivals (held between builds; a rebuild while streaming adds the blocks that
//                 changed beside it, a block or two of 65,536 points)
//   trimmed       resident memory after the allocator returns its free memory
// and the whole against resident memory beyond the empty display's.
// Usage (under Xvfb or with a display): memory_bench [--lx20] [--loaded] [--budget N] [sizes...]
//   default: LX30 points, budget 150000 drawn points, sizes 1000000 5000000 10000000
//   --lx20: the points an LX20 sends in high-speed mode (as the soak's simulator does)
//   --loaded: the buffer filled as a loaded file fills it (x, y, z, amplitude, the display's
//             copy built beside it and taken in whole) instead of streamed
#include "BlockIndex.h"
#include "ChunkedCloud.h"
#include "MemoryRelease.h"
#include "ObservationPoint.h"
#include "PointBuffer.h"
#include "PointStream.h"
#include "PositionCopy.h"
#include "PreparedCloud.h"

#include <vtkCamera.h>
#include <vtkProperty.h>
#include <vtkRenderWindow.h>
#include <vtkRenderer.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <malloc.h>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace viewer;

namespace {

constexpr std::size_t kCaptureLimit = 200000; // as the window
constexpr std::size_t kBatch = 100000;        // points per refresh

long residentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

struct Heap {
    double inUse = 0; // bytes handed out, mapped blocks included
    double free = 0;  // bytes the allocator holds unused
    double rss = 0;   // resident bytes
};

Heap heapNow() {
    const struct mallinfo2 m = mallinfo2();
    return {static_cast<double>(m.uordblks + m.hblkhd), static_cast<double>(m.fordblks),
            residentKb() * 1024.0};
}

// Points of every field (an LX30's), or as an LX20 in high-speed mode sends them (no
// amplitude, reflectance or pulse shape deviation).
bool g_lx20 = false;
// The buffer filled as by a load of a file rather than by a stream.
bool g_loaded = false;

struct Source {
    std::mt19937 rng{1};
    std::uniform_real_distribution<double> angle{-180, 180};
    std::uniform_real_distribution<double> range{1, 5000};
    std::uniform_int_distribution<int> amplitude{0, 65535};
    std::uint64_t time = 0;

    DataPoint next() {
        time += 33;
        if (g_lx20) {
            return formats::makeDataPoint(angle(rng), angle(rng) / 4, range(rng),
                                          time & 0xffffffffu, 0, 0, 0, LIDAR_LX20, true);
        }
        return formats::makeDataPoint(angle(rng), angle(rng) / 4, range(rng), time & 0xffffffffu,
                                      amplitude(rng), amplitude(rng) / 100.0, amplitude(rng) / 1e4,
                                      LIDAR_LX30, false);
    }
};

// The listener's side: appends batches to the buffer on a thread of its own.
class Appender {
public:
    Appender(std::deque<DataPoint>& points, BufferLog& log, std::mutex& mutex, std::uint32_t cap)
        : m_points(points), m_log(log), m_mutex(mutex), m_cap(cap), m_thread([this] { run(); }) {}
    ~Appender() {
        {
            std::lock_guard<std::mutex> lock(m_control);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    // Appends n points and returns when they are in.
    void append(std::size_t n) {
        std::unique_lock<std::mutex> lock(m_control);
        m_asked = n;
        m_wake.notify_all();
        m_wake.wait(lock, [this] { return m_asked == 0; });
    }

private:
    void run() {
        std::unique_lock<std::mutex> control(m_control);
        for (;;) {
            m_wake.wait(control, [this] { return m_stop || m_asked > 0; });
            if (m_stop) {
                return;
            }
            std::vector<DataPoint> batch;
            batch.reserve(m_asked);
            for (std::size_t i = 0; i < m_asked; ++i) {
                batch.push_back(m_source.next());
            }
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                for (const DataPoint& p : batch) {
                    appendBounded(m_points, p, m_cap, m_log);
                }
            }
            m_asked = 0;
            m_wake.notify_all();
        }
    }

    std::deque<DataPoint>& m_points;
    BufferLog& m_log;
    std::mutex& m_mutex;
    std::uint32_t m_cap;
    Source m_source;
    std::mutex m_control; // guards m_asked and m_stop
    std::condition_variable m_wake;
    std::size_t m_asked = 0;
    bool m_stop = false;
    std::thread m_thread;
};

struct Display {
    vtkSmartPointer<vtkRenderer> renderer = vtkSmartPointer<vtkRenderer>::New();
    vtkSmartPointer<vtkRenderWindow> renderWindow = vtkSmartPointer<vtkRenderWindow>::New();
    vtkSmartPointer<vtkProperty> property = vtkSmartPointer<vtkProperty>::New();
    ChunkedCloud cloud{renderer, property};
    IntensityScale scale;
    std::uint32_t minimum = 65535;
    std::uint32_t maximum = 0;

    Display() {
        renderWindow->SetOffScreenRendering(1);
        renderWindow->SetMultiSamples(0);
        renderWindow->SetSize(1000, 700);
        renderWindow->AddRenderer(renderer);
        renderer->GetActiveCamera()->SetPosition(0, -12000, 3000);
        renderer->GetActiveCamera()->SetFocalPoint(0, 0, 0);
    }

    void capture(const std::deque<DataPoint>& points, const BufferLog& log, std::mutex& mutex) {
        std::lock_guard<std::mutex> lock(mutex);
        cloud.capture(points, log, kCaptureLimit);
    }

    void apply(std::size_t budget) {
        cloud.automaticRange(minimum, maximum);
        const ColourTable& table =
            scale.update(minimum, maximum, kDefaultMinimumColour, kDefaultMaximumColour);
        while (cloud.needsApply(table, budget)) {
            cloud.apply(table, budget);
        }
    }

    void render() {
        renderer->ResetCameraClippingRange();
        renderWindow->Render();
        renderWindow->WaitForCompletion();
    }
};

// As the window's load: a file's points (x, y, z, amplitude) read a chunk at a time into a new
// buffer and into the display's copy beside it, the buffer replaced and the copy taken in whole.
// Returns the heap the buffer took.
double load(std::deque<DataPoint>& points, BufferLog& log, std::mutex& mutex, ChunkedCloud& cloud,
            std::size_t size) {
    const Heap before = heapNow();
    std::deque<DataPoint> file;
    PreparedCloud prepared(ChunkedCloud::kDefaultLargeBits, ChunkedCloud::kDefaultSmallBits);
    Source source;
    std::vector<DataPoint> chunk;
    while (file.size() < size) {
        chunk.clear();
        while (chunk.size() < formats::kChunkPoints && file.size() + chunk.size() < size) {
            const DataPoint streamed = source.next();
            DataPoint p;
            p.x = streamed.x;
            p.y = streamed.y;
            p.z = streamed.z;
            p.intensity = streamed.intensity;
            chunk.push_back(p);
        }
        file.insert(file.end(), chunk.begin(), chunk.end());
        prepared.append(chunk.data(), chunk.size());
    }
    prepared.finish();
    {
        std::lock_guard<std::mutex> lock(mutex);
        replaceBuffer(points, std::move(file), log);
        prepared.log = log;
    }
    cloud.adopt(prepared);
    return heapNow().inUse - before.inUse - static_cast<double>(cloud.bytes().total());
}

void row(const char* what, double bytes, std::size_t n) {
    std::printf("  %-44s %8.1f B/point %10.1f MB\n", what, bytes / static_cast<double>(n),
                bytes / 1048576.0);
}

void measure(std::size_t size, std::size_t budget) {
    std::deque<DataPoint> points;
    BufferLog log;
    std::mutex mutex; // guards points and log, as the buffer's lock does
    Display display;
    display.render();
    const Heap empty = heapNow();

    // The first points drawn: the driver compiles its shaders, once per process.
    Appender appender(points, log, mutex, static_cast<std::uint32_t>(size));
    appender.append(1000);
    display.capture(points, log, mutex);
    display.apply(budget);
    display.render();
    const Heap warm = heapNow();

    // Fill, the display following each batch as the window's refresh does, drawn once full so
    // that the driver's share is seen apart.
    double bufferBytes = 0;
    if (g_loaded) {
        bufferBytes = load(points, log, mutex, display.cloud, size);
    }
    while (points.size() < size) {
        const Heap before = heapNow();
        appender.append(std::min(kBatch, size - points.size()));
        bufferBytes += heapNow().inUse - before.inUse;
        while (display.cloud.heldCount() < points.size()) {
            display.capture(points, log, mutex);
        }
    }
    display.apply(budget);
    const CloudBytes copies = display.cloud.bytes();
    const Heap filled = heapNow();
    display.render();
    const Heap rendered = heapNow();
    const std::size_t drawn = display.cloud.drawnCount();

    // Turnover: half the buffer replaced, evicting, refreshed and drawn after each batch.
    for (std::size_t turned = 0; turned < size / 2; turned += kBatch) {
        appender.append(kBatch);
        display.capture(points, log, mutex);
        display.apply(budget);
        display.render();
    }
    const CloudBytes turnedCopies = display.cloud.bytes();
    const Heap turned = heapNow();

    // The pick index over every point, as the window holds it for "All points".
    std::optional<BlockIndex> index;
    {
        std::lock_guard<std::mutex> lock(mutex);
        const std::uint64_t back = log.appended;
        const auto copy = [&](std::uint64_t begin, std::uint64_t end) {
            PositionCopy block(points, log, begin, back, end);
            block.copy(points, log, back, static_cast<std::size_t>(end - begin));
            const std::uint64_t first = block.range().begin;
            return std::optional<BlockIndex::Positions>(BlockIndex::Positions{block.take(), first});
        };
        index =
            BlockIndex::build(BlockIndex(), back - points.size(), back, copy, [] { return false; });
    }
    const Heap indexed = heapNow();
    returnFreeMemory();
    const Heap trimmed = heapNow();
    const double indexBytes = indexed.inUse - turned.inUse;

    const std::size_t n = points.size();
    std::printf("\n%zu points buffered (%s), %zu drawn (budget %zu), %zu chunks\n", n,
                g_loaded ? "loaded" : "streamed", drawn, budget, display.cloud.chunkCount());
    row("buffer (heap grown by the appends)", bufferBytes, n);
    row("display: positions", static_cast<double>(copies.positions), n);
    row("display: intensity", static_cast<double>(copies.intensities), n);
    row("display: fields for other colourings", static_cast<double>(copies.extras), n);
    row("display: colours", static_cast<double>(copies.colours), n);
    row("display: draw copies (after turnover)", static_cast<double>(turnedCopies.drawCopies), n);
    row("display: all copies (after turnover)", static_cast<double>(turnedCopies.total()), n);
    row("heap in use, filled, not yet drawn", filled.inUse - warm.inUse, n);
    row("VTK + GL once: shaders, first points (heap)", warm.inUse - empty.inUse, n);
    row("VTK + GL once: shaders, first points (resident)", warm.rss - empty.rss, n);
    row("VTK + GL: heap grown drawing the budget", rendered.inUse - filled.inUse, n);
    std::printf("  %-44s %8.1f B/drawn point\n", "", (rendered.inUse - filled.inUse) / drawn);
    row("turnover: heap in use grown", turned.inUse - rendered.inUse, n);
    row("turnover: allocator's free memory grown", turned.free - rendered.free, n);
    row("turnover: resident grown", turned.rss - rendered.rss, n);
    row("pick index (heap)", indexBytes, n);
    row("resident beyond the empty display, with index", indexed.rss - empty.rss, n);
    row("the same, trimmed", trimmed.rss - empty.rss, n);
    row("the same, trimmed, without index", trimmed.rss - empty.rss - indexBytes, n);
    row("the same, without the shaders' once", trimmed.rss - warm.rss - indexBytes, n);
    row("allocator's free memory, untrimmed", indexed.free, n);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    std::size_t budget = 150000;
    std::vector<std::size_t> sizes;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--lx20") == 0) {
            g_lx20 = true;
        } else if (std::strcmp(argv[i], "--loaded") == 0) {
            g_loaded = true;
        } else if (std::strcmp(argv[i], "--budget") == 0 && i + 1 < argc) {
            budget = std::strtoull(argv[++i], nullptr, 10);
        } else {
            sizes.push_back(std::strtoull(argv[i], nullptr, 10));
        }
    }
    if (sizes.empty()) {
        sizes = {1000000, 5000000, 10000000};
    }
    for (std::size_t size : sizes) {
        std::fflush(stdout);
        const pid_t child = fork();
        if (child == 0) {
            measure(size, budget);
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "memory_bench: the run at %zu points failed\n", size);
            return 1;
        }
    }
    return 0;
}
