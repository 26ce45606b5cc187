#include "grabber.h"
#include "LogCapture.h"
#include "LoopbackSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace listener_test;
using Cloud = pcl::SentovaGrabber::Cloud;

namespace {
// Collects the timestamps of each signalled cloud.
struct CloudInbox : Inbox<std::vector<std::uint32_t>> {
    boost::signals2::connection Subscribe(pcl::SentovaGrabber& grabber) {
        return grabber.registerCallback(
            std::function<pcl::SentovaGrabber::sig_cb_sentova_point_cloud>(
                [this](const Cloud::ConstPtr& cloud, unsigned int n) {
                    EXPECT_EQ(n, 0u);
                    std::vector<std::uint32_t> timestamps;
                    for (const auto& p : cloud->points)
                        timestamps.push_back(static_cast<std::uint32_t>(p.normal_z));
                    Put(timestamps);
                }));
    }
};
using CloudStamps = std::vector<std::uint32_t>;

// Polls the condition until it holds or the test's wait runs out.
template <typename Condition> bool Eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
} // namespace

TEST(Grabber, NameDefaultsAndRestart) {
    const unsigned short port = TestPort(0);
    pcl::SentovaGrabber grabber;
    EXPECT_EQ(grabber.getName(), "Tavrel Dynamics Sentova Grabber");
    EXPECT_EQ(grabber.getDataPort(), 443);
    EXPECT_EQ(grabber.getSensorAddress(), boost::asio::ip::make_address("0.0.0.0"));
    EXPECT_EQ(grabber.getSignalPointCloudSize(), 1u);
    EXPECT_FALSE(grabber.isRunning());
    grabber.stop(); // stopped: nothing to do

    CloudInbox inbox;
    inbox.Subscribe(grabber);
    grabber.setDataPort(port);
    LoopbackSender sender;
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(grabber.startGrabbing());
        EXPECT_TRUE(grabber.startGrabbing()); // already running
        EXPECT_TRUE(grabber.isRunning());
        EXPECT_EQ(grabber.getFramesPerSecond(), 0.0f);
        sender.Send(port, Packet({10u + run, 20u + run}));
        const auto clouds = inbox.WaitFor(run + 1);
        ASSERT_EQ(clouds.size(), static_cast<std::size_t>(run + 1));
        EXPECT_EQ(clouds.back(), (CloudStamps{10u + run, 20u + run}));
        grabber.stop();
        EXPECT_FALSE(grabber.isRunning());
        EXPECT_TRUE(PortIsFree(port));
        grabber.stop();
    }
}

TEST(Grabber, DestroyingARunningGrabberStopsIt) {
    const unsigned short port = TestPort(1);
    {
        pcl::SentovaGrabber grabber(boost::asio::ip::make_address("127.0.0.1"), port);
        ASSERT_TRUE(grabber.startGrabbing());
        EXPECT_FALSE(PortIsFree(port));
        LoopbackSender().Send(port, Packet({1}));
    }
    EXPECT_TRUE(PortIsFree(port));
}

TEST(Grabber, SecondGrabberOnTheSamePortFails) {
    const unsigned short port = TestPort(2);
    pcl::SentovaGrabber first(boost::asio::ip::make_address("0.0.0.0"), port);
    pcl::SentovaGrabber second(boost::asio::ip::make_address("0.0.0.0"), port);
    ASSERT_TRUE(first.startGrabbing());
    testing::internal::CaptureStderr();
    EXPECT_FALSE(second.startGrabbing());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("[SentovaGrabber::start] Unable to bind to socket! "), std::string::npos)
        << err;
    EXPECT_FALSE(second.isRunning());
    second.stop();
    EXPECT_TRUE(first.isRunning());
}

