// The device's behaviour on a chosen clock, without sockets.
#include "Device.h"
#include "Scanner.h"

#include "Sentova/CommandSerialiser.h"
#include "Sentova/Encoding.h"
#include "Sentova/LaserPacket.h"

#include <gtest/gtest.h>

#include <random>

using namespace sentova::sim;
using tavrel::CommandSerialiser;

namespace {

const Endpoint kController{0x7F000001, 40001};
const Endpoint kManager{0x7F000001, 40002};
const Endpoint kOtherHost{0x7F000002, 40003};

struct Exchange {
    std::vector<Outgoing> out;

    std::vector<Outgoing> of(OutKind kind) const {
        std::vector<Outgoing> r;
        for (const auto& o : out)
            if (o.kind == kind)
                r.push_back(o);
        return r;
    }
    std::string reply() const {
        const auto replies = of(OutKind::Reply);
        return replies.size() == 1 ? replies[0].bytes : "<" + std::to_string(replies.size()) + ">";
    }
    std::size_t points() const {
        std::size_t n = 0;
        for (const auto& o : of(OutKind::LaserData)) {
            const auto layout = tavrel::examineLaserPacket(
                reinterpret_cast<const unsigned char*>(o.bytes.data()), o.bytes.size());
            EXPECT_EQ(layout.headerSize, 6u);
            n += layout.records;
        }
        return n;
    }
};

Exchange send(Device& d, const std::string& command, double t, Endpoint from = kController) {
    Exchange e;
    d.receive(command, from, t, e.out);
    return e;
}

Exchange runTo(Device& d, double t) {
    Exchange e;
    d.advance(t, e.out);
    return e;
}

std::string err(const std::string& stem, int code) {
    return "EE" + stem + std::string(1, static_cast<char>(code));
}

DeviceSettings settings(LIDAR_TYPE model = LIDAR_LX30, unsigned homeMs = 100) {
    DeviceSettings s;
    s.model = model;
    s.serial = defaultSerial(model, 31);
    s.homeTimeMs = homeMs;
    s.scanner.noise.enabled = false; // exact ranges, to compare with the scene
    return s;
}

// Homes the device: home at t, done at t + 0.1.
void home(Device& d, double t) {
    ASSERT_EQ(send(d, "SVHOME", t).out.size(), 0u);
    ASSERT_EQ(runTo(d, t + 0.1).reply(), "EAHOME");
}

} // namespace

TEST(Device, SerialAndModelStrings) {
    EXPECT_EQ(defaultSerial(LIDAR_LX30, 31), "LX30-31-SIM0001");
    EXPECT_EQ(defaultSerial(LIDAR_LX20, 7), "LX20-07-SIM0001");
    EXPECT_EQ(defaultSerial(LIDAR_GENERIC, 31).find("LX"), std::string::npos);
    Device d(settings(LIDAR_LX20));
    EXPECT_EQ(send(d, "SVCQRE", 0).reply(), "ERCQRELX20-31-SIM0001");
    EXPECT_EQ(send(d, "SVPPPP", 0).reply(), "EAPPPP");
    EXPECT_EQ(send(d, "SVSLGA\x03", 0).reply(), "EASLGA");
    EXPECT_EQ(send(d, CommandSerialiser::SVSEAC(0.0), 0).reply(), err("SEAC", 2));
    EXPECT_EQ(send(d, CommandSerialiser::SVSEAC(250.0), 0).reply(), "EASEAC");
    EXPECT_EQ(send(d, CommandSerialiser::SVRNLS(1, 2, true, 3), 0).reply(), "EARNLS");
    EXPECT_EQ(send(d, "SVGMTN", 0).reply(),
              "ERGMTNidle not-homed laser-on gain 3 acceleration 250");
}

