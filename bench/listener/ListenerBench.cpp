// The laser listener on loopback UDP, beside plain receive loops on the same
// traffic in the same run. A sender thread sends datagrams of 63 records
// (1392 bytes) paced to a point rate.
//
// - Ingest: for rising paced rates, whether each receiver takes every point
//   (a plain recv loop, a plain recvmmsg loop, the listener); the highest rate
//   each takes with nothing lost.
// - Latency from the send (the loopback arrival follows within microseconds) to
//   the listener's callback, and to a plain recv loop's return, at 30,000 and
//   1,000,000 points/s: p50 and p99.
// - Memory with the callback stalled for 5 s under a 1 GB burst: the peak
//   growth of the process beside the queue's limit, and the drops counted.
// - The PCL grabber accumulating a million points into one cloud.
//
// Usage: listener_bench [port, default 48900] [points/s: one listener run only |
//        ingest | latency | memory | cloud: that part only]
#include "grabber.h"

#include "Sentova/LaserPacket.h"
#include "Sentova/SentovaGrabber.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kRecordsPerDatagram = 63;
constexpr int kReceiveBuffer = pcl::SentovaGrabber::kRequestedReceiveBufferSize;
// A run ends when nothing has arrived for this long after the last send.
constexpr std::chrono::milliseconds kQuiet{300};
constexpr std::chrono::seconds kLongest{60};

std::int64_t NowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// Record i of datagram seq carries the timestamp seq * 63 + i, so a receiver
// can tell which datagram a record came in.
std::string MakeDatagram(std::uint32_t seq) {
    std::vector<tavrel::LaserRecord> records(kRecordsPerDatagram);
    for (std::size_t i = 0; i < records.size(); ++i) {
        records[i].timestamp = static_cast<std::uint32_t>(seq * kRecordsPerDatagram + i);
        records[i].azimuth = -170.0 + 5.0 * static_cast<double>(i);
        records[i].elevation = 30.0;
        records[i].range = 12000 + static_cast<std::int32_t>(i);
        records[i].amplitude = 3000;
        records[i].reflectance = -12;
        records[i].pulseShapeDeviation = 4;
    }
    return tavrel::encodeLaserPacket(records, true);
}

sockaddr_in Loopback(unsigned short port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// The rate the latest Send reached, points/s: below the rate asked for when
// the sender itself cannot keep up.
std::atomic<double> lastSentRate{0.0};

// Sends count datagrams to 127.0.0.1:port, paced to pointsPerSecond (0: as
// fast as it can); sendTimes, when given, gets each one's send time. Without
// send times, the datagrams already due when the sender falls behind go in one
// sendmmsg call (at most 32), so that the sender is not what limits the rate.
void Send(unsigned short port, std::size_t count, double pointsPerSecond,
          std::vector<std::int64_t>* sendTimes = nullptr) {
    constexpr std::size_t kMostAtOnce = 32;
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        throw std::runtime_error("sender socket");
    std::string datagram = MakeDatagram(0);
    sockaddr_in to = Loopback(port);
    iovec vector{&datagram[0], datagram.size()};
    std::vector<mmsghdr> messages(kMostAtOnce);
    for (mmsghdr& m : messages) {
        m = mmsghdr{};
        m.msg_hdr.msg_name = &to;
        m.msg_hdr.msg_namelen = sizeof to;
        m.msg_hdr.msg_iov = &vector;
        m.msg_hdr.msg_iovlen = 1;
    }
    const auto interval = std::chrono::duration<double>(
        pointsPerSecond > 0 ? kRecordsPerDatagram / pointsPerSecond : 0.0);
    const auto dueAt = [&](std::size_t i) {
        return std::chrono::duration_cast<Clock::duration>(interval * static_cast<double>(i));
    };
    const auto start = Clock::now();
    for (std::size_t i = 0; i < count;) {
        std::size_t due = 1;
        if (pointsPerSecond > 0) {
            const auto first = start + dueAt(i);
            if (first > Clock::now())
                std::this_thread::sleep_until(first);
            const auto now = Clock::now();
            while (sendTimes == nullptr && due < kMostAtOnce && i + due < count &&
                   start + dueAt(i + due) <= now)
                ++due;
        } else if (sendTimes == nullptr) {
            due = std::min(kMostAtOnce, count - i);
        }
        if (sendTimes != nullptr) {
            // Only the time stamps change from one datagram to the next.
            for (std::size_t r = 0; r < kRecordsPerDatagram; ++r) {
                const auto t = static_cast<std::uint32_t>(i * kRecordsPerDatagram + r);
                char* p = &datagram[tavrel::kLaserHeaderSize + r * tavrel::kLaserRecordSize];
                p[0] = static_cast<char>(t >> 24);
                p[1] = static_cast<char>(t >> 16);
                p[2] = static_cast<char>(t >> 8);
                p[3] = static_cast<char>(t);
            }
            (*sendTimes)[i] = NowNanos();
        }
        if (due == 1) {
            sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                   sizeof to);
        } else {
            std::size_t sent = 0;
            while (sent < due) {
                const int n =
                    sendmmsg(fd, messages.data() + sent, static_cast<unsigned>(due - sent), 0);
                if (n <= 0)
                    break;
                sent += static_cast<std::size_t>(n);
            }
        }
        i += due;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    lastSentRate = seconds > 0 ? count * kRecordsPerDatagram / seconds : 0.0;
    close(fd);
}

// Counts points delivered by another thread; ends the run once it is quiet.
struct Tally {
    std::atomic<std::size_t> points{0};
    std::atomic<Clock::rep> last{0};
    void Add(std::size_t n) {
        points += n;
        last = Clock::now().time_since_epoch().count();
    }
    std::size_t WaitQuiet(Clock::time_point start, std::thread& sender) {
        sender.join();
        const auto sent = Clock::now();
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            const auto lastAt = Clock::time_point(Clock::duration(last.load()));
            const auto now = Clock::now();
            if (now - std::max(lastAt, sent) > kQuiet || now - start > kLongest)
                break;
        }
        return points.load();
    }
};

