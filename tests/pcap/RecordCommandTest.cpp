// `sentova record` against the simulator process: the file it leaves, Ctrl-C, bad input.
#include "CaptureTestSupport.h"
#include "Process.h"
#include "Replay.h"
#include "TsharkSupport.h"

#include "Sentova/LaserPacket.h"
#include "Sentova/SentovaEventManager.h"
#include "SentovaPcap/Capture.h"
#include "SentovaPcap/LaserCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>

using namespace clitest;
namespace fs = std::filesystem;

namespace {

const std::string kSim = SENTOVA_SIM_PROGRAM;
const std::string kTool = SENTOVA_CLI_PROGRAM;

std::string processAddress() {
    const unsigned pid = static_cast<unsigned>(::getpid());
    return PCAP_TEST_NET "." + std::to_string(pid / 250 % 250 + 1) + "." +
           std::to_string(pid % 250 + 1);
}

class RecordCommand : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/record_test_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        address = processAddress();
        // Clear of the window tests' ports (4400-6199), the command-line tests'
        // (10000-29999) and the system's ephemeral range (32768 up).
        port = std::to_string(30000 + ::getpid() % 2000);
    }
    void TearDown() override {
        if (sim) {
            sim->signal(SIGTERM);
            sim->wait(5000);
        }
        fs::remove_all(dir);
    }

    void startSim(const std::string& model, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> argv = {kSim,
                                         "--address",
                                         address,
                                         "--model",
                                         model,
                                         "--quiet",
                                         "--log",
                                         (dir / "sim.log").string(),
                                         "--exit-with-parent"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        sim = std::make_unique<Child>(argv);
        // Ready once it answers.
        for (int i = 0; i < 200; ++i) {
            if (run({kTool, "info", address}, 2000).status == 0)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        FAIL() << "the simulator did not come up";
    }

    // The simulator has answered a command with this code.
    bool simAnswered(const std::string& code) const {
        std::ifstream log(dir / "sim.log");
        const std::string text{std::istreambuf_iterator<char>(log),
                               std::istreambuf_iterator<char>()};
        return text.find(" " + code + " ") != std::string::npos;
    }

    bool noPartialFiles() const {
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().extension() == ".part")
                return false;
        return true;
    }

    fs::path dir;
    std::string address;
    std::string port;
    std::unique_ptr<Child> sim;
};

std::vector<std::string> commandsIn(const std::vector<sentova::pcap::Datagram>& all) {
    std::vector<std::string> codes;
    for (const auto& d : all)
        if (d.destinationPort == 4365)
            codes.push_back(d.bytes.substr(0, 6));
    return codes;
}

} // namespace

