// The command-line tool on recordings made by `sentova record` against the
// simulator: read back as frames and points, cut and empty ones, and captures
// that end after whole frames.
#include "CliSimFixture.h"
#include "Formats.h"

#include "SentovaPcap/Capture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

struct ListedFrame {
    std::uint64_t index = 0, points = 0, first = 0, last = 0, duration = 0;
    bool complete = false;
};

std::vector<ListedFrame> parseFrames(const std::string& json) {
    std::vector<ListedFrame> frames;
    const std::regex object("\\{\"index\": (\\d+), \"points\": (\\d+), \"first_timestamp\": "
                            "(\\d+), \"last_timestamp\": (\\d+), \"duration_us\": (\\d+), "
                            "\"complete\": (true|false)\\}");
    for (auto it = std::sregex_iterator(json.begin(), json.end(), object);
         it != std::sregex_iterator(); ++it) {
        const std::smatch& m = *it;
        frames.push_back({std::stoull(m[1]), std::stoull(m[2]), std::stoull(m[3]),
                          std::stoull(m[4]), std::stoull(m[5]), m[6] == "true"});
    }
    return frames;
}

// 5 lines at 10 turns per second: half-second frames of about 12,500 points, on lines that pass
// below the simulated room's open door (whose missing returns a recording takes for a loss).
const std::vector<std::string> kFrameScan = {"--scan", "bounded", "--el-min", "-35",     "--el-max",
                                             "-25",    "--speed", "10",       "--lines", "5"};

} // namespace

