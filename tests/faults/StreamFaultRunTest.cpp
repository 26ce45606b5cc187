// The laser stream's faults as a host sees them on its data socket: every
// spoilt, cut, doubled and reordered datagram arrives as counted, and a burst
// overflows a socket buffer so that the kernel drops datagrams.
#include "../sim/SimTestSupport.h"
#include "Simulator.h"

#include "Sentova/CommandSerialiser.h"
#include "Sentova/LaserPacket.h"
#include "Sentova/SentovaEventManager.h"
#include "Sentova/SentovaGrabber.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <atomic>
#include <cstring>
#include <functional>

using sentova::sim::Endpoint;
using sentova::sim::SimulatorConfig;
using simtest::waitUntil;
using tavrel::CommandSerialiser;

namespace {

SimulatorConfig streamConfig(const std::string& host) {
    SimulatorConfig c = simtest::quietConfig(FAULT_TEST_NET "." + host);
    c.device.model = LIDAR_GENERIC;
    return c;
}

// A data socket that also reads the kernel's count of datagrams it dropped.
class DataSocket {
public:
    explicit DataSocket(int receiveBuffer = 0) {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (receiveBuffer > 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        const int on = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(0x7F000001);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    }
    ~DataSocket() { ::close(m_fd); }
    DataSocket(const DataSocket&) = delete;
    DataSocket& operator=(const DataSocket&) = delete;

    int port() const {
        sockaddr_in a{};
        socklen_t n = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &n);
        return ntohs(a.sin_port);
    }

    // The next datagram within timeoutMs, or nothing.
    std::optional<std::string> receive(int timeoutMs) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return std::nullopt;
        std::string buffer(65536, '\0');
        iovec io{&buffer[0], buffer.size()};
        char control[CMSG_SPACE(sizeof(std::uint32_t))];
        msghdr m{};
        m.msg_iov = &io;
        m.msg_iovlen = 1;
        m.msg_control = control;
        m.msg_controllen = sizeof control;
        const ssize_t got = ::recvmsg(m_fd, &m, 0);
        if (got < 0)
            return std::nullopt;
        for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c))
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL)
                std::memcpy(&kernelDrops, CMSG_DATA(c), sizeof kernelDrops);
        buffer.resize(static_cast<std::size_t>(got));
        return buffer;
    }

    std::uint32_t kernelDrops = 0;

private:
    int m_fd = -1;
};

struct StreamingSim {
    explicit StreamingSim(SimulatorConfig c) : address(c.address), sim(std::move(c)) {
        sim.start();
    }
    const std::string address;
    sentova::sim::Simulator sim;
};

} // namespace

TEST(StreamFaultRun, SpoiltCutDoubledAndReorderedDatagramsArriveAsCounted) {
    SimulatorConfig c = streamConfig("2.1");
    c.faults.packets.truncate = 0.15;
    c.faults.packets.badHeader = 0.15;
    c.faults.packets.duplicate = 0.15;
    c.faults.packets.reorder = 0.15;
    c.faults.seed = 5;
    StreamingSim f(c);
    tavrel::SentovaEventManager events(f.address);
    DataSocket data;
    ASSERT_EQ(events.ManagerSendCommand(CommandSerialiser::SVRRBE({{0, data.port()}})),
              tavrel::NoError);
    std::size_t spoilt = 0, cut = 0, doubled = 0, backwards = 0, total = 0;
    std::string previous;
    std::uint32_t latest = 0;
    while (total < 800) {
        const auto d = data.receive(1000);
        ASSERT_TRUE(d);
        ++total;
        if (d->compare(0, 6, "EBRBEX") == 0) {
            ++spoilt;
            continue;
        }
        ASSERT_EQ(d->compare(0, 6, "EBRBEP"), 0);
        if ((d->size() - 6) % tavrel::kLaserRecordSize != 0)
            ++cut;
        if (*d == previous)
            ++doubled;
        previous = *d;
        if (d->size() >= 6 + tavrel::kLaserRecordSize) {
            const std::uint32_t stamp = tavrel::decodeData(d->data() + 6).timestamp;
            if (stamp < latest)
                ++backwards;
            latest = std::max(latest, stamp);
        }
    }
    ASSERT_EQ(events.ManagerSendCommand(CommandSerialiser::SVSRBE()), tavrel::NoError);
    for (std::size_t count : {spoilt, cut, doubled, backwards}) {
        EXPECT_GT(count, total / 20);
        EXPECT_LT(count, total / 4);
    }
    // A spoilt or cut datagram may also have been doubled.
    const auto counters = f.sim.counters().packetFaults;
    EXPECT_GE(counters.badHeader + counters.duplicated, spoilt);
    EXPECT_GE(counters.truncated + counters.duplicated, cut);
    EXPECT_GE(counters.reordered, backwards);
    EXPECT_EQ(f.sim.counters().packetsDropped, 0u);
}

