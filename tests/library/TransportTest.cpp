#include "ReplySenders.h"
#include "SentovaBase.h"

#include "FakeDevice.h"
#include "LogCapture.h"

#include <boost/system/system_error.hpp>

#include <dirent.h>

#include <gtest/gtest.h>

#include <cstdlib>
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
    explicit RecordingChannel(const std::string& address, unsigned short port = 4365)
        : SentovaBase(address, port, 0) {
        StartReceiving();
    }
    ~RecordingChannel() { StopSocketThread(); }

    std::vector<Delivery> deliveries() {
        std::lock_guard<std::mutex> lock(mutex_);
        return deliveries_;
    }
    using SentovaBase::StopSocketThread;

    // The channel's socket, found among the process's descriptors by its port.
    int descriptor() const {
        const unsigned short port = GetLocalPort();
        DIR* fds = ::opendir("/proc/self/fd");
        int found = -1;
        while (const dirent* e = fds ? ::readdir(fds) : nullptr) {
            const int fd = std::atoi(e->d_name);
            sockaddr_in local{};
            socklen_t length = sizeof local;
            if (fd > 2 && ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
                local.sin_family == AF_INET && ntohs(local.sin_port) == port)
                found = fd;
        }
        if (fds)
            ::closedir(fds);
        return found;
    }

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

    device.sendToClient("EEHOM");                          // dropped
    device.sendToClient(std::string("ERGEAA\0\x01\0", 9)); // zero bytes kept
    // Replies are never cut: one past the old 1023-byte limit, and the largest
    // UDP payload IPv4 carries.
    const std::string past = "ERBIGG" + std::string(1018, 'x') + "end";
    const std::string largest = "ERHUGE" + std::string(65500, 'y') + "z";
    device.sendToClient(past);
    device.sendToClient(largest);
    ASSERT_TRUE(Eventually([&] { return channel.deliveries().size() == 3; }));
    const auto d = channel.deliveries();
    EXPECT_EQ(d[0].payload, std::string("\0\x01\0", 3));
    EXPECT_EQ(d[1].code, "ERBIGG");
    EXPECT_EQ(d[1].payload, past.substr(6));
    EXPECT_EQ(d[2].code, "ERHUGE");
    EXPECT_EQ(d[2].payload.size(), 65501u);
    EXPECT_EQ(d[2].payload.back(), 'z');
    EXPECT_TRUE(log.contains("SentovaBase::AsyncReceiveCallback :5\n"));
    EXPECT_TRUE(log.contains("SentovaBase::AsyncReceiveCallback :1027\n"));
    // Each receive is logged after its delivery: the last one's line may come after the check
    // above.
    EXPECT_TRUE(
        Eventually([&] { return log.contains("SentovaBase::AsyncReceiveCallback :65507\n"); }));
}

TEST(Transport, ReceiveErrorIsLoggedAndReceivingGoesOn) {
    // Outlives the channel, whose thread writes to it until the channel is gone.
    LogCapture log;
    LoopbackPeer device("127.150.1.1");
    const unsigned short port = device.port();
    RecordingChannel channel(device.address(), port);
    std::string datagram;
    unsigned short from = 0;
    ASSERT_TRUE(device.receive(datagram, from));
    // With IP_RECVERR the system reports the port-unreachable answer to the
    // next command as an error of the pending receive.
    const int fd = channel.descriptor();
    ASSERT_GE(fd, 0);
    const int on = 1;
    ASSERT_EQ(::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on), 0);
    device.close();
    channel.SendCommand("SVSTOP");
    ASSERT_TRUE(Eventually([&] { return log.contains("Socket recieve error"); }));
    EXPECT_TRUE(log.contains("[fatal] SentovaBase: Socket recieve error. Socket error code 111"));

    LoopbackPeer back(device.address(), port);
    back.sendTo("127.0.0.1", from, "EASTOP");
    ASSERT_TRUE(Eventually([&] { return channel.deliveries().size() == 1; }));
    EXPECT_EQ(channel.deliveries()[0].code, "EASTOP");
}