TEST_F(CliAgainstSim, RecordingsReadBackAsFramesAndPoints) {
    startSim("LX30");
    const fs::path recording = dir / "session.pcap";
    std::vector<std::string> args = {"record", address,     "-o",  recording.string(), "--port",
                                     port,     "--seconds", "2.2", "--quiet"};
    args.insert(args.end(), kFrameScan.begin(), kFrameScan.end());
    ASSERT_EQ(tool(args).status, 0);

    const Ran listed = tool({"frames", recording.string(), "--json"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.err, "");
    const std::vector<ListedFrame> frames = parseFrames(listed.out);
    ASSERT_GE(frames.size(), 4u) << listed.out;
    // The recording begins and ends inside a frame; those between are whole.
    EXPECT_FALSE(frames.front().complete);
    EXPECT_FALSE(frames.back().complete);
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].index, i);
        total += frames[i].points;
        if (i > 0 && i + 1 < frames.size()) {
            EXPECT_TRUE(frames[i].complete) << i;
            EXPECT_NEAR(double(frames[i].duration), 500000.0, 1000.0) << i;
            EXPECT_NEAR(double(frames[i].points), 12500.0, 250.0) << i;
        }
        if (i > 0) {
            EXPECT_GT(frames[i].first, frames[i - 1].last);
        }
    }
    const Ran table = tool({"frames", recording.string()});
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_EQ(std::count(table.out.begin(), table.out.end(), '\n'), long(frames.size()) + 1);

    const fs::path all = dir / "all.csv";
    Ran r =
        tool({"convert", recording.string(), all.string(), "--fields", "x,y,z,el,timestamp", "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    const formats::ReadResult every = formats::read(all.string());
    ASSERT_TRUE(every.ok) << every.error;
    EXPECT_EQ(every.points.size(), total);

    const fs::path second = dir / "frame2.csv";
    r = tool({"convert", recording.string(), second.string(), "--frame", "2", "--fields",
              "x,y,z,el,timestamp", "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    const formats::ReadResult frame = formats::read(second.string());
    ASSERT_TRUE(frame.ok) << frame.error;
    ASSERT_EQ(frame.points.size(), frames[2].points);
    EXPECT_EQ(frame.points.front().timestamp, frames[2].first);
    EXPECT_EQ(frame.points.back().timestamp, frames[2].last);
    for (std::size_t i = 1; i < frame.points.size(); ++i) {
        EXPECT_GE(frame.points[i].elevation, frame.points[i - 1].elevation) << i;
    }
    EXPECT_NEAR(frame.points.front().elevation, -35.0, 1e-3);
    EXPECT_NEAR(frame.points.back().elevation, -25.0, 1e-3);

    r = tool({"convert", recording.string(), (dir / "none.csv").string(), "--frame",
              std::to_string(frames.size())});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(recording.string() + ": no frame " + std::to_string(frames.size())),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(dir / "none.csv"));
}

TEST_F(CliAgainstSim, CutAndEmptyRecordingsSayWhatIsWrong) {
    startSim("LX30");
    const fs::path recording = dir / "session.pcap";
    std::vector<std::string> args = {"record", address,     "-o",  recording.string(), "--port",
                                     port,     "--seconds", "1.2", "--quiet"};
    args.insert(args.end(), kFrameScan.begin(), kFrameScan.end());
    ASSERT_EQ(tool(args).status, 0);
    const std::vector<ListedFrame> whole =
        parseFrames(tool({"frames", recording.string(), "--json"}).out);
    ASSERT_GE(whole.size(), 2u);

    // Cut in the middle of a packet, well into the second frame.
    const std::string bytes = readAll(recording);
    const fs::path cut = dir / "cut.pcap";
    {
        std::ofstream out(cut, std::ios::binary);
        out << bytes.substr(0, bytes.size() * 3 / 4 + 7);
    }
    const Ran listed = tool({"frames", cut.string(), "--json"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(std::count(listed.err.begin(), listed.err.end(), '\n'), 1) << listed.err;
    EXPECT_NE(listed.err.find(cut.string() + ": damaged after"), std::string::npos) << listed.err;
    const std::vector<ListedFrame> before = parseFrames(listed.out);
    ASSERT_GE(before.size(), 2u);
    for (std::size_t i = 0; i + 1 < before.size(); ++i) {
        EXPECT_EQ(before[i].points, whole[i].points) << i;
    }
    EXPECT_FALSE(before.back().complete);
    EXPECT_LT(before.back().points, whole[before.size() - 1].points);

    const fs::path points = dir / "cut.csv";
    const Ran converted = tool({"convert", cut.string(), points.string(), "-q"});
    EXPECT_EQ(converted.status, 0);
    EXPECT_NE(converted.err.find(cut.string() + ": damaged after"), std::string::npos);
    const formats::ReadResult read = formats::read(points.string());
    ASSERT_TRUE(read.ok) << read.error;
    std::uint64_t expected = 0;
    for (const ListedFrame& f : before) {
        expected += f.points;
    }
    EXPECT_EQ(read.points.size(), expected);

    // Commands and replies only.
    const fs::path quiet = dir / "commands.pcap";
    {
        sentova::pcap::Writer writer(quiet.string());
        writer.write(1000, 0x7f000001, 40000, 0x7f000002, 4365, "SVHOME", 6);
        writer.write(2000, 0x7f000002, 4365, 0x7f000001, 40000, "EAHOME", 6);
        writer.close();
    }
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"frames", quiet.string()},
          std::vector<std::string>{"convert", quiet.string(), (dir / "q.csv").string()}}) {
        const Ran r = tool(command);
        EXPECT_EQ(r.status, 1) << command[0];
        EXPECT_EQ(r.err, "sentova: " + quiet.string() + ": it holds no laser data\n") << command[0];
    }
    EXPECT_FALSE(fs::exists(dir / "q.csv"));
}

TEST_F(CliAgainstSim, CaptureEndsAfterTheWholeFramesAskedFor) {
    startSim("LX30");
    const fs::path file = dir / "frames.csv";
    std::vector<std::string> args = {
        "capture",  address, "-o",       file.string(),        "--port", port,
        "--frames", "2",     "--fields", "x,y,z,el,timestamp", "--quiet"};
    args.insert(args.end(), kFrameScan.begin(), kFrameScan.end());
    const Ran r = tool(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const formats::ReadResult read = formats::read(file.string());
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_NEAR(double(read.points.size()), 25000.0, 500.0);
    // Two passes from the bottom line to the top, the first beginning at the bottom.
    EXPECT_NEAR(read.points.front().elevation, -35.0, 1e-3);
    int restarts = 0;
    for (std::size_t i = 1; i < read.points.size(); ++i) {
        restarts += read.points[i].elevation < read.points[i - 1].elevation ? 1 : 0;
        EXPECT_EQ(std::uint32_t(read.points[i].timestamp - read.points[i - 1].timestamp) % 40, 0u);
    }
    EXPECT_EQ(restarts, 1);
    EXPECT_NEAR(read.points.back().elevation, -25.0, 1e-3);
}