TEST(Device, MalformedCommandsAreAnsweredNotObeyed) {
    Device d(settings());
    EXPECT_EQ(send(d, "", 0).reply(), err("????", 6));
    EXPECT_EQ(send(d, "SVH", 0).reply(), err("H???", 6));
    EXPECT_EQ(send(d, "SVXXXX", 0).reply(), err("XXXX", 6));
    EXPECT_EQ(send(d, "ABHOME", 0).reply(), err("HOME", 6));
    EXPECT_EQ(send(d, "SVHOME\x01", 0).reply(), err("HOME", 1));
    EXPECT_EQ(send(d, std::string("SVSFFS\x00\x05", 8), 0).reply(), err("SFFS", 1));
    EXPECT_EQ(send(d, std::string("SVRRBE\x00\x00\x00\x11", 10), 0).reply(), err("RRBE", 1));
    EXPECT_EQ(send(d, std::string(5000, '\xAB'), 0).reply(), err("\xAB\xAB\xAB\xAB", 6));
    EXPECT_EQ(d.status().motion, "idle");
    EXPECT_FALSE(d.status().homed);
}

TEST(Device, HomingTakesItsTimeAndGatesScans) {
    Device d(settings(LIDAR_LX30, 250));
    const auto scan = CommandSerialiser::SVSFFS(5.0, 10.0);
    EXPECT_EQ(send(d, scan, 0.0).reply(), err("SFFS", tavrel::NotHomed));
    EXPECT_EQ(send(d, CommandSerialiser::SVSEAA(10, 10, 90), 0.0).reply(),
              err("SEAA", tavrel::NotHomed));

    EXPECT_TRUE(send(d, "SVHOME", 1.0).out.empty()); // answered when done
    EXPECT_EQ(d.status().motion, "homing");
    EXPECT_EQ(send(d, scan, 1.1).reply(), err("SFFS", tavrel::NotReady));
    EXPECT_TRUE(runTo(d, 1.24).out.empty());
    const auto done = runTo(d, 1.26);
    ASSERT_EQ(done.reply(), "EAHOME");
    EXPECT_EQ(done.out[0].to, kController);
    EXPECT_TRUE(d.status().homed);

    EXPECT_EQ(send(d, CommandSerialiser::SVSFFS(0.0, 10.0), 2.0).reply(),
              err("SFFS", tavrel::ArgumentOutOfRange));
    EXPECT_EQ(send(d, CommandSerialiser::SVSFFS(5.0, 0.0), 2.0).reply(),
              err("SFFS", tavrel::ArgumentOutOfRange));
    EXPECT_EQ(send(d, CommandSerialiser::SVSBES(5.0, -50.0, 0.0, 10.0), 2.0).reply(),
              err("SBES", tavrel::ArgumentOutOfRange));
    EXPECT_EQ(send(d, scan, 2.0).reply(), "EASFFS");
    EXPECT_EQ(d.status().motion, "scanning");
    EXPECT_EQ(send(d, "SVSTOP", 2.5).reply(), "EASTOP");
    EXPECT_EQ(d.status().motion, "idle");
}

TEST(Device, InterruptedHomeIsNotReportedAsDone) {
    Device d(settings(LIDAR_LX30, 500));
    send(d, "SVHOME", 0.0);
    const auto stop = send(d, "SVSTOP", 0.2);
    ASSERT_EQ(stop.out.size(), 2u);
    EXPECT_EQ(stop.out[0].bytes, err("HOME", tavrel::NotReady));
    EXPECT_EQ(stop.out[1].bytes, "EASTOP");
    EXPECT_FALSE(d.status().homed);
    EXPECT_TRUE(runTo(d, 1.0).out.empty());
}

