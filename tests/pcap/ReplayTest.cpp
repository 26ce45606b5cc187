// Replay as the device: the replay source on its own, and the simulator
// streaming a recording over loopback UDP.
#include "Replay.h"
#include "CaptureTestSupport.h"
#include "Options.h"
#include "SimTestSupport.h"

#include "Sentova/CommandSerialiser.h"
#include "Sentova/LaserPacket.h"
#include "SentovaPcap/Capture.h"

#include <gtest/gtest.h>

using namespace sentova::sim;
using pcaptest::TempFile;
using sentova::pcap::Writer;
using simtest::UdpClient;

namespace {

constexpr std::uint32_t kRecordedDevice = 0x0a000002; // 10.0.0.2
constexpr std::uint32_t kRecordedHost = 0x0a000001;

struct NoAperture : Aperture {
    void pointingAt(double, double& az, double& el) const override { az = el = 0.0; }
};

std::string laserPacket(std::uint32_t first, int records) {
    std::vector<tavrel::LaserRecord> r(static_cast<std::size_t>(records));
    for (int i = 0; i < records; ++i)
        r[std::size_t(i)].timestamp = first + std::uint32_t(i);
    return tavrel::encodeLaserPacket(r);
}

// A recorded session: the serial number query, a stream start, `packets` laser
// datagrams 10 ms apart (packet i holding timestamps 100 i ...), replies between.
void writeRecording(const std::string& path, int packets) {
    Writer w(path);
    std::uint64_t t = 1700000000000000;
    w.write(t, kRecordedHost, 40000, kRecordedDevice, 4365, "SVCQRE", 6);
    const std::string serial = "ERCQRELX20-33-0042";
    w.write(t + 100, kRecordedDevice, 4365, kRecordedHost, 40000, serial.data(), serial.size());
    const std::string start = tavrel::CommandSerialiser::SVRRBE({{3, 10000}, {0, 4366}});
    w.write(t + 200, kRecordedHost, 40001, kRecordedDevice, 4365, start.data(), start.size());
    w.write(t + 300, kRecordedDevice, 4365, kRecordedHost, 40001, "EARRBE", 6);
    for (int i = 0; i < packets; ++i) {
        const std::string p = laserPacket(std::uint32_t(100 * i), 40);
        w.write(t + 1000 + std::uint64_t(i) * 10000, kRecordedDevice, 4365, kRecordedHost, 4366,
                p.data(), p.size());
    }
    w.close();
}

LaserStreamStart startAt(double time) {
    LaserStreamStart s;
    s.time = time;
    s.parameters[0] = 4366;
    return s;
}

std::uint32_t firstTimestamp(const std::string& packet) {
    return tavrel::decodeData(packet.data() + tavrel::kLaserHeaderSize).timestamp;
}

} // namespace

TEST(ReplaySource, PlaysTheRecordingAtItsPaceOrFaster) {
    TempFile file("session.pcap");
    writeRecording(file.path(), 10);
    ReplaySource source(ReplayOptions{file.path()});
    EXPECT_EQ(source.summary().deviceAddress, kRecordedDevice);
    EXPECT_EQ(source.summary().datagrams, 10u);
    EXPECT_EQ(source.summary().points, 400u);
    EXPECT_DOUBLE_EQ(source.summary().seconds, 0.09);
    EXPECT_EQ(source.summary().serial, "LX20-33-0042");
    EXPECT_NEAR(source.pointRate(), 400 / 0.09, 1e-6);

    const NoAperture aperture;
    std::vector<std::string> out;
    ASSERT_EQ(source.start(startAt(100.0)), tavrel::NoError);
    EXPECT_DOUBLE_EQ(source.nextDue(), 100.0);
    source.produce(100.0449, aperture, out); // packets at 0, 10, 20, 30 and 40 ms
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(firstTimestamp(out[4]), 400u);
    EXPECT_NEAR(source.nextDue(), 100.05, 1e-9);
    source.stop(100.05, out);
    EXPECT_EQ(source.nextDue(), std::numeric_limits<double>::infinity());

    // A new start plays from the beginning again; at its end the stream falls silent.
    out.clear();
    ASSERT_EQ(source.start(startAt(200.0)), tavrel::NoError);
    source.produce(300.0, aperture, out);
    ASSERT_EQ(out.size(), 10u);
    EXPECT_EQ(firstTimestamp(out[0]), 0u);
    EXPECT_EQ(source.nextDue(), std::numeric_limits<double>::infinity());

    ReplaySource twice(ReplayOptions{file.path(), 2.0});
    out.clear();
    twice.start(startAt(0.0));
    twice.produce(0.0249, aperture, out);
    EXPECT_EQ(out.size(), 5u) << "10 ms apart recorded, 5 ms apart played";
}

