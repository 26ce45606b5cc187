// The simulator over real loopback UDP, driven with plain sockets, and the
// sentova-sim program's command line.
#include "Options.h"
#include "SimTestSupport.h"

#include "Sentova/CommandSerialiser.h"
#include "Sentova/LaserPacket.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

using namespace sentova::sim;
using simtest::UdpClient;
using simtest::waitUntil;

namespace {

std::string ee(const std::string& stem, int code) {
    return "EE" + stem + std::string(1, static_cast<char>(code));
}

} // namespace

TEST(Simulator, AnswersEveryDatagramFromItsSourcePort) {
    Simulator sim(simtest::quietConfig(SIM_TEST_NET ".1.1"));
    sim.start();
    const Endpoint device = sim.endpoint();
    EXPECT_EQ(toString(device), SIM_TEST_NET ".1.1:4365");
    UdpClient a, b;
    EXPECT_EQ(a.ask(device, "SVCQRE"), "ERCQRELX30-31-SIM0001");
    Endpoint replier;
    b.sendTo(device, "SVPPPP");
    EXPECT_EQ(b.receive(1000, &replier), "EAPPPP");
    EXPECT_EQ(replier, device);

    // Garbage of any length is answered, never fatal.
    EXPECT_EQ(a.ask(device, ""), ee("????", 6));
    EXPECT_EQ(a.ask(device, "\x01"), ee("????", 6));
    EXPECT_EQ(a.ask(device, "SVGEAA123"), ee("GEAA", 1));
    EXPECT_EQ(a.ask(device, std::string(60000, 'S')), ee("SSSS", 6));
    // Homing answers when done, 50 ms later.
    const auto homing = std::chrono::steady_clock::now();
    EXPECT_EQ(a.ask(device, "SVHOME"), "EAHOME");
    EXPECT_GE(std::chrono::steady_clock::now() - homing, std::chrono::milliseconds(45));

    EXPECT_TRUE(waitUntil([&] { return sim.received().size() == 7; }));
    EXPECT_EQ(sim.received()[1].from.port, b.port());
    EXPECT_TRUE(sim.status().homed);
    sim.stop();
    EXPECT_EQ(a.ask(device, "SVCQRE", 100), std::nullopt);
    // Started again, it is the same device, and its clock has not gone back.
    sim.start();
    EXPECT_TRUE(sim.status().homed);
    EXPECT_EQ(a.ask(device, "SVHOME"), "EAHOME");
}

TEST(Simulator, RefusesAddressesOutsideLoopback) {
    SimulatorConfig c = simtest::quietConfig("10.0.0.1");
    Simulator sim(c);
    EXPECT_THROW(sim.start(), std::invalid_argument);
    // Two simulators cannot share an endpoint.
    Simulator first(simtest::quietConfig(SIM_TEST_NET ".1.2"));
    first.start();
    Simulator second(simtest::quietConfig(SIM_TEST_NET ".1.2"));
    EXPECT_THROW(second.start(), std::system_error);
}

TEST(Simulator, CommandLinesGoToTheLogFileEvenWhenQuiet) {
    const std::string path = ::testing::TempDir() + "sim-log-test.txt";
    SimulatorConfig c = simtest::quietConfig(SIM_TEST_NET ".1.3");
    c.logFile = path;
    c.faults.dropReplies = 1.0;
    c.faults.errors["SVCQRE"] = 9;
    Simulator sim(c);
    sim.start();
    UdpClient client;
    client.sendTo(sim.endpoint(), tavrel::CommandSerialiser::SVSFFS(1.0, 2.0));
    EXPECT_TRUE(waitUntil([&] { return sim.commandLines().size() == 1; }));
    sim.stop();
    std::ifstream in(path);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "127.0.0.1:" + std::to_string(client.port()) +
                        " SVSFFS 0001000000020000 -> (dropped)");
    EXPECT_FALSE(std::getline(in, line));

    const std::string reply = ee("SFFS", 4);
    EXPECT_EQ(formatCommandLine(Endpoint{0x7F000001, 1},
                                std::string("SVRRBE\x00\x00\x00\x11\x0e", 11), &reply),
              "127.0.0.1:1 SVRRBE 000000110e -> EESFFS 04");
    EXPECT_EQ(toHex(std::string("\x00\xff\x10", 3)), "00ff10");
}