TEST_F(RecordCommand, RecordsTheTrafficForTheSecondsAsked) {
    startSim("LX20");
    const fs::path file = dir / "session.pcap";
    const Ran r = run({kTool, "record", address, "-o", file.string(), "--seconds", "1", "--port",
                       port, "--sample-rate", "5000"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(" recorded to " + file.string() + " in 1."), std::string::npos) << r.err;
    EXPECT_TRUE(noPartialFiles());

    std::string problems;
    const auto all = sentova::pcap::readDatagrams(file.string(), &problems);
    EXPECT_EQ(problems, "");
    const std::vector<std::string> codes = commandsIn(all);
    for (const char* code : {"SVCQRE", "SVRRBE", "SVSRBE"})
        EXPECT_NE(std::find(codes.begin(), codes.end(), code), codes.end()) << code;
    std::uint64_t points = 0;
    const auto laser =
        sentova::pcap::readLaserDatagrams(file.string(), [&](const sentova::pcap::Datagram&) {});
    points = laser.points;
    EXPECT_GT(points, 3000u) << "about 5000 points a second";
    EXPECT_EQ(laser.sources.size(), 1u);

    // The dissector reads the recorded session.
    if (!std::string(TSHARK).empty()) {
        const pcaptest::Tshark t =
            pcaptest::runTshark(file.string(),
                                {"sentova.command", "sentova.param.id", "sentova.param.value",
                                 "sentova.data_port", "sentova.reply.class", "sentova.serial",
                                 "sentova_laser.records", "sentova_laser.timestamp"},
                                "-o sentova_laser.port:" + port);
        EXPECT_EQ(t.errors, "");
        ASSERT_EQ(t.frames.size(), all.size());
        bool start = false, serial = false, accepted = false;
        std::uint64_t decoded = 0;
        for (const auto& f : t.frames) {
            if (f.at("sentova.command") == "SVRRBE") {
                start = true;
                EXPECT_EQ(f.at("sentova.param.id"), "3,4,5,0");
                EXPECT_EQ(f.at("sentova.param.value"), "5000,1,0," + port);
                EXPECT_EQ(f.at("sentova.data_port"), port);
            }
            serial = serial || f.at("sentova.serial").rfind("LX20-", 0) == 0;
            accepted = accepted || f.at("sentova.reply.class") == "EA (acknowledged)";
            if (!f.at("sentova_laser.records").empty())
                decoded += std::stoull(f.at("sentova_laser.records"));
        }
        EXPECT_TRUE(start && serial && accepted);
        EXPECT_EQ(decoded, points) << "every recorded laser point decoded";
    }

    // The recording replays, as the model it was recorded from.
    sentova::sim::ReplaySource replay(sentova::sim::ReplayOptions{file.string()});
    EXPECT_EQ(tavrel::ModelFromSerial(replay.summary().serial), LIDAR_LX20);
    EXPECT_EQ(replay.summary().points, points);
}

TEST_F(RecordCommand, InterruptStopsTheStreamAndKeepsTheFile) {
    startSim("LX30");
    ASSERT_EQ(run({kTool, "home", address}).status, 0);
    const fs::path file = dir / "stopped.pcap";
    Child record({kTool, "record", address, "-o", file.string(), "--port", port, "--scan", "full"});
    // Interrupted once the stream runs.
    for (int i = 0; i < 1000 && !simAnswered("SVRRBE"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(simAnswered("SVRRBE"));
    record.signal(SIGINT);
    const Ran r = record.wait();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("(interrupted)"), std::string::npos) << r.err;
    EXPECT_TRUE(noPartialFiles());
    const std::vector<std::string> codes = commandsIn(sentova::pcap::readDatagrams(file.string()));
    for (const char* code : {"SVSFFS", "SVRRBE", "SVSRBE", "SVSTOP"})
        EXPECT_NE(std::find(codes.begin(), codes.end(), code), codes.end()) << code;
}

// Counts the frame-start notifications that reach an event manager.
class FrameStarts : public tavrel::SentovaEventCallbackClass {
public:
    void EventCallback(unsigned int kind, unsigned int event, char*) override {
        if (kind == 0 && event == 0)
            ++count;
    }
    std::atomic<int> count{0};
};

// The dissector over a session as `sentova record` wrote it: commands with their arguments, a
// reply carrying a device error, event notifications and laser records, each field as the
// device sent it.
TEST_F(RecordCommand, DissectorShowsTheRecordedCommandsErrorsNotificationsAndRecords) {
    if (std::string(TSHARK).empty())
        GTEST_SKIP() << "tshark is not installed (tools/setup.sh installs it)";
    // The scan's stop at the end is refused: the error reply is recorded, and the recording is
    // still kept.
    startSim("LX30", {"--error", "SVSTOP=3", "--home-time", "50"});
    ASSERT_EQ(run({kTool, "home", address}).status, 0);
    const fs::path file = dir / "events.pcap";
    Child record({kTool, "record", address, "-o", file.string(), "--port", port, "--scan", "full",
                  "--speed", "10", "--lines", "2", "--measurement", "fast"});
    // Notifications go to every channel that configured events; the recording one did with
    // its reset before the scan. Another host binds a buffer to every frame start.
    for (int i = 0; i < 1000 && !simAnswered("SVRRBE"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(simAnswered("SVRRBE"));
    {
        FrameStarts frames; // outlives the manager that calls it
        tavrel::SentovaEventManager other(address);
        other.RegisterEventCallback(0, &frames);
        ASSERT_EQ(other.ConfigureCommandBuffer(5, "SVGMTN"), tavrel::NoError);
        ASSERT_EQ(other.EventEnable(5, 0, true), tavrel::NoError);
        for (int i = 0; i < 1000 && frames.count < 3; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_GE(frames.count, 3);
    }
    record.signal(SIGINT);
    const Ran r = record.wait();
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("sentova: Stop: Error 0x03: Not Ready\n"), std::string::npos) << r.err;
    ASSERT_TRUE(fs::exists(file)) << r.err;

    const std::vector<sentova::pcap::Datagram> all = sentova::pcap::readDatagrams(file.string());
    const pcaptest::Tshark t = pcaptest::runTshark(file.string(),
                                                   {"sentova.command",
                                                    "sentova.scan_speed",
                                                    "sentova.lines",
                                                    "sentova.param.id",
                                                    "sentova.param.value",
                                                    "sentova.buffer",
                                                    "sentova.reply.class",
                                                    "sentova.reply.stem",
                                                    "sentova.error",
                                                    "sentova.error.text",
                                                    "sentova.notification.kind",
                                                    "sentova.notification.event",
                                                    "sentova_laser.records",
                                                    "sentova_laser.timestamp",
                                                    "sentova_laser.azimuth",
                                                    "sentova_laser.elevation",
                                                    "sentova_laser.range",
                                                    "sentova_laser.amplitude",
                                                    "sentova_laser.reflectance",
                                                    "sentova_laser.pulse_shape_deviation"},
                                                   "-o sentova_laser.port:" + port);
    EXPECT_EQ(t.errors, "");
    ASSERT_EQ(t.frames.size(), all.size());

    bool scan = false, start = false, stopRefused = false, laser = false;
    int notifications = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const auto& f = t.frames[i];
        const std::string& bytes = all[i].bytes;
        if (f.at("sentova.command") == "SVSFFS") {
            scan = true;
            EXPECT_EQ(f.at("sentova.scan_speed"), "10");
            EXPECT_EQ(f.at("sentova.lines"), "2");
        }
        if (f.at("sentova.command") == "SVRRBE") {
            start = true;
            EXPECT_EQ(f.at("sentova.param.id"), "1,2,0");
            EXPECT_EQ(f.at("sentova.param.value"), "1,0," + port);
        }
        if (bytes.rfind("EESTOP", 0) == 0) {
            stopRefused = true;
            EXPECT_EQ(f.at("sentova.reply.class"), "EE (error)");
            EXPECT_EQ(f.at("sentova.reply.stem"), "STOP");
            EXPECT_EQ(f.at("sentova.error"), "3");
            EXPECT_EQ(f.at("sentova.error.text"), "Not Ready");
        }
        if (bytes.rfind("EBAACK", 0) == 0) {
            ++notifications;
            EXPECT_EQ(f.at("sentova.notification.kind"), "0");
            EXPECT_EQ(f.at("sentova.notification.event"), "0");
        }
        // The first laser datagram's first record, against our own decoder.
        if (!laser && all[i].destinationPort == std::stoi(port) &&
            bytes.size() >= tavrel::kLaserHeaderSize + tavrel::kLaserRecordSize) {
            laser = true;
            const tavrel::LaserRecord first =
                tavrel::decodeData(bytes.data() + tavrel::kLaserHeaderSize);
            const auto firstOf = [&](const char* field) {
                const std::string all = f.at(field);
                return all.substr(0, all.find(','));
            };
            EXPECT_EQ(f.at("sentova_laser.records"),
                      std::to_string((bytes.size() - tavrel::kLaserHeaderSize) /
                                     tavrel::kLaserRecordSize));
            EXPECT_EQ(firstOf("sentova_laser.timestamp"), std::to_string(first.timestamp));
            EXPECT_NEAR(std::stod(firstOf("sentova_laser.azimuth")), first.azimuth, 1e-6);
            EXPECT_NEAR(std::stod(firstOf("sentova_laser.elevation")), first.elevation, 1e-6);
            EXPECT_EQ(firstOf("sentova_laser.range"), std::to_string(first.range));
            EXPECT_EQ(firstOf("sentova_laser.amplitude"), std::to_string(first.amplitude));
            EXPECT_EQ(firstOf("sentova_laser.reflectance"), std::to_string(first.reflectance));
            EXPECT_EQ(firstOf("sentova_laser.pulse_shape_deviation"),
                      std::to_string(first.pulseShapeDeviation));
            EXPECT_GT(first.range, 0);
        }
    }
    EXPECT_TRUE(scan && start && stopRefused && laser);
    EXPECT_GE(notifications, 3);
}

TEST_F(RecordCommand, BadInputEndsWithTheDocumentedStatus) {
    const fs::path file = dir / "x.pcap";
    pcaptest::TempFile existing("there.pcap");
    existing.write("old");
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* message;
    } cases[] = {
        {{"record", address}, 2, "--output is required"},
        {{"record", "10.0.0.300", "-o", file.string()}, 2, "not an IPv4 address"},
        {{"record", address, "-o", (dir / "x.txt").string()}, 2, "not a .pcap file name"},
        {{"record", address, "-o", existing.path()}, 2, "give --force"},
        {{"record", address, "-o", file.string(), "--seconds", "-1"}, 2, "--seconds"},
        {{"record", address, "-o", (dir / "missing" / "x.pcap").string()},
         1,
         "No such file or directory"},
        // Nothing answers at the address.
        {{"record", address, "-o", file.string(), "--seconds", "1"}, 1, "Timeout"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv = {kTool};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const Ran r = run(argv);
        EXPECT_EQ(r.status, c.status) << c.message << ": " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    EXPECT_EQ(existing.read(), "old");
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(noPartialFiles());
}