TEST(Device, MovesReportAnglesAndAnswerOnArrival) {
    Device d(settings());
    home(d, 0.0);
    EXPECT_EQ(send(d, CommandSerialiser::SVSEAA(90.0, 0.0, 0.0), 1.0).reply(),
              err("SEAA", tavrel::ArgumentOutOfRange));
    EXPECT_EQ(send(d, CommandSerialiser::SVSEAA(90.0, 40.0, 90.0), 1.0).reply(),
              err("SEAA", tavrel::ArgumentOutOfRange));
    // 90 degrees at 90 per second, speeding up and braking at 1000 per second
    // squared: 0.09 s of each, 1.09 s in all, half way at half time.
    EXPECT_TRUE(send(d, CommandSerialiser::SVSEAA(90.0, -20.0, 90.0), 1.0).out.empty());
    runTo(d, 1.045);
    EXPECT_NEAR(d.status().azimuth, 0.5 * 1000.0 * 0.045 * 0.045, 1e-6); // still speeding up
    runTo(d, 1.545);
    auto status = d.status();
    EXPECT_EQ(status.motion, "moving");
    EXPECT_NEAR(status.azimuth, 45.0, 1e-6);
    EXPECT_NEAR(status.elevation, -10.0, 1e-6);
    EXPECT_TRUE(runTo(d, 2.085).out.empty());
    EXPECT_EQ(runTo(d, 2.095).reply(), "EASEAA");

    const std::string angles = send(d, "SVGEAA", 3.0).reply();
    ASSERT_EQ(angles.size(), 14u);
    std::string payload = angles.substr(6);
    auto it = payload.begin();
    EXPECT_NEAR(tavrel::UnpackAngle(it), 90.0, 1e-6);
    EXPECT_NEAR(tavrel::UnpackAngle(it), -20.0, 1e-6);

    // Tracking answers at once and keeps moving.
    EXPECT_EQ(send(d, CommandSerialiser::SVTRAA(-90.0, 0.0, 360.0), 4.0).reply(), "EATRAA");
    EXPECT_EQ(d.status().motion, "tracking");
    runTo(d, 5.0);
    EXPECT_NEAR(d.status().azimuth, -90.0, 1e-6);
    EXPECT_EQ(d.status().motion, "idle");
}

TEST(Device, LaserRateFollowsTheModel) {
    struct Case {
        LIDAR_TYPE model;
        std::vector<tavrel::Parameter> params;
        double rate;
    };
    const std::vector<Case> cases = {
        {LIDAR_LX30, {{1, 0}, {2, 0}, {0, 4366}}, 25000},
        {LIDAR_LX30, {{1, 1}, {2, 3}, {0, 4366}}, 5000},
        {LIDAR_LX30, {{1, 2}, {2, 0}, {0, 4366}}, 500},
        {LIDAR_LX20, {{3, 10000}, {4, 4}, {5, 2}, {0, 4366}}, 2500},
        {LIDAR_LX20, {{3, 30000}, {4, 1}, {5, 0}, {0, 4366}}, 30000},
        {LIDAR_GENERIC, {{0, 4366}}, 10000},
    };
    for (const auto& c : cases) {
        Device d(settings(c.model));
        // Aim at the floor so that every sample hits.
        home(d, 0.0);
        send(d, CommandSerialiser::SVSEAA(90.0, -30.0, 3600.0), 1.0);
        runTo(d, 1.7);
        const auto start = send(d, CommandSerialiser::SVRRBE(c.params), 2.0, kManager);
        ASSERT_EQ(start.reply(), "EARRBE");
        const auto stream = runTo(d, 3.0);
        EXPECT_NEAR(static_cast<double>(stream.points()), c.rate, 2.0)
            << tavrel::ModelLabel(c.model);
        EXPECT_EQ(d.status().pointRate, c.rate);
        for (const auto& packet : stream.of(OutKind::LaserData)) {
            EXPECT_EQ(packet.to.address, kManager.address);
            EXPECT_EQ(packet.to.port, 4366);
            EXPECT_LE(packet.bytes.size(), 6 + kRecordsPerPacket * tavrel::kLaserRecordSize);
        }
        EXPECT_EQ(send(d, "SVSRBE", 3.0).reply(), "EASRBE");
        EXPECT_EQ(runTo(d, 4.0).points(), 0u);
    }
}

TEST(Device, LaserParametersAreChecked) {
    Device lx30(settings(LIDAR_LX30));
    EXPECT_EQ(send(lx30, CommandSerialiser::SVRRBE({}), 0).reply(),
              err("RRBE", tavrel::InvalidArgument));
    EXPECT_EQ(send(lx30, CommandSerialiser::SVRRBE({{0, 0}}), 0).reply(),
              err("RRBE", tavrel::ArgumentOutOfRange));
    EXPECT_EQ(send(lx30, CommandSerialiser::SVRRBE({{1, 3}, {0, 4366}}), 0).reply(),
              err("RRBE", tavrel::ArgumentOutOfRange));
    EXPECT_EQ(send(lx30, CommandSerialiser::SVRRBE({{9, 1}, {0, 4366}}), 0).reply(),
              err("RRBE", tavrel::InvalidArgument));
    // Another model's parameters are ignored.
    EXPECT_EQ(send(lx30, CommandSerialiser::SVRRBE({{3, 999999}, {0, 4366}}), 0).reply(), "EARRBE");
    Device lx20(settings(LIDAR_LX20));
    EXPECT_EQ(send(lx20, CommandSerialiser::SVRRBE({{4, 0}, {0, 4366}}), 0).reply(),
              err("RRBE", tavrel::ArgumentOutOfRange));
    EXPECT_FALSE(lx20.status().streaming);
}

