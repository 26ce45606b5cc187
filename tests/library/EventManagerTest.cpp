#include "SentovaEventManagerPrivate.h"

#include "FakeDevice.h"

#include "Sentova/CommandSerialiser.h"
#include "Sentova/SentovaEventManager.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <tuple>

using namespace tavrel;
using namespace testing_support;
using std::chrono::milliseconds;

namespace {

// Records (kind, event, first payload byte) of every call.
class RecordingCallback : public SentovaEventCallbackClass {
public:
    void EventCallback(unsigned int kind, unsigned int event, char* payload) override {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.emplace_back(kind, event, static_cast<unsigned char>(payload[0]));
    }
    std::vector<std::tuple<unsigned int, unsigned int, unsigned int>> calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

private:
    std::mutex mutex_;
    std::vector<std::tuple<unsigned int, unsigned int, unsigned int>> calls_;
};

class EventManager : public ::testing::Test {
protected:
    void SetUp() override {
        manager = std::make_unique<SentovaEventManagerPrivate>(device.address(), 4365, 0);
        ASSERT_TRUE(device.waitForDatagrams(1)); // "SVPPPP"
    }
    // A notification sent after the manager is known to be idle.
    void notify(const std::string& code, const std::string& payload) {
        device.sendToClient(code + payload);
    }

    FakeDevice device;
    std::unique_ptr<SentovaEventManagerPrivate> manager;
};

} // namespace

TEST_F(EventManager, DeviceErrorCodes) {
    device.answerAll("EE", Bytes({0x05}));
    EXPECT_EQ(manager->EventEnable(128, 0, false), InvalidArgument);
    device.answerAll("EE", Bytes({0xFF}));
    EXPECT_EQ(manager->EventDisable(1, 2), OtherError);
    device.answerAll("EE");
    EXPECT_EQ(manager->EventDisable(1, 2), OtherError);
    device.answerAll("EA");
    EXPECT_EQ(manager->ResetEvents(), NoError);
    EXPECT_EQ(manager->ManagerSendCommand("SVSR"), UnknownCommand);
    const auto r = device.received();
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(r[1], std::string("SVEENB\x00\x80\x00", 9));
}

TEST_F(EventManager, QueryDecoding) {
    device.answerAll("ER", Bytes({0x01, 0x00}));
    bool first = false, second = true;
    ASSERT_EQ(manager->EventStatus(1, 2, first, second), NoError);
    EXPECT_TRUE(first);
    EXPECT_FALSE(second);

    device.answerAll("ER", Bytes({0x9C, 0x40}));
    unsigned int frequency = 0;
    ASSERT_EQ(manager->GetTimerFrequency(frequency), NoError);
    EXPECT_EQ(frequency, 40000u);

    device.answerAll("ER", Bytes({0x8C, 0xA0, 0xFC, 0x18}));
    double a = 0, b = 0;
    ASSERT_EQ(manager->IsolatedIOGetCapturedAngles(a, b), NoError);
    EXPECT_DOUBLE_EQ(a, 360.0);
    EXPECT_DOUBLE_EQ(b, -10.0);

    device.answerAll("ER", Bytes({0x07, 0xF0}));
    unsigned char x = 0, y = 0;
    ASSERT_EQ(manager->IsolatedIOGet(x, y), NoError);
    EXPECT_EQ(x, 0x07);
    EXPECT_EQ(y, 0xF0);

    // "EA" carries no data: the query reads nothing, missing bytes as zero,
    // never what an earlier reply left over.
    device.answerAll("ER", Bytes({0x01, 0x01, 0x01, 0x01}));
    ASSERT_EQ(manager->EventStatus(1, 2, first, second), NoError);
    device.answerAll("EA");
    first = second = true;
    ASSERT_EQ(manager->EventStatus(1, 2, first, second), NoError);
    EXPECT_FALSE(first);
    EXPECT_FALSE(second);

    device.answerAll("EE", Bytes({0x03}));
    x = y = 9;
    EXPECT_EQ(manager->IsolatedIOGetEventInput(x, y), NotReady);
    EXPECT_EQ(x, 9);
    EXPECT_EQ(y, 9);
}

TEST_F(EventManager, NotificationsReachTheirCallbacksInOrder) {
    RecordingCallback a, b;
    EXPECT_EQ(manager->RegisterEventCallback(3, &a), 0);
    EXPECT_EQ(manager->RegisterEventCallback(128, &b), 0);
    EXPECT_EQ(manager->RegisterEventCallback(128, &a), 0);
    EXPECT_EQ(manager->RegisterEventCallback(128, &b), 0);

    notify("EBADRT", Bytes({0x80, 0x55}));
    ASSERT_TRUE(Eventually([&] { return b.calls().size() == 2; }));
    ASSERT_TRUE(Eventually([&] { return a.calls().size() == 1; }));
    EXPECT_EQ(a.calls()[0], std::make_tuple(3u, 128u, 0x80u));

    EXPECT_EQ(manager->DeregisterEventCallback(128, &b), 1);
    EXPECT_EQ(manager->DeregisterEventCallback(7, &b), 0);
    notify("EBAACK", Bytes({0x03}));
    notify("EBACNG", Bytes({0x80}));
    notify("EBAANG", "");         // empty: dropped
    notify("EBXXXX", Bytes({3})); // not a notification
    ASSERT_TRUE(Eventually([&] { return a.calls().size() == 3; }));
    EXPECT_EQ(a.calls()[1], std::make_tuple(0u, 3u, 3u));
    EXPECT_EQ(a.calls()[2], std::make_tuple(1u, 128u, 0x80u));
    ASSERT_TRUE(Eventually([&] { return b.calls().size() == 3; }));

    EXPECT_EQ(manager->ResetEventCallbacks(128), 0);
    EXPECT_EQ(manager->ResetEventCallbacks(), 0);
    notify("EBAACK", Bytes({0x03}));
    notify("EBAACK", Bytes({0x80}));
    // The reply to a later command is dispatched after both.
    device.answerAll("EA");
    ASSERT_EQ(manager->StopTimer(), NoError);
    EXPECT_EQ(a.calls().size(), 3u);
    EXPECT_EQ(b.calls().size(), 3u);
}

