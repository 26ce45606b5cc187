#include "SentovaPrivate.h"

#include "FakeDevice.h"
#include "LogCapture.h"

#include "Sentova/CommandSerialiser.h"

#include <boost/system/system_error.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <stdexcept>

using namespace tavrel;
using namespace testing_support;
using std::chrono::milliseconds;

namespace {

class Controller : public ::testing::Test {
protected:
    void SetUp() override {
        controller = std::make_unique<SentovaPrivate>(device.address(), 4365);
        ASSERT_TRUE(device.waitForDatagrams(1)); // "SVPPPP"
    }
    // Waits until the device has seen count datagrams, "SVPPPP" included.
    void seen(std::size_t count) { ASSERT_TRUE(device.waitForDatagrams(count)); }

    FakeDevice device;
    std::unique_ptr<SentovaPrivate> controller;
};

} // namespace

TEST_F(Controller, ReplyClassesGiveResults) {
    const std::string stop = CommandSerialiser::SVSTOP();
    device.answerAll("EA");
    EXPECT_EQ(controller->SendBlockingCommand(stop), NoError);
    device.answerAll("EE", Bytes({0x04}));
    EXPECT_EQ(controller->SendBlockingCommand(stop), NotHomed);
    EXPECT_EQ(controller->GetLastBlockingError(), NotHomed);
    device.answerAll("EE", Bytes({0xFF}));
    EXPECT_EQ(controller->SendBlockingCommand(stop), OtherError);
    // A failure reply without a code, or with code 0, is still a failure.
    device.answerAll("EE");
    EXPECT_EQ(controller->SendBlockingCommand(stop), OtherError);
    device.answerAll("EE", Bytes({0x00}));
    EXPECT_EQ(controller->SendBlockingCommand(stop), OtherError);

    device.answerAll("ER", std::string("a\0b", 3));
    EXPECT_EQ(controller->SendBlockingCommand(stop), NoError);
    std::string response = "old";
    EXPECT_EQ(controller->GetLastBlockingResponse(response), NoError);
    EXPECT_EQ(response, std::string("a\0b", 3));

    device.answerAll("EE", Bytes({0x09}));
    response = "kept";
    EXPECT_EQ(controller->SendBlockingCommand(stop), BusyOtherClient);
    EXPECT_EQ(controller->GetLastBlockingResponse(response), BusyOtherClient);
    EXPECT_EQ(response, "kept");
}

TEST_F(Controller, ShortCommandIsRefusedUnsent) {
    CountingCallback cb;
    EXPECT_EQ(controller->SendBlockingCommand("SVHOM"), UnknownCommand);
    EXPECT_EQ(controller->SendNonBlockingCommand("SVHO", &cb), UnknownCommand);
    EXPECT_EQ(controller->SendNonBlockingCommand("SVHOME", nullptr), InvalidCallback);
    // A command sent afterwards on the same socket arrives after anything those sent.
    device.answerAll("EA");
    ASSERT_EQ(controller->Stop(), NoError);
    const auto received = device.received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[1], "SVSTOP");
}

TEST_F(Controller, ReplyWithAnotherStemTimesOut) {
    device.setResponder([](const std::string&) -> std::vector<std::string> {
        return {Reply("EA", "SVHOME"), Reply("EE", "SVGEAA", Bytes({3}))};
    });
    controller->SetResponseTimeout(100);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(controller->Stop(), Timeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(100));
    EXPECT_EQ(controller->GetLastBlockingError(), Timeout);
}

TEST_F(Controller, LateReplyDoesNotReplaceTheTimeOut) {
    EXPECT_EQ(controller->SendBlockingCommand(CommandSerialiser::SVSTOP(), 50), Timeout);
    device.sendToClient(Reply("EA", "SVSTOP"));
    // The reply to a non-blocking command, sent after the late one, is dispatched
    // after it; it leaves the blocking result alone.
    CountingCallback marker;
    controller->SetMotionTimeout(0);
    device.answerAll("EA");
    ASSERT_EQ(controller->Home(&marker), NoError);
    ASSERT_TRUE(Eventually([&] { return marker.calls == 1; }));
    EXPECT_EQ(controller->GetLastBlockingError(), Timeout);
    // The channel is free again.
    device.answerAll("EA");
    EXPECT_EQ(controller->Stop(), NoError);
}

TEST_F(Controller, SecondTransactionWhileOneWaitsIsBusy) {
    CountingCallback cb;
    auto waiting = std::async(std::launch::async,
                              [&] { return controller->SendBlockingCommand("SVSTOP", 5000); });
    seen(2);
    EXPECT_EQ(controller->SendBlockingCommand("SVHOME", 5000), DriverBusy);
    EXPECT_EQ(controller->Home(&cb), DriverBusy);
    EXPECT_EQ(device.received().size(), 2u);
    device.sendToClient(Reply("EA", "SVSTOP"));
    EXPECT_EQ(waiting.get(), NoError);
    EXPECT_EQ(cb.calls, 0);
}