TEST(Device, StillApertureSamplesOneDirection) {
    Device d(settings(LIDAR_GENERIC));
    home(d, 0.0);
    send(d, CommandSerialiser::SVSEAA(90.0, -30.0, 3600.0), 1.0);
    runTo(d, 1.1);
    send(d, CommandSerialiser::SVRRBE({{0, 5000}}), 2.0);
    const auto stream = runTo(d, 2.01);
    ASSERT_FALSE(stream.of(OutKind::LaserData).empty());
    const std::string packet = stream.of(OutKind::LaserData)[0].bytes;
    const auto first = tavrel::decodeData(packet.data() + 6);
    const auto second = tavrel::decodeData(packet.data() + 6 + 22);
    EXPECT_EQ(first.range, 3000);
    EXPECT_EQ(second.range, 3000);
    EXPECT_NEAR(first.azimuth, 90.0, 1e-6);
    EXPECT_NEAR(first.elevation, -30.0, 1e-6);
    EXPECT_EQ(second.timestamp - first.timestamp, 100u); // 10000 points per second, in µs
}

TEST(Device, OneFrameCaptureThroughBuffersAndEvents) {
    Device d(settings(LIDAR_LX30));
    home(d, 0.0);
    const auto laserStart = CommandSerialiser::SVRRBE({{1, 0}, {2, 0}, {0, 4366}});
    EXPECT_EQ(send(d, "SVERST", 1.0, kManager).reply(), "EAERST");
    EXPECT_EQ(send(d, CommandSerialiser::SVEENB(128, 0, false), 1.0, kManager).reply(),
              err("EENB", tavrel::InvalidArgument)); // nothing in buffer 128 yet
    EXPECT_EQ(send(d, CommandSerialiser::SVECCF(128, laserStart), 1.0, kManager).reply(), "EAECCF");
    EXPECT_EQ(send(d, CommandSerialiser::SVECCF(129, "SVSRBE"), 1.0, kManager).reply(), "EAECCF");
    EXPECT_EQ(send(d, CommandSerialiser::SVECCF(130, "SVSTOP"), 1.0, kManager).reply(), "EAECCF");
    EXPECT_EQ(send(d, CommandSerialiser::SVEENB(128, 0, false), 1.0, kManager).reply(), "EAEENB");
    EXPECT_EQ(send(d, CommandSerialiser::SVEENB(129, 1, false), 1.0, kManager).reply(), "EAEENB");
    EXPECT_EQ(send(d, CommandSerialiser::SVEENB(130, 1, false), 1.0, kManager).reply(), "EAEENB");
    EXPECT_EQ(send(d, CommandSerialiser::SVESTS(128, 0), 1.0, kManager).reply(),
              std::string("ERESTS\x01\x00", 8));

    // 10 lines at 10 turns per second: a frame of one second.
    const auto start = send(d, CommandSerialiser::SVSFFS(10.0, 10.0), 2.0);
    EXPECT_EQ(start.of(OutKind::Reply).at(0).bytes, "EASFFS");
    const auto begun = start.of(OutKind::Notification);
    ASSERT_EQ(begun.size(), 1u);
    EXPECT_EQ(begun[0].to, kManager);
    EXPECT_EQ(begun[0].bytes.substr(0, 7), std::string("EBAACK\x00", 7));
    EXPECT_TRUE(d.status().streaming);
    EXPECT_EQ(d.status().streamTarget.address, kManager.address);

    const auto frame = runTo(d, 3.5);
    const auto ended = frame.of(OutKind::Notification);
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].bytes.substr(0, 7), std::string("EBAACK\x01", 7));
    EXPECT_TRUE(frame.of(OutKind::Reply).empty()); // buffered commands are not answered
    const auto status = d.status();
    EXPECT_FALSE(status.streaming);
    EXPECT_EQ(status.motion, "idle");
    EXPECT_EQ(status.framesStarted, 1u);
    EXPECT_EQ(status.framesCompleted, 1u);
    EXPECT_EQ(status.bufferedCommandsRun, 3u);
    EXPECT_DOUBLE_EQ(status.elevation, 35.0); // at the end of the last line
    // One frame of points: the whole of it, a second at 25000 points per second,
    // less what leaves through the window.
    EXPECT_GT(frame.points(), 20000u);
    EXPECT_LE(frame.points(), 25001u);
    EXPECT_EQ(send(d, CommandSerialiser::SVESTS(128, 0), 4.0, kManager).reply(),
              std::string("ERESTS\x00\x01", 8));

    // One-shot bindings do not fire on the next scan.
    send(d, CommandSerialiser::SVSFFS(10.0, 10.0), 5.0);
    EXPECT_TRUE(runTo(d, 7.5).of(OutKind::Notification).empty());
    EXPECT_FALSE(d.status().streaming);
}

