#include "SentovaHighPerf.h"
#include "SentovaPrivate.h"

#include "FakeDevice.h"
#include "LogCapture.h"

#include "Sentova/CommandSerialiser.h"
#include "Sentova/Sentova.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

using namespace tavrel;
using namespace testing_support;
using std::chrono::milliseconds;

namespace {

std::string Record(unsigned char index, unsigned char exp = 2) {
    return Bytes({0, 0, 0, index, 0, 1, 0x86, 0xA0, 0x40, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, exp});
}

struct Call {
    unsigned int index, tStamp;
    double azimuth, elevation;
    unsigned int exp;
    std::thread::id thread;
};

// Records calls; while held, the first call waits until released.
class TriggerRecorder : public SentovaHighPerfTriggerCallbackClass {
public:
    void HighPerfTriggerCallback(unsigned int index, unsigned int tStamp, double azimuth,
                                 double elevation, unsigned int exp) override {
        std::unique_lock<std::mutex> lock(mutex_);
        calls_.push_back({index, tStamp, azimuth, elevation, exp, std::this_thread::get_id()});
        changed_.notify_all();
        changed_.wait_for(lock, milliseconds(3000), [&] { return !hold_; });
    }
    std::vector<Call> calls() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    void hold() {
        std::lock_guard<std::mutex> lock(mutex_);
        hold_ = true;
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex_);
        hold_ = false;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool hold_ = false;
    std::vector<Call> calls_;
};

class ThreadOfCallback : public SentovaNotificationCallbackClass {
public:
    void NotificationCallback(tavrel_error_t r) override {
        result = r;
        thread = std::this_thread::get_id();
        called = true;
    }
    std::atomic<bool> called{false};
    std::atomic<tavrel_error_t> result{NoError};
    std::thread::id thread;
};

class Trigger : public ::testing::Test {
protected:
    void SetUp() override {
        controller = std::make_unique<SentovaPrivate>(device.address(), 4365);
        ASSERT_TRUE(device.waitForDatagrams(1));
    }
    // The stored record's index, read through a registration of our own.
    unsigned int storedIndex() {
        SentovaHighPerf* instance = SentovaHighPerf::GetInstance(nullptr);
        unsigned int index, tStamp, exp;
        double az, el;
        instance->GetCallbackData(index, tStamp, az, el, exp);
        SentovaHighPerf::DestroyInstance();
        return index;
    }

    FakeDevice device;
    TriggerRecorder recorder;
    std::unique_ptr<SentovaPrivate> controller;
};

} // namespace

TEST_F(Trigger, Registration) {
    EXPECT_EQ(controller->GetHighPerfTriggerCallback(), nullptr);
    EXPECT_EQ(controller->RegisterHighPerfTriggerCallback(nullptr), InvalidCallback);
    EXPECT_EQ(controller->RegisterHighPerfTriggerCallback(&recorder), NoError);
    TriggerRecorder other;
    EXPECT_EQ(controller->RegisterHighPerfTriggerCallback(&other), DriverBusy);
    EXPECT_EQ(controller->GetHighPerfTriggerCallback(), &recorder);
    // Another caller gets the same instance with the first callback.
    SentovaHighPerf* instance = SentovaHighPerf::GetInstance(&other);
    EXPECT_EQ(instance->GetHighPerfTriggerCallback(), &recorder);
    SentovaHighPerf::DestroyInstance();
}

TEST_F(Trigger, RecordsAreDecodedAndDeliveredOnTheTriggerThread) {
    LogCapture log;
    ThreadOfCallback socketThread;
    controller->SetMotionTimeout(0);
    ASSERT_EQ(controller->RegisterHighPerfTriggerCallback(&recorder), NoError);
    // Learn the socket thread's id from a non-blocking completion.
    ASSERT_EQ(controller->Home(&socketThread), NoError);
    device.sendToClient(Reply("EA", "SVHOME"));
    ASSERT_TRUE(Eventually([&] { return socketThread.called.load(); }));

    device.sendToClient("EBHPTG" + Record(7).substr(0, 19)); // no record
    device.sendToClient("EBHPTG" + Record(7) + "tail");
    ASSERT_TRUE(Eventually([&] { return recorder.calls().size() == 1; }));
    const Call c = recorder.calls()[0];
    EXPECT_EQ(c.index, 7u);
    EXPECT_EQ(c.tStamp, 100000u);
    EXPECT_DOUBLE_EQ(c.azimuth, 90.0);
    EXPECT_DOUBLE_EQ(c.elevation, -90.0);
    EXPECT_EQ(c.exp, 2u);
    EXPECT_NE(c.thread, socketThread.thread);
    EXPECT_NE(c.thread, std::this_thread::get_id());
    EXPECT_TRUE(
        log.contains("SentovaPrivate::HighPerfTriggerCallback: No data returning... Len: 19"));
    EXPECT_TRUE(log.contains("SentovaPrivate::HighPerfTriggerCallback index:7 tStamp: 100000 Az: "
                             "90 El: -90 Exp: 2\n"));
    // The next record is delivered after anything more those two would have given.
    device.sendToClient("EBHPTG" + Record(8));
    ASSERT_TRUE(Eventually([&] { return recorder.calls().size() >= 2; }));
    const auto calls = recorder.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].index, 8u);
    // Socket and trigger threads log too: they go before the capture does.
    controller.reset();
}