TEST(Simulator, InjectedFaults) {
    SimulatorConfig c = simtest::quietConfig(SIM_TEST_NET ".1.4");
    c.faults.errors["SVCQRE"] = 9;
    c.faults.errors["SVHOME"] = 255;
    c.faults.wrongStem.insert("SVGEAA");
    c.faults.duplicateReplies = true;
    c.faults.delayRepliesMs = 150;
    Simulator sim(c);
    sim.start();
    UdpClient client;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(client.ask(sim.endpoint(), "SVCQRE"), ee("CQRE", 9));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(140));
    EXPECT_EQ(client.receive(), ee("CQRE", 9)); // the duplicate
    EXPECT_EQ(client.ask(sim.endpoint(), "SVHOME"), ee("HOME", 255));
    EXPECT_EQ(client.receive(), ee("HOME", 255));
    EXPECT_FALSE(sim.status().homed); // an injected error stands in for the command
    const auto angles = client.ask(sim.endpoint(), "SVGEAA");
    ASSERT_TRUE(angles);
    EXPECT_EQ(angles->substr(0, 6), "ERXXXX");
    EXPECT_EQ(angles->size(), 14u);
}

TEST(Simulator, DroppedSharesFollowTheSeed) {
    SimulatorConfig c = simtest::quietConfig(SIM_TEST_NET ".1.5");
    c.faults.dropReplies = 0.5;
    c.faults.packets.drop = 0.5;
    c.faults.seed = 7;
    c.device.model = LIDAR_GENERIC;
    Simulator sim(c);
    sim.start();
    UdpClient client, data;
    int answered = 0;
    for (int i = 0; i < 40; ++i)
        if (client.ask(sim.endpoint(), "SVPPPP", 100))
            ++answered;
    // Under load the last request may still be on its way when its wait ends.
    ASSERT_TRUE(waitUntil([&] {
        return sim.counters().repliesDropped + sim.counters().repliesSent == 40;
    })) << sim.counters().repliesDropped
        << " " << sim.counters().repliesSent;
    EXPECT_GT(sim.counters().repliesSent, 8u);
    EXPECT_LT(sim.counters().repliesSent, 32u);
    EXPECT_LE(static_cast<std::uint64_t>(answered), sim.counters().repliesSent);

    // Keep asking until the start is acknowledged (half of the replies are lost).
    const auto start = tavrel::CommandSerialiser::SVRRBE({{0, static_cast<int>(data.port())}});
    for (int i = 0; i < 20 && !sim.status().streaming; ++i)
        client.ask(sim.endpoint(), start, 100);
    ASSERT_TRUE(sim.status().streaming);
    ASSERT_TRUE(waitUntil([&] { return sim.counters().packetsDropped > 20; }))
        << sim.counters().packetsSent << " " << sim.status().pointsSent;
    const auto counters = sim.counters();
    EXPECT_GT(counters.packetsSent, 5u);
    EXPECT_TRUE(data.receive());
}

TEST(Simulator, StreamsFromTheDeviceAddressToTheSender) {
    Simulator sim(simtest::quietConfig(SIM_TEST_NET ".1.6"));
    sim.start();
    UdpClient client("127.0.0.9");
    UdpClient data("127.0.0.9");
    ASSERT_EQ(client.ask(sim.endpoint(), "SVHOME"), "EAHOME");
    ASSERT_EQ(client.ask(sim.endpoint(), tavrel::CommandSerialiser::SVSFFS(15.0, 5.0)), "EASFFS");
    ASSERT_EQ(client.ask(sim.endpoint(), tavrel::CommandSerialiser::SVRRBE(
                                             {{1, 1}, {2, 0}, {0, static_cast<int>(data.port())}})),
              "EARRBE");
    Endpoint from;
    std::size_t points = 0;
    for (int i = 0; i < 20; ++i) {
        const auto packet = data.receive(1000, &from);
        ASSERT_TRUE(packet);
        EXPECT_EQ(from, sim.endpoint());
        const auto layout = tavrel::examineLaserPacket(
            reinterpret_cast<const unsigned char*>(packet->data()), packet->size());
        EXPECT_EQ(layout.headerSize, 6u);
        EXPECT_EQ(layout.headerSize + layout.records * 22, packet->size());
        points += layout.records;
    }
    EXPECT_GT(points, 20u);
    EXPECT_EQ(sim.status().streamTarget.address, 0x7F000009u);
    EXPECT_EQ(sim.status().motion, "scanning");
}