TEST_F(EventManager, NotificationWhileATransactionWaits) {
    RecordingCallback a;
    manager->RegisterEventCallback(3, &a);
    auto enable = std::async(std::launch::async, [&] { return manager->EventEnable(1, 0, true); });
    ASSERT_TRUE(device.waitForDatagrams(2));
    notify("EBAACK", Bytes({0x03}));
    ASSERT_TRUE(Eventually([&] { return a.calls().size() == 1; }));
    EXPECT_EQ(enable.wait_for(milliseconds(0)), std::future_status::timeout);
    device.sendToClient(Reply("EA", "SVEENB"));
    EXPECT_EQ(enable.get(), NoError);
}

TEST_F(EventManager, LateReplyIsOnlyANotification) {
    RecordingCallback a;
    manager->RegisterEventCallback(3, &a);
    manager->SetResponseTimeout(50);
    // A raw command whose stem is that of a notification code.
    EXPECT_EQ(manager->ManagerSendCommand("SVAACK"), Timeout);
    notify("EBAACK", Bytes({0x03}));
    ASSERT_TRUE(Eventually([&] { return a.calls().size() == 1; }));
    device.answerAll("EA");
    EXPECT_EQ(manager->StopTimer(), NoError);
}

TEST_F(EventManager, ConcurrentTransactionIsBusy) {
    auto first = std::async(std::launch::async, [&] { return manager->StopTimer(); });
    ASSERT_TRUE(device.waitForDatagrams(2));
    EXPECT_EQ(manager->StartTimer(100), DriverBusy);
    device.sendToClient(Reply("EE", "SVESTM", Bytes({0x0C})));
    EXPECT_EQ(first.get(), BusyStabilising);
    EXPECT_EQ(device.received().size(), 2u);
}

TEST_F(EventManager, ShutdownEndsAWaitingTransaction) {
    SentovaEventManagerPrivate* const raw = manager.get();
    auto waiting = std::async(std::launch::async, [raw] { return raw->IsolatedIOSet(1); });
    ASSERT_TRUE(device.waitForDatagrams(2));
    manager.reset();
    EXPECT_EQ(waiting.get(), Timeout);
}

TEST(EventManagerFacade, StopsItsThreadBeforeTheRegistryGoes) {
    FakeDevice device;
    RecordingCallback a;
    auto manager = std::make_unique<SentovaEventManager>(device.address());
    ASSERT_TRUE(device.waitForDatagrams(1));
    manager->RegisterEventCallback(1, &a);
    device.answerAll("ER", Bytes({0x12, 0x34}));
    unsigned char x = 0, y = 0;
    EXPECT_EQ(manager->IsolatedIOGet(x, y), NoError);
    EXPECT_EQ(x, 0x12);
    // Notifications keep arriving while it is deleted.
    std::atomic<bool> stop{false}, finished{false};
    std::atomic<int> sent{0};
    std::thread flood([&] {
        for (int i = 0; i < 200 && !stop; ++i) {
            device.sendToClient("EBAACK" + Bytes({1}));
            ++sent;
            std::this_thread::sleep_for(milliseconds(1));
        }
        finished = true;
    });
    ASSERT_TRUE(Eventually([&] { return !a.calls().empty(); }));
    manager.reset();
    const std::size_t after = a.calls().size();
    // The socket thread is joined by now: the notifications still coming reach
    // a closed port, and nothing calls back.
    const int sentAtReset = sent;
    ASSERT_TRUE(Eventually([&] { return sent >= sentAtReset + 10 || finished; }));
    EXPECT_EQ(a.calls().size(), after);
    stop = true;
    flood.join();
}

TEST_F(EventManager, UnknownClassWithTheRightStemIsAnUnknownReply) {
    device.answerAll("EE", Bytes({0x05}));
    ASSERT_EQ(manager->EventEnable(1, 2, true), InvalidArgument);
    device.answerAll("ZZ");
    EXPECT_EQ(manager->EventEnable(1, 2, true), OtherError);
    device.answerAll("ER", Bytes({0x9C, 0x40}));
    unsigned int frequency = 7;
    ASSERT_EQ(manager->GetTimerFrequency(frequency), NoError);
    device.answerAll("EB", Bytes({0x00, 0x01}));
    EXPECT_EQ(manager->GetTimerFrequency(frequency), OtherError);
    EXPECT_EQ(frequency, 40000u);
}

TEST_F(EventManager, AStrangersNotificationsFireNothing) {
    RecordingCallback cb;
    manager->RegisterEventCallback(3, &cb);
    device.answerAll("EA");
    ASSERT_EQ(manager->ResetEvents(), NoError); // the device now knows the manager's port
    LoopbackPeer stranger("127.150.6.1");
    stranger.sendTo("127.0.0.1", device.lastSenderPort(), "EBAACK" + Bytes({3, 1}));
    notify("EBACNG", Bytes({3, 2}));
    ASSERT_TRUE(Eventually([&] { return cb.calls().size() == 1; }));
    EXPECT_EQ(cb.calls()[0], std::make_tuple(1u, 3u, 3u));
    EXPECT_EQ(manager->GetRefusedSenderCount(), 1u);
}