// Records, per datagram, the time from its send to its delivery.
struct Latencies {
    explicit Latencies(std::size_t count) : sendTimes(count), delivered(count, 0) {}
    void Deliver(std::uint64_t firstTimestamp, std::int64_t now) {
        const std::size_t seq = firstTimestamp / kRecordsPerDatagram;
        if (firstTimestamp % kRecordsPerDatagram == 0 && seq < delivered.size())
            delivered[seq] = now;
    }
    // p50 and p99 in microseconds over the datagrams delivered.
    std::pair<double, double> Percentiles() const {
        std::vector<std::int64_t> d;
        for (std::size_t i = 0; i < delivered.size(); ++i)
            if (delivered[i] != 0)
                d.push_back(delivered[i] - sendTimes[i]);
        if (d.empty())
            return {0.0, 0.0};
        std::sort(d.begin(), d.end());
        return {d[d.size() / 2] / 1000.0, d[d.size() * 99 / 100] / 1000.0};
    }
    std::vector<std::int64_t> sendTimes;
    std::vector<std::int64_t> delivered;
};

// The plain loops get the receive buffer the listener asks for, past the
// system's cap where the listener passes it too.
int BoundSocket(unsigned short port) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBuffer, sizeof kReceiveBuffer);
    const sockaddr_in local = Loopback(port);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        throw std::runtime_error("plain loop: cannot bind port " + std::to_string(port));
    timeval tick{0, 50000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
    return fd;
}

std::uint64_t FirstTimestamp(const unsigned char* datagram) {
    const unsigned char* p = datagram + tavrel::kLaserHeaderSize;
    return (std::uint64_t(p[0]) << 24) | (std::uint64_t(p[1]) << 16) | (std::uint64_t(p[2]) << 8) |
           p[3];
}

// Points a plain recv loop took of count datagrams paced to the rate.
std::size_t PlainRecv(unsigned short port, std::size_t count, double rate,
                      Latencies* latencies = nullptr) {
    const int fd = BoundSocket(port);
    Tally tally;
    std::atomic<bool> done{false};
    std::thread receiver([&] {
        std::vector<unsigned char> buffer(65535);
        while (!done) {
            const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0)
                continue;
            if (latencies != nullptr)
                latencies->Deliver(FirstTimestamp(buffer.data()), NowNanos());
            tally.Add((static_cast<std::size_t>(n) - tavrel::kLaserHeaderSize) /
                      tavrel::kLaserRecordSize);
        }
    });
    const auto start = Clock::now();
    std::thread sender(Send, port, count, rate, latencies ? &latencies->sendTimes : nullptr);
    const std::size_t points = tally.WaitQuiet(start, sender);
    done = true;
    receiver.join();
    close(fd);
    return points;
}