TEST_F(Controller, BlockingProceedsWhileNonBlockingIsOutstanding) {
    CountingCallback cb;
    controller->SetMotionTimeout(0);
    ASSERT_EQ(controller->Home(&cb), NoError);
    seen(2);
    auto blocking = std::async(std::launch::async,
                               [&] { return controller->SendBlockingCommand("SVHOME", 5000); });
    seen(3);
    // Matches both: only the blocking transaction completes.
    device.sendToClient(Reply("EE", "SVHOME", Bytes({4})));
    EXPECT_EQ(blocking.get(), NotHomed);
    // The reply to a later blocking command is dispatched after that one.
    device.answerAll("EA");
    ASSERT_EQ(controller->Stop(), NoError);
    device.setResponder(nullptr);
    EXPECT_EQ(cb.calls, 0);

    device.sendToClient(Reply("EA", "SVHOME"));
    ASSERT_TRUE(Eventually([&] { return cb.calls == 1; }));
    EXPECT_EQ(cb.last, NoError);
    EXPECT_EQ(controller->GetLastNonBlockingError(), NoError);
}

TEST_F(Controller, NonBlockingCallbackIsCalledExactlyOnce) {
    CountingCallback cb;
    device.setResponder([](const std::string& d) -> std::vector<std::string> {
        // Two answers: the second finds nothing outstanding.
        return {Reply("ER", d, "xy"), Reply("EE", d, Bytes({5}))};
    });
    ASSERT_EQ(controller->SetApertureAngles(10, 20, 1, &cb), NoError);
    ASSERT_TRUE(Eventually([&] { return cb.calls >= 1; }));
    // A later command's reply comes after the second answer, and is dispatched after it.
    device.answerAll("EA");
    ASSERT_EQ(controller->Stop(), NoError);
    EXPECT_EQ(cb.calls, 1);
    EXPECT_EQ(cb.last, NoError);
    std::string response;
    EXPECT_EQ(controller->GetLastNonBlockingResponse(response), NoError);
    EXPECT_EQ(response, "xy");
}

TEST_F(Controller, NonBlockingTimeOut) {
    CountingCallback cb;
    controller->SetMotionTimeout(60);
    ASSERT_EQ(controller->Home(&cb), NoError);
    ASSERT_TRUE(Eventually([&] { return cb.calls == 1; }));
    EXPECT_EQ(cb.last, Timeout);
    device.sendToClient(Reply("EA", "SVHOME")); // late: matches nothing
    // A later command's reply is dispatched after the late one.
    device.answerAll("EA");
    ASSERT_EQ(controller->Stop(), NoError);
    EXPECT_EQ(cb.calls, 1);
}

TEST_F(Controller, MotionTimeOutZeroMeansNoTimeOut) {
    CountingCallback cb;
    controller->SetMotionTimeout(0);
    ASSERT_EQ(controller->Home(&cb), NoError);
    // Blocking motion command with time-out 0 waits until the reply comes.
    auto home = std::async(std::launch::async, [&] { return controller->Home(); });
    seen(3);
    // Only time shows that no time-out runs: both commands wait through the
    // same interval, long against a time-out of 0 taken as a few milliseconds.
    EXPECT_EQ(home.wait_for(milliseconds(150)), std::future_status::timeout);
    EXPECT_EQ(cb.calls, 0);
    device.sendToClient(Reply("EA", "SVHOME"));
    EXPECT_EQ(home.get(), NoError);
}

TEST_F(Controller, ReplacedNonBlockingCommandDropsTheOldCallback) {
    CountingCallback first, second;
    controller->SetMotionTimeout(80);
    ASSERT_EQ(controller->Home(&first), NoError);
    ASSERT_EQ(controller->SetApertureAngles(1, 2, 3, &second), NoError);
    const auto armed = std::chrono::steady_clock::now();
    ASSERT_TRUE(Eventually([&] { return second.calls == 1; }));
    // Every time-out armed so far is due by then (normally already passed); a
    // reply dispatched after that comes after their handlers on the socket thread.
    std::this_thread::sleep_until(armed + milliseconds(80));
    device.answerAll("EA");
    ASSERT_EQ(controller->Stop(), NoError);
    EXPECT_EQ(first.calls, 0);
    EXPECT_EQ(second.calls, 1);
    EXPECT_EQ(second.last, Timeout);
}

