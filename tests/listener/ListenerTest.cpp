#include "LogCapture.h"
#include "LoopbackSupport.h"
#include "Sentova/SentovaGrabber.h"

#include <gtest/gtest.h>

#include <boost/system/system_error.hpp>

#include <stdexcept>
#include <thread>

using namespace listener_test;
using Observations = std::vector<tavrel::tavrel_rbe_obs_t>;

namespace {
class Receiver : public tavrel::SentovaLaserDataCallbackClass,
                 public Inbox<std::vector<std::uint64_t>> {
public:
    void LaserDataCallback(Observations observations, unsigned int n) override {
        EXPECT_EQ(n, 0u);
        if (!observations.empty() && Snapshot().empty())
            first = observations.front();
        std::vector<std::uint64_t> timestamps;
        for (const auto& o : observations)
            timestamps.push_back(o.timestamp);
        Put(timestamps);
    }
    tavrel::tavrel_rbe_obs_t first{};
};
using StampBatch = std::vector<std::uint64_t>;

// A call may carry several datagrams that arrived together: what counts is
// the order of the observations.
StampBatch Joined(const std::vector<StampBatch>& batches) {
    StampBatch all;
    for (const StampBatch& b : batches)
        all.insert(all.end(), b.begin(), b.end());
    return all;
}
std::vector<StampBatch> WaitForStamps(Receiver& receiver, std::size_t count) {
    return receiver.WaitUntil([count](const std::vector<StampBatch>& batches) {
        return Joined(batches).size() >= count;
    });
}
} // namespace

TEST(Listener, DatagramsArriveInOrderWithTheirValues) {
    const unsigned short port = TestPort(20);
    tavrel::SentovaGrabber listener;
    Receiver receiver;
    ASSERT_TRUE(listener.StartListening("127.0.0.1", port, &receiver));
    LoopbackSender sender;

    std::vector<tavrel::LaserRecord> records = {Record(5, -90.0), Record(6), Record(7)};
    records[0].elevation = 0.0;
    records[0].range = 1000;
    records[0].amplitude = 65535;
    records[0].reflectance = -32768;
    records[0].pulseShapeDeviation = 32767;
    sender.Send(port, tavrel::encodeLaserPacket(records, false));
    sender.Send(port, Packet({8}));
    sender.Send(port, Packet({9, 10}));
    EXPECT_EQ(Joined(WaitForStamps(receiver, 6)), (StampBatch{5, 6, 7, 8, 9, 10}));
    listener.StopListening();
    EXPECT_TRUE(PortIsFree(port));
    listener.StopListening();

    // Written by the first callback; the consumer thread has ended since.
    const tavrel::tavrel_rbe_obs_t& o = receiver.first;
    EXPECT_EQ(o.timestamp, 5u);
    EXPECT_EQ(o.azimuth, -90.0);
    EXPECT_EQ(o.elevation, 0.0);
    EXPECT_EQ(o.range, 1000.0);
    EXPECT_EQ(o.amplitude, 65535.0);
    EXPECT_EQ(o.reflectance, -32768.0);
    EXPECT_EQ(o.pulse_shape_deviation, 32767.0);
}

TEST(Listener, OnlyTheDevicesDatagramsArrive) {
    const unsigned short port = TestPort(21);
    tavrel::SentovaGrabber listener;
    Receiver receiver;
    ASSERT_TRUE(listener.StartListening("127.0.0.1", port, &receiver));
    LoopbackSender("127.0.0.2").Send(port, Packet({1, 2}));
    LoopbackSender("127.0.0.1").Send(port, Packet({3, 4}));
    EXPECT_EQ(receiver.WaitFor(1), (std::vector<StampBatch>{{3, 4}}));
    listener.StopListening();
}

TEST(Listener, BadAddressThrowsAndStaysStopped) {
    const unsigned short port = TestPort(22);
    tavrel::SentovaGrabber listener;
    Receiver receiver;
    listener.StopListening(); // before any start: nothing to do
    ASSERT_TRUE(listener.StartListening("127.0.0.1", port, &receiver));
    EXPECT_THROW(listener.StartListening("not an address", port, &receiver),
                 boost::system::system_error);
    EXPECT_TRUE(PortIsFree(port));
    EXPECT_THROW(listener.StartListening(std::string("127.0.0.1\0junk", 14), port, &receiver),
                 boost::system::system_error);
    EXPECT_TRUE(PortIsFree(port));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(listener.StartListening("127.0.0.1", port, nullptr));
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(PortIsFree(port));
}

TEST(Listener, FailedStartThenStartDeliversOnce) {
    const unsigned short port = TestPort(23);
    tavrel::SentovaGrabber listener;
    Receiver receiver;
    {
        boost::asio::io_context io;
        boost::asio::ip::udp::socket blocker(io, {boost::asio::ip::address_v4::any(), port});
        testing::internal::CaptureStderr();
        EXPECT_FALSE(listener.StartListening("127.0.0.1", port, &receiver));
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("[SentovaGrabber::start] Unable to bind to socket! "),
                  std::string::npos);
    }
    ASSERT_TRUE(listener.StartListening("127.0.0.1", port, &receiver));
    LoopbackSender sender;
    sender.Send(port, Packet({1, 2}));
    sender.Send(port, Packet({3, 4}));
    // A duplicate delivery would show each datagram twice.
    EXPECT_EQ(Joined(WaitForStamps(receiver, 4)), (StampBatch{1, 2, 3, 4}));
    sender.Send(port, Packet({5}));
    EXPECT_EQ(Joined(WaitForStamps(receiver, 5)), (StampBatch{1, 2, 3, 4, 5}));
    listener.StopListening();
    EXPECT_EQ(Joined(receiver.Snapshot()), (StampBatch{1, 2, 3, 4, 5}));
}

