// The tool's progress on standard error: rewritten in place on a terminal, plain lines when the
// output goes to a pipe or a log, nothing with --quiet.
#include "CliSimFixture.h"
#include "Formats.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

} // namespace

// A short conversion leaves nothing on a pipe; on a terminal its line is rewritten in place.
TEST_F(CliAgainstSim, ConvertShowsItsProgressInPlaceOnlyOnATerminal) {
    std::deque<DataPoint> points(300000);
    for (std::size_t i = 0; i < points.size(); ++i) {
        points[i].x = static_cast<double>(i);
        points[i].timestamp = static_cast<std::uint32_t>(i);
    }
    const fs::path source = dir / "many.csv";
    ASSERT_TRUE(formats::write(source.string(), formats::Format::Csv, points).ok);
    const fs::path output = dir / "many.pcd";
    const Ran piped = tool({"convert", source.string(), output.string()});
    ASSERT_EQ(piped.status, 0) << piped.err;
    for (const std::string& line : linesOf(piped.err)) {
        // Only a slow machine gives a conversion this short plain lines.
        EXPECT_TRUE(std::regex_match(line, std::regex("(converting|writing) .*: \\d+%"))) << line;
    }
    EXPECT_EQ(piped.err.find('\r'), std::string::npos);
    EXPECT_EQ(formats::read(output.string()).points.size(), points.size());

    const Ran quiet = tool({"convert", source.string(), output.string(), "--force", "--quiet"});
    ASSERT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_EQ(quiet.err, "");

    if (!fs::exists("/usr/bin/script")) {
        GTEST_SKIP() << "no /usr/bin/script to run the tool on a terminal";
    }
    const Ran shown = run(
        {"/usr/bin/script", "-qec",
         kTool + " convert " + source.string() + " " + output.string() + " --force", "/dev/null"});
    ASSERT_EQ(shown.status, 0) << shown.out;
    EXPECT_NE(shown.out.find("\rconverting " + source.string() + ": 100%\x1b[K"), std::string::npos)
        << shown.out;
}

// Recording and capturing say how far they have come every few seconds also when nobody watches
// a terminal, in plain lines; the summary follows.
TEST_F(CliAgainstSim, RecordAndCaptureShowPlainProgressLinesWhenNotOnATerminal) {
    startSim("LX30");
    const fs::path recording = dir / "session.pcap";
    const Ran recorded = tool({"record", address, "-o", recording.string(), "--port", port,
                               "--seconds", "2.5", "--scan", "full"});
    ASSERT_EQ(recorded.status, 0) << recorded.err;
    EXPECT_EQ(recorded.err.find('\r'), std::string::npos) << recorded.err;
    std::vector<std::string> lines = linesOf(recorded.err);
    ASSERT_EQ(lines.size(), 2u) << recorded.err;
    EXPECT_EQ(lines[0].rfind("recording " + recording.string() + ": ", 0), 0u) << recorded.err;
    EXPECT_NE(lines[1].find(" recorded to " + recording.string()), std::string::npos);

    const fs::path cloud = dir / "cloud.pcd";
    const Ran captured = tool({"capture", address, "-o", cloud.string(), "--port", port,
                               "--seconds", "2.5", "--scan", "full"});
    ASSERT_EQ(captured.status, 0) << captured.err;
    EXPECT_EQ(captured.err.find('\r'), std::string::npos) << captured.err;
    lines = linesOf(captured.err);
    ASSERT_GE(lines.size(), 2u) << captured.err;
    EXPECT_NE(lines[0].find(" points/s "), std::string::npos) << captured.err;
    EXPECT_NE(lines.back().find(" points written to " + cloud.string()), std::string::npos)
        << captured.err;
}

// A recording converted shows how much of it has been read, as a point file's conversion does:
// plain lines (or none, it being short) on a pipe, rewritten in place on a terminal.
TEST_F(CliAgainstSim, ConvertOfARecordingShowsTheShareOfItRead) {
    startSim("LX30");
    const fs::path recording = dir / "scan.pcap";
    const Ran recorded = tool({"record", address, "-o", recording.string(), "--port", port,
                               "--seconds", "1", "--scan", "full", "--quiet"});
    ASSERT_EQ(recorded.status, 0) << recorded.err;
    for (const char* name : {"scan.pcd", "scan.mcap"}) {
        SCOPED_TRACE(name);
        const fs::path output = dir / name;
        const Ran piped = tool({"convert", recording.string(), output.string()});
        ASSERT_EQ(piped.status, 0) << piped.err;
        for (const std::string& line : linesOf(piped.err)) {
            EXPECT_TRUE(std::regex_match(line, std::regex("(converting|writing) .*: \\d+%")))
                << line;
        }
        EXPECT_EQ(piped.err.find('\r'), std::string::npos);
        if (!fs::exists("/usr/bin/script")) {
            GTEST_SKIP() << "no /usr/bin/script to run the tool on a terminal";
        }
        const Ran shown =
            run({"/usr/bin/script", "-qec",
                 kTool + " convert " + recording.string() + " " + output.string() + " --force",
                 "/dev/null"});
        ASSERT_EQ(shown.status, 0) << shown.out;
        EXPECT_NE(shown.out.find("\rconverting " + recording.string() + ": 100%\x1b[K"),
                  std::string::npos)
            << shown.out;
    }
}