TEST_F(Controller, AngleQueries) {
    device.answerAll("ER", Bytes({0x40, 0, 0, 0, 0xC0, 0, 0, 0, 0x20, 0, 0, 0}));
    double az = 0, el = 0, t3 = 0;
    ASSERT_EQ(controller->GetApertureAngles(az, el), NoError);
    EXPECT_DOUBLE_EQ(az, 90.0);
    EXPECT_DOUBLE_EQ(el, -90.0);
    ASSERT_EQ(controller->GetStabilisedTarget(az, el, t3), NoError);
    EXPECT_DOUBLE_EQ(t3, 45.0);
    double distance = 0, roll = 0;
    EXPECT_EQ(controller->GetStabilisedTargetDistance(distance), NoError);
    EXPECT_DOUBLE_EQ(distance, 90.0);
    EXPECT_EQ(controller->GetStabilisedRoll(roll), NoError);
    EXPECT_DOUBLE_EQ(roll, 90.0);

    // Too short for its fields, or no data at all: 255, outputs untouched.
    device.answerAll("ER", Bytes({0x40, 0, 0, 0, 0xC0, 0, 0}));
    az = el = 1.0;
    EXPECT_EQ(controller->GetApertureAngles(az, el), OtherError);
    EXPECT_EQ(controller->GetLastBlockingError(), OtherError);
    device.answerAll("EA");
    EXPECT_EQ(controller->GetApertureAngles(az, el), OtherError);
    EXPECT_EQ(controller->GetLastBlockingError(), OtherError);
    EXPECT_EQ(az, 1.0);
    EXPECT_EQ(el, 1.0);
    device.answerAll("EE", Bytes({4}));
    EXPECT_EQ(controller->GetApertureAngles(az, el), NotHomed);
    EXPECT_EQ(az, 1.0);
}

TEST_F(Controller, TextQueries) {
    device.answerAll("ER", "LX30-31 unit 7");
    std::string serial;
    ASSERT_EQ(controller->GetSerial(serial), NoError);
    EXPECT_EQ(serial, "LX30-31 unit 7");
    device.answerAll("EE", Bytes({3}));
    EXPECT_EQ(controller->GetSerial(serial), NotReady);
    EXPECT_EQ(serial, "LX30-31 unit 7");
}

TEST_F(Controller, VersionCheck) {
    LogCapture log;
    device.answerAll("ER", "LX30-31A");
    EXPECT_EQ(controller->VerifyLibVersion(), NoError);
    EXPECT_TRUE(log.contains(
        "[trace] SV Serial Number: LX30-31AFirmware Version: 31 Library Version: 35\n"));
    EXPECT_FALSE(log.contains("[fatal]"));

    device.answerAll("ER", "LX20-29B");
    EXPECT_EQ(controller->VerifyLibVersion(), LibraryIncompatible);
    EXPECT_TRUE(log.contains("Firmware Version: 29 Library Version: 35"));
    EXPECT_TRUE(log.contains("[fatal] The Sentova Library version: 35 is not compatible "
                             "with the Firmware version: 29\n"));

    device.answerAll("EE", Bytes({9}));
    EXPECT_EQ(controller->VerifyLibVersion(), BusyOtherClient);
    const std::string text = log.text();
    EXPECT_EQ(text.find("SV Serial Number", text.rfind("LX20-29B") + 8), std::string::npos);
    EXPECT_EQ(controller->GetLibVersion(), "3.5.548");
    // The socket thread logs too: it goes before the capture does.
    controller.reset();
}

TEST_F(Controller, SendFailureLeavesTheChannelUsable) {
    // Larger than any UDP datagram: the send fails.
    const std::string huge = "SVSTOP" + std::string(70000, 'x');
    EXPECT_THROW(controller->SendBlockingCommand(huge), boost::system::system_error);
    CountingCallback cb;
    EXPECT_THROW(controller->SendNonBlockingCommand(huge, &cb), boost::system::system_error);
    device.answerAll("EA");
    EXPECT_EQ(controller->Stop(), NoError);
    controller->SetMotionTimeout(0);
    EXPECT_EQ(controller->Home(&cb), NoError);
    ASSERT_TRUE(Eventually([&] { return cb.calls == 1; }));
}

TEST_F(Controller, ShutdownEndsAWaitingTransaction) {
    SentovaPrivate* const raw = controller.get();
    auto waiting =
        std::async(std::launch::async, [raw] { return raw->SendBlockingCommand("SVSTOP", 0); });
    seen(2);
    CountingCallback cb;
    controller->SetMotionTimeout(0);
    // The blocking one is waiting, so this is refused; nothing else outstanding.
    EXPECT_EQ(controller->Home(&cb), DriverBusy);
    controller.reset();
    EXPECT_EQ(waiting.get(), Timeout);
}

TEST_F(Controller, ShutdownWithNonBlockingOutstandingCallsNothing) {
    CountingCallback cb;
    controller->SetMotionTimeout(30);
    ASSERT_EQ(controller->Home(&cb), NoError);
    // The socket thread, where time-outs run, is joined when the controller goes.
    controller.reset();
    EXPECT_EQ(cb.calls, 0);
}