// The same with recvmmsg, 64 datagrams per call.
std::size_t PlainRecvmmsg(unsigned short port, std::size_t count, double rate) {
    constexpr std::size_t kBatch = 64, kBytes = 65535;
    const int fd = BoundSocket(port);
    Tally tally;
    std::atomic<bool> done{false};
    std::thread receiver([&] {
        std::vector<unsigned char> buffers(kBatch * kBytes);
        std::vector<iovec> vectors(kBatch);
        std::vector<mmsghdr> messages(kBatch);
        while (!done) {
            for (std::size_t i = 0; i < kBatch; ++i) {
                vectors[i] = {&buffers[i * kBytes], kBytes};
                messages[i] = mmsghdr{};
                messages[i].msg_hdr.msg_iov = &vectors[i];
                messages[i].msg_hdr.msg_iovlen = 1;
            }
            const int n = recvmmsg(fd, messages.data(), kBatch, MSG_WAITFORONE, nullptr);
            std::size_t points = 0;
            for (int i = 0; i < n; ++i)
                points +=
                    (messages[i].msg_len - tavrel::kLaserHeaderSize) / tavrel::kLaserRecordSize;
            if (n > 0)
                tally.Add(points);
        }
    });
    const auto start = Clock::now();
    std::thread sender(Send, port, count, rate, nullptr);
    const std::size_t points = tally.WaitQuiet(start, sender);
    done = true;
    receiver.join();
    close(fd);
    return points;
}

class Counter : public tavrel::SentovaLaserDataCallbackClass {
public:
    explicit Counter(Latencies* latencies = nullptr) : m_latencies(latencies) {}
    void LaserDataCallback(std::vector<tavrel::tavrel_rbe_obs_t> observations,
                           unsigned int) override {
        if (m_latencies != nullptr) {
            const std::int64_t now = NowNanos();
            for (const auto& o : observations)
                m_latencies->Deliver(o.timestamp, now);
        }
        tally.Add(observations.size());
    }
    Tally tally;

private:
    Latencies* m_latencies;
};

struct ListenerRun {
    std::size_t points = 0;
    tavrel::stream_statistics_t stats;
};

ListenerRun Listener(unsigned short port, std::size_t count, double rate,
                     Latencies* latencies = nullptr) {
    Counter counter(latencies);
    tavrel::SentovaGrabber listener;
    if (!listener.StartListening("127.0.0.1", port, &counter))
        throw std::runtime_error("listener: cannot bind port " + std::to_string(port));
    const auto start = Clock::now();
    std::thread sender(Send, port, count, rate, latencies ? &latencies->sendTimes : nullptr);
    ListenerRun run;
    run.points = counter.tally.WaitQuiet(start, sender);
    run.stats = listener.GetStatistics();
    listener.StopListening();
    return run;
}

