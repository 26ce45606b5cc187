// The tool's MCAP choices and the text of the traffic on the log channel.
#include "CliStatus.h"
#include "Failure.h"
#include "Formats.h"
#include "McapOutput.h"
#include "Output.h"
#include "Record.h"
#include "ScratchFiles.h"
#include "Sentova/CommandSerialiser.h"
#include "SentovaMcap/ScanFile.h"

#include <gtest/gtest.h>

#include <deque>
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

// A point file converted to MCAP as it is read gives the bytes of the whole set's conversion:
// no file of points, one message of exactly the most points (and no empty one after it), and
// two full messages and a short one, from chunks that do not divide a message.
TEST(McapFiles, PointsStreamedFromAFileAreTheWholeSetsMessages) {
    const testing_support::ScratchDir scratch("mcap_stream");
    const std::uint64_t time = 1700000000123456789u;
    for (const std::size_t n : {std::size_t{0}, sentova::mcap::kMaxPointsPerMessage,
                                2 * sentova::mcap::kMaxPointsPerMessage + 8193}) {
        SCOPED_TRACE(n);
        std::deque<DataPoint> points(n);
        for (std::size_t i = 0; i < n; ++i) {
            points[i].x = static_cast<double>(i) * 0.25;
            points[i].intensity = static_cast<float>(i % 4096);
            points[i].timestamp = i;
        }
        const std::string ply = (scratch.path() / "points.ply").string();
        ASSERT_TRUE(formats::write(ply, formats::Format::PlyBinary, points).ok);
        // The points as the file gives them back (floats), for the whole-set conversion.
        const formats::ReadResult back = formats::read(ply);
        ASSERT_TRUE(back.ok) << back.error;
        const std::string whole = (scratch.path() / "whole.mcap").string();
        writePointsMcap(whole, back.points, time, {});

        std::string error;
        const auto reader = formats::openReader(ply, std::nullopt, formats::everyField(), error);
        ASSERT_TRUE(reader) << error;
        const std::string streamed = (scratch.path() / "streamed.mcap").string();
        streamPointsMcap(streamed, *reader, time, {}, {},
                         [](formats::Format, const std::string& why) { failed(why); });
        EXPECT_TRUE(testing_support::readAll(whole) == testing_support::readAll(streamed));
    }
}
