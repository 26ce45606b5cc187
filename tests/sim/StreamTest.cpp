// The laser stream on a chosen clock: a source plugged into the device, and
// several hosts receiving the one stream.
#include "Device.h"
#include "Scanner.h"

#include "Sentova/CommandSerialiser.h"
#include "Sentova/LaserPacket.h"

#include <gtest/gtest.h>

#include <limits>

using namespace sentova::sim;
using tavrel::CommandSerialiser;

namespace {

const Endpoint kManagerA{0x7F000001, 40002};
const Endpoint kOtherChannelA{0x7F000001, 40009};
const Endpoint kManagerB{0x7F000002, 40003};

std::vector<Outgoing> deliver(Device& d, const std::string& command, double t, Endpoint from) {
    std::vector<Outgoing> out;
    d.receive(command, from, t, out);
    return out;
}

std::vector<Outgoing> advanceTo(Device& d, double t) {
    std::vector<Outgoing> out;
    d.advance(t, out);
    return out;
}

std::size_t packetsTo(const std::vector<Outgoing>& out, const Endpoint& to) {
    std::size_t n = 0;
    for (const auto& o : out)
        if (o.kind == OutKind::LaserData && o.to == to)
            ++n;
    return n;
}

// Plays datagrams "0", "1", ... one every 10 ms from the start, and records
// what the device told it.
class ScriptedSource : public LaserPacketSource {
public:
    tavrel::tavrel_error_t start(const LaserStreamStart& s) override {
        if (refuse)
            return tavrel::InvalidArgument;
        starts.push_back(s);
        m_start = s.time;
        m_next = 0;
        m_running = true;
        return tavrel::NoError;
    }
    void stop(double time, std::vector<std::string>& out) override {
        stops.push_back(time);
        out.push_back("last");
        m_running = false;
    }
    double nextDue() const override {
        return m_running ? m_start + 0.01 * m_next : std::numeric_limits<double>::infinity();
    }
    void produce(double until, const Aperture& aperture, std::vector<std::string>& out) override {
        double az = 0.0, el = 0.0;
        aperture.pointingAt(until, az, el);
        while (m_running && nextDue() <= until)
            out.push_back(std::to_string(m_next++));
    }
    double pointRate() const override { return 1234.0; }

    bool refuse = false;
    std::vector<LaserStreamStart> starts;
    std::vector<double> stops;

private:
    bool m_running = false;
    double m_start = 0.0;
    unsigned m_next = 0;
};

DeviceSettings withSource(std::shared_ptr<LaserPacketSource> source) {
    DeviceSettings s;
    s.model = LIDAR_LX20;
    s.laserSource = std::move(source);
    return s;
}

} // namespace

TEST(Stream, APluggedSourceFeedsTheStreamAtItsPace) {
    auto source = std::make_shared<ScriptedSource>();
    Device d(withSource(source));
    EXPECT_EQ(d.nextLaserDue(), std::numeric_limits<double>::infinity());
    const auto started =
        deliver(d, CommandSerialiser::SVRRBE({{3, 20000}, {4, 2}, {0, 5000}}), 1.0, kManagerA);
    ASSERT_EQ(started.at(0).bytes, "EARRBE");
    ASSERT_EQ(source->starts.size(), 1u);
    EXPECT_EQ(source->starts[0].model, LIDAR_LX20);
    EXPECT_EQ(source->starts[0].time, 1.0);
    EXPECT_EQ(source->starts[0].parameters.at(3), 20000);
    EXPECT_EQ(source->starts[0].parameters.at(0), 5000);
    EXPECT_EQ(d.status().pointRate, 1234.0);
    // Datagram 0 was due at once; the next one 10 ms later.
    EXPECT_EQ(packetsTo(started, Endpoint{0x7F000001, 5000}), 1u);
    EXPECT_DOUBLE_EQ(d.nextLaserDue(), 1.01);

    const auto run = advanceTo(d, 1.055);
    std::vector<std::string> bytes;
    for (const auto& o : run)
        bytes.push_back(o.bytes);
    EXPECT_EQ(bytes, (std::vector<std::string>{"1", "2", "3", "4", "5"}));
    const auto stopped = deliver(d, "SVSRBE", 1.058, kManagerA);
    ASSERT_EQ(stopped.size(), 2u);
    EXPECT_EQ(stopped[0].bytes, "last"); // what the source still held
    EXPECT_EQ(stopped[1].bytes, "EASRBE");
    EXPECT_EQ(source->stops, std::vector<double>{1.058});
    EXPECT_FALSE(d.status().streaming);
    EXPECT_TRUE(advanceTo(d, 2.0).empty());

    // A source may refuse a start: that is the device's answer.
    source->refuse = true;
    EXPECT_EQ(deliver(d, CommandSerialiser::SVRRBE({{0, 5000}}), 3.0, kManagerA).at(0).bytes,
              std::string("EERRBE\x05", 7));
    EXPECT_FALSE(d.status().streaming);
}

TEST(Stream, SeveralHostsEachReceiveTheStream) {
    DeviceSettings s;
    s.model = LIDAR_GENERIC;
    Device d(s);
    // Homed and aimed at the floor, where every sample hits.
    deliver(d, "SVHOME", 0.0, kManagerA);
    advanceTo(d, 1.0);
    deliver(d, CommandSerialiser::SVSEAA(90.0, -30.0, 3600.0), 1.0, kManagerA);
    advanceTo(d, 1.5);

    const Endpoint toA{kManagerA.address, 4366}, toB{kManagerB.address, 4366};
    deliver(d, CommandSerialiser::SVRRBE({{0, 4366}}), 2.0, kManagerA);
    deliver(d, CommandSerialiser::SVRRBE({{0, 4366}}), 2.0, kManagerB);
    auto both = advanceTo(d, 2.1);
    EXPECT_GT(packetsTo(both, toA), 40u);
    EXPECT_EQ(packetsTo(both, toA), packetsTo(both, toB));
    EXPECT_EQ(d.status().streamTargets.size(), 2u);
    // The same measurements go to both.
    for (std::size_t i = 0; i + 1 < both.size(); i += 2)
        EXPECT_EQ(both[i].bytes, both[i + 1].bytes);

    // A host's stop ends its own stream only.
    deliver(d, "SVSRBE", 2.1, kManagerB);
    auto onlyA = advanceTo(d, 2.2);
    EXPECT_GT(packetsTo(onlyA, toA), 40u);
    EXPECT_EQ(packetsTo(onlyA, toB), 0u);

    // A restart from the same host to the same port stays one stream.
    deliver(d, CommandSerialiser::SVRRBE({{0, 4366}}), 2.2, kManagerA);
    EXPECT_EQ(d.status().streamTargets.size(), 1u);
    // A channel that started nothing stops every stream to its host.
    deliver(d, CommandSerialiser::SVRRBE({{0, 4400}}), 2.2, kManagerA);
    EXPECT_EQ(d.status().streamTargets.size(), 2u);
    deliver(d, "SVSRBE", 2.3, kOtherChannelA);
    EXPECT_FALSE(d.status().streaming);

    // At most kMaximumStreamTargets at once; the next is told the device is busy.
    for (unsigned i = 0; i < kMaximumStreamTargets; ++i)
        ASSERT_EQ(
            deliver(d, CommandSerialiser::SVRRBE({{0, static_cast<int>(5000 + i)}}), 3.0, kManagerA)
                .back()
                .bytes,
            "EARRBE");
    EXPECT_EQ(deliver(d, CommandSerialiser::SVRRBE({{0, 6000}}), 3.0, kManagerB).back().bytes,
              std::string("EERRBE\x09", 7));
}