TEST(ReplaySource, AsFastAsPossibleInBatchesAndLooping) {
    TempFile file("long.pcap");
    writeRecording(file.path(), 600);
    const NoAperture aperture;
    ReplaySource fast(ReplayOptions{file.path(), 1.0, true});
    std::vector<std::string> out;
    fast.start(startAt(5.0));
    EXPECT_DOUBLE_EQ(fast.nextDue(), 5.0);
    fast.produce(5.0, aperture, out);
    EXPECT_EQ(out.size(), 256u) << "one batch per call";
    while (fast.nextDue() <= 5.0)
        fast.produce(5.0, aperture, out);
    EXPECT_EQ(out.size(), 600u);

    ReplaySource looping(ReplayOptions{file.path(), 1.0, false, true});
    out.clear();
    looping.start(startAt(0.0));
    looping.produce(5.99 + 0.0001, aperture, out); // the first pass ends at 5.99 s
    ASSERT_EQ(out.size(), 600u);
    // The second pass follows one interval (10 ms) after the last datagram.
    EXPECT_NEAR(looping.nextDue(), 6.0, 1e-9);
    looping.produce(6.0, aperture, out);
    ASSERT_EQ(out.size(), 601u);
    EXPECT_EQ(firstTimestamp(out.back()), 0u);
    EXPECT_EQ(looping.datagramsPlayed(), 601u);
}

TEST(ReplaySource, RecordingsWithoutLaserDataAreRefused) {
    TempFile file("commands.pcap");
    {
        Writer w(file.path());
        w.write(1, kRecordedHost, 40000, kRecordedDevice, 4365, "SVHOME", 6);
        w.close();
    }
    try {
        ReplaySource source(ReplayOptions{file.path()});
        FAIL() << "no laser data, yet accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), file.path() + ": holds no laser data packets to replay");
    }
    EXPECT_THROW(ReplaySource(ReplayOptions{"/nonexistent.pcap"}), sentova::pcap::CaptureError);
}

TEST(ReplayOptions, CommandLine) {
    ParsedOptions p = parseOptions({"--replay", "a.pcap", "--speed", "2.5", "--loop"});
    ASSERT_EQ(p.outcome, ParsedOptions::Outcome::Run) << p.error;
    EXPECT_EQ(p.replay.file, "a.pcap");
    EXPECT_EQ(p.replay.speed, 2.5);
    EXPECT_TRUE(p.replay.loop);
    EXPECT_FALSE(p.deviceGiven);
    p = parseOptions({"--replay=a.pcap", "--as-fast-as-possible", "--model", "LX20"});
    ASSERT_EQ(p.outcome, ParsedOptions::Outcome::Run) << p.error;
    EXPECT_TRUE(p.replay.asFastAsPossible);
    EXPECT_TRUE(p.deviceGiven);
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"--speed", "2"},
          {"--loop"},
          {"--replay", "a.pcap", "--speed", "0"},
          {"--replay", "a.pcap", "--speed", "x"},
          {"--replay", "a.pcap", "--speed", "2", "--as-fast-as-possible"}}) {
        EXPECT_EQ(parseOptions(bad).outcome, ParsedOptions::Outcome::Error) << bad[0];
    }
    const std::string help = usageText("sentova-sim");
    for (const char* option : {"--replay", "--speed", "--as-fast-as-possible", "--loop"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
}

TEST(Replay, TheSimulatorStreamsTheRecordingToThePortAskedForUntilStopped) {
    TempFile file("session.pcap");
    writeRecording(file.path(), 50);
    SimulatorConfig config = simtest::quietConfig(PCAP_TEST_NET ".0.2");
    std::string problems;
    const std::string about =
        useReplay(ReplayOptions{file.path(), 4.0}, false, config.device, problems);
    EXPECT_EQ(about, "replaying " + file.path() +
                         ": 50 laser datagrams, 2000 points over 0.5 s recorded from 10.0.0.2, "
                         "at 4 times the recorded pace");
    EXPECT_EQ(problems, "");
    EXPECT_EQ(config.device.model, LIDAR_LX20) << "the recorded device";
    Simulator sim(config);
    sim.start();
    UdpClient commands(PCAP_TEST_NET ".0.1"), data(PCAP_TEST_NET ".0.1");
    EXPECT_EQ(commands.ask(sim.endpoint(), "SVCQRE"), "ERCQRELX20-33-0042");
    EXPECT_EQ(commands.ask(sim.endpoint(),
                           tavrel::CommandSerialiser::SVRRBE({{3, 10000}, {0, int(data.port())}})),
              "EARRBE");
    std::vector<std::string> got;
    const auto begin = std::chrono::steady_clock::now();
    while (got.size() < 50) {
        const auto packet = data.receive(2000);
        if (!packet)
            break;
        got.push_back(*packet);
    }
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    ASSERT_EQ(got.size(), 50u);
    for (std::size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i], laserPacket(std::uint32_t(100 * i), 40)) << i;
    EXPECT_GT(took, 0.08) << "0.49 s recorded at 4 times";
    EXPECT_EQ(commands.ask(sim.endpoint(), "SVSRBE"), "EASRBE");
    EXPECT_EQ(data.receive(200), std::nullopt);

    // Stopped in the middle, the stream goes quiet at once.
    ASSERT_EQ(commands.ask(sim.endpoint(),
                           tavrel::CommandSerialiser::SVRRBE({{3, 10000}, {0, int(data.port())}})),
              "EARRBE");
    ASSERT_TRUE(data.receive(1000));
    commands.sendTo(sim.endpoint(), "SVSRBE");
    int after = 0;
    bool replied = false;
    while (const auto d = data.receive(300))
        ++after;
    while (const auto r = commands.receive(300))
        replied = replied || *r == "EASRBE";
    EXPECT_TRUE(replied);
    EXPECT_LT(after, 49);
}