TEST(Options, ParsesEveryOption) {
    const auto p = parseOptions({"--address",
                                 "127.0.0.5",
                                 "--port=5000",
                                 "--model",
                                 "lx20",
                                 "--firmware",
                                 "29",
                                 "--home-time",
                                 "10",
                                 "--quiet",
                                 "--log",
                                 "/tmp/x",
                                 "--drop-replies",
                                 "0.25",
                                 "--delay-replies",
                                 "30",
                                 "--error",
                                 "SVHOME=4",
                                 "--error=SVCQRE=255",
                                 "--wrong-stem",
                                 "SVGEAA",
                                 "--duplicate-replies",
                                 "--drop-packets",
                                 "1",
                                 "--truncate-packets=0.1",
                                 "--bad-header=0.2",
                                 "--duplicate-packets=0.3",
                                 "--reorder-packets=0.4",
                                 "--burst=500",
                                 "--burst-interval=250",
                                 "--reply-jitter=40",
                                 "--late-replies=0.5",
                                 "--noise",
                                 "off",
                                 "--range-noise=0.002",
                                 "--amplitude-noise=0.1",
                                 "--dropouts=0.01",
                                 "--multiple-returns=off",
                                 "--beam-divergence=2",
                                 "--motion-reply-within=800",
                                 "--answer-on-arrival",
                                 "--lines-from=top",
                                 "--seed",
                                 "99"});
    ASSERT_EQ(p.outcome, ParsedOptions::Outcome::Run) << p.error;
    const SimulatorConfig& c = p.config;
    EXPECT_EQ(c.address, "127.0.0.5");
    EXPECT_EQ(c.port, 5000);
    EXPECT_EQ(c.device.model, LIDAR_LX20);
    EXPECT_EQ(c.device.serial, "LX20-29-SIM0001");
    EXPECT_EQ(c.device.homeTimeMs, 10u);
    EXPECT_FALSE(c.echo);
    EXPECT_EQ(c.logFile, "/tmp/x");
    EXPECT_EQ(c.faults.dropReplies, 0.25);
    EXPECT_EQ(c.faults.delayRepliesMs, 30u);
    EXPECT_EQ(c.faults.errors.at("SVHOME"), 4);
    EXPECT_EQ(c.faults.errors.at("SVCQRE"), 255);
    EXPECT_EQ(c.faults.wrongStem.count("SVGEAA"), 1u);
    EXPECT_TRUE(c.faults.duplicateReplies);
    EXPECT_EQ(c.faults.packets.drop, 1.0);
    EXPECT_EQ(c.faults.packets.truncate, 0.1);
    EXPECT_EQ(c.faults.packets.badHeader, 0.2);
    EXPECT_EQ(c.faults.packets.duplicate, 0.3);
    EXPECT_EQ(c.faults.packets.reorder, 0.4);
    EXPECT_EQ(c.faults.packets.burst, 500u);
    EXPECT_EQ(c.faults.packets.burstIntervalMs, 250u);
    EXPECT_EQ(c.faults.replyJitterMs, 40u);
    EXPECT_EQ(c.faults.lateReplies, 0.5);
    EXPECT_EQ(c.faults.seed, 99u);
    EXPECT_EQ(c.device.scanner.seed, 99u);
    const NoiseSettings& noise = c.device.scanner.noise;
    EXPECT_FALSE(noise.enabled);
    EXPECT_EQ(noise.rangeNoise, 0.002);
    EXPECT_EQ(noise.amplitudeNoise, 0.1);
    EXPECT_EQ(noise.dropouts, 0.01);
    EXPECT_FALSE(noise.multipleReturns);
    EXPECT_EQ(noise.beamDivergenceMrad, 2.0);
    EXPECT_EQ(c.device.motionReplyWithinMs, 800u);
    EXPECT_TRUE(c.device.answerMotionsOnArrival);
    EXPECT_EQ(c.device.scanLineOrder, LineOrder::TopFirst);

    const auto defaults = parseOptions({});
    EXPECT_EQ(defaults.config.address, "127.0.0.1");
    EXPECT_EQ(defaults.config.port, 4365);
    EXPECT_EQ(defaults.config.device.serial, "LX30-31-SIM0001");
    EXPECT_TRUE(defaults.config.echo);
    EXPECT_TRUE(defaults.config.device.scanner.noise.enabled); // on by default
    EXPECT_FALSE(defaults.config.device.answerMotionsOnArrival);
    EXPECT_EQ(defaults.config.device.scanLineOrder, LineOrder::BottomFirst);
    // An explicit serial wins over the firmware number.
    EXPECT_EQ(parseOptions({"--serial", "X-29", "--firmware", "40"}).config.device.serial, "X-29");
    EXPECT_EQ(parseOptions({"--help"}).outcome, ParsedOptions::Outcome::Help);
}

