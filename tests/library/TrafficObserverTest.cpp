#include "FakeDevice.h"
#include "LogCapture.h"

#include "Sentova/Sentova.h"
#include "Sentova/SentovaEventManager.h"
#include "Sentova/SentovaTraffic.h"

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

using namespace tavrel;
using namespace testing_support;

namespace {

struct Seen {
    std::uint64_t timeMicros;
    std::uint32_t sourceAddress;
    std::uint16_t sourcePort;
    std::uint32_t destinationAddress;
    std::uint16_t destinationPort;
    std::string bytes;
    std::thread::id thread;
};

class Recorder : public SentovaTrafficCallbackClass {
public:
    void TrafficCallback(const traffic_datagram_t& d) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_seen.push_back({d.timeMicros, d.sourceAddress, d.sourcePort, d.destinationAddress,
                          d.destinationPort, std::string(d.data, d.size),
                          std::this_thread::get_id()});
    }
    std::vector<Seen> seen() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen;
    }

private:
    std::mutex m_mutex;
    std::vector<Seen> m_seen;
};

std::uint64_t NowMicros() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::system_clock::now().time_since_epoch())
                                          .count());
}

std::uint32_t HostOrder(const std::string& dotted) {
    in_addr a{};
    inet_pton(AF_INET, dotted.c_str(), &a);
    return ntohl(a.s_addr);
}

} // namespace

TEST(TrafficObserver, CommandsAndRepliesWithTheirRealAddresses) {
    FakeDevice device;
    device.answerAll("ER", "LX30-31");
    Sentova sentova(device.address());
    ASSERT_TRUE(device.waitForDatagrams(1));
    auto recorder = std::make_shared<Recorder>();
    sentova.SetTrafficObserver(recorder);

    const std::uint64_t before = NowMicros();
    std::string serial;
    ASSERT_EQ(sentova.GetSerial(serial), NoError);
    // The reply is shown on the socket thread, before it completes the query.
    const auto seen = recorder->seen();
    const std::uint64_t after = NowMicros();
    ASSERT_EQ(seen.size(), 2u);
    const Seen& sent = seen[0];
    const Seen& reply = seen[1];
    EXPECT_EQ(sent.bytes, "SVCQRE");
    EXPECT_EQ(reply.bytes, "ERCQRE" + std::string("LX30-31"));
    EXPECT_EQ(sent.thread, std::this_thread::get_id());
    EXPECT_NE(reply.thread, std::this_thread::get_id());

    // The sender the device saw is what the observer was told.
    EXPECT_EQ(sent.sourceAddress, device.lastSenderAddress());
    EXPECT_EQ(sent.sourcePort, device.lastSenderPort());
    EXPECT_EQ(sent.destinationAddress, HostOrder(device.address()));
    EXPECT_EQ(sent.destinationPort, 4365);
    EXPECT_EQ(reply.sourceAddress, HostOrder(device.address()));
    EXPECT_EQ(reply.sourcePort, 4365);
    EXPECT_EQ(reply.destinationAddress, sent.sourceAddress);
    EXPECT_EQ(reply.destinationPort, sent.sourcePort);

    EXPECT_GE(sent.timeMicros, before);
    EXPECT_LE(sent.timeMicros, reply.timeMicros);
    EXPECT_LE(reply.timeMicros, after);

    sentova.SetTrafficObserver(nullptr);
    ASSERT_EQ(sentova.GetSerial(serial), NoError);
    EXPECT_EQ(recorder->seen().size(), 2u);
}

TEST(TrafficObserver, EveryReceivedDatagramIsShownEvenTheOnesDropped) {
    FakeDevice device;
    Sentova sentova(device.address());
    ASSERT_TRUE(device.waitForDatagrams(1));
    auto recorder = std::make_shared<Recorder>();
    sentova.SetTrafficObserver(recorder);
    device.sendToClient("EAXY");   // too short for a reply
    device.sendToClient("EAHOME"); // matches nothing outstanding
    device.sendToClient("EBHPTG"
                        "abc"); // trigger record too short
    ASSERT_TRUE(Eventually([&] { return recorder->seen().size() == 3; }));
    const auto seen = recorder->seen();
    EXPECT_EQ(seen[0].bytes, "EAXY");
    EXPECT_EQ(seen[1].bytes, "EAHOME");
    EXPECT_EQ(seen[2].bytes, "EBHPTGabc");
}

