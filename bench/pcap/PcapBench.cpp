// Replay and recording figures through the real laser listener on loopback UDP:
//  - replay as fast as possible: a recording of 1,000,000 points played by the
//    simulator's replay with --as-fast-as-possible, points per second received;
//  - recording overhead: a recording paced at 1,000,000 points per second played
//    at its pace into the listener, once without and once with a recorder
//    watching the listener's data port, points lost in each run.
//
// Usage: pcap_bench [seconds of the paced runs, default 5]
#include "Replay.h"
#include "Sentova/Protocol.h"
#include "Simulator.h"

#include "Sentova/CommandSerialiser.h"
#include "Sentova/LaserPacket.h"
#include "Sentova/SentovaGrabber.h"
#include "SentovaPcap/Capture.h"
#include "SentovaPcap/Recorder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kRecordsPerDatagram = 40;
constexpr const char* kDeviceAddress = "127.85.0.1";
constexpr std::uint32_t kRecordedDevice = 0x0a000002;
constexpr unsigned short kDataPort = 48950;
constexpr std::chrono::milliseconds kQuiet{500};

// A recording of `datagrams` laser datagrams, `intervalMicros` apart.
void writeRecording(const std::string& path, std::size_t datagrams, std::uint64_t intervalMicros) {
    sentova::pcap::Writer w(path);
    std::vector<tavrel::LaserRecord> records(kRecordsPerDatagram);
    std::uint32_t stamp = 0;
    for (std::size_t i = 0; i < datagrams; ++i) {
        for (std::size_t r = 0; r < records.size(); ++r) {
            records[r].timestamp = stamp++;
            records[r].azimuth = -170.0 + 8.0 * double(r);
            records[r].elevation = 10.0;
            records[r].range = 12000 + std::int32_t(r);
            records[r].amplitude = 3000;
        }
        const std::string p = tavrel::encodeLaserPacket(records);
        w.write(1700000000000000 + i * intervalMicros, kRecordedDevice,
                tavrel::protocol::kCommandPort, 0x0a000001, tavrel::protocol::kDefaultDataPort,
                p.data(), p.size());
    }
    w.close();
}

class Counter : public tavrel::SentovaLaserDataCallbackClass {
public:
    void LaserDataCallback(std::vector<tavrel::tavrel_rbe_obs_t> observations,
                           unsigned int) override {
        const auto now = Clock::now().time_since_epoch().count();
        if (points.fetch_add(observations.size()) == 0)
            first = now;
        last = now;
    }
    std::atomic<std::uint64_t> points{0};
    std::atomic<Clock::rep> first{0}, last{0};
};