TEST(Options, RejectsBadValuesWithAReason) {
    const std::vector<std::vector<std::string>> bad = {
        {"--address", "10.1.2.3"},  {"--address", "localhost"},
        {"--port", "70000"},        {"--port"},
        {"--model", "LX40"},        {"--firmware", "100"},
        {"--home-time", "-5"},      {"--drop-replies", "1.5"},
        {"--drop-packets", "x"},    {"--error", "SVHOME"},
        {"--error", "SVHOME=256"},  {"--error", "home=4"},
        {"--wrong-stem", "SVHOM"},  {"--seed", "-1"},
        {"--burst-interval", "0"},  {"--noise", "maybe"},
        {"--range-noise", "0.5"},   {"--bad-header", "2"},
        {"--late-replies", "-0.1"}, {"--quiet=yes"},
        {"--lines-from", "left"},   {"--lines-from"},
        {"--frobnicate"},           {"127.0.0.1"},
    };
    for (const auto& args : bad) {
        const auto p = parseOptions(args);
        EXPECT_EQ(p.outcome, ParsedOptions::Outcome::Error) << args[0];
        EXPECT_FALSE(p.error.empty());
    }
    EXPECT_NE(parseOptions({"--model", "LX40"}).error.find("LX40"), std::string::npos);
}

namespace {

// Runs the program with arguments; returns its exit status and standard output.
int runProgram(const std::string& args, std::string& output) {
    const std::string command = std::string(SENTOVA_SIM_PROGRAM) + " " + args + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[4096];
    output.clear();
    while (std::fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Starts a command, its output fd (standard output or error) readable line by
// line from `lines`; returns its pid, or -1.
pid_t spawnCommand(std::vector<std::string> words, int fd, FILE*& lines) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], fd);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(&w[0]);
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned =
        posix_spawn(&pid, words[0].c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        return -1;
    }
    lines = ::fdopen(pipeFds[0], "r");
    return pid;
}

// The simulator with arguments, as spawnCommand.
pid_t spawnProgram(const std::vector<std::string>& args, int fd, FILE*& lines) {
    std::vector<std::string> words = {SENTOVA_SIM_PROGRAM};
    words.insert(words.end(), args.begin(), args.end());
    return spawnCommand(std::move(words), fd, lines);
}

} // namespace

TEST(Program, HelpDocumentsEveryOptionAndBadOptionsExitWithTwo) {
    std::string out;
    EXPECT_EQ(runProgram("--help", out), 0);
    EXPECT_GT(optionNames().size(), 20u);
    for (const std::string& option : optionNames())
        EXPECT_NE(out.find("  " + option + " "), std::string::npos) << option;
    EXPECT_EQ(runProgram("--model LX99", out), 2);
    EXPECT_NE(out.find("LX99"), std::string::npos);
    EXPECT_EQ(runProgram("--address 192.168.1.1", out), 2);
}

