// `sentova record` against the simulator process: the file it leaves, Ctrl-C, bad input.
#include "CaptureTestSupport.h"
#include "Process.h"
#include "Replay.h"
#include "TsharkSupport.h"

#include "SentovaPcap/Capture.h"
#include "SentovaPcap/LaserCapture.h"

#include <gtest/gtest.h>

#include <filesystem>

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
        port = std::to_string(5100 + ::getpid() % 4000);
    }
    void TearDown() override {
        if (sim) {
            sim->signal(SIGTERM);
            sim->wait(5000);
        }
        fs::remove_all(dir);
    }

    void startSim(const std::string& model) {
        sim = std::make_unique<Child>(std::vector<std::string>{kSim, "--address", address,
                                                               "--model", model, "--quiet", "--log",
                                                               (dir / "sim.log").string()});
        // Ready once it answers.
        for (int i = 0; i < 200; ++i) {
            if (run({kTool, "info", address}, 2000).status == 0)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        FAIL() << "the simulator did not come up";
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
    EXPECT_EQ(sentova::sim::modelFromSerial(replay.summary().serial), sentova::sim::Model::LX20);
    EXPECT_EQ(replay.summary().points, points);
}

TEST_F(RecordCommand, InterruptStopsTheStreamAndKeepsTheFile) {
    startSim("LX30");
    ASSERT_EQ(run({kTool, "home", address}).status, 0);
    const fs::path file = dir / "stopped.pcap";
    Child record({kTool, "record", address, "-o", file.string(), "--port", port, "--scan", "full"});
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    record.signal(SIGINT);
    const Ran r = record.wait();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("(interrupted)"), std::string::npos) << r.err;
    EXPECT_TRUE(noPartialFiles());
    const std::vector<std::string> codes = commandsIn(sentova::pcap::readDatagrams(file.string()));
    for (const char* code : {"SVSFFS", "SVRRBE", "SVSRBE", "SVSTOP"})
        EXPECT_NE(std::find(codes.begin(), codes.end(), code), codes.end()) << code;
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