void sendCommand(const sentova::sim::Endpoint& to, const std::string& bytes) {
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(to.port);
    a.sin_addr.s_addr = htonl(to.address);
    ::sendto(s, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::close(s);
}

struct RunResult {
    std::uint64_t expected = 0, received = 0, kernelDrops = 0;
    double seconds = 0.0; // first to last delivery
    sentova::pcap::RecorderStatus recording;
};

// Plays the recording into a listener; with recordTo set, a recorder watches the data port.
RunResult play(const std::string& recording, bool fast, std::uint64_t expected,
               const std::string& recordTo) {
    sentova::sim::SimulatorConfig config;
    config.address = kDeviceAddress;
    config.echo = false;
    sentova::sim::ReplayOptions options;
    options.file = recording;
    options.asFastAsPossible = fast;
    std::string problems;
    sentova::sim::useReplay(options, true, config.device, problems);
    sentova::sim::Simulator sim(config);
    sim.start();

    Counter counter;
    tavrel::SentovaGrabber listener;
    std::shared_ptr<sentova::pcap::Recorder> recorder;
    if (!recordTo.empty()) {
        recorder = std::make_shared<sentova::pcap::Recorder>(recordTo);
        listener.SetTrafficObserver(recorder);
    }
    if (!listener.StartListening(kDeviceAddress, kDataPort, &counter)) {
        std::fprintf(stderr, "cannot listen on port %u\n", kDataPort);
        std::exit(1);
    }
    sendCommand(sim.endpoint(), tavrel::CommandSerialiser::SVRRBE({{0, kDataPort}}));
    std::uint64_t seen = 0;
    auto quietSince = Clock::now();
    const auto deadline = Clock::now() + std::chrono::minutes(5);
    while (Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const std::uint64_t now = counter.points.load();
        if (now != seen) {
            seen = now;
            quietSince = Clock::now();
        } else if (now > 0 && Clock::now() - quietSince > kQuiet) {
            break;
        }
        if (now >= expected && Clock::now() - quietSince > std::chrono::milliseconds(100))
            break;
    }
    sendCommand(sim.endpoint(), tavrel::CommandSerialiser::SVSRBE());
    RunResult r;
    r.expected = expected;
    r.kernelDrops = listener.GetStatistics().kernelDrops;
    listener.StopListening();
    sim.stop();
    r.received = counter.points.load();
    r.seconds =
        std::chrono::duration<double>(Clock::duration(counter.last - counter.first)).count();
    if (recorder)
        r.recording = recorder->stop();
    return r;
}

void print(const char* what, const RunResult& r) {
    std::printf("%-38s %10llu of %10llu points, %9llu lost, %7llu kernel drops, %11.0f points/s\n",
                what, static_cast<unsigned long long>(r.received),
                static_cast<unsigned long long>(r.expected),
                static_cast<unsigned long long>(r.expected - std::min(r.expected, r.received)),
                static_cast<unsigned long long>(r.kernelDrops),
                r.seconds > 0 ? double(r.received) / r.seconds : 0.0);
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    if (!(seconds > 0.0)) {
        std::fprintf(stderr, "usage: %s [seconds of the paced runs, default 5]\n", argv[0]);
        return 2;
    }
    char folder[] = "/tmp/pcap-bench-XXXXXX";
    if (!::mkdtemp(folder)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = folder;

    // 1,000,000 points; as fast as possible the pace of the file does not matter.
    const std::size_t fastDatagrams = 1000000 / kRecordsPerDatagram;
    writeRecording(dir + "/fast.pcap", fastDatagrams, 40);
    std::printf("Replay as fast as possible (1,000,000 points in %zu datagrams of %zu points):\n",
                fastDatagrams, kRecordsPerDatagram);
    for (int run = 1; run <= 3; ++run) {
        const RunResult r = play(dir + "/fast.pcap", true, fastDatagrams * kRecordsPerDatagram, "");
        char label[64];
        std::snprintf(label, sizeof label, "  run %d", run);
        print(label, r);
    }

    // 1,000,000 points per second: a datagram of 40 points every 40 microseconds.
    const auto pacedDatagrams = static_cast<std::size_t>(seconds * 1e6 / kRecordsPerDatagram);
    writeRecording(dir + "/paced.pcap", pacedDatagrams, 40);
    const std::uint64_t expected = pacedDatagrams * kRecordsPerDatagram;
    std::printf("\nRecording at 1,000,000 points/s paced, %.1f s per run:\n", seconds);
    const RunResult off = play(dir + "/paced.pcap", false, expected, "");
    print("  recording off", off);
    const RunResult on = play(dir + "/paced.pcap", false, expected, dir + "/recorded.pcap");
    print("  recording on", on);
    std::printf("  recorder: %llu datagrams written, %llu not recorded, %.1f MB, %s\n",
                static_cast<unsigned long long>(on.recording.datagrams),
                static_cast<unsigned long long>(on.recording.notRecorded),
                double(on.recording.bytes) / 1e6,
                on.recording.failed ? on.recording.error.c_str() : "no error");

    for (const char* f : {"/fast.pcap", "/paced.pcap", "/recorded.pcap"})
        std::remove((dir + f).c_str());
    ::rmdir(dir.c_str());
    return 0;
}