TEST(Program, RunsUntilTerminatedAndPrintsOneLinePerCommand) {
    const std::string address = SIM_TEST_NET ".1.7";
    FILE* lines = nullptr;
    const pid_t pid = spawnProgram({"--address", address}, STDOUT_FILENO, lines);
    ASSERT_GT(pid, 0);

    UdpClient client;
    Endpoint device{0, 4365};
    ASSERT_TRUE(parseLoopbackAddress(address, device.address));
    const bool answered = waitUntil([&] { return client.ask(device, "SVCQRE", 50).has_value(); });
    char line[512] = {};
    const bool gotLine = answered && std::fgets(line, sizeof line, lines);
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    std::fclose(lines);
    ASSERT_TRUE(gotLine);
    EXPECT_EQ(std::string(line), "127.0.0.1:" + std::to_string(client.port()) +
                                     " SVCQRE  -> ERCQRE 4c5833302d33312d53494d30303031\n");
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A harness killed by a time-out must not leave its simulator holding the address.
TEST(Program, EndsWithTheProgramThatStartedIt) {
    const std::string address = SIM_TEST_NET ".1.10";
    const std::string script = std::string(SENTOVA_SIM_PROGRAM) + " --address " + address +
                               " --quiet --exit-with-parent & echo $!; wait";
    FILE* lines = nullptr;
    const pid_t shell = spawnCommand({"/bin/sh", "-c", script}, STDOUT_FILENO, lines);
    ASSERT_GT(shell, 0);
    char line[64] = {};
    ASSERT_TRUE(std::fgets(line, sizeof line, lines));
    std::fclose(lines);
    const pid_t simulator = static_cast<pid_t>(std::stol(line));

    UdpClient client;
    Endpoint device{0, 4365};
    ASSERT_TRUE(parseLoopbackAddress(address, device.address));
    ASSERT_TRUE(waitUntil([&] { return client.ask(device, "SVCQRE", 50).has_value(); }));
    ::kill(shell, SIGKILL);
    ::waitpid(shell, nullptr, 0);
    // Gone, or a zombie its new parent has not reaped yet.
    const auto ended = [&] {
        std::ifstream stat("/proc/" + std::to_string(simulator) + "/stat");
        std::string pid, name, state;
        return !(stat >> pid >> name >> state) || state == "Z";
    };
    const bool stopped = waitUntil(ended, 5000);
    if (!stopped)
        ::kill(simulator, SIGKILL);
    EXPECT_TRUE(stopped);
}

TEST(Options, LogLevelVersionAndRepeatedOptions) {
    const auto p = parseOptions({"--log-level", "debug", "--error", "SVHOME=4", "--error=SVSTOP=9",
                                 "--noise", "off", "--noise=on", "--port", "1", "--port", "2"});
    ASSERT_EQ(p.outcome, ParsedOptions::Outcome::Run) << p.error;
    EXPECT_EQ(p.logLevel, "debug");
    EXPECT_EQ(p.config.faults.errors.size(), 2u);
    EXPECT_TRUE(p.config.device.scanner.noise.enabled); // the last one given wins
    EXPECT_EQ(p.config.port, 2);
    EXPECT_EQ(parseOptions({}).logLevel, "");
    EXPECT_EQ(parseOptions({"--version"}).outcome, ParsedOptions::Outcome::Version);
    EXPECT_EQ(parseOptions({"-h"}).outcome, ParsedOptions::Outcome::Help);

    const auto loud = parseOptions({"--log-level", "loud"});
    EXPECT_EQ(loud.outcome, ParsedOptions::Outcome::Error);
    EXPECT_NE(loud.error.find("--log-level"), std::string::npos) << loud.error;
    EXPECT_EQ(parseOptions({"--frobnicate"}).error, "unknown option '--frobnicate' (see --help)");
    EXPECT_EQ(parseOptions({"--port", "70000"}).error,
              "--port must be a number from 0 to 65535, not '70000'");
    EXPECT_EQ(parseOptions({"--version=1"}).outcome, ParsedOptions::Outcome::Error);
    // One value per occurrence: a second word is not taken along.
    EXPECT_EQ(parseOptions({"--wrong-stem", "SVHOME", "SVSTOP"}).error,
              "unknown option 'SVSTOP' (see --help)");
}

TEST(Program, AnswersVersion) {
    std::string out;
    EXPECT_EQ(runProgram("--version", out), 0);
    EXPECT_EQ(out.rfind("sentova-sim 3.5.548 (library 3.5.548)\n", 0), 0u) << out;
}

TEST(Options, SceneAndItsPlacement) {
    const auto p = parseOptions({"--scene", "room.pcd", "--scene-scale=0.001",
                                 "--scene-origin=100,-2.5,1e3", "--point-size", "0.02"});
    ASSERT_EQ(p.outcome, ParsedOptions::Outcome::Run) << p.error;
    EXPECT_EQ(p.scene.file, "room.pcd");
    EXPECT_EQ(p.scene.scale, 0.001);
    EXPECT_EQ(p.scene.origin.x, 100.0);
    EXPECT_EQ(p.scene.origin.y, -2.5);
    EXPECT_EQ(p.scene.origin.z, 1000.0);
    EXPECT_EQ(p.scene.pointSize, 0.02);
    for (const auto& bad :
         std::vector<std::vector<std::string>>{{"--scene-scale", "0.001"}, // without a scene
                                               {"--scene", "a.ply", "--scene-origin", "1,2"},
                                               {"--scene", "a.ply", "--scene-origin", "1,2,3,4"},
                                               {"--scene", "a.ply", "--scene-scale", "-1"},
                                               {"--scene", "a.ply", "--replay", "b.pcap"}}) {
        const auto refused = parseOptions(bad);
        EXPECT_EQ(refused.outcome, ParsedOptions::Outcome::Error) << bad.back();
    }
}

TEST(Program, PrintsItsCountersEveryPeriodOnSigusr1AndOnExit) {
    const std::string address = SIM_TEST_NET ".1.8";
    FILE* lines = nullptr;
    const pid_t pid =
        spawnProgram({"--address", address, "--quiet", "--stats", "1", "--error", "SVCQRE=9"},
                     STDERR_FILENO, lines);
    ASSERT_GT(pid, 0);

    UdpClient client;
    Endpoint device{0, 4365};
    ASSERT_TRUE(parseLoopbackAddress(address, device.address));
    ASSERT_TRUE(waitUntil([&] { return client.ask(device, "SVCQRE", 50).has_value(); }));
    const auto nextLine = [&] {
        char line[2048] = {};
        return std::fgets(line, sizeof line, lines) ? std::string(line) : std::string();
    };
    // The periodic line within the period.
    const auto t0 = std::chrono::steady_clock::now();
    std::string line = nextLine();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1500));
    EXPECT_NE(line.find("commands "), std::string::npos) << line;
    EXPECT_NE(line.find("errors injected 1"), std::string::npos) << line;
    ::kill(pid, SIGUSR1);
    line = nextLine();
    EXPECT_NE(line.find("replies "), std::string::npos) << line;
    EXPECT_NE(line.find("bursts 0"), std::string::npos) << line;
    ::kill(pid, SIGTERM);
    std::string last;
    for (std::string l = nextLine(); !l.empty(); l = nextLine())
        last = l;
    int status = 0;
    ::waitpid(pid, &status, 0);
    std::fclose(lines);
    EXPECT_NE(last.find("commands "), std::string::npos) << last;
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(Simulator, CountersLine) {
    SimulatorCounters c;
    c.commands = 12;
    c.repliesSent = 11;
    c.repliesDropped = 1;
    c.packetsSent = 300;
    c.packetFaults.truncated = 4;
    c.packetFaults.bursts = 2;
    c.packetFaults.burstDatagrams = 4000;
    DeviceStatus s;
    s.pointsSent = 12000;
    s.streamTargets.resize(2);
    const std::string line = formatCounters(c, s);
    for (const char* part :
         {"commands 12", "replies 11 (dropped 1,", "laser datagrams 300 to 2 hosts now",
          "points 12000", "truncated 4", "bursts 2 (4000 datagrams, 0 copies)"})
        EXPECT_NE(line.find(part), std::string::npos) << part << " in " << line;
    EXPECT_EQ(line.find('\n'), std::string::npos);
}