void Ingest(unsigned short port) {
    std::printf(
        "\nIngest, paced, about 1 s of traffic per rate (points lost; a rate is tried up to three "
        "times, for the listener with the datagrams its kernel (k) and queue (q) dropped; "
        "'-' once a receiver has lost at a lower rate)\n");
    std::printf("%14s %14s %14s %24s %14s\n", "asked points/s", "plain recv", "plain recvmmsg",
                "listener", "sender reached");
    const double rates[] = {1e6,  2e6,  4e6,  6e6,  8e6,  10e6, 12e6, 14e6, 16e6, 18e6,
                            20e6, 22e6, 25e6, 28e6, 32e6, 36e6, 40e6, 45e6, 50e6};
    double best[3] = {0, 0, 0};
    bool failed[3] = {false, false, false};
    for (const double rate : rates) {
        const std::size_t count = static_cast<std::size_t>(rate / kRecordsPerDatagram);
        const std::size_t sent = count * kRecordsPerDatagram;
        std::string cells[3];
        double reached = 0.0;
        for (int r = 0; r < 3; ++r) {
            if (failed[r]) {
                cells[r] = "-";
                continue;
            }
            // Other programs on the machine can take a receiver's core for a
            // moment at any rate: a rate counts as taken when one of three tries
            // loses nothing.
            std::size_t got = 0;
            double gotAt = 0.0;
            tavrel::stream_statistics_t stats;
            for (int attempt = 0; attempt < 3 && got != sent; ++attempt) {
                if (r == 0) {
                    got = PlainRecv(port, count, rate);
                } else if (r == 1) {
                    got = PlainRecvmmsg(port, count, rate);
                } else {
                    const ListenerRun run = Listener(port, count, rate);
                    got = run.points;
                    stats = run.stats;
                }
                gotAt = lastSentRate.load();
                reached = reached == 0.0 ? gotAt : std::min(reached, gotAt);
            }
            cells[r] = std::to_string(sent - got);
            if (r == 2 && got != sent)
                cells[r] += " (" + std::to_string(stats.kernelDrops) + "k " +
                            std::to_string(stats.queueDrops) + "q)";
            // The rate the sender reached, not the one asked for.
            if (got == sent)
                best[r] = std::max(best[r], gotAt);
            else
                failed[r] = true;
        }
        std::printf("%14.0f %14s %14s %24s %14.0f\n", rate, cells[0].c_str(), cells[1].c_str(),
                    cells[2].c_str(), reached);
        std::fflush(stdout);
        if (failed[0] && failed[1] && failed[2])
            break;
    }
    std::printf("highest rate the sender reached with nothing lost: plain recv %.0f, plain "
                "recvmmsg %.0f, "
                "listener %.0f points/s (listener / plain recv %.2f)\n",
                best[0], best[1], best[2], best[0] > 0 ? best[2] / best[0] : 0.0);
}

void Latency(unsigned short port) {
    std::printf("\nLatency from send to delivery, microseconds\n");
    for (const double rate : {30000.0, 1e6}) {
        const std::size_t count = static_cast<std::size_t>(rate * 3 / kRecordsPerDatagram);
        Latencies plain(count), listener(count);
        PlainRecv(port, count, rate, &plain);
        const ListenerRun run = Listener(port, count, rate, &listener);
        const auto p = plain.Percentiles();
        const auto l = listener.Percentiles();
        std::printf("%9.0f points/s: plain recv p50 %7.1f p99 %7.1f   listener callback p50 "
                    "%7.1f p99 %7.1f   (listener lost %zu of %zu points)\n",
                    rate, p.first, p.second, l.first, l.second,
                    count * kRecordsPerDatagram - run.points, count * kRecordsPerDatagram);
    }
}

std::size_t ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// Holds its first call for a while, as an application that falls behind.
class Stalling : public tavrel::SentovaLaserDataCallbackClass {
public:
    explicit Stalling(std::chrono::seconds stall) : m_stall(stall) {}
    void LaserDataCallback(std::vector<tavrel::tavrel_rbe_obs_t> observations,
                           unsigned int) override {
        if (!m_stalled) {
            m_stalled = true;
            std::this_thread::sleep_for(m_stall);
            resumed = true;
        }
        tally.Add(observations.size());
    }
    Tally tally;
    std::atomic<bool> resumed{false};

private:
    std::chrono::seconds m_stall;
    bool m_stalled = false;
};

