// The sentova program against the device simulator process, each test with a loopback address
// and data ports of its own.
#include "Formats.h"
#include "Process.h"
#include "ScratchFiles.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "SentovaPcap/Capture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

using namespace clitest;
using testing_support::readAll;
namespace fs = std::filesystem;

namespace {

const std::string kSim = SENTOVA_SIM_PROGRAM;
const std::string kTool = SENTOVA_CLI_PROGRAM;

std::string processAddress() {
    const unsigned pid = static_cast<unsigned>(::getpid());
    return "127.79." + std::to_string(pid / 250 % 250 + 1) + "." + std::to_string(pid % 250 + 1);
}

// Below the kernel's ephemeral ports, so that no other socket takes it by chance.
int processPort() {
    return 10000 + static_cast<int>(::getpid() % 20000);
}

// Whether something answers on port 4365 of the address.
bool answers(const std::string& address) {
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(4365);
    ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    timeval wait{0, 200000};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    ::sendto(s, "SVCQRE", 6, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    char buffer[256];
    const bool got = ::recv(s, buffer, sizeof buffer, 0) > 0;
    ::close(s);
    return got;
}

class CliAgainstSim : public ::testing::Test {
protected:
    void SetUp() override {
        address = processAddress();
        port = std::to_string(processPort());
    }
    void TearDown() override {
        if (sim) {
            sim->signal(SIGTERM);
            sim->wait(5000);
        }
    }

    // A simulator of the model, homed unless asked not to.
    void startSim(const std::string& model, std::vector<std::string> extra = {},
                  bool homed = true) {
        std::vector<std::string> argv = {
            kSim,          "--address", address,   "--model", model,
            "--home-time", "50",        "--quiet", "--log",   (dir / "sim.log").string()};
        argv.insert(argv.end(), extra.begin(), extra.end());
        sim = std::make_unique<Child>(argv);
        for (int i = 0; i < 50 && !answers(address); ++i) {
        }
        ASSERT_TRUE(answers(address));
        if (homed) {
            ASSERT_EQ(tool({"home", address}).status, 0);
        }
    }

    Ran tool(std::vector<std::string> args, int timeoutMs = 20000) {
        args.insert(args.begin(), kTool);
        return run(args, timeoutMs);
    }

    // The argument bytes (hex) of every command with this code, in the simulator's log.
    std::vector<std::string> logged(const std::string& code) {
        std::vector<std::string> found;
        std::istringstream log(readAll(dir / "sim.log"));
        const std::regex line("^\\S+ " + code + " (\\S*) -> ");
        std::string text;
        while (std::getline(log, text)) {
            std::smatch m;
            if (std::regex_search(text, m, line)) {
                found.push_back(m[1]);
            }
        }
        return found;
    }

    std::string portHex() {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%08x", processPort());
        return buf;
    }

    testing_support::ScratchDir scratch{"cli_sim"};
    const fs::path dir = scratch.path();
    std::string address;
    std::string port;
    std::unique_ptr<Child> sim;
};

} // namespace

TEST_F(CliAgainstSim, InfoAsTextAndJson) {
    startSim("LX30");
    const Ran text = tool({"info", address});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("serial     LX30-31-SIM0001\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("model      LX30\n"), std::string::npos);
    EXPECT_NE(text.out.find("firmware   31\n"), std::string::npos);
    EXPECT_NE(text.out.find("library    3.5.548 (compatible)\n"), std::string::npos);
    EXPECT_NE(text.out.find("state      idle homed"), std::string::npos);
    EXPECT_EQ(text.err, "");

    ASSERT_EQ(tool({"angles", address, "--set", "20", "-5", "--speed", "500"}).status, 0);
    const Ran json = tool({"info", address, "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_NE(json.out.find("\"serial\": \"LX30-31-SIM0001\""), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"compatible\": true"), std::string::npos);
    EXPECT_NE(json.out.find("\"azimuth\": 20,"), std::string::npos);
    EXPECT_NE(json.out.find("\"elevation\": -5,"), std::string::npos);
    EXPECT_EQ(std::count(json.out.begin(), json.out.end(), '\n'), 1);

    // An old firmware is reported as not compatible, and still answers.
    sim->signal(SIGTERM);
    sim->wait(5000);
    startSim("LX20", {"--firmware", "29"});
    const Ran old = tool({"info", address, "--json"});
    ASSERT_EQ(old.status, 0) << old.err;
    EXPECT_NE(old.out.find("\"compatible\": false"), std::string::npos) << old.out;
    EXPECT_NE(old.out.find("\"model\": \"LX20\""), std::string::npos);
}

TEST_F(CliAgainstSim, MotionAndScanCommandsReachTheDevice) {
    startSim("generic", {}, false);
    EXPECT_EQ(tool({"home", address}).status, 0);
    EXPECT_EQ(logged("SVHOME").size(), 1u);
    EXPECT_EQ(logged("SVERST").size(), 1u); // events reset first, as the viewer does

    EXPECT_EQ(tool({"scan", "full", address, "--speed", "5", "--lines", "99"}).status, 0);
    EXPECT_EQ(logged("SVSFFS"), std::vector<std::string>{"0005000000630000"});
    EXPECT_EQ(tool({"scan", "bounded", address, "--speed", "2.5", "--lines", "10", "--el-min",
                    "-10", "--el-max", "20"})
                  .status,
              0);
    EXPECT_EQ(logged("SVSBES").size(), 1u);
    EXPECT_EQ(tool({"scan", "region", address, "--speed", "1", "--lines", "3", "--az-min", "345",
                    "--az-max", "15"})
                  .status,
              0);
    ASSERT_EQ(logged("SVSRES").size(), 1u);
    EXPECT_EQ(tool({"stop", address}).status, 0);
    EXPECT_EQ(logged("SVSTOP").size(), 1u);

    EXPECT_EQ(tool({"angles", address, "--set", "90", "10", "--speed", "900"}).status, 0);
    const Ran angles = tool({"angles", address});
    ASSERT_EQ(angles.status, 0) << angles.err;
    EXPECT_EQ(angles.out, "90.0000 10.0000\n");
}

TEST_F(CliAgainstSim, LaserStartAndStopCarryEachModelsParameters) {
    startSim("LX30");
    ASSERT_EQ(tool({"laser", "start", address, "--port", port}).status, 0);
    ASSERT_EQ(tool({"laser", "start", address, "--port", port, "--measurement", "penetration",
                    "--target", "highest-reflectance"})
                  .status,
              0);
    EXPECT_EQ(logged("SVRRBE"), (std::vector<std::string>{"0100000000"
                                                          "0200000000"
                                                          "00" +
                                                              portHex(),
                                                          "0100000002"
                                                          "0200000004"
                                                          "00" +
                                                              portHex()}));
    ASSERT_EQ(tool({"laser", "stop", address}).status, 0);
    EXPECT_EQ(logged("SVSRBE").size(), 1u);

    sim->signal(SIGTERM);
    sim->wait(5000);
    startSim("LX20");
    ASSERT_EQ(tool({"laser", "start", address, "--port", port, "--sample-rate", "5000", "--average",
                    "4", "--gain", "2"})
                  .status,
              0);
    ASSERT_EQ(tool({"laser", "start", address, "--port", port, "--high-speed"}).status, 0);
    ASSERT_EQ(tool({"laser", "start", address, "--port", port, "--model", "generic"}).status, 0);
    EXPECT_EQ(logged("SVRRBE"), (std::vector<std::string>{"0300001388"
                                                          "0400000004"
                                                          "0500000002"
                                                          "00" +
                                                              portHex(),
                                                          "0300007530"
                                                          "0400000001"
                                                          "0500000000"
                                                          "00" +
                                                              portHex(),
                                                          "00" + portHex()}));
    tool({"laser", "stop", address});
}

TEST_F(CliAgainstSim, DeviceErrorsAndSilenceExitWithOne) {
    startSim("LX30", {"--error", "SVHOME=4"}, false);
    const Ran refused = tool({"home", address});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "sentova: Home: Error 0x04: Not Homed\n");
    EXPECT_EQ(refused.out, "");