TEST(Simulator, TwoHostsEachReceiveTheirStream) {
    SimulatorConfig c = simtest::quietConfig(SIM_TEST_NET ".1.9");
    c.device.model = LIDAR_GENERIC;
    Simulator sim(c);
    sim.start();
    UdpClient commandsA("127.0.0.21"), dataA("127.0.0.21");
    UdpClient commandsB("127.0.0.22"), dataB("127.0.0.22");
    const auto start = [](UdpClient& data) {
        return tavrel::CommandSerialiser::SVRRBE({{0, static_cast<int>(data.port())}});
    };
    ASSERT_EQ(commandsA.ask(sim.endpoint(), start(dataA)), "EARRBE");
    ASSERT_EQ(commandsB.ask(sim.endpoint(), start(dataB)), "EARRBE");
    const auto packets = [](UdpClient& data, int n) {
        int got = 0;
        while (got < n && data.receive(300))
            ++got;
        return got;
    };
    EXPECT_EQ(packets(dataA, 50), 50);
    EXPECT_EQ(packets(dataB, 50), 50);
    EXPECT_EQ(sim.status().streamTargets.size(), 2u);

    // The second host stops its stream; the first one's goes on.
    ASSERT_EQ(commandsB.ask(sim.endpoint(), "SVSRBE"), "EASRBE");
    while (dataB.receive(100)) {
    }
    EXPECT_EQ(packets(dataA, 50), 50);
    EXPECT_FALSE(dataB.receive(200));
    EXPECT_TRUE(sim.status().streaming);
    ASSERT_EQ(commandsA.ask(sim.endpoint(), "SVSRBE"), "EASRBE");
    EXPECT_FALSE(sim.status().streaming);
}