TEST_F(Controller, CommandsOnTheWire) {
    device.setResponder(
        [](const std::string& d) -> std::vector<std::string> { return {Reply("EA", d)}; });
    EXPECT_EQ(controller->SetMotors(false), NoError);
    EXPECT_EQ(controller->SetMotors(true), NoError);
    EXPECT_EQ(controller->SetLaserGain(258), NoError);
    EXPECT_EQ(controller->WriteFlash(3, "ab"), NoError);
    EXPECT_EQ(controller->TestError(), NoError);
    const auto r = device.received();
    ASSERT_EQ(r.size(), 6u);
    EXPECT_EQ(r[1], "SVMOFF");
    EXPECT_EQ(r[2], "SVMONN");
    EXPECT_EQ(r[3], std::string("SVSLGA\x02"));
    EXPECT_EQ(r[4], "SVSUFP\x03"
                    "ab" +
                        std::string(62, '0'));
    EXPECT_EQ(r[5], "SVPPPP");
}

TEST_F(Controller, ThrowingCallbackDoesNotEndTheChannel) {
    class Throwing : public SentovaNotificationCallbackClass {
    public:
        void NotificationCallback(tavrel_error_t result) override {
            ++calls;
            throw std::runtime_error("callback failed with " + std::to_string(result));
        }
        std::atomic<int> calls{0};
    } throwing;
    LogCapture log;
    device.answerAll("EA");
    ASSERT_EQ(controller->Home(&throwing), NoError); // thrown from the reply dispatcher
    // Recorded once the dispatcher has let go of the non-blocking channel.
    ASSERT_TRUE(Eventually([&] { return log.contains("SentovaBase: BaseRXCallback:"); }));
    EXPECT_EQ(throwing.calls, 1);
    device.setResponder(nullptr);
    controller->SetMotionTimeout(20);
    ASSERT_EQ(controller->Home(&throwing), NoError); // thrown from the time-out handler
    ASSERT_TRUE(Eventually([&] { return throwing.calls == 2; }));
    device.answerAll("EA");
    EXPECT_EQ(controller->Stop(), NoError);
    EXPECT_TRUE(log.contains("[fatal] SentovaBase: BaseRXCallback: callback failed with 0"));
    EXPECT_TRUE(log.contains("[fatal] SentovaBase: socket thread: callback failed with 254"));
    controller.reset();
}

TEST_F(Controller, UnknownClassWithTheRightStemIsAnUnknownReply) {
    const std::string stop = CommandSerialiser::SVSTOP();
    device.answerAll("EE", Bytes({0x04}));
    ASSERT_EQ(controller->SendBlockingCommand(stop), NotHomed);
    // Never the earlier command's 4.
    device.answerAll("XY");
    EXPECT_EQ(controller->SendBlockingCommand(stop), OtherError);
    EXPECT_EQ(controller->GetLastBlockingError(), OtherError);
    // "EB" answers only non-blocking transactions.
    device.answerAll("EB", "data");
    EXPECT_EQ(controller->SendBlockingCommand(stop), OtherError);

    CountingCallback cb;
    controller->SetMotionTimeout(0);
    device.answerAll("EE", Bytes({0x03}));
    ASSERT_EQ(controller->Home(&cb), NoError);
    ASSERT_TRUE(Eventually([&] { return cb.calls == 1; }));
    ASSERT_EQ(cb.last, NotReady);
    device.answerAll("Q!");
    ASSERT_EQ(controller->Home(&cb), NoError);
    ASSERT_TRUE(Eventually([&] { return cb.calls == 2; }));
    EXPECT_EQ(cb.last, OtherError);
    EXPECT_EQ(controller->GetLastNonBlockingError(), OtherError);
}

TEST_F(Controller, AStrangersRepliesCompleteNothing) {
    CountingCallback cb;
    controller->SetMotionTimeout(0);
    // Shared with the responder, which the device's thread may still run after the test ends.
    const auto stranger = std::make_shared<LoopbackPeer>("127.150.4.1");
    // The stranger answers first each time, on the same socket as the device.
    device.setResponder([this, stranger](const std::string& d) -> std::vector<std::string> {
        const unsigned short port = device.lastSenderPort();
        stranger->sendTo("127.0.0.1", port, Reply("EA", d));
        stranger->sendTo("127.0.0.1", port, "EBHPTG" + std::string(20, '\0'));
        return {Reply("EE", d, Bytes({0x04}))};
    });
    EXPECT_EQ(controller->Stop(), NotHomed);
    ASSERT_EQ(controller->Home(&cb), NoError);
    ASSERT_TRUE(Eventually([&] { return cb.calls == 1; }));
    EXPECT_EQ(cb.last, NotHomed);
    EXPECT_EQ(controller->GetRefusedSenderCount(), 4u);
    device.setResponder(nullptr);
}