void StalledMemory(unsigned short port) {
    constexpr std::size_t kBurstBytes = 1000000000;
    const std::size_t datagramBytes = MakeDatagram(0).size();
    const std::size_t count = kBurstBytes / datagramBytes;
    Stalling callback(std::chrono::seconds(5));
    tavrel::SentovaGrabber listener;
    const std::size_t before = ResidentBytes();
    if (!listener.StartListening("127.0.0.1", port, &callback))
        throw std::runtime_error("listener: cannot bind port " + std::to_string(port));
    std::atomic<bool> done{false};
    std::size_t peak = before;
    std::thread sampler([&] {
        while (!done) {
            peak = std::max(peak, ResidentBytes());
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    const auto start = Clock::now();
    std::thread sender(Send, port, count, 0.0, nullptr);
    sender.join();
    // What was queued during the stall is delivered after it.
    while (!callback.resumed)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::thread none([] {});
    const std::size_t delivered = callback.tally.WaitQuiet(start, none);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const tavrel::stream_statistics_t s = listener.GetStatistics();
    listener.StopListening();
    done = true;
    sampler.join();
    std::printf("\nCallback stalled 5 s, burst of %zu datagrams (%.2f GB, %zu points) unpaced, "
                "%.1f s\n",
                count, count * datagramBytes / 1e9, count * kRecordsPerDatagram, seconds);
    std::printf("  peak growth %.1f MiB beside the queue limit %.1f MiB\n",
                (peak - before) / 1048576.0,
                tavrel::SentovaGrabber::kDefaultQueueLimit / 1048576.0);
    std::printf("  accepted %llu datagrams, queue drops %llu, kernel drops %llu, delivered %zu "
                "points\n",
                static_cast<unsigned long long>(s.datagrams),
                static_cast<unsigned long long>(s.queueDrops),
                static_cast<unsigned long long>(s.kernelDrops), delivered);
}

// Seconds from the first datagram sent until the grabber signals one cloud of
// more than a million points (packets of 40 records, as the device sends).
void MillionPointCloud(unsigned short port) {
    constexpr std::size_t kSignalSize = 1000000, kRecords = 40;
    std::vector<tavrel::LaserRecord> records(kRecords);
    const std::string packet = tavrel::encodeLaserPacket(records, true);
    pcl::SentovaGrabber grabber(boost::asio::ip::make_address("127.0.0.1"), port);
    grabber.setSignalPointCloudSize(kSignalSize);
    std::mutex mutex;
    std::condition_variable signalled;
    std::size_t points = 0;
    grabber.registerCallback(std::function<pcl::SentovaGrabber::sig_cb_sentova_point_cloud>(
        [&](const pcl::SentovaGrabber::Cloud::ConstPtr& cloud, unsigned int) {
            std::lock_guard<std::mutex> lock(mutex);
            points = cloud->size();
            signalled.notify_all();
        }));
    if (!grabber.startGrabbing())
        throw std::runtime_error("grabber: cannot bind port " + std::to_string(port));
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = Loopback(port);
    const auto start = Clock::now();
    // Paced at 2,000,000 points/s, which the socket thread takes without loss.
    const std::size_t packets = kSignalSize / kRecords + 1;
    const auto interval = std::chrono::duration<double>(kRecords / 2e6);
    for (std::size_t i = 0; i < packets; ++i) {
        const auto due =
            start + std::chrono::duration_cast<Clock::duration>(interval * static_cast<double>(i));
        if (due > Clock::now())
            std::this_thread::sleep_until(due);
        sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to);
    }
    close(fd);
    std::unique_lock<std::mutex> lock(mutex);
    signalled.wait_for(lock, kLongest, [&] { return points > 0; });
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    lock.unlock();
    grabber.stop();
    std::printf("\n%-34s %10zu of %10zu points  %8.3f s  (sending alone: %.3f s)\n",
                "PCL grabber, signal size 1,000,000", points, packets * kRecords, seconds,
                packets * interval.count());
}

} // namespace

int main(int argc, char** argv) {
    const auto port = static_cast<unsigned short>(argc > 1 ? std::atoi(argv[1]) : 48900);
    std::printf("datagrams of %zu records (%zu bytes) to 127.0.0.1:%u\n", kRecordsPerDatagram,
                MakeDatagram(0).size(), port);
    try {
        const std::string part = argc > 2 ? argv[2] : "";
        if (part == "ingest" || part == "latency" || part == "memory" || part == "cloud") {
            if (part == "ingest")
                Ingest(port);
            else if (part == "latency")
                Latency(port);
            else if (part == "memory")
                StalledMemory(port);
            else
                MillionPointCloud(port);
            return 0;
        }
        if (argc > 2) {
            // One listener run at the given rate, to look at with a profiler.
            const double rate = std::atof(argv[2]);
            const auto count = static_cast<std::size_t>(rate * 3 / kRecordsPerDatagram);
            const ListenerRun run = Listener(port, count, rate);
            std::printf("listener at %.0f points/s: lost %zu of %zu points, kernel drops %llu, "
                        "queue drops %llu\n",
                        rate, count * kRecordsPerDatagram - run.points, count * kRecordsPerDatagram,
                        static_cast<unsigned long long>(run.stats.kernelDrops),
                        static_cast<unsigned long long>(run.stats.queueDrops));
            return 0;
        }
        Ingest(port);
        Latency(port);
        StalledMemory(port);
        MillionPointCloud(port);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "listener_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