TEST(Device, RepeatingBindingsAndFailingBufferedCommands) {
    Device d(settings());
    home(d, 0.0);
    send(d, CommandSerialiser::SVECCF(1, "SVNOPE"), 1.0, kManager);
    send(d, CommandSerialiser::SVEENB(1, 0, true), 1.0, kManager);
    send(d, CommandSerialiser::SVSFFS(10.0, 1.0), 2.0); // a frame every 0.1 s
    const auto run = runTo(d, 2.35);
    std::size_t acks = 0, failures = 0;
    for (const auto& n : run.of(OutKind::Notification)) {
        EXPECT_EQ(n.to, kManager);
        if (n.bytes.compare(0, 6, "EBAACK") == 0)
            ++acks;
        if (n.bytes.compare(0, 6, "EBADRT") == 0) {
            ++failures;
            EXPECT_EQ(n.bytes, std::string("EBADRT\x00\x01\x06", 9));
        }
    }
    EXPECT_EQ(acks, 3u);
    EXPECT_EQ(failures, 3u);
    EXPECT_EQ(send(d, CommandSerialiser::SVEENB(1, 7, true), 3.0, kManager).reply(),
              err("EENB", tavrel::InvalidArgument));
}

TEST(Device, BufferRestartingItsOwnScanCannotSpinTheClock) {
    Device d(settings());
    home(d, 0.0);
    send(d, CommandSerialiser::SVECCF(1, CommandSerialiser::SVSFFS(10.0, 1.0)), 1.0, kManager);
    send(d, CommandSerialiser::SVEENB(1, 0, true), 1.0, kManager);
    const auto start = send(d, CommandSerialiser::SVSFFS(10.0, 1.0), 2.0);
    EXPECT_EQ(start.of(OutKind::Notification).size(), 16u);
    EXPECT_EQ(d.status().motion, "scanning");
    // The clock moves on: the next frame boundary comes and goes.
    runTo(d, 2.15);
    EXPECT_EQ(d.status().framesCompleted, 1u);
}

TEST(Device, EventTimer) {
    Device d(settings());
    EXPECT_EQ(send(d, CommandSerialiser::SVERTM(0), 0, kManager).reply(),
              err("ERTM", tavrel::ArgumentOutOfRange));
    // Faster than the timer can tick is refused; the fastest it can is taken.
    EXPECT_EQ(send(d, CommandSerialiser::SVERTM(40000), 0, kManager).reply(),
              err("ERTM", tavrel::ArgumentOutOfRange));
    EXPECT_EQ(send(d, "SVEGTM", 0, kManager).reply(), std::string("EREGTM\x00\x00", 8));
    EXPECT_EQ(send(d, CommandSerialiser::SVERTM(1000), 0, kManager).reply(), "EAERTM");
    EXPECT_EQ(send(d, "SVEGTM", 0, kManager).reply(), "EREGTM\x03\xe8");
    send(d, CommandSerialiser::SVECCF(5, "SVIIOT\x02"), 0, kManager);
    send(d, CommandSerialiser::SVEENB(5, kEventTimer, true), 0, kManager);
    const auto ticks = runTo(d, 0.0105);
    EXPECT_EQ(ticks.of(OutKind::Notification).size(), 10u);
    EXPECT_EQ(send(d, "SVESTM", 0.02, kManager).reply(), "EAESTM");
    EXPECT_EQ(send(d, "SVEGTM", 0.02, kManager).reply(), std::string("EREGTM\x00\x00", 8));
}