TEST(StreamFaultRun, BurstOverflowsTheDataSocket) {
    SimulatorConfig c = streamConfig("2.2");
    c.faults.packets.burst = 300;
    c.faults.packets.burstIntervalMs = 200;
    StreamingSim f(c);
    tavrel::SentovaEventManager events(f.address);
    // A small buffer that nobody reads while the burst comes in.
    DataSocket data(64 * 1024);
    ASSERT_EQ(events.ManagerSendCommand(CommandSerialiser::SVRRBE({{0, data.port()}})),
              tavrel::NoError);
    ASSERT_TRUE(waitUntil([&] { return f.sim.counters().packetFaults.bursts >= 1; }));
    ASSERT_EQ(events.ManagerSendCommand(CommandSerialiser::SVSRBE()), tavrel::NoError);
    std::size_t received = 0;
    while (data.receive(300))
        ++received;
    // The kernel tells its drop count with the next datagram it delivers: one sent now arrives
    // after every drop.
    simtest::UdpClient marker("127.0.0.1");
    marker.sendTo(Endpoint{0x7F000001u, static_cast<std::uint16_t>(data.port())}, "marker");
    ASSERT_TRUE(data.receive(3000));
    const auto counters = f.sim.counters();
    // Each burst is filled up to its size with copies; how many of them copies depends on how many
    // datagrams the stream brought in the interval, which a busy machine stretches.
    EXPECT_GE(counters.packetFaults.burstDatagrams, 300u * counters.packetFaults.bursts);
    EXPECT_GT(counters.packetFaults.burstCopies, 0u);
    EXPECT_GT(data.kernelDrops, 100u);
    EXPECT_LT(received, counters.packetFaults.burstDatagrams);
    EXPECT_EQ(counters.sendFailures, 0u);
}

namespace {

class Discard : public tavrel::SentovaLaserDataCallbackClass {
public:
    void LaserDataCallback(std::vector<tavrel::tavrel_rbe_obs_t>, unsigned int) override {}
};

struct ListenedRun {
    tavrel::stream_statistics_t stats;
    sentova::sim::SimulatorCounters counters;
    sentova::sim::DeviceStatus status;
    // Datagrams of the stranger's sent to the data port; the kernel may have dropped some.
    std::uint64_t strangerSends = 0;
};

// Holds the listener's socket thread on the first datagram until the simulator
// has sent `datagrams`, so that they pile up in the socket's buffer however fast
// the listener would have taken them.
class HoldFirst : public tavrel::SentovaTrafficCallbackClass {
public:
    HoldFirst(StreamingSim& sim, std::uint64_t datagrams) : m_sim(sim), m_datagrams(datagrams) {}
    void TrafficCallback(const tavrel::traffic_datagram_t&) override {
        if (m_held.exchange(true))
            return;
        waitUntil([&] { return m_sim.sim.counters().packetsSent >= m_datagrams; }, 10000);
    }

private:
    StreamingSim& m_sim;
    const std::uint64_t m_datagrams;
    std::atomic<bool> m_held{false};
};

// Streams from a simulator with these faults into the library's listener until
// the simulator's counters satisfy `until` (however long a slow, instrumented
// build takes for the faults asked of it); returns what both counted once all
// has arrived. With holdFor, the listener's socket thread is held on the
// first datagram until the simulator has sent that many.
ListenedRun listen(SimulatorConfig c, int port,
                   const std::function<bool(const sentova::sim::SimulatorCounters&)>& until,
                   std::uint64_t holdFor = 0) {
    StreamingSim f(c);
    tavrel::SentovaEventManager events(f.address);
    Discard discard;
    tavrel::SentovaGrabber listener;
    if (holdFor > 0)
        listener.SetTrafficObserver(std::make_shared<HoldFirst>(f, holdFor));
    ListenedRun run;
    if (!listener.StartListening(f.address, port, &discard)) {
        ADD_FAILURE() << "cannot listen on " << port;
        return run;
    }
    EXPECT_EQ(events.ManagerSendCommand(CommandSerialiser::SVRRBE({{0, port}})), tavrel::NoError);
    EXPECT_TRUE(waitUntil([&] { return until(f.sim.counters()); }, 10000));
    EXPECT_EQ(events.ManagerSendCommand(CommandSerialiser::SVSRBE()), tavrel::NoError);
    // A datagram from another host, sent once the stream has stopped, is refused
    // by the socket thread after everything that arrived before it, and brings
    // the kernel's count of the drops before it along. Counts that merely stand
    // still for a moment prove nothing on a slow build. Sent again in case the
    // full socket buffer dropped it too.
    simtest::UdpClient stranger("127.0.0.1");
    const std::string record(tavrel::kLaserRecordSize, '\0');
    EXPECT_TRUE(waitUntil(
        [&] {
            stranger.sendTo(Endpoint{0x7F000001u, static_cast<std::uint16_t>(port)}, record);
            ++run.strangerSends;
            return waitUntil([&] { return listener.GetStatistics().refusedSender > 0; }, 50);
        },
        10000));
    run.stats = listener.GetStatistics();
    run.counters = f.sim.counters();
    run.status = f.sim.status();
    listener.StopListening();
    return run;
}

} // namespace