TEST(Transport, OnlyTheDevicesAddressIsDispatched) {
    FakeDevice device;
    RecordingChannel channel(device.address());
    ASSERT_TRUE(device.waitForDatagrams(1));
    const unsigned short port = device.lastSenderPort();

    LoopbackPeer stranger("127.150.2.1");
    stranger.sendTo("127.0.0.1", port, "EASTOP");
    stranger.sendTo("127.0.0.1", port, "EBAACK\x03");
    // The device's address from another of its ports is the device.
    LoopbackPeer devicesOtherPort(device.address());
    devicesOtherPort.sendTo("127.0.0.1", port, "EBHPTG");
    device.sendToClient("EAHOME");
    ASSERT_TRUE(Eventually([&] { return channel.deliveries().size() == 2; }));
    // Both came after the strangers' datagrams, on the same socket.
    EXPECT_EQ(channel.GetRefusedSenderCount(), 2u);
    const auto d = channel.deliveries();
    EXPECT_EQ(d[0].code, "EBHPTG");
    EXPECT_EQ(d[1].code, "EAHOME");
    EXPECT_EQ(d[1].sender, device.address());
}

TEST(Transport, ABroadcastDeviceAddressTakesAnySender) {
    // 127.255.255.255 is the loopback network's broadcast address.
    LoopbackPeer listener("127.255.255.255");
    RecordingChannel channel("127.255.255.255", listener.port());
    std::string datagram;
    unsigned short from = 0;
    ASSERT_TRUE(listener.receive(datagram, from));
    EXPECT_EQ(datagram, "SVPPPP");

    LoopbackPeer device("127.150.3.1"), other("127.150.3.2");
    device.sendTo("127.0.0.1", from, "ERCQRE");
    other.sendTo("127.0.0.1", from, "EAHOME");
    ASSERT_TRUE(Eventually([&] { return channel.deliveries().size() == 2; }));
    EXPECT_EQ(channel.deliveries()[0].sender, "127.150.3.1");
    EXPECT_EQ(channel.GetRefusedSenderCount(), 0u);
}

TEST(Transport, BroadcastAddresses) {
    using tavrel::interface_address_t;
    using tavrel::IsBroadcastAddress;
    const std::vector<interface_address_t> interfaces = {
        {0xC0A80105u, 0xFFFFFF00u}, // 192.168.1.5/24
        {0x0A000001u, 0xFF000000u}, // 10.0.0.1/8
        {0xAC100001u, 0xFFFFFFFEu}, // 172.16.0.1/31: no broadcast address
        {0xAC100101u, 0xFFFFFFFFu}, // 172.16.1.1/32
    };
    EXPECT_TRUE(IsBroadcastAddress(0xFFFFFFFFu, {}));
    EXPECT_TRUE(IsBroadcastAddress(0xC0A801FFu, interfaces));
    EXPECT_TRUE(IsBroadcastAddress(0x0AFFFFFFu, interfaces));
    EXPECT_FALSE(IsBroadcastAddress(0xC0A802FFu, interfaces)); // another /24
    EXPECT_FALSE(IsBroadcastAddress(0xC0A80105u, interfaces)); // a host
    EXPECT_FALSE(IsBroadcastAddress(0xAC100001u, interfaces));
    EXPECT_FALSE(IsBroadcastAddress(0xAC100101u, interfaces));
    EXPECT_FALSE(IsBroadcastAddress(0xC0A801FFu, {}));
    // This host's own networks, loopback included; 0.0.0.0 names no host.
    EXPECT_TRUE(tavrel::AcceptsAnySender(0x7FFFFFFFu));
    EXPECT_TRUE(tavrel::AcceptsAnySender(0));
    EXPECT_FALSE(tavrel::AcceptsAnySender(0x7F000001u));
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