TEST_F(Trigger, LatestRecordWinsWhileTheCallbackRuns) {
    ASSERT_EQ(controller->RegisterHighPerfTriggerCallback(&recorder), NoError);
    recorder.hold();
    device.sendToClient("EBHPTG" + Record(1));
    ASSERT_TRUE(Eventually([&] { return recorder.calls().size() == 1; }));
    device.sendToClient("EBHPTG" + Record(2));
    device.sendToClient("EBHPTG" + Record(3));
    ASSERT_TRUE(Eventually([&] { return storedIndex() == 3; }));
    recorder.release();
    ASSERT_TRUE(Eventually([&] { return recorder.calls().size() == 2; }));
    EXPECT_EQ(recorder.calls()[1].index, 3u);
    // And the next record is delivered as usual, with nothing in between.
    device.sendToClient("EBHPTG" + Record(4));
    ASSERT_TRUE(Eventually([&] { return recorder.calls().back().index == 4; }));
    const auto calls = recorder.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1].index, 3u);
}

TEST_F(Trigger, ThrowingCallbackIsLoggedAndTheNextRecordStillArrives) {
    class Throwing : public SentovaHighPerfTriggerCallbackClass {
    public:
        void HighPerfTriggerCallback(unsigned int index, unsigned int, double, double,
                                     unsigned int) override {
            last = index;
            ++calls;
            throw std::runtime_error("trigger callback failed");
        }
        std::atomic<int> calls{0};
        std::atomic<unsigned int> last{0};
    } throwing;
    LogCapture log;
    ASSERT_EQ(controller->RegisterHighPerfTriggerCallback(&throwing), NoError);
    device.sendToClient("EBHPTG" + Record(1));
    ASSERT_TRUE(Eventually([&] { return throwing.calls == 1; }));
    ASSERT_TRUE(Eventually([&] { return log.contains("trigger callback failed"); }));
    EXPECT_TRUE(log.contains("[error] SentovaHighPerf: trigger callback: trigger callback failed"));
    device.sendToClient("EBHPTG" + Record(2));
    ASSERT_TRUE(Eventually([&] { return throwing.calls == 2; }));
    EXPECT_EQ(throwing.last, 2u);
    controller.reset();
}

TEST_F(Trigger, RecordsBeforeRegistrationAreIgnored) {
    device.sendToClient("EBHPTG" + Record(1));
    device.answerAll("EA");
    EXPECT_EQ(controller->Stop(), NoError); // the record was processed before this reply
    ASSERT_EQ(controller->RegisterHighPerfTriggerCallback(&recorder), NoError);
    // Nothing was handed over: no record is stored to be delivered later.
    EXPECT_EQ(storedIndex(), 0u);
    EXPECT_TRUE(recorder.calls().empty());
}

TEST_F(Trigger, RecordCompletesAnOutstandingNonBlockingMove) {
    ASSERT_EQ(controller->RegisterHighPerfTriggerCallback(&recorder), NoError);
    ThreadOfCallback move;
    controller->SetMotionTimeout(0);
    ASSERT_EQ(controller->SendNonBlockingCommand(CommandSerialiser::SVSEAT(1, 2, 3, 4, 5), &move),
              NoError);
    device.sendToClient("EBHPTG" + Record(5));
    ASSERT_TRUE(Eventually([&] { return move.called.load(); }));
    EXPECT_EQ(move.result, NoError);
    std::string response;
    EXPECT_EQ(controller->GetLastNonBlockingResponse(response), NoError);
    EXPECT_EQ(response, Record(5));
    // Once a later reply has been dispatched, the record's dispatch is over; it
    // never reached the trigger thread.
    device.answerAll("EA");
    ASSERT_EQ(controller->Stop(), NoError);
    EXPECT_EQ(storedIndex(), 0u);
    EXPECT_TRUE(recorder.calls().empty());
}

TEST_F(Trigger, InstanceOutlivesAllButTheLastController) {
    FakeDevice second;
    auto other = std::make_unique<SentovaPrivate>(second.address(), 4365);
    ASSERT_TRUE(second.waitForDatagrams(1));
    TriggerRecorder unused;
    ASSERT_EQ(controller->RegisterHighPerfTriggerCallback(&recorder), NoError);
    ASSERT_EQ(other->RegisterHighPerfTriggerCallback(&unused), NoError);
    controller.reset();
    second.sendToClient("EBHPTG" + Record(8));
    // Records of every controller reach the callback registered first.
    ASSERT_TRUE(Eventually([&] { return recorder.calls().size() == 1; }));
    EXPECT_EQ(recorder.calls()[0].index, 8u);
    EXPECT_TRUE(unused.calls().empty());
    other.reset();
}

TEST(TriggerFacade, OperationsSendTheirCommands) {
    FakeDevice device;
    device.answerAll("EA");
    TriggerRecorder recorder;
    Sentova sentova(device.address());
    ASSERT_EQ(sentova.RegisterHighPerfTriggerCallback(&recorder), NoError);
    EXPECT_EQ(sentova.TestHighPerformanceTrigger(1, 2), NoError);
    EXPECT_EQ(sentova.SetApertureAnglesWithTrigger(90, -90, 1, 3, 4), NoError);
    const auto r = device.received();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[1], "SVTTRG" + Bytes({0, 0, 0, 1, 0, 0, 0, 2}));
    EXPECT_EQ(r[2].substr(0, 14), "SVSEAT" + Bytes({0x40, 0, 0, 0, 0xC0, 0, 0, 0}));
    EXPECT_EQ(r[2].size(), 26u);
}