TEST(Listener, RestartReplacesTheCallback) {
    const unsigned short port = TestPort(24);
    const unsigned short newPort = TestPort(25);
    tavrel::SentovaGrabber listener;
    Receiver first, second;
    LoopbackSender sender;
    ASSERT_TRUE(listener.StartListening("127.0.0.1", port, &first));
    sender.Send(port, Packet({1, 2}));
    ASSERT_EQ(first.WaitFor(1).size(), 1u);

    ASSERT_TRUE(listener.StartListening("127.0.0.1", newPort + 65536, &second));
    EXPECT_TRUE(PortIsFree(port));
    sender.Send(newPort, Packet({3, 4}));
    EXPECT_EQ(second.WaitFor(1), (std::vector<StampBatch>{{3, 4}}));
    listener.StopListening();
    EXPECT_EQ(first.Snapshot().size(), 1u);
}

TEST(Listener, ThrowingCallbackIsLoggedAndDeliveryGoesOn) {
    class Throwing : public tavrel::SentovaLaserDataCallbackClass,
                     public Inbox<std::vector<std::uint64_t>> {
    public:
        void LaserDataCallback(Observations observations, unsigned int) override {
            Put({observations.front().timestamp});
            throw std::runtime_error("laser data callback failed");
        }
    } throwing;
    testing_support::LogCapture log;
    const unsigned short port = TestPort(26);
    tavrel::SentovaGrabber listener;
    ASSERT_TRUE(listener.StartListening("127.0.0.1", port, &throwing));
    LoopbackSender sender;
    sender.Send(port, Packet({1, 2}));
    ASSERT_EQ(throwing.WaitFor(1).size(), 1u);
    sender.Send(port, Packet({3, 4}));
    EXPECT_EQ(throwing.WaitFor(2), (std::vector<StampBatch>{{1}, {3}}));
    listener.StopListening();
    EXPECT_TRUE(
        log.contains("[error] SentovaGrabber: laser data callback: laser data callback failed"));
}

namespace {
class Keeper : public tavrel::SentovaLaserDataCallbackClass, public Inbox<Observations> {
public:
    void LaserDataCallback(Observations observations, unsigned int) override {
        Put(std::move(observations));
    }
};

bool Same(const tavrel::tavrel_rbe_obs_t& a, const tavrel::tavrel_rbe_obs_t& b) {
    return a.azimuth == b.azimuth && a.elevation == b.elevation && a.range == b.range &&
           a.timestamp == b.timestamp && a.amplitude == b.amplitude &&
           a.reflectance == b.reflectance && a.pulse_shape_deviation == b.pulse_shape_deviation;
}
} // namespace

TEST(Listener, RecordedPacketsDecodeAsTheLiveStreamDoes) {
    const unsigned short port = TestPort(45);
    tavrel::SentovaGrabber listener;
    Keeper keeper;
    ASSERT_TRUE(listener.StartListening("127.0.0.1", port, &keeper));
    // Values that single precision rounds: a timestamp beyond 2^24, an odd angle.
    std::vector<tavrel::LaserRecord> records = {Record(16777217, -123.456789), Record(2, 179.99),
                                                Record(4294967295u, 0.1)};
    records[1].amplitude = 65535;
    records[1].reflectance = -32768;
    records[1].pulseShapeDeviation = 32767;
    records[2].range = -7;
    const std::string packet = tavrel::encodeLaserPacket(records);
    LoopbackSender().Send(port, packet);
    const std::vector<Observations> live = keeper.WaitFor(1);
    listener.StopListening();
    ASSERT_EQ(live.size(), 1u);

    const Observations decoded = tavrel::DecodeLaserDatagram(
        reinterpret_cast<const unsigned char*>(packet.data()), packet.size());
    ASSERT_EQ(decoded.size(), live[0].size());
    for (std::size_t i = 0; i < decoded.size(); ++i)
        EXPECT_TRUE(Same(decoded[i], live[0][i])) << "record " << i;

    // What the listener refuses gives nothing: a broken header, no whole record.
    const std::string broken = "EBRBEX" + packet.substr(6);
    EXPECT_TRUE(tavrel::DecodeLaserDatagram(reinterpret_cast<const unsigned char*>(broken.data()),
                                            broken.size())
                    .empty());
    EXPECT_TRUE(tavrel::DecodeLaserDatagram(reinterpret_cast<const unsigned char*>(packet.data()),
                                            6 + tavrel::kLaserRecordSize - 1)
                    .empty());
    EXPECT_TRUE(tavrel::DecodeLaserDatagram(nullptr, 0).empty());
}