TEST(Grabber, SenderFilter) {
    const unsigned short port = TestPort(3);
    LoopbackSender device("127.0.0.1");
    LoopbackSender stranger("127.0.0.2");

    pcl::SentovaGrabber grabber(boost::asio::ip::make_address("127.0.0.1"), port);
    CloudInbox inbox;
    inbox.Subscribe(grabber);
    ASSERT_TRUE(grabber.startGrabbing());
    stranger.Send(port, Packet({1, 2}));
    device.Send(port, Packet({3, 4}));
    stranger.Send(port, Packet({5, 6}));
    device.Send(port, Packet({7, 8}));
    EXPECT_EQ(inbox.WaitFor(2), (std::vector<CloudStamps>{{3, 4}, {7, 8}}));
    grabber.stop();

    // Any sender is accepted with 0.0.0.0; none with an IPv6 address, as the
    // socket receives IPv4 only.
    grabber.setSensorAddress(boost::asio::ip::make_address("0.0.0.0"));
    ASSERT_TRUE(grabber.startGrabbing());
    stranger.Send(port, Packet({9, 10}));
    EXPECT_EQ(inbox.WaitFor(3).size(), 3u);
    grabber.stop();

    grabber.setSensorAddress(boost::asio::ip::make_address("::1"));
    ASSERT_TRUE(grabber.startGrabbing());
    device.Send(port, Packet({11, 12}));
    // Once the socket thread has refused it, nothing of it can reach the subscriber.
    EXPECT_TRUE(Eventually([&] { return grabber.getStatistics().refusedSender == 1; }));
    grabber.stop();
    EXPECT_EQ(inbox.Snapshot().size(), 3u);
}

TEST(Grabber, HeldBackPointsAndHeaderOnlyPacket) {
    const unsigned short port = TestPort(4);
    pcl::SentovaGrabber grabber(boost::asio::ip::make_address("127.0.0.1"), port);
    CloudInbox inbox;
    inbox.Subscribe(grabber);
    LoopbackSender sender;

    ASSERT_TRUE(grabber.startGrabbing());
    grabber.setSignalPointCloudSize(5);
    sender.Send(port, Packet({1, 2, 3}));
    // The snapshot is taken under the cloud lock, so polling it while the
    // consumer thread converts is safe.
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (grabber.getPointCloud()->size() < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(grabber.getPointCloud()->size(), 3u);

    // A header-only packet adds nothing but still runs the signal check.
    grabber.setSignalPointCloudSize(1);
    sender.Send(port, "EBRBEP");
    EXPECT_EQ(inbox.WaitFor(1), (std::vector<CloudStamps>{{1, 2, 3}}));

    // A lone record stays in the cloud until the next packet, or until start.
    sender.Send(port, Packet({4}));
    sender.Send(port, Packet({5}));
    EXPECT_EQ(inbox.WaitFor(2).back(), (CloudStamps{4, 5}));
    sender.Send(port, Packet({6}));
    while (grabber.getPointCloud()->size() < 1 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    grabber.stop();
    EXPECT_EQ(grabber.getPointCloud()->size(), 1u);
    ASSERT_TRUE(grabber.startGrabbing());
    EXPECT_EQ(grabber.getPointCloud()->size(), 0u);
    EXPECT_EQ(inbox.Snapshot().size(), 2u);
}

TEST(Grabber, QueuedDatagramsAreDiscardedOnStop) {
    const unsigned short port = TestPort(5);
    pcl::SentovaGrabber grabber(boost::asio::ip::make_address("127.0.0.1"), port);
    std::atomic<int> delivered{0};
    std::atomic<bool> entered{false};
    // The first subscriber call holds the consumer thread until stop has
    // closed the socket, so that everything sent meanwhile is still queued.
    grabber.registerCallback(std::function<pcl::SentovaGrabber::sig_cb_sentova_point_cloud>(
        [&](const Cloud::ConstPtr&, unsigned int) {
            if (delivered++ > 0)
                return;
            entered = true;
            const auto deadline = std::chrono::steady_clock::now() + kWait;
            while (!PortIsFree(port) && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }));
    ASSERT_TRUE(grabber.startGrabbing());
    LoopbackSender sender;
    sender.Send(port, Packet({1, 2}));
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (!entered && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(entered);
    for (std::uint32_t i = 0; i < 20; ++i)
        sender.Send(port, Packet({10 + i, 20 + i}));
    // Received by the socket thread, which stop joins before it discards the queue.
    EXPECT_TRUE(Eventually([&] { return grabber.getStatistics().datagrams == 21; }));
    grabber.stop();
    EXPECT_EQ(delivered, 1);
}

TEST(Grabber, AsksForALargeReceiveBuffer) {
    testing_support::LogCapture log;
    pcl::SentovaGrabber grabber(boost::asio::ip::make_address("127.0.0.1"), TestPort(6));
    ASSERT_TRUE(grabber.startGrabbing());
    // Linux grants up to its rmem_max and reports twice what it grants.
    const int granted = grabber.getReceiveBufferSize();
    const bool warned = log.contains("receive buffer");
    EXPECT_GT(granted, 0);
    EXPECT_EQ(warned, granted < pcl::SentovaGrabber::kRequestedReceiveBufferSize);
}
