#include "SentovaBase.h"

#include "FakeDevice.h"
#include "LogCapture.h"

#include <boost/system/system_error.hpp>

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

using namespace testing_support;

namespace {

struct Delivery {
    std::string code, payload, sender;
};

// A bare channel that records what the receive loop hands over.
class RecordingChannel final : public tavrel::SentovaBase {
public:
    explicit RecordingChannel(const std::string& address) : SentovaBase(address, 4365, 0) {
        StartReceiving();
    }
    ~RecordingChannel() { StopSocketThread(); }

    std::vector<Delivery> deliveries() {
        std::lock_guard<std::mutex> lock(mutex_);
        return deliveries_;
    }
    using SentovaBase::StopSocketThread;

private:
    void BaseRXCallback(std::string code, std::string payload, std::string sender) override {
        std::lock_guard<std::mutex> lock(mutex_);
        deliveries_.push_back({code, payload, sender});
    }
    std::mutex mutex_;
    std::vector<Delivery> deliveries_;
};

} // namespace

TEST(Transport, PingComesFirstFromTheEphemeralPortThatReceivesReplies) {
    FakeDevice device;
    RecordingChannel channel(device.address());
    ASSERT_TRUE(device.waitForDatagrams(1));
    EXPECT_EQ(device.received()[0], "SVPPPP");
    EXPECT_EQ(device.lastSenderPort(), channel.GetLocalPort());
    EXPECT_NE(channel.GetLocalPort(), 0);

    device.sendToClient("EAPPPP");
    ASSERT_TRUE(Eventually([&] { return channel.deliveries().size() == 1; }));
    const Delivery d = channel.deliveries()[0];
    EXPECT_EQ(d.code, "EAPPPP");
    EXPECT_EQ(d.payload, "");
    EXPECT_EQ(d.sender, device.address());
}

TEST(Transport, DatagramSizes) {
    LogCapture log;
    FakeDevice device;
    RecordingChannel channel(device.address());
    ASSERT_TRUE(device.waitForDatagrams(1));

    device.sendToClient("EEHOM");                           // dropped
    device.sendToClient(std::string("ERGEAA\0\x01\0", 9));  // zero bytes kept
    device.sendToClient("ERBIGG" + std::string(1200, 'x')); // truncated
    ASSERT_TRUE(Eventually([&] { return channel.deliveries().size() == 2; }));
    const auto d = channel.deliveries();
    EXPECT_EQ(d[0].payload, std::string("\0\x01\0", 3));
    EXPECT_EQ(d[1].code, "ERBIGG");
    EXPECT_EQ(d[1].payload.size(), 1017u);
    EXPECT_TRUE(log.contains("SentovaBase::AsyncReceiveCallback :5\n"));
    EXPECT_TRUE(log.contains("SentovaBase::AsyncReceiveCallback :1023\n"));
}

TEST(Transport, AddressMustBeDottedIPv4) {
    EXPECT_THROW(RecordingChannel("256.1.1.1"), boost::system::system_error);
    EXPECT_THROW(RecordingChannel("localhost"), boost::system::system_error);
    EXPECT_THROW(RecordingChannel(""), boost::system::system_error);
    // The parser stops at a zero byte; the text as a whole is not an address.
    EXPECT_THROW(RecordingChannel(std::string("127.0.0.1\0junk", 14)), boost::system::system_error);
}

TEST(Transport, NothingIsDeliveredAfterStop) {
    FakeDevice device;
    RecordingChannel channel(device.address());
    ASSERT_TRUE(device.waitForDatagrams(1));
    channel.StopSocketThread();
    // Closed and its thread joined: a datagram sent now can never be received.
    EXPECT_THROW(channel.GetLocalPort(), boost::system::system_error);
    device.sendToClient("EAHOME");
    EXPECT_TRUE(channel.deliveries().empty());
}
