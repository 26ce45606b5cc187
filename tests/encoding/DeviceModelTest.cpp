// What the library knows of the device models and addresses: serial numbers, the laser stream
// each model takes, the frame-capture programming, and address texts.
#include "ByteString.h"

#include "Sentova/CommandSerialiser.h"
#include "Sentova/DeviceAddress.h"
#include "Sentova/DeviceModel.h"

#include <gtest/gtest.h>

#include <stdexcept>

using tavrel::CommandSerialiser;
using testing_support::Bytes;

namespace {

std::string streamStart(const tavrel::LaserSettings& s, unsigned short port = 4366) {
    return CommandSerialiser::SVRRBE(tavrel::LaserStreamParameters(s, port));
}

} // namespace

// The bytes the viewer's panels have always sent for their initial settings.
TEST(LaserStreamParameters, EachModelsListWithThePortLast) {
    tavrel::LaserSettings lx30;
    lx30.model = LIDAR_LX30;
    EXPECT_EQ(streamStart(lx30),
              "SVRRBE" + Bytes({1, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0x11, 0x0e}));
    tavrel::LaserSettings lx20;
    lx20.model = LIDAR_LX20;
    EXPECT_EQ(streamStart(lx20), "SVRRBE" + Bytes({3, 0, 0, 0x27, 0x10, 4, 0, 0, 0,    1,
                                                   5, 0, 0, 0,    0,    0, 0, 0, 0x11, 0x0e}));
    // High speed overrides the rate and the averaging, whatever they were set to.
    lx20.highSpeed = true;
    lx20.sampleRate = 500;
    lx20.average = 7;
    lx20.gain = 2;
    EXPECT_EQ(streamStart(lx20, 5000), "SVRRBE" + Bytes({3, 0, 0, 0x75, 0x30, 4, 0, 0,    0,   1, 5,
                                                         0, 0, 0, 2,    0,    0, 0, 0x13, 0x88}));
    tavrel::LaserSettings generic;
    generic.measurement = 2; // not the generic model's
    EXPECT_EQ(streamStart(generic), "SVRRBE" + Bytes({0, 0, 0, 0x11, 0x0e}));
}

TEST(FrameCaptureSequence, StartsWithTheFrameAndStopsStreamAndApertureAtItsEnd) {
    const auto steps = tavrel::FrameCaptureSequence({{0, 4366}});
    using Kind = tavrel::FrameCaptureStep::Kind;
    ASSERT_EQ(steps.size(), 6u);
    const std::string stored[] = {"SVRRBE" + Bytes({0, 0, 0, 0x11, 0x0e}), "SVSRBE", "SVSTOP"};
    for (unsigned i = 0; i < 3; ++i) {
        EXPECT_EQ(steps[i].kind, Kind::ConfigureCommandBuffer);
        EXPECT_EQ(steps[i].buffer, 128 + i);
        EXPECT_EQ(steps[i].command, stored[i]);
    }
    const unsigned events[] = {0, 1, 1};
    for (unsigned i = 0; i < 3; ++i) {
        EXPECT_EQ(steps[3 + i].kind, Kind::EventEnable);
        EXPECT_EQ(steps[3 + i].buffer, 128 + i);
        EXPECT_EQ(steps[3 + i].event, events[i]);
    }
    EXPECT_EQ(steps[0].name, "ConfigureCommandBuffer(128)");
    EXPECT_EQ(steps[5].name, "EventEnable(130)");
}

TEST(DeviceModels, FromSerialNumbersAndNames) {
    EXPECT_EQ(tavrel::ModelFromSerial("SN-LX30-0042"), LIDAR_LX30);
    EXPECT_EQ(tavrel::ModelFromSerial("LX20 unit"), LIDAR_LX20);
    EXPECT_EQ(tavrel::ModelFromSerial("LX20/LX30"), LIDAR_LX30) << "the first variant wins";
    EXPECT_EQ(tavrel::ModelFromSerial("lx30"), LIDAR_GENERIC);
    EXPECT_EQ(tavrel::ModelFromSerial(""), LIDAR_GENERIC);

    EXPECT_EQ(tavrel::FirmwareFromSerial("LX30-31-SIM0001"), 31);
    EXPECT_EQ(tavrel::FirmwareFromSerial("29abc"), 29);
    EXPECT_EQ(tavrel::FirmwareFromSerial("LX20-7x"), 7);
    EXPECT_EQ(tavrel::FirmwareFromSerial("SN-x1"), 0);
    EXPECT_EQ(tavrel::FirmwareFromSerial("LX30--5"), 0) << "digits only, no sign";
    EXPECT_EQ(tavrel::FirmwareFromSerial(""), 0);

    for (LIDAR_TYPE model : {LIDAR_LX30, LIDAR_LX20, LIDAR_GENERIC})
        EXPECT_EQ(tavrel::ModelFromName(tavrel::ModelName(model)), model);
    EXPECT_EQ(tavrel::ModelFromName("LX30"), std::nullopt);
    EXPECT_STREQ(tavrel::ModelLabel(LIDAR_LX20), "LX20");
    EXPECT_STREQ(tavrel::ModelLabel(LIDAR_GENERIC), "generic");
}

TEST(DeviceAddress, OnlyDottedDecimalIPv4) {
    EXPECT_EQ(tavrel::ParseIPv4Address("10.0.3.40"), 0x0A000328u);
    for (const char* good : {"0.0.0.0", "127.0.0.1", "255.255.255.255"})
        EXPECT_TRUE(tavrel::IsIPv4Address(good)) << good;
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "1.2.3.256", "1..2.3", "1.2.3.4.", ".1.2.3",
                            "1.2.3.4 ", "1.2.3.0004", "10.020.3.4", "a.b.c.d", "::1", "fe80::1",
                            "1.2.3.-4", "+1.2.3.4", "device.local"})
        EXPECT_FALSE(tavrel::IsIPv4Address(bad)) << bad;
    EXPECT_FALSE(tavrel::IsIPv4Address(std::string("10.0.0.2\0junk", 13)));
    try {
        tavrel::ParseIPv4Address(std::string("10.0.0.2\0x", 10));
        ADD_FAILURE() << "accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "'10.0.0.2\\x00x' is not an IPv4 address");
    }
}
