// The tool's MCAP choices and the text of the traffic on the log channel.
#include "CliStatus.h"
#include "Failure.h"
#include "McapOutput.h"
#include "Output.h"
#include "Record.h"
#include "ScratchFiles.h"
#include "Sentova/CommandSerialiser.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace cli;

TEST(McapChoice, TheExtensionOrTheFormatNameChoosesMcap) {
    EXPECT_TRUE(isMcap("a.mcap"));
    EXPECT_TRUE(isMcap("A.MCAP"));
    EXPECT_FALSE(isMcap(".mca"));
    EXPECT_FALSE(isMcap("a.mcap.pcd"));

    EXPECT_TRUE(chooseOutput("/tmp/none/scan.mcap", "", false).mcap);
    EXPECT_TRUE(chooseOutput("/tmp/none/scan.bin", "mcap", false).mcap);
    EXPECT_FALSE(chooseOutput("/tmp/none/scan.mcap", "pcd", false).mcap);

    EXPECT_TRUE(checkRecordOutput("/tmp/none/r.mcap", "", false));
    EXPECT_TRUE(checkRecordOutput("/tmp/none/r.pcap", "mcap", false));
    EXPECT_FALSE(checkRecordOutput("/tmp/none/r.pcap", "", false));
    EXPECT_EQ(statusOf([] { checkRecordOutput("/tmp/none/r.txt", "", false); }), kUsage);

    testing_support::ScratchDir dir("mcap_cli");
    const std::string existing = (dir / "old.mcap").string();
    std::ofstream(existing) << "x";
    EXPECT_EQ(statusOf([&] { chooseOutput(existing, "", false); }), kUsage);
    EXPECT_EQ(statusOf([&] { checkRecordOutput(existing, "", false); }), kUsage);
    EXPECT_TRUE(checkRecordOutput(existing, "", true));
}

TEST(McapTraffic, CommandsByNameRepliesAndNotificationsByCode) {
    EXPECT_EQ(trafficText(tavrel::CommandSerialiser::SVSFFS(5.0, 4.0), true),
              "command SVSFFS Start full field scan 00 05 00 00 00 04 00 00");
    EXPECT_EQ(trafficText("SVQQQQ\x01", true), "command SVQQQQ 01");
    EXPECT_EQ(trafficText("EEXXXX\x07", false), "reply EEXXXX 07");
    EXPECT_EQ(trafficText(std::string("EBAACK\0\0", 8), false), "notification EBAACK 00 00");
    // Bytes that are no code are shown as bytes, also a datagram shorter than a code.
    EXPECT_EQ(trafficText(std::string("\x01\x02", 2), false), "reply 01 02");
    EXPECT_EQ(trafficText("", true), "command");
}

TEST(McapFiles, AFileThatCannotBeWrittenIsAFailure) {
    const std::deque<DataPoint> points(3);
    EXPECT_EQ(statusOf([&] { writePointsMcap("/nonexistent-folder/p.mcap", points, 0, {}); }),
              kFailed);
    EXPECT_EQ(statusOf([] {
                  writeRecordingMcap("/nonexistent-folder/r.pcap", "/tmp/unused.mcap", std::nullopt,
                                     {});
              }),
              kFailed);
}
