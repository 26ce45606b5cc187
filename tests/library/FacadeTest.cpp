#include "Sentova/Sentova.h"
#include "Sentova/SentovaEventManager.h"

#include "FakeDevice.h"

#include <boost/system/system_error.hpp>

#include <gtest/gtest.h>

#include <memory>

using namespace tavrel;
using namespace testing_support;

namespace {

class Facade : public ::testing::Test {
protected:
    void SetUp() override {
        device.answerAll("EA");
        sentova = std::make_unique<Sentova>(device.address());
        ASSERT_TRUE(device.waitForDatagrams(1));
    }
    // The bytes of the latest command after its six-letter code.
    std::string lastArguments() { return device.received().back().substr(6); }

    FakeDevice device;
    std::unique_ptr<Sentova> sentova;
};

} // namespace

TEST_F(Facade, ConstructionPingsTheCommandPort) {
    // The fake device listens on 4365 only, so arrival proves the port.
    EXPECT_EQ(device.received().at(0), "SVPPPP");
    EXPECT_EQ(sentova->GetResponseTimeout(), 500u);
    EXPECT_EQ(sentova->GetMotionTimeout(), 2500u);
}

TEST_F(Facade, LineCountsAreTruncatedOnTheWire) {
    const std::string speed5 = Bytes({0, 5, 0, 0});
    ASSERT_EQ(sentova->StartFullFieldScan(5.0, 7.9), NoError);
    EXPECT_EQ(lastArguments(), speed5 + Bytes({0, 7, 0, 0}));
    // Counts the 16.16 field cannot hold whole go as 32767 whole lines, never
    // as the fraction 7F FF FF FF: -1 (65535 after the wrap) and 40000 alike.
    const std::string most = Bytes({0x7F, 0xFF, 0, 0});
    ASSERT_EQ(sentova->StartFullFieldScan(5.0, -1), NoError);
    EXPECT_EQ(lastArguments(), speed5 + most);
    ASSERT_EQ(sentova->StartFullFieldScan(5.0, 40000), NoError);
    EXPECT_EQ(lastArguments(), speed5 + most);
    ASSERT_EQ(sentova->StartFullFieldScan(5.0, 32767.5), NoError);
    EXPECT_EQ(lastArguments(), speed5 + most);
    ASSERT_EQ(sentova->StartBoundedElevationScan(5.0, 0, 0, 32768), NoError);
    EXPECT_EQ(lastArguments().substr(12), most);
    ASSERT_EQ(sentova->StartRegionScan(5.0, 0, 0, 0, 0, -2), NoError);
    EXPECT_EQ(lastArguments().substr(16), speed5 + most);
    ASSERT_EQ(sentova->StartBoundedElevationScan(5.0, 0, 0, 3.99), NoError);
    EXPECT_EQ(lastArguments().substr(12), Bytes({0, 3, 0, 0}));
    ASSERT_EQ(sentova->StartRegionScan(5.0, 0, 0, 0, 0, 65538.5), NoError);
    EXPECT_EQ(lastArguments().substr(16), speed5 + Bytes({0, 2, 0, 0}));
}

TEST_F(Facade, StateIsTheWholeReplyText) {
    device.answerAll("ER", "homed idle");
    std::string state = "unchanged";
    ASSERT_EQ(sentova->GetState(state), NoError);
    EXPECT_EQ(device.received().back(), "SVGMTN");
    EXPECT_EQ(state, "homed idle");
    device.answerAll("EE", std::string(1, '\x03'));
    std::string kept = "kept";
    EXPECT_EQ(sentova->GetState(kept), 3);
    EXPECT_EQ(kept, "kept");
}

TEST_F(Facade, TriggerOperationsNeedARegisteredCallback) {
    EXPECT_EQ(sentova->SetApertureAnglesWithTrigger(1, 2, 3, 4, 5), InvalidCallback);
    EXPECT_EQ(sentova->TestHighPerformanceTrigger(4, 5), InvalidCallback);
    EXPECT_EQ(sentova->RegisterHighPerfTriggerCallback(nullptr), InvalidCallback);
    // A command sent afterwards on the same socket arrives after anything those sent.
    ASSERT_EQ(sentova->Stop(), NoError);
    const auto received = device.received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[1], "SVSTOP");
}