TEST(Device, TriggerRecordsGoToTheSender) {
    Device d(settings());
    EXPECT_EQ(send(d, CommandSerialiser::SVTTRG(3, 42), 1.0).reply(), "EATTRG");
    const auto records = runTo(d, 1.1).of(OutKind::Trigger);
    ASSERT_EQ(records.size(), 3u);
    for (unsigned i = 0; i < 3; ++i) {
        EXPECT_EQ(records[i].to, kController);
        ASSERT_EQ(records[i].bytes.size(), 26u);
        EXPECT_EQ(records[i].bytes.substr(0, 6), "EBHPTG");
        std::string payload = records[i].bytes.substr(6);
        auto it = payload.begin();
        EXPECT_EQ(tavrel::EfficientUnpackInt32(it), i);
        EXPECT_EQ(tavrel::EfficientUnpackInt32(it), 1005000u + 5000u * i);
        tavrel::UnpackAngle(it);
        tavrel::UnpackAngle(it);
        EXPECT_EQ(tavrel::EfficientUnpackInt32(it), 42u);
    }
    EXPECT_EQ(send(d, CommandSerialiser::SVTTRG(5000, 0), 2.0).reply(), err("TTRG", 2));

    // A triggered move reports along the way, the last record on arrival.
    home(d, 3.0);
    EXPECT_EQ(send(d, CommandSerialiser::SVSEAT(0.0, 30.0, 60.0, 2, 7), 4.0).reply(), "EASEAT");
    const auto move = runTo(d, 5.0).of(OutKind::Trigger);
    ASSERT_EQ(move.size(), 2u);
    std::string last = move[1].bytes.substr(18); // the elevation
    auto it = last.begin();
    EXPECT_NEAR(tavrel::UnpackAngle(it), 30.0, 1e-6);
}

TEST(Device, EveryDatagramGetsAtMostOneReply) {
    static const char* codes[] = {
        "SVCQRE", "SVHOME", "SVSTOP", "SVSEAC", "SVGEAA", "SVSEAA", "SVTRAA", "SVSFFS", "SVSBES",
        "SVSRES", "SVRRBE", "SVSRBE", "SVRNLS", "SVSTLS", "SVSRUN", "SVSSTP", "SVSSTG", "SVSGTG",
        "SVSGRL", "SVSSSP", "SVMONN", "SVMOFF", "SVSLGA", "SVSGER", "SVSTST", "SVGUFP", "SVSUFP",
        "SVEUFP", "SVERST", "SVPPPP", "SVEENB", "SVEDIS", "SVESTS", "SVESTM", "SVERTM", "SVEGTM",
        "SVECCF", "SVIIOS", "SVIIOT", "SVIIOG", "SVIOSE", "SVIOGE", "SVGCAA", "SVGMTN", "SVSEAT",
        "SVTTRG", "SVSIPC", "SVXXXX", ""};
    std::mt19937 random(12345);
    Device d(settings(LIDAR_LX20, 20));
    std::size_t replies = 0;
    double t = 0.0;
    constexpr int kCommands = 3000;
    for (int i = 0; i < kCommands; ++i) {
        std::string command = codes[random() % (sizeof codes / sizeof *codes)];
        // Mostly the right argument lengths for some codes, anything for others.
        const std::size_t length = random() % 4 == 0 ? random() % 80 : random() % 30;
        for (std::size_t k = 0; k < length; ++k)
            command += static_cast<char>(random() % 256);
        // Well-formed commands now and then, so that homing, scans, the stream
        // and events run under the noise.
        switch (random() % 16) {
        case 0:
            command = CommandSerialiser::SVSFFS(random() % 20 + 1, random() % 5 + 1);
            break;
        case 1:
            command = "SVHOME";
            break;
        case 2:
            command = CommandSerialiser::SVRRBE({{0, 4366}});
            break;
        case 3:
            command = CommandSerialiser::SVECCF(random() % 4, codes[random() % 12]);
            break;
        case 4:
            command = CommandSerialiser::SVEENB(random() % 4, random() % 4, random() % 2);
            break;
        default:
            break;
        }
        t += (random() % 20) / 1000.0;
        Exchange e = send(d, command, t, random() % 2 ? kController : kManager);
        replies += e.of(OutKind::Reply).size();
        ASSERT_LE(e.of(OutKind::Reply).size(), 2u); // its own and a replaced one
    }
    // Motions still under way answer when they end (homing takes 20 ms; moves
    // can be slow): stop whatever is left.
    Exchange last = send(d, "SVSTOP", t + 1.0);
    replies += last.of(OutKind::Reply).size();
    // A motion replaced by one with the same stem from the same host is never
    // answered: that answer would be taken for the new command's.
    EXPECT_EQ(replies + d.status().repliesWithheld, static_cast<std::size_t>(kCommands) + 1);
}

