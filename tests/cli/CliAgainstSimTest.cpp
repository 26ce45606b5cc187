// The sentova program against the device simulator process, each test with a loopback address
// and data ports of its own.
#include "CliSimFixture.h"
#include "Formats.h"

#include "SentovaPcap/Capture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

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

// The library's log on request: every datagram at trace, nothing by default.
TEST_F(CliAgainstSim, LogLevelShowsTheProtocolTraffic) {
    startSim("LX30", {}, false);
    const Ran quiet = tool({"stop", address});
    ASSERT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_EQ(quiet.out, "");
    const Ran traced = tool({"--log-level", "trace", "stop", address});
    ASSERT_EQ(traced.status, 0) << traced.err;
    EXPECT_NE(traced.out.find("[trace]   SentovaBase::BaseRXCallback m_sender_endpoint: " +
                              address + " Opcode: EASTOP"),
              std::string::npos)
        << traced.out;
    const Ran debug = tool({"--log-level", "debug", "stop", address});
    ASSERT_EQ(debug.status, 0) << debug.err;
    EXPECT_EQ(debug.out.find("[trace]"), std::string::npos) << debug.out;
    const Ran bad = tool({"--log-level", "verbose", "stop", address});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("--log-level"), std::string::npos) << bad.err;
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
    // On a terminal the capture shows how many points it holds: interrupt it once it has some.
    Child capture(
        {kTool, "capture", address, "-o", file.string(), "--port", port, "--scan", "full"},
        ErrorOutput::Terminal);
    ASSERT_TRUE(capture.waitForError([](const std::string& err) {
        const std::size_t line = err.rfind('\r');
        return line != std::string::npos &&
               std::strtoull(err.c_str() + line + 1, nullptr, 10) >= 2500;
    })) << "no progress line with 2500 points";
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
    // Every format cut inside its last rows; the old output stays as it was, an MCAP file's too,
    // whose messages are written while the input is read.
    std::ofstream(dir / "kept.csv") << "x\n1\n";
    std::ofstream(dir / "kept.mcap") << "old";
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
        const Ran m = tool(
            {"convert", in.string(), (dir / "kept.mcap").string(), "--from", f.name, "--force"});
        EXPECT_EQ(m.status, 1) << f.name;
        EXPECT_EQ(m.err, r.err) << f.name;
        EXPECT_EQ(readAll(dir / "kept.mcap"), "old") << f.name;
    }
    for (const auto& entry : fs::directory_iterator(dir)) {
        EXPECT_NE(entry.path().extension(), ".part") << entry.path();
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
TEST_F(CliAgainstSim, ProgressLineInPlaceOnATerminal) {
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
