// bench_pick_index: what the window's pick index costs, without a window. For each buffer size (a
// child process each, so that one size's heap does not carry into the next) the buffer is filled
// with a synthetic region scan at that cap, all of it shown ("All points"), and the picker builds
// its index; then points stream in at an LX20's high-speed rate (30,000 points/s, batches of 300
// from a thread of their own, the oldest evicted) while the buffer is reported changed every
// 50 ms, as the display's refresh does. Prints per size:
//   build      the first index: processor time on the builder's thread, wall time, the heap it
//              holds and the most the heap grew by while it was built, in bytes per point shown
//   stream     rebuilds per second, processor time the builds took per second of streaming, the
//              heap's peak above the held index while they ran, in bytes per point
//   lock       the longest a thread waiting for the buffer's lock waited (a peer taking the lock
//              every millisecond): during the first build only the picker holds it, while
//              streaming the appends do too
// With --busy N, N threads spin at normal priority throughout, as the window's software
// rasterizer does while it draws: the builds, which run below them, must still finish.
// Usage: bench_pick_index [--seconds S] [--busy N] [sizes...]
//   default 20 s, no busy threads, sizes 1000000 5000000 10000000
#include "MemoryRelease.h"
#include "PointPicker.h"
#include "PointStore.h"
#include "RoomScan.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kBatch = 300;
constexpr int kBatchMs = 10; // 30,000 points/s
constexpr int kRefreshMs = 50;

double heapInUse() {
    const struct mallinfo2 m = mallinfo2();
    return static_cast<double>(m.uordblks + m.hblkhd);
}

// Takes the buffer's lock every millisecond and keeps the longest wait for it.
class LockPeer {
public:
    explicit LockPeer(viewer::PointStore& store) : m_store(store), m_thread([this] { run(); }) {}
    ~LockPeer() {
        m_stop = true;
        m_thread.join();
    }
    // Microseconds, since the last call.
    double takeLongest() { return static_cast<double>(m_longestUs.exchange(0)); }

private:
    void run() {
        while (!m_stop) {
            const auto asked = Clock::now();
            m_store.withBuffer([](const std::deque<DataPoint>&, const viewer::BufferLog&) {});
            const auto waited =
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - asked).count();
            long long seen = m_longestUs;
            while (waited > seen && !m_longestUs.compare_exchange_weak(seen, waited)) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    viewer::PointStore& m_store;
    std::atomic<bool> m_stop{false};
    std::atomic<long long> m_longestUs{0};
    std::thread m_thread;
};

// The listener's side: batches at the stream's rate until stopped.
class Streamer {
public:
    explicit Streamer(viewer::PointStore& store) : m_store(store), m_thread([this] { run(); }) {}
    ~Streamer() {
        m_stop = true;
        m_thread.join();
    }

private:
    void run() {
        std::uint64_t timestamp = 0;
        double azimuth = 0.0;
        auto next = Clock::now();
        while (!m_stop) {
            std::vector<tavrel::tavrel_rbe_obs_t> batch;
            batch.reserve(kBatch);
            for (std::size_t i = 0; i < kBatch; ++i) {
                azimuth = std::fmod(azimuth + 0.01, 360.0);
                batch.push_back({azimuth, std::sin(azimuth) * 30.0, 3000.0 + azimuth, timestamp,
                                 1000.0, 0.0, 0.0});
                timestamp += 33;
            }
            m_store.LaserDataCallback(std::move(batch), 0);
            next += std::chrono::milliseconds(kBatchMs);
            std::this_thread::sleep_until(next);
        }
    }
    viewer::PointStore& m_store;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Threads that keep cores busy until destroyed.
class Busy {
public:
    explicit Busy(int threads) {
        for (int i = 0; i < threads; ++i) {
            m_threads.emplace_back([this] {
                while (!m_stop) {
                    m_spins.fetch_add(1, std::memory_order_relaxed);
                }
            });
        }
    }
    ~Busy() {
        m_stop = true;
        for (std::thread& t : m_threads) {
            t.join();
        }
    }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<std::uint64_t> m_spins{0};
    std::vector<std::thread> m_threads;
};

void run(std::size_t n, int seconds, int busyThreads, int argc, char** argv) {
    QCoreApplication app(argc, argv);
    viewer::PointStore store;
    store.setMaximumPoints(static_cast<std::uint32_t>(n));
    store.replace(bench::roomScan(n));
    viewer::returnFreeMemory();
    window::PointPicker picker(store);
    LockPeer peer(store);
    const Busy busy(busyThreads);

    const double before = heapInUse();
    double peak = before;
    QElapsedTimer wall;
    wall.start();
    peer.takeLongest();
    picker.bufferChanged();
    while (!picker.current()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        peak = std::max(peak, heapInUse());
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double wallMs = static_cast<double>(wall.elapsed());
    const double lockUs = peer.takeLongest();
    const double held = heapInUse() - before;
    std::printf("%9zu  build   cpu %7.1f ms  wall %7.1f ms (copy %6.1f, sort %6.1f)  held %5.1f "
                "B/point  peak %5.1f B/point  longest lock wait %6.0f us\n",
                n, picker.lastCpuMs(), wallMs, picker.lastCopyMs(), picker.lastSortMs(), held / n,
                (peak - before) / n, lockUs);
    std::fflush(stdout);

    int builds = 0;
    double buildCpu = 0.0;
    QObject::connect(&picker, &window::PointPicker::indexBuilt, [&] {
        ++builds;
        buildCpu += picker.lastCpuMs();
    });
    const double streamBase = heapInUse();
    double streamPeak = streamBase;
    {
        Streamer streamer(store);
        QElapsedTimer streaming;
        streaming.start();
        qint64 nextRefresh = 0;
        while (streaming.elapsed() < seconds * 1000) {
            if (streaming.elapsed() >= nextRefresh) {
                picker.bufferChanged();
                nextRefresh += kRefreshMs;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            streamPeak = std::max(streamPeak, heapInUse());
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    const double streamLockUs = peer.takeLongest();
    std::printf("%9zu  stream  %d s: %d rebuilds (%.2f/s), build cpu %6.1f ms per s streamed, "
                "heap peak %5.1f B/point above the held index, longest lock wait %6.0f us\n",
                n, seconds, builds, builds / static_cast<double>(seconds), buildCpu / seconds,
                (streamPeak - streamBase) / n, streamLockUs);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    int seconds = 20;
    int busy = 0;
    std::vector<std::size_t> sizes;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--busy") == 0 && i + 1 < argc) {
            busy = std::atoi(argv[++i]);
        } else {
            sizes.push_back(static_cast<std::size_t>(std::strtoull(argv[i], nullptr, 10)));
        }
    }
    if (sizes.empty()) {
        sizes = {1000000, 5000000, 10000000};
    }
    for (std::size_t n : sizes) {
        std::fflush(stdout);
        const pid_t child = fork();
        if (child == 0) {
            run(n, seconds, busy, argc, argv);
            std::fflush(stdout);
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
    }
    return 0;
}