TEST(StreamFaultRun, TheListenerCountsEachKindOfFault) {
    const int port = FAULT_TEST_DATA_PORT_BASE + 20;

    SimulatorConfig spoilt = streamConfig("2.3");
    spoilt.faults.packets.badHeader = 0.2;
    auto run = listen(spoilt, port, [](const sentova::sim::SimulatorCounters& c) {
        return c.packetFaults.badHeader > 20;
    });
    EXPECT_GT(run.counters.packetFaults.badHeader, 20u);
    EXPECT_EQ(run.stats.refusedHeader, run.counters.packetFaults.badHeader);
    EXPECT_EQ(run.stats.datagrams + run.stats.refusedHeader, run.counters.packetsSent);

    SimulatorConfig cut = streamConfig("2.4");
    cut.faults.packets.truncate = 0.2;
    run = listen(cut, port + 1, [](const sentova::sim::SimulatorCounters& c) {
        return c.packetFaults.truncated > 20;
    });
    EXPECT_GT(run.counters.packetFaults.truncated, 20u);
    // A cut datagram keeps its whole records; one without any is refused.
    EXPECT_LE(run.stats.refusedHeader, run.counters.packetFaults.truncated);
    EXPECT_EQ(run.stats.datagrams + run.stats.refusedHeader, run.counters.packetsSent);
    EXPECT_LT(run.stats.points, run.status.pointsSent);

    SimulatorConfig lost = streamConfig("2.5");
    lost.faults.packets.drop = 0.2;
    run = listen(lost, port + 2,
                 [](const sentova::sim::SimulatorCounters& c) { return c.packetsDropped > 40; });
    const double missing = static_cast<double>(run.status.pointsSent - run.stats.points);
    EXPECT_GT(run.counters.packetsDropped, 40u);
    EXPECT_EQ(run.stats.datagrams, run.counters.packetsSent);
    // The gaps in the timestamps tell how many points went missing.
    EXPECT_NEAR(static_cast<double>(run.stats.pointsMissing), missing, 0.15 * missing);

    SimulatorConfig doubled = streamConfig("2.6");
    doubled.faults.packets.duplicate = 0.2;
    doubled.faults.packets.reorder = 0.2;
    run = listen(doubled, port + 3, [](const sentova::sim::SimulatorCounters& c) {
        return c.packetFaults.duplicated > 20 && c.packetFaults.reordered > 20;
    });
    EXPECT_GT(run.counters.packetFaults.duplicated, 20u);
    EXPECT_GT(run.counters.packetFaults.reordered, 20u);
    EXPECT_EQ(run.stats.datagrams, run.counters.packetsSent);
    EXPECT_GT(run.stats.points, run.status.pointsSent);
    // Nothing is lost: late datagrams fill the gaps they left.
    EXPECT_LT(run.stats.pointsMissing, run.status.pointsSent / 50);

    SimulatorConfig bursting = streamConfig("2.7");
    // 64 MB at once: more than a socket buffer of the largest size the system
    // grants to a privileged process holds.
    bursting.faults.packets.burst = 1000;
    bursting.faults.packets.burstIntervalMs = 300;
    // The first burst overflows the socket's buffer while the listener is held;
    // the kernel's count of drops comes with the next datagram after them.
    run = listen(
        bursting, port + 4,
        [](const sentova::sim::SimulatorCounters& c) { return c.packetFaults.bursts >= 2; },
        bursting.faults.packets.burst);
    EXPECT_GE(run.counters.packetFaults.bursts, 2u);
    EXPECT_GT(run.stats.kernelDrops, 0u)
        << run.stats.datagrams << " of " << run.counters.packetsSent;
    EXPECT_LE(run.stats.datagrams + run.stats.kernelDrops,
              run.counters.packetsSent + run.strangerSends);
}