TEST(Device, ReplacedMotionIsAnsweredAtOnceOrNever) {
    Device d(settings());
    home(d, 0.0);
    // A move within the reply bound waits for its arrival.
    EXPECT_TRUE(send(d, CommandSerialiser::SVSEAA(90.0, 0.0, 90.0), 1.0).out.empty());
    // Replaced by the same host with the same stem: the old one is never answered.
    const auto again = send(d, CommandSerialiser::SVSEAA(-30.0, 0.0, 90.0), 1.2);
    EXPECT_TRUE(again.out.empty());
    EXPECT_EQ(d.status().repliesWithheld, 1u);
    // Replaced by a scan: the host still waiting learns at once that it did not finish.
    const auto scan = send(d, CommandSerialiser::SVSFFS(5.0, 10.0), 1.3);
    ASSERT_EQ(scan.of(OutKind::Reply).size(), 2u);
    EXPECT_EQ(scan.of(OutKind::Reply)[0].bytes, err("SEAA", tavrel::NotReady));
    EXPECT_EQ(scan.of(OutKind::Reply)[1].bytes, "EASFFS");
    // Replaced from another host: its own host hears of it.
    EXPECT_EQ(send(d, "SVSTOP", 1.4).reply(), "EASTOP");
    EXPECT_TRUE(send(d, CommandSerialiser::SVSEAA(0.0, 0.0, 180.0), 2.0).out.empty());
    const auto other = send(d, CommandSerialiser::SVSEAA(10.0, 0.0, 180.0), 2.1, kOtherHost);
    ASSERT_EQ(other.of(OutKind::Reply).size(), 1u);
    EXPECT_EQ(other.of(OutKind::Reply)[0].to, kController);
    EXPECT_EQ(other.of(OutKind::Reply)[0].bytes, err("SEAA", tavrel::NotReady));
}

TEST(Device, LongMotionsAnswerAtOnceUnlessAnsweringOnArrival) {
    for (bool onArrival : {false, true}) {
        DeviceSettings s = settings(LIDAR_LX30, 3000);
        s.answerMotionsOnArrival = onArrival;
        Device d(s);
        const auto homing = send(d, "SVHOME", 0.0);
        EXPECT_EQ(homing.out.empty(), onArrival);
        EXPECT_EQ(send(d, CommandSerialiser::SVSFFS(5.0, 10.0), 1.0).reply(),
                  err("SFFS", tavrel::NotReady));
        EXPECT_EQ(runTo(d, 3.1).of(OutKind::Reply).size(), onArrival ? 1u : 0u);
        EXPECT_TRUE(d.status().homed);
        // 179 degrees at 50 per second.
        const auto move = send(d, CommandSerialiser::SVSEAA(179.0, 0.0, 50.0), 4.0);
        EXPECT_EQ(move.out.empty(), onArrival);
        EXPECT_EQ(d.status().motion, "moving");
        EXPECT_EQ(runTo(d, 7.5).of(OutKind::Reply).size(), 0u);
        EXPECT_EQ(runTo(d, 8.0).of(OutKind::Reply).size(), onArrival ? 1u : 0u);
        EXPECT_EQ(d.status().motion, "idle");
        EXPECT_NEAR(d.status().azimuth, 179.0, 1e-6);
    }
}

