// The tool's pure parts: output choices and what it prints.
#include "CliStatus.h"
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
