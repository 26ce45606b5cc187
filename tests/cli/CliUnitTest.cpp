// The tool's pure parts: laser parameters per model, serial texts, addresses, output choices and
// what it prints.
#include "Device.h"
#include "Failure.h"
#include "Models.h"
#include "Output.h"
#include "Report.h"
#include "ScratchFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace cli;

namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) {
        s.push_back(static_cast<char>(v));
    }
    return s;
}

template <class F> ExitStatus statusOf(F&& f) {
    try {
        f();
    } catch (const Failure& failure) {
        return failure.status;
    }
    return kSuccess;
}

} // namespace

// The same command bytes as the viewer's panels send for their initial settings.
TEST(LaserParameters, EachModelsListAsTheViewerBuildsIt) {
    LaserSettings lx30;
    lx30.model = LIDAR_LX30;
    EXPECT_EQ(tavrel::CommandSerialiser::SVRRBE(laserParameters(lx30, 4366)),
              "SVRRBE" + bytes({1, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0x11, 0x0e}));
    LaserSettings lx20;
    lx20.model = LIDAR_LX20;
    EXPECT_EQ(tavrel::CommandSerialiser::SVRRBE(laserParameters(lx20, 4366)),
              "SVRRBE" +
                  bytes({3, 0, 0, 0x27, 0x10, 4, 0, 0, 0, 1, 5, 0, 0, 0, 0, 0, 0, 0, 0x11, 0x0e}));
    lx20.highSpeed = true;
    lx20.average = 7;
    const auto fast = laserParameters(lx20, 4366);
    ASSERT_EQ(fast.size(), 4u);
    EXPECT_EQ(tavrel::CommandSerialiser::SVRRBE({fast[0]}),
              "SVRRBE" + bytes({3, 0, 0, 0x75, 0x30}));
    EXPECT_EQ(tavrel::CommandSerialiser::SVRRBE({fast[1]}), "SVRRBE" + bytes({4, 0, 0, 0, 1}));
    LaserSettings generic;
    generic.measurement = 2; // ignored by the generic model
    EXPECT_EQ(tavrel::CommandSerialiser::SVRRBE(laserParameters(generic, 4366)),
              "SVRRBE" + bytes({0, 0, 0, 0x11, 0x0e}));
}

TEST(Models, NamesAndSerials) {
    EXPECT_EQ(modelFromName("lx30"), LIDAR_LX30);
    EXPECT_EQ(modelFromName("LX30"), std::nullopt);
    EXPECT_STREQ(modelLabel(LIDAR_LX20), "LX20");
    EXPECT_STREQ(modelName(LIDAR_GENERIC), "generic");
    EXPECT_EQ(firmwareFromSerial("LX30-31-SIM0001"), 31);
    EXPECT_EQ(firmwareFromSerial("29abc"), 29);
    EXPECT_EQ(firmwareFromSerial("SN-x1"), 0);
    EXPECT_EQ(firmwareFromSerial(""), 0);
}

TEST(Addresses, OnlyDottedIpv4) {
    EXPECT_TRUE(isIpv4Address("127.0.0.1"));
    EXPECT_TRUE(isIpv4Address("10.1.2.3"));
    EXPECT_FALSE(isIpv4Address("10.1.2"));
    EXPECT_FALSE(isIpv4Address("10.1.2.3 "));
    EXPECT_FALSE(isIpv4Address("::1"));
    EXPECT_FALSE(isIpv4Address("device.local"));
    EXPECT_FALSE(isIpv4Address(std::string("10.0.0.2\0junk", 13)));
}

TEST(Report, InfoTextAndJson) {
    DeviceInfo info;
    info.address = "127.0.0.1";
    info.serial = "LX30-31-\"A\"\\\x01\xe9";
    info.model = "LX30";
    info.firmware = 31;
    info.library = "3.5.548";
    info.compatible = true;
    info.azimuth = 12.5;
    info.elevation = -3;
    info.state = "idle";
    EXPECT_EQ(infoJson(info),
              "{\"address\": \"127.0.0.1\", \"serial\": \"LX30-31-\\\"A\\\"\\\\\\u0001\\u00e9\", "
              "\"model\": \"LX30\", \"firmware\": 31, \"library\": \"3.5.548\", \"compatible\": "
              "true, \"azimuth\": 12.5, \"elevation\": -3, \"state\": \"idle\"}\n");
    const std::string text = infoText(info);
    EXPECT_NE(text.find("azimuth    12.5000\n"), std::string::npos);
    EXPECT_NE(text.find("library    3.5.548 (compatible)\n"), std::string::npos);

    CaptureProgress p;
    p.points = 12345;
    p.rate = 4321.4;
    p.seconds = 3.25;
    p.missing = 2;
    EXPECT_EQ(progressLine(p),
              "12345 points  4321 points/s  3.2 s  missing 2  dropped 0  refused 0");
    p.commandRefused = 3;
    EXPECT_EQ(progressLine(p),
              "12345 points  4321 points/s  3.2 s  missing 2  dropped 0  refused 0  "
              "commands refused 3");
}

TEST(Output, FormatsFieldsAndExistingFiles) {
    const testing_support::ScratchDir scratch("cli_unit");
    const std::filesystem::path& dir = scratch.path();
    EXPECT_EQ(chooseOutput((dir / "a.LAS").string(), "", false).format, formats::Format::Las);
    EXPECT_EQ(chooseOutput((dir / "a.pcd").string(), "pcd-binary", false).format,
              formats::Format::PcdBinary);
    EXPECT_EQ(statusOf([&] { chooseOutput((dir / "a.txt").string(), "", false); }), kUsage);
    EXPECT_EQ(statusOf([&] { chooseOutput((dir / "a.pcd").string(), "ascii", false); }), kUsage);
    std::ofstream(dir / "there.csv") << "x\n";
    EXPECT_EQ(statusOf([&] { chooseOutput((dir / "there.csv").string(), "", false); }), kUsage);
    EXPECT_EQ(statusOf([&] { chooseOutput((dir / "there.csv").string(), "", true); }), kSuccess);
    EXPECT_EQ(statusOf([&] { checkWritable({(dir / "x" / "y.csv").string()}); }), kFailed);
    EXPECT_EQ(statusOf([&] { checkWritable({(dir / "y.csv").string()}); }), kSuccess);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir),
                            std::filesystem::directory_iterator()),
              1); // the probe leaves nothing

    const std::optional<formats::FieldSelection> f = parseFields("x,intensity,timestamp");
    ASSERT_TRUE(f);
    EXPECT_EQ(formats::selectedFields(*f),
              (std::vector<formats::Field>{formats::Field::X, formats::Field::Intensity,
                                           formats::Field::Timestamp}));
    EXPECT_FALSE(parseFields(""));
    EXPECT_EQ(statusOf([] { parseFields("x,,y"); }), kUsage);
    EXPECT_EQ(statusOf([] { parseFields("x,colour"); }), kUsage);
}