TEST(Device, StabilisationHoldsItsTargetAndReportsRollAndError) {
    Device d(settings());
    EXPECT_EQ(send(d, "SVSRUN", 0.0).reply(), err("SRUN", tavrel::NotHomed));
    home(d, 0.0);
    EXPECT_EQ(send(d, CommandSerialiser::SVSSSP(0.0), 1.0).reply(),
              err("SSSP", tavrel::ArgumentOutOfRange));
    EXPECT_EQ(send(d, CommandSerialiser::SVSSSP(20.0), 1.0).reply(), "EASSSP");
    EXPECT_EQ(send(d, CommandSerialiser::SVSSTG(40.0, 10.0, 25.0), 1.0).reply(), "EASSTG");
    EXPECT_EQ(send(d, "SVSRUN", 1.0).reply(), "EASRUN");
    EXPECT_EQ(d.status().motion, "stabilising");
    EXPECT_EQ(send(d, CommandSerialiser::SVSEAA(0.0, 0.0, 90.0), 1.0).reply(),
              err("SEAA", tavrel::BusyStabilising));

    const auto errorNow = [&](double t, double& e1, double& e2) {
        const std::string r = send(d, "SVSGER", t).reply();
        ASSERT_EQ(r.size(), 14u);
        std::string payload = r.substr(6);
        auto it = payload.begin();
        e1 = tavrel::UnpackAngle(it);
        e2 = tavrel::UnpackAngle(it);
    };
    const auto rollNow = [&](double t) {
        std::string payload = send(d, "SVSGRL", t).reply().substr(6);
        auto it = payload.begin();
        return tavrel::UnpackAngle(it);
    };
    // Turning at 20 degrees per second: half way after about a second.
    double e1 = 0.0, e2 = 0.0;
    errorNow(2.0, e1, e2);
    EXPECT_GT(e1, 15.0);
    EXPECT_LT(e1, 25.0);
    EXPECT_GT(e2, 0.0);
    const double turning = rollNow(2.0);
    // Arrived: a small residual error, the roll only the sway.
    errorNow(5.0, e1, e2);
    EXPECT_LT(std::fabs(e1), 0.05);
    EXPECT_LT(std::fabs(e2), 0.05);
    EXPECT_NEAR(d.status().azimuth, 40.0, 1e-6);
    EXPECT_NEAR(d.status().elevation, 10.0, 1e-6);
    const double holding = rollNow(5.0);
    EXPECT_LT(std::fabs(holding), 0.21);
    EXPECT_GT(turning - holding, 0.1);
    // A new target while stabilising is turned to at once.
    send(d, CommandSerialiser::SVSSTG(-20.0, 0.0, 25.0), 6.0);
    runTo(d, 10.0);
    EXPECT_NEAR(d.status().azimuth, -20.0, 1e-6);
    EXPECT_EQ(send(d, "SVSSTP", 10.0).reply(), "EASSTP");
    EXPECT_EQ(d.status().motion, "idle");
    errorNow(10.0, e1, e2);
    EXPECT_EQ(e1, 0.0);
}

TEST(Device, NotificationsGoToEveryChannelThatConfiguredEvents) {
    Device d(settings());
    home(d, 0.0);
    send(d, CommandSerialiser::SVECCF(1, "SVIIOT\x01"), 1.0, kManager);
    send(d, CommandSerialiser::SVEENB(1, kEventFrameStart, true), 1.0, kOtherHost);
    const auto start = send(d, CommandSerialiser::SVSFFS(10.0, 1.0), 2.0);
    const auto notes = start.of(OutKind::Notification);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].to, kManager);
    EXPECT_EQ(notes[1].to, kOtherHost);
    EXPECT_EQ(notes[0].bytes, notes[1].bytes);
    EXPECT_EQ(d.status().eventChannels.size(), 2u);
}