TEST(TrafficObserver, NonBlockingCommandsAndTheirReplies) {
    class Done : public SentovaNotificationCallbackClass {
    public:
        void NotificationCallback(tavrel_error_t r) override { result = r; }
        std::atomic<int> result{-1};
    } done;
    FakeDevice device;
    device.answerAll("EA");
    Sentova sentova(device.address());
    ASSERT_TRUE(device.waitForDatagrams(1));
    auto recorder = std::make_shared<Recorder>();
    sentova.SetTrafficObserver(recorder);
    ASSERT_EQ(sentova.Home(&done), NoError);
    ASSERT_TRUE(Eventually([&] { return done.result == NoError; }));
    const auto seen = recorder->seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].bytes, "SVHOME");
    EXPECT_EQ(seen[1].bytes, "EAHOME");
}

TEST(TrafficObserver, EventManagerCommandsRepliesAndNotifications) {
    FakeDevice device;
    device.answerAll("EA");
    SentovaEventManager manager(device.address());
    ASSERT_TRUE(device.waitForDatagrams(1));
    auto recorder = std::make_shared<Recorder>();
    manager.SetTrafficObserver(recorder);
    ASSERT_EQ(manager.EventEnable(128, 0, false), NoError);
    device.sendToClient("EBAACK" + Bytes({0x80}));
    ASSERT_TRUE(Eventually([&] { return recorder->seen().size() == 3; }));
    const auto seen = recorder->seen();
    EXPECT_EQ(seen[0].bytes, std::string("SVEENB\x00\x80\x00", 9));
    EXPECT_EQ(seen[0].sourcePort, device.lastSenderPort());
    EXPECT_EQ(seen[1].bytes, "EAEENB");
    EXPECT_EQ(seen[2].bytes, "EBAACK\x80");
}

TEST(TrafficObserver, AThrowingObserverIsLoggedAndTrafficGoesOn) {
    class Throwing : public SentovaTrafficCallbackClass {
    public:
        void TrafficCallback(const traffic_datagram_t&) override {
            ++calls;
            throw std::runtime_error("observer failed");
        }
        std::atomic<int> calls{0};
    };
    LogCapture log;
    FakeDevice device;
    device.answerAll("EA");
    auto sentova = std::make_unique<Sentova>(device.address());
    ASSERT_TRUE(device.waitForDatagrams(1));
    auto throwing = std::make_shared<Throwing>();
    sentova->SetTrafficObserver(throwing);
    EXPECT_EQ(sentova->Stop(), NoError);
    EXPECT_EQ(sentova->Stop(), NoError);
    EXPECT_EQ(throwing->calls, 4);
    EXPECT_TRUE(log.contains("[error] traffic observer: observer failed"));
    sentova.reset();
}

TEST(TrafficObserver, AnObserverRemovedDuringItsOwnCallStaysAliveThroughIt) {
    // The observer drops the library's only registration from inside its
    // call; the library's own share keeps it alive until the call returns.
    class SelfRemoving : public SentovaTrafficCallbackClass {
    public:
        explicit SelfRemoving(Sentova& s) : sentova(s) {}
        void TrafficCallback(const traffic_datagram_t& d) override {
            sentova.SetTrafficObserver(nullptr);
            bytes = std::string(d.data, d.size);
        }
        Sentova& sentova;
        std::string bytes;
    };
    FakeDevice device;
    device.answerAll("EA");
    Sentova sentova(device.address());
    ASSERT_TRUE(device.waitForDatagrams(1));
    std::weak_ptr<SelfRemoving> watch;
    {
        auto observer = std::make_shared<SelfRemoving>(sentova);
        watch = observer;
        sentova.SetTrafficObserver(std::move(observer));
    }
    EXPECT_EQ(sentova.Stop(), NoError);
    EXPECT_TRUE(watch.expired());
}