    // Nobody at this address: the library's time-out text.
    const Ran silent = tool({"stop", "127.79.255.254"});
    EXPECT_EQ(silent.status, 1);
    EXPECT_EQ(silent.err.rfind("sentova: Stop: Error 0xfe: ", 0), 0u) << silent.err;
    EXPECT_EQ(std::count(silent.err.begin(), silent.err.end(), '\n'), 1);
}

TEST_F(CliAgainstSim, UsageErrorsExitWithTwo) {
    startSim("LX30");
    const std::string pcd = (dir / "x.pcd").string();
    const std::string existing = (dir / "there.csv").string();
    std::ofstream(existing) << "x,y,z\n1,2,3\n";
    // Each with a piece of the one line it must print.
    const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
        {{"bogus"}, "unknown subcommand 'bogus'"},
        {{"--verbose"}, "unknown option '--verbose'"},
        {{"info"}, "address is required"},
        {{"info", "10.0.0"}, "'10.0.0' is not an IPv4 address"},
        {{"info", "not-an-ip"}, "'not-an-ip' is not an IPv4 address"},
        {{"home", "::1"}, "'::1' is not an IPv4 address"},
        {{"capture", "device.local", "-o", pcd}, "'device.local' is not an IPv4 address"},
        {{"scan", "spiral", address, "--speed", "5", "--lines", "3"}, "spiral"},
        {{"scan", "full", address, "--speed", "99", "--lines", "3"}, "--speed"},
        {{"scan", "full", address, "--lines", "3"}, "--speed is required"},
        {{"laser", "start", address, "--no-such-option"}, "--no-such-option"},
        // The device is an LX30.
        {{"laser", "start", address, "--model", "lx20"}, "is an LX30 (serial LX30-31-SIM0001)"},
        {{"capture", address, "-o", pcd, "--model", "lx20"}, "not an LX20"},
        {{"laser", "start", address, "--sample-rate", "200"}, "--sample-rate is an LX20 option"},
        {{"capture", address, "-o", (dir / "x.xyz").string()}, "give --format"},
        {{"capture", address, "-o", pcd, "--format", "vrml"}, "unknown format 'vrml'"},
        {{"capture", address, "-o", pcd, "--points", "5", "--seconds", "1"}, "excludes"},
        {{"capture", address, "-o", pcd, "--fields", "x,colour"}, "unknown field 'colour'"},
        {{"capture", address, "-o", existing}, "exists: give --force"},
        {{"convert", (dir / "a.csv").string()}, "output is required"},
        {{"convert", existing, (dir / "b.xyz").string()}, "give --format"},
        {{"convert", existing, existing}, "exists: give --force"},
        {{"convert", existing, pcd, "--from", "vrml"}, "unknown format 'vrml'"},
    };
    for (const auto& [args, message] : bad) {
        const Ran r = tool(args);
        std::string line;
        for (const auto& a : args) {
            line += a + " ";
        }
        EXPECT_EQ(r.status, 2) << line << "\n" << r.err;
        EXPECT_EQ(r.err.rfind("sentova: ", 0), 0u) << line << r.err;
        EXPECT_NE(r.err.find(message), std::string::npos) << line << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << line << r.err;
        EXPECT_EQ(r.out, "") << line;
    }
    EXPECT_TRUE(logged("SVRRBE").empty());
    EXPECT_TRUE(logged("SVSFFS").empty());
    EXPECT_FALSE(fs::exists(pcd));
    EXPECT_EQ(readAll(existing), "x,y,z\n1,2,3\n");
    EXPECT_EQ(tool({"bogus", address}).err,
              "sentova: unknown subcommand 'bogus' (see sentova --help)\n");

    const Ran version = tool({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_NE(version.out.find("3.5.548"), std::string::npos);
}

// Every subcommand explains itself and its options, and says nothing to the device.
TEST_F(CliAgainstSim, HelpOnEverySubcommand) {
    startSim("LX30", {}, false);
    const std::string before = readAll(dir / "sim.log"); // the start-up probes
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> pages = {
        {{},
         {"info", "home", "stop", "scan", "angles", "laser", "capture", "record", "convert",
          "frames", "Exit status"}},
        {{"info"}, {"address", "--json"}},
        {{"home"}, {"address"}},
        {{"stop"}, {"address"}},
        {{"scan"}, {"full, bounded or region", "--speed", "--lines", "--el-min", "--az-max"}},
        {{"angles"}, {"--set", "--speed"}},
        {{"laser"}, {"start or stop", "--model", "--measurement", "--sample-rate", "--port"}},
        {{"capture"}, {"--output", "--frame", "--points", "--seconds", "--format", "--quiet"}},
        {{"record"}, {"--output", "--seconds", "--scan", "--force"}},
        {{"convert"}, {"input", "output", "--format", "--from", "--fields", "--force", "--frame"}},
        {{"frames"}, {"file", "--json"}},
    };
    for (const auto& [command, words] : pages) {
        std::vector<std::string> args = command;
        args.push_back("--help");
        const Ran help = tool(args);
        const std::string name = command.empty() ? "sentova" : command[0];
        EXPECT_EQ(help.status, 0) << name;
        EXPECT_EQ(help.err, "") << name;
        for (const std::string& w : words) {
            EXPECT_NE(help.out.find(w), std::string::npos) << name << " --help lacks " << w;
        }
    }
    EXPECT_EQ(readAll(dir / "sim.log"), before);
}

// Checked before anything is started, or after the device has said no: either way nothing is
// left under the file's name or beside it.
TEST_F(CliAgainstSim, CaptureThatCannotWriteOrReachTheDeviceLeavesNoFile) {
    startSim("LX30");
    const std::string before = readAll(dir / "sim.log");
    const Ran unwritable =
        tool({"capture", address, "-o", (dir / "missing" / "x.pcd").string(), "--points", "10"});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_EQ(unwritable.err, "sentova: cannot write '" + (dir / "missing" / "x.pcd").string() +
                                  "': No such file or directory\n");
    EXPECT_EQ(readAll(dir / "sim.log"), before) << "the device is not asked anything";

    const std::string file = (dir / "nobody.las").string();
    const Ran silent = tool({"capture", "127.79.255.254", "-o", file, "--points", "10"});
    EXPECT_EQ(silent.status, 1);
    EXPECT_EQ(silent.err,
              "sentova: GetSerial: Error 0xfe: Timeout when attempting to communicate with "
              "sentova.\n");

    sim->signal(SIGTERM);
    sim->wait(5000);
    startSim("LX30", {"--error", "SVRRBE=9"});
    const Ran refused = tool({"capture", address, "-o", file, "--port", port, "--points", "10"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "sentova: Start Laser: Error 0x09: Busy handling another client\n");
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1)
        << "only the simulator's log";
}

TEST_F(CliAgainstSim, CaptureStopsAfterThePointsAskedForAndStopsTheStream) {
    startSim("LX30");
    const fs::path file = dir / "scan.pcd";
    const Ran r = tool({"capture", address, "-o", file.string(), "--port", port, "--scan", "full",
                        "--lines", "20", "--points", "12345"});
    ASSERT_EQ(r.status, 0) << r.err;
    // No terminal, so no progress line: only the summary (which a loaded machine may extend
    // with a point or two missing from the stream).
    EXPECT_EQ(r.err.rfind("12345 points written to " + file.string(), 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    const formats::ReadResult back = formats::read(file.string());
    ASSERT_TRUE(back.ok) << back.error;
    EXPECT_EQ(back.points.size(), 12345u);
    EXPECT_TRUE(back.fields.reflectance); // the LX30's columns, as the viewer saves them
    EXPECT_EQ(readAll(file).substr(0, 43), "# .PCD v0.7 - Point Cloud Data file format\n");
    EXPECT_EQ(logged("SVSFFS").size(), 1u);
    EXPECT_EQ(logged("SVSRBE").size(), 1u);
    EXPECT_EQ(logged("SVSTOP").size(), 1u);

    // The file exists now: only --force replaces it.
    const std::string before = readAll(file);
    const Ran again = tool(
        {"capture", address, "-o", file.string(), "--port", port, "--points", "10", "--quiet"});
    EXPECT_EQ(again.status, 2);
    EXPECT_EQ(readAll(file), before);
    const Ran forced = tool({"capture", address, "-o", file.string(), "--port", port, "--points",
                             "10", "--quiet", "--force", "--fields", "x,y,z,timestamp"});
    ASSERT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(forced.err, "");
    const formats::ReadResult ten = formats::read(file.string());
    ASSERT_EQ(ten.points.size(), 10u);
    EXPECT_FALSE(ten.fields.intensity);
    EXPECT_TRUE(ten.fields.timestamp);
}

TEST_F(CliAgainstSim, GetFrameCapturesExactlyOneFrame) {
    startSim("LX30");
    const fs::path file = dir / "frame.csv";
    const Ran r = tool({"capture",
                        address,
                        "-o",
                        file.string(),
                        "--port",
                        port,
                        "--frame",
                        "--scan",
                        "bounded",
                        "--el-min",
                        "-20",
                        "--el-max",
                        "20",
                        "--speed",
                        "10",
                        "--lines",
                        "8",
                        "--fields",
                        "x,y,z,az,el,timestamp",
                        "--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
    const formats::ReadResult frame = formats::read(file.string());
    ASSERT_TRUE(frame.ok) << frame.error;
    // 8 lines of one turn at 10 turns per second, at 25000 points per second: 20000 points less
    // those that hit nothing.
    EXPECT_GT(frame.points.size(), 10000u);
    EXPECT_LE(frame.points.size(), 20200u);
    // One frame: the elevation climbs line by line from the bottom to the top, and never
    // starts over.
    double lowest = 90;
    double highest = -90;
    for (std::size_t i = 1; i < frame.points.size(); ++i) {
        EXPECT_GE(frame.points[i].elevation, frame.points[i - 1].elevation - 1e-3) << i;
        lowest = std::min<double>(lowest, frame.points[i].elevation);
        highest = std::max<double>(highest, frame.points[i].elevation);
    }
    EXPECT_NEAR(lowest, -20.0, 0.5);
    EXPECT_NEAR(highest, 20.0, 0.5);
    EXPECT_EQ(logged("SVECCF").size(), 3u);
    EXPECT_EQ(logged("SVEENB").size(), 3u);
    EXPECT_EQ(logged("SVSBES").size(), 1u);
}

TEST_F(CliAgainstSim, InterruptedCaptureStillWritesAValidFileAndStopsTheStream) {
    startSim("LX20");
    const fs::path file = dir / "stopped.las";
    Child capture(
        {kTool, "capture", address, "-o", file.string(), "--port", port, "--scan", "full"});
    // Wait until points flow, then interrupt.
    for (int i = 0; i < 400 && logged("SVRRBE").empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_FALSE(logged("SVRRBE").empty());
    // How many points the capture holds shows nowhere outside it while its output is no
    // terminal: the stream runs a while, long enough for about 2500 of them.
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    capture.signal(SIGINT);
    const Ran r = capture.wait();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("(interrupted)"), std::string::npos) << r.err;
    EXPECT_EQ(logged("SVSRBE").size(), 1u);
    EXPECT_EQ(logged("SVSTOP").size(), 1u);
    const formats::ReadResult back = formats::read(file.string());
    ASSERT_TRUE(back.ok) << back.error;
    EXPECT_GT(back.points.size(), 1000u);
    EXPECT_EQ(std::count_if(fs::directory_iterator(dir), fs::directory_iterator(),
                            [](const auto& e) { return e.path().extension() == ".part"; }),
              0);
}

TEST_F(CliAgainstSim, ConvertBetweenEveryFormat) {
    startSim("LX30");
    const fs::path source = dir / "source.csv";
    ASSERT_EQ(tool({"capture", address, "-o", source.string(), "--port", port, "--points", "2000",
                    "--quiet", "--fields",
                    "x,y,z,az,el,range,amplitude,reflectance,pulseShapeDeviation,timestamp"})
                  .status,
              0);
    const formats::ReadResult original = formats::read(source.string());
    ASSERT_EQ(original.points.size(), 2000u);
    for (const formats::FormatInfo& from : formats::allFormats()) {
        const fs::path a = dir / (std::string("a-") + from.name + from.extension);
        const Ran first = tool({"convert", source.string(), a.string(), "--format", from.name});
        ASSERT_EQ(first.status, 0) << from.name << first.err;
        for (const formats::FormatInfo& to : formats::allFormats()) {
            const fs::path b = dir / (std::string("b-") + to.name + to.extension);
            const Ran second =
                tool({"convert", a.string(), b.string(), "--format", to.name, "--force"});
            ASSERT_EQ(second.status, 0) << from.name << " -> " << to.name << second.err;
            const formats::ReadResult back = formats::read(b.string());
            ASSERT_TRUE(back.ok) << back.error;
            ASSERT_EQ(back.points.size(), 2000u);
            EXPECT_NEAR(back.points[1234].x, original.points[1234].x, 1e-3);
            EXPECT_EQ(back.points[1234].intensity, original.points[1234].intensity);
            EXPECT_EQ(back.points[77].reflectance, original.points[77].reflectance);
        }
    }

    // Damaged or missing input: one line, status 1, nothing written.
    std::string damaged = readAll(dir / "a-las.las");
    damaged.resize(damaged.size() - 10);
    std::ofstream(dir / "damaged.las", std::ios::binary) << damaged;
    const Ran bad = tool({"convert", (dir / "damaged.las").string(), (dir / "out.ply").string()});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, "sentova: cannot read '" + (dir / "damaged.las").string() +
                           "': the file holds fewer points than its header declares\n");
    EXPECT_FALSE(fs::exists(dir / "out.ply"));
    // Every format cut inside its last rows; the old output stays as it was.
    std::ofstream(dir / "kept.csv") << "x\n1\n";
    for (const formats::FormatInfo& f : formats::allFormats()) {
        std::string cut = readAll(dir / (std::string("a-") + f.name + f.extension));
        cut.resize(cut.size() - 30);
        const fs::path in = dir / (std::string("cut-") + f.name + f.extension);
        std::ofstream(in, std::ios::binary) << cut;
        const Ran r = tool(
            {"convert", in.string(), (dir / "kept.csv").string(), "--from", f.name, "--force"});
        EXPECT_EQ(r.status, 1) << f.name;
        EXPECT_EQ(r.err.rfind("sentova: cannot read '" + in.string() + "': ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(readAll(dir / "kept.csv"), "x\n1\n") << f.name;
    }
    // An extension that names no format: read by what the content looks like, and when that
    // fails the message says it was a guess and how to name the format.
    fs::copy_file(source, dir / "points.txt");
    const Ran guessed =
        tool({"convert", (dir / "points.txt").string(), (dir / "out.ply").string()});
    EXPECT_EQ(guessed.status, 1);
    EXPECT_EQ(guessed.err.rfind("sentova: cannot read '" + (dir / "points.txt").string() +
                                    "' as pcd, the format its content suggests (its extension "
                                    "names none; --from chooses one): ",
                                0),
              0u)
        << guessed.err;
    EXPECT_FALSE(fs::exists(dir / "out.ply"));
    ASSERT_EQ(tool({"convert", (dir / "points.txt").string(), (dir / "named.ply").string(),
                    "--from", "csv"})
                  .status,
              0);
    EXPECT_EQ(formats::read((dir / "named.ply").string()).points.size(), 2000u);
    const Ran missing = tool({"convert", (dir / "none.csv").string(), (dir / "out.ply").string()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos);
    const Ran unwritable =
        tool({"convert", source.string(), (dir / "no" / "such" / "dir.ply").string()});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.err.find("cannot write"), std::string::npos);
}

TEST_F(CliAgainstSim, CaptureReportsPointsLostOnTheWay) {
    startSim("LX30", {"--drop-packets", "0.2", "--seed", "3"});
    const fs::path file = dir / "lossy.ply";
    const Ran r =
        tool({"capture", address, "-o", file.string(), "--port", port, "--points", "20000"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::regex summary(
        "^20000 points written to .*lossy\\.ply, about ([0-9]+) points missing "
        "from the stream, 0 datagrams dropped by the system\n$");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(r.err, m, summary)) << r.err;
    // A fifth of the datagrams of about 40 points each: some thousands of points.
    EXPECT_GT(std::stoul(m[1]), 1000u);
}

// On a terminal the capture shows a progress line on standard error, rewritten in place;
// --quiet silences it. `script` gives the program a terminal.
TEST_F(CliAgainstSim, ProgressLineOnlyOnATerminal) {
    if (!fs::exists("/usr/bin/script")) {
        GTEST_SKIP() << "no /usr/bin/script to run the tool on a terminal";
    }
    startSim("LX30");
    const std::string capture = kTool + " capture " + address + " -o " +
                                (dir / "tty.pcd").string() + " --port " + port +
                                " --seconds 1 --force";
    const Ran shown = run({"/usr/bin/script", "-qec", capture, "/dev/null"});
    ASSERT_EQ(shown.status, 0) << shown.out;
    EXPECT_NE(shown.out.find(" points/s "), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find("  missing 0  dropped 0  refused 0\x1b[K"), std::string::npos);
    EXPECT_NE(shown.out.find("\r"), std::string::npos);
    const Ran quiet = run({"/usr/bin/script", "-qec", capture + " --quiet", "/dev/null"});
    ASSERT_EQ(quiet.status, 0) << quiet.out;
    EXPECT_EQ(quiet.out, "");
}

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
