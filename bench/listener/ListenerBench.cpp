// Throughput of the laser listener on loopback UDP, against a plain receive
// loop on the same traffic. A sender thread sends datagrams of 63 records
// (1392 bytes), either as fast as it can or paced to a point rate. The paced
// run is repeated with a traffic observer that copies every datagram, and the
// grabber is timed accumulating a million points into one cloud.
//
// Usage: listener_bench [datagrams per run, default 100000] [port, default 48900]
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
constexpr int kReceiveBuffer = 8 * 1024 * 1024;
// The run ends when nothing has arrived for this long after the last send.
constexpr std::chrono::milliseconds kQuiet{300};
constexpr std::chrono::seconds kLongest{60};

std::string MakeDatagram() {
    std::vector<tavrel::LaserRecord> records(kRecordsPerDatagram);
    for (std::size_t i = 0; i < records.size(); ++i) {
        records[i].timestamp = static_cast<std::uint32_t>(1000 + i);
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

// Sends count datagrams to 127.0.0.1:port; pointsPerSecond 0 means unpaced.
void Send(unsigned short port, std::size_t count, double pointsPerSecond) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        throw std::runtime_error("sender socket");
    const std::string datagram = MakeDatagram();
    const sockaddr_in to = Loopback(port);
    const auto interval = std::chrono::duration<double>(
        pointsPerSecond > 0 ? kRecordsPerDatagram / pointsPerSecond : 0.0);
    const auto start = Clock::now();
    for (std::size_t i = 0; i < count; ++i) {
        if (pointsPerSecond > 0) {
            const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                         interval * static_cast<double>(i));
            if (due > Clock::now())
                std::this_thread::sleep_until(due);
        }
        sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to);
    }
    close(fd);
}

struct Figures {
    std::size_t points = 0;
    double seconds = 0;
};

// Counts points delivered by another thread; ends the run once it is quiet.
struct Tally {
    std::atomic<std::size_t> points{0};
    std::atomic<Clock::rep> last{0};
    void Add(std::size_t n) {
        points += n;
        last = Clock::now().time_since_epoch().count();
    }
    Figures WaitQuiet(Clock::time_point start, std::thread& sender) {
        sender.join();
        const auto sent = Clock::now();
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            const auto lastAt = Clock::time_point(Clock::duration(last.load()));
            const auto now = Clock::now();
            if (now - std::max(lastAt, sent) > kQuiet || now - start > kLongest)
                break;
        }
        const auto lastAt = Clock::time_point(Clock::duration(last.load()));
        return {points.load(), std::chrono::duration<double>(lastAt - start).count()};
    }
};

Figures PlainLoop(unsigned short port, std::size_t count) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
    const sockaddr_in local = Loopback(port);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        throw std::runtime_error("plain loop: cannot bind port " + std::to_string(port));
    timeval tick{0, 50000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);

    Tally tally;
    std::atomic<bool> done{false};
    std::thread receiver([&] {
        std::vector<char> buffer(65535);
        while (!done) {
            const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
            if (n > 0)
                tally.Add((static_cast<std::size_t>(n) - tavrel::kLaserHeaderSize) /
                          tavrel::kLaserRecordSize);
        }
    });
    const auto start = Clock::now();
    std::thread sender(Send, port, count, 0.0);
    const Figures f = tally.WaitQuiet(start, sender);
    done = true;
    receiver.join();
    close(fd);
    return f;
}

class Counter : public tavrel::SentovaLaserDataCallbackClass {
public:
    void LaserDataCallback(std::vector<tavrel::tavrel_rbe_obs_t> observations,
                           unsigned int) override {
        tally.Add(observations.size());
    }
    Tally tally;
};

// The least a recorder does: copy each datagram's bytes.
class CopyingObserver : public tavrel::SentovaTrafficCallbackClass {
public:
    void TrafficCallback(const tavrel::traffic_datagram_t& d) override {
        m_copy.assign(d.data, d.size);
        ++datagrams;
    }
    std::size_t datagrams = 0;

private:
    std::string m_copy;
};

Figures Listener(unsigned short port, std::size_t count, double pointsPerSecond,
                 std::shared_ptr<tavrel::SentovaTrafficCallbackClass> observer = nullptr) {
    Counter counter;
    tavrel::SentovaGrabber listener;
    listener.SetTrafficObserver(observer);
    if (!listener.StartListening("127.0.0.1", port, &counter))
        throw std::runtime_error("listener: cannot bind port " + std::to_string(port));
    const auto start = Clock::now();
    std::thread sender(Send, port, count, pointsPerSecond);
    const Figures f = counter.tally.WaitQuiet(start, sender);
    listener.StopListening();
    return f;
}

// Seconds from the first datagram sent until the grabber signals one cloud of
// more than a million points (packets of 40 records, as the device sends).
double MillionPointCloud(unsigned short port) {
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
    std::printf("%-34s %10zu of %10zu points  %8.3f s  (sending alone: %.3f s)\n",
                "grabber, signal size 1,000,000", points, packets * kRecords, seconds,
                packets * interval.count());
    return seconds;
}

double Rate(const Figures& f) {
    return f.seconds > 0 ? static_cast<double>(f.points) / f.seconds : 0.0;
}

void Print(const char* name, const Figures& f, std::size_t sent) {
    const std::size_t sentPoints = sent * kRecordsPerDatagram;
    std::printf("%-34s %10zu of %10zu points  %8.3f s  %12.0f points/s  lost %6.2f %%\n", name,
                f.points, sentPoints, f.seconds, Rate(f),
                100.0 * static_cast<double>(sentPoints - f.points) /
                    static_cast<double>(sentPoints));
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
    const auto port = static_cast<unsigned short>(argc > 2 ? std::atoi(argv[2]) : 48900);
    std::printf("%zu datagrams of %zu records (%zu bytes) to 127.0.0.1:%u\n", count,
                kRecordsPerDatagram, MakeDatagram().size(), port);
    try {
        // Unpaced rounds alternate, so that load from other programs on the
        // machine falls on both alike.
        std::vector<double> ratios;
        for (int round = 1; round <= 3; ++round) {
            const Figures plain = PlainLoop(port, count);
            Print("plain recv loop, unpaced", plain, count);
            const Figures unpaced = Listener(port, count, 0.0);
            Print("listener, unpaced", unpaced, count);
            ratios.push_back(Rate(unpaced) / Rate(plain));
            std::printf("round %d: listener / plain loop rate %.2f\n", round, ratios.back());
        }
        std::sort(ratios.begin(), ratios.end());
        std::printf("median listener / plain loop rate: %.2f\n", ratios[1]);
        // About 2 and 5 seconds of traffic at these rates.
        const std::size_t paced = 2000000 / kRecordsPerDatagram;
        Print("listener, paced 1,000,000 points/s", Listener(port, paced, 1e6), paced);
        auto observer = std::make_shared<CopyingObserver>();
        Print("  the same with a copying observer", Listener(port, paced, 1e6, observer), paced);
        std::printf("%-34s %10zu of %10zu datagrams\n", "  datagrams the observer copied",
                    observer->datagrams, paced);
        const std::size_t fast = 20000000 / kRecordsPerDatagram;
        Print("listener, paced 4,000,000 points/s", Listener(port, fast, 4e6), fast);
        MillionPointCloud(port);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "listener_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