TEST(FacadeAddress, TextWithAZeroByteIsNotAnAddress) {
    FakeDevice device;
    const std::string padded = device.address() + std::string("\0junk", 5);
    EXPECT_THROW(Sentova{padded}, boost::system::system_error);
    EXPECT_THROW(SentovaEventManager{padded}, boost::system::system_error);
    // A controller made afterwards pings the device: nothing came before its ping.
    Sentova reachable(device.address());
    ASSERT_TRUE(device.waitForDatagrams(1));
    EXPECT_EQ(device.received(), std::vector<std::string>{"SVPPPP"});
}

// What a program shows for a mistyped address says what is wrong with the text,
// not a network fault.
TEST(FacadeAddress, MessageSaysTheTextIsNotAnIPv4Address) {
    const auto messageFor = [](auto&& construct) {
        try {
            construct();
        } catch (const boost::system::system_error& e) {
            EXPECT_TRUE(e.code());
            return std::string(e.what());
        }
        return std::string("no exception");
    };
    const std::string notAnIp = messageFor([] { Sentova{"not-an-ip"}; });
    EXPECT_EQ(notAnIp.rfind("'not-an-ip' is not an IPv4 address", 0), 0u) << notAnIp;
    const std::string events = messageFor([] { SentovaEventManager{"10.0.0.300"}; });
    EXPECT_EQ(events.rfind("'10.0.0.300' is not an IPv4 address", 0), 0u) << events;
    const std::string zero = messageFor([] { Sentova{std::string("10.0.0.2\0junk", 13)}; });
    EXPECT_EQ(zero.rfind("'10.0.0.2\\x00junk' is not an IPv4 address", 0), 0u) << zero;
    FakeDevice device;
    Sentova sentova(device.address());
    const std::string settings = messageFor([&] { sentova.SetIPSettings("x", "1.2.3"); });
    EXPECT_EQ(settings.rfind("'1.2.3' is not an IPv4 address", 0), 0u) << settings;
}

TEST(ErrorStrings, Texts) {
    EXPECT_EQ(Sentova::GetErrorString(NoError), "Error 0x00: No Error.");
    EXPECT_EQ(Sentova::GetErrorString(BusyOtherClient), "Error 0x09: Busy handling another client");
    EXPECT_EQ(Sentova::GetErrorString(static_cast<tavrel_error_t>(13)),
              "Error 0x0d: Unknown Error Code");
    EXPECT_EQ(Sentova::GetErrorString(Timeout),
              "Error 0xfe: Timeout when attempting to communicate with sentova.");
    EXPECT_EQ(Sentova::GetErrorString(OtherError), "Error 0xff: Other Error");
    EXPECT_EQ(SENTOVA_VERSION, "3.5.548");
}

TEST_F(Facade, StrangersAreCountedOnBothChannels) {
    SentovaEventManager events(device.address());
    ASSERT_TRUE(device.waitForDatagrams(2));
    const unsigned short managerPort = device.lastSenderPort();
    // Shared with the responder, which the device's thread may still run after the test ends.
    const auto stranger = std::make_shared<LoopbackPeer>("127.150.5.1");
    stranger->sendTo("127.0.0.1", managerPort, "EAERST");
    device.answerAll("EE", Bytes({0x07}));
    // The device's own reply comes after the stranger's early one.
    EXPECT_EQ(events.ResetEvents(), 7);
    EXPECT_EQ(events.GetRefusedSenderCount(), 1u);
    EXPECT_EQ(sentova->GetRefusedSenderCount(), 0u);

    device.setResponder([this, stranger](const std::string& d) -> std::vector<std::string> {
        stranger->sendTo("127.0.0.1", device.lastSenderPort(), Reply("EA", d));
        return {Reply("EE", d, Bytes({0x07}))};
    });
    EXPECT_EQ(sentova->Stop(), 7);
    EXPECT_EQ(sentova->GetRefusedSenderCount(), 1u);
    device.setResponder(nullptr);
}
