// What the listener hands the application: exact values, every accepted
// datagram without delay, and the header rule by length.
#include "LoopbackSupport.h"

#include "ByteString.h"
#include "Sentova/SentovaGrabber.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace listener_test;
using testing_support::Bytes;
using Observations = std::vector<tavrel::tavrel_rbe_obs_t>;

namespace {

// Batches may merge datagrams, so what counts is the run of observations.
class Collector : public tavrel::SentovaLaserDataCallbackClass {
public:
    void LaserDataCallback(Observations observations, unsigned int) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_seen.insert(m_seen.end(), observations.begin(), observations.end());
        m_changed.notify_all();
    }
    // Waits until an observation with this timestamp arrived; returns all so far.
    Observations WaitForStamp(std::uint64_t timestamp) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, kWait, [&] {
            for (const auto& o : m_seen)
                if (o.timestamp == timestamp)
                    return true;
            return false;
        });
        return m_seen;
    }

private:
    std::mutex m_mutex; // guards m_seen
    std::condition_variable m_changed;
    Observations m_seen;
};

std::vector<std::uint64_t> Stamps(const Observations& observations) {
    std::vector<std::uint64_t> stamps;
    for (const auto& o : observations)
        stamps.push_back(o.timestamp);
    return stamps;
}

// The angle coding's exact value of a signed 32-bit count.
double Angle(std::int32_t count) {
    return static_cast<double>(count) * (360.0 / 4294967296.0);
}

} // namespace

TEST(Delivery, TimestampsAndAnglesArriveExactly) {
    const unsigned short port = TestPort(60);
    tavrel::SentovaGrabber listener;
    Collector collector;
    ASSERT_TRUE(listener.StartListening("127.0.0.1", port, &collector));
    // Time stamps a float rounds: 2^24 + 1, 4,000,000,001 and the largest;
    // azimuth 0E 38 E3 8E is a hair below 20 degrees, elevation one count.
    const std::string records =
        Bytes({0x01, 0x00, 0x00, 0x01, 0x0E, 0x38, 0xE3, 0x8E, 0,    0,    0,
               1,    0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0x00, 0x7F, 0xFF}) +
        Bytes({0xEE, 0x6B, 0x28, 0x01, 0xC0, 0,    0,    1,    0x3F, 0xFF, 0xFF,
               0xFF, 0x00, 0x98, 0x96, 0x81, 0x12, 0x34, 0xFF, 0xFE, 0x00, 0x05}) +
        Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0, 0, 0, 0x40, 0, 0,
               0,    0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0,    0, 0});
    const std::string packet = "EBRBEP" + records;
    LoopbackSender().Send(port, packet);
    const Observations seen = collector.WaitForStamp(4294967295u);
    listener.StopListening();

    ASSERT_EQ(Stamps(seen), (std::vector<std::uint64_t>{16777217u, 4000000001u, 4294967295u}));
    EXPECT_EQ(seen[0].azimuth, Angle(0x0E38E38E));
    EXPECT_EQ(seen[0].azimuth, 19.99999998137355);
    EXPECT_EQ(seen[0].elevation, Angle(1));
    EXPECT_EQ(seen[0].range, 2147483647.0); // beyond a float's 24 bits
    EXPECT_EQ(seen[0].amplitude, 65535.0);
    EXPECT_EQ(seen[0].reflectance, -32768.0);
    EXPECT_EQ(seen[0].pulse_shape_deviation, 32767.0);
    EXPECT_EQ(seen[1].azimuth, Angle(-0x3FFFFFFF));
    EXPECT_EQ(seen[1].elevation, Angle(0x3FFFFFFF));
    EXPECT_EQ(seen[1].range, 10000001.0);
    EXPECT_EQ(seen[1].amplitude, 0x1234);
    EXPECT_EQ(seen[1].reflectance, -2.0);
    EXPECT_EQ(seen[1].pulse_shape_deviation, 5.0);
    EXPECT_EQ(seen[2].azimuth, -180.0);
    EXPECT_EQ(seen[2].elevation, 90.0);
    EXPECT_EQ(seen[2].range, -1.0);

    // A recording's packet decodes to the same values, field for field.
    const Observations decoded = tavrel::DecodeLaserDatagram(
        reinterpret_cast<const unsigned char*>(packet.data()), packet.size());
    ASSERT_EQ(decoded.size(), seen.size());
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(decoded[i].timestamp, seen[i].timestamp);
        EXPECT_EQ(decoded[i].azimuth, seen[i].azimuth);
        EXPECT_EQ(decoded[i].elevation, seen[i].elevation);
        EXPECT_EQ(decoded[i].range, seen[i].range);
        EXPECT_EQ(decoded[i].amplitude, seen[i].amplitude);
        EXPECT_EQ(decoded[i].reflectance, seen[i].reflectance);
        EXPECT_EQ(decoded[i].pulse_shape_deviation, seen[i].pulse_shape_deviation);
    }
}

TEST(Delivery, ALoneRecordArrivesWithoutWaitingForMore) {
    const unsigned short port = TestPort(61);
    tavrel::SentovaGrabber listener;
    Collector collector;
    ASSERT_TRUE(listener.StartListening("127.0.0.1", port, &collector));
    LoopbackSender sender;
    sender.Send(port, Packet({42}));
    EXPECT_EQ(Stamps(collector.WaitForStamp(42)), (std::vector<std::uint64_t>{42}));
    // And so does each lone record after it, headerless ones too.
    sender.Send(port, tavrel::encodeLaserPacket({Record(43)}, false));
    EXPECT_EQ(Stamps(collector.WaitForStamp(43)), (std::vector<std::uint64_t>{42, 43}));
    listener.StopListening();
}

TEST(Delivery, AFirstByteEIsAHeaderOnlyWhenTheLengthSaysSo) {
    const unsigned short port = TestPort(62);
    tavrel::SentovaGrabber listener;
    Collector collector;
    ASSERT_TRUE(listener.StartListening("127.0.0.1", port, &collector));
    LoopbackSender sender;
    // Headerless, whose first time stamps begin with 0x45 ('E'), even "EB".
    sender.Send(port, tavrel::encodeLaserPacket({Record(0x45000001u), Record(0x45000002u)}, false));
    sender.Send(port, tavrel::encodeLaserPacket({Record(0x45420003u)}, false));
    // Not whole records and not the header: refused.
    sender.Send(port, tavrel::encodeLaserPacket({Record(0x45000004u)}, false) + "x");
    sender.Send(port, "EBRBEX" + tavrel::encodeLaserPacket({Record(5)}, false));
    // The header proper, with a trailing partial record ignored.
    sender.Send(port, Packet({6, 7}) + "abc");
    const Observations seen = collector.WaitForStamp(7);
    EXPECT_EQ(Stamps(seen),
              (std::vector<std::uint64_t>{0x45000001u, 0x45000002u, 0x45420003u, 6, 7}));
    EXPECT_EQ(listener.GetStatistics().refusedHeader, 2u);
    listener.StopListening();
}
