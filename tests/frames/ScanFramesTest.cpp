// Scan frames cut out of simulator sessions: the device's own raster and its
// frame notifications, driven on a chosen clock.
#include "Device.h"

#include "Sentova/CommandSerialiser.h"
#include "Sentova/LaserPacket.h"
#include "Sentova/ScanFrames.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace sentova::sim;
using tavrel::CommandSerialiser;
using tavrel::scan_frame_t;

namespace {

const Endpoint kController{0x7F000001, 40001};
const Endpoint kManager{0x7F000001, 40002};

// What a program sees of the device: its laser datagrams and notifications in
// arrival order, arrival on the device clock in microseconds.
struct Arrival {
    bool laser = false;
    std::uint64_t micros = 0;
    std::string bytes;
};

// The datagram's records with their exact values, as a program hands them on.
std::vector<tavrel::tavrel_rbe_obs_t> observations(const std::string& bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const tavrel::LaserPacketLayout layout = tavrel::examineLaserPacket(data, bytes.size());
    std::vector<tavrel::tavrel_rbe_obs_t> out;
    for (std::size_t i = 0; !layout.discarded && i < layout.records; ++i) {
        const tavrel::LaserRecord r =
            tavrel::decodeData(bytes.data() + layout.headerSize + i * tavrel::kLaserRecordSize);
        out.push_back({r.azimuth, r.elevation, double(r.range), r.timestamp, double(r.amplitude),
                       double(r.reflectance), double(r.pulseShapeDeviation)});
    }
    return out;
}

struct SessionSettings {
    bool notifications = false;
    double startAt = 1.0;    // seconds of device time at which laser and scan start
    std::string scanCommand; // empty: laser only
    double seconds = 2.0;    // of streaming
    LineOrder order = LineOrder::BottomFirst;
};

std::vector<Arrival> runSession(const SessionSettings& s) {
    DeviceSettings settings;
    settings.homeTimeMs = 100;
    settings.scanner.noise.enabled = false;
    settings.scanLineOrder = s.order;
    Device d(settings);
    std::vector<Outgoing> out;
    d.receive("SVHOME", kController, 0.0, out);
    d.advance(0.2, out);
    if (s.notifications) {
        // Harmless buffered commands, so that both frame events fire and notify.
        d.receive(CommandSerialiser::SVECCF(128, "SVGEAA"), kManager, 0.3, out);
        d.receive(CommandSerialiser::SVEENB(128, tavrel::kFrameStartEvent, true), kManager, 0.3,
                  out);
        d.receive(CommandSerialiser::SVEENB(128, tavrel::kFrameEndEvent, true), kManager, 0.3, out);
    }
    out.clear();
    d.advance(s.startAt, out);
    d.receive(CommandSerialiser::SVRRBE({{1, 0}, {2, 0}, {0, 4366}}), kManager, s.startAt, out);
    if (!s.scanCommand.empty())
        d.receive(s.scanCommand, kController, s.startAt, out);
    std::vector<Arrival> arrivals;
    const auto collect = [&](double now) {
        for (const Outgoing& o : out) {
            const std::uint64_t micros = static_cast<std::uint64_t>(std::llround(now * 1e6));
            if (o.kind == OutKind::LaserData)
                arrivals.push_back({true, micros, o.bytes});
            else if (o.kind == OutKind::Notification && o.bytes.compare(0, 6, "EBAACK") == 0)
                arrivals.push_back({false, micros, o.bytes});
        }
        out.clear();
    };
    collect(s.startAt);
    for (double t = s.startAt + 0.001; t < s.startAt + s.seconds; t += 0.001) {
        d.advance(t, out);
        collect(t);
    }
    return arrivals;
}

struct Split {
    std::vector<scan_frame_t> frames;
    std::vector<std::uint64_t> piecePoints; // points handed out per frame index
    std::vector<double> firstElevation;     // of each frame's first observation
};

// Feeds the arrivals to a splitter; skip decides which laser datagrams are lost
// (counted as drops, as the listener counts them).
Split split(const std::vector<Arrival>& arrivals, tavrel::scan_frame_options_t options = {},
            const std::function<bool(std::size_t)>& skip = {}) {
    tavrel::ScanFrameSplitter splitter(options);
    Split result;
    std::uint64_t drops = 0;
    std::size_t datagram = 0;
    std::vector<tavrel::scan_frame_piece_t> pieces;
    for (const Arrival& a : arrivals) {
        if (!a.laser) {
            splitter.AddEvent(static_cast<unsigned char>(a.bytes[6]), a.micros);
            continue;
        }
        if (skip && skip(datagram++)) {
            ++drops;
            continue;
        }
        const auto obs = observations(a.bytes);
        splitter.AddBatch(obs.data(), obs.size(), a.micros, options.timestampGaps ? 0 : drops,
                          &pieces);
        std::size_t next = 0;
        for (const auto& p : pieces) {
            EXPECT_EQ(p.begin, next);
            next += p.count;
            if (result.piecePoints.size() <= p.frame) {
                result.piecePoints.resize(p.frame + 1);
                result.firstElevation.resize(p.frame + 1, obs[p.begin].elevation);
            }
            result.piecePoints[p.frame] += p.count;
        }
        EXPECT_EQ(next, obs.size());
    }
    splitter.Finish();
    result.frames = splitter.TakeClosed();
    return result;
}

constexpr double kFrameSeconds = 0.5; // 5 lines at 10 turns per second
constexpr double kPointRate = 25000.0;
// The simulated room's open door leaves runs of measurements without a return
// that a recording cannot tell from lost datagrams; these lines pass below it.
const std::string kBelowTheDoor = CommandSerialiser::SVSBES(10.0, -35.0, -25.0, 5.0);

void expectWholeFrame(const scan_frame_t& f) {
    SCOPED_TRACE("frame " + std::to_string(f.index));
    EXPECT_TRUE(f.startSeen);
    EXPECT_TRUE(f.endSeen);
    EXPECT_FALSE(f.dropInside);
    EXPECT_NEAR(f.durationMicros(), kFrameSeconds * 1e6, 2000.0);
    EXPECT_NEAR(double(f.points), kFrameSeconds * kPointRate, 0.02 * kFrameSeconds * kPointRate);
}

void expectConsistent(const Split& s) {
    ASSERT_EQ(s.piecePoints.size(), s.frames.size());
    for (std::size_t i = 0; i < s.frames.size(); ++i) {
        EXPECT_EQ(s.frames[i].index, i);
        EXPECT_EQ(s.frames[i].points, s.piecePoints[i]);
    }
}

} // namespace

TEST(ScanFrames, FullFieldScanWithoutNotificationsCutsWhereTheRasterStartsOver) {
    SessionSettings s;
    s.scanCommand = CommandSerialiser::SVSFFS(10.0, 5.0);
    s.seconds = 2.2;
    const Split got = split(runSession(s));
    expectConsistent(got);
    // Four restarts in 2.2 s: the first frame's start and the last one's end
    // are not seen in the data alone.
    ASSERT_EQ(got.frames.size(), 5u);
    EXPECT_TRUE(got.frames[0].endSeen);
    EXPECT_FALSE(got.frames[0].complete());
    for (std::size_t i = 1; i < 4; ++i)
        expectWholeFrame(got.frames[i]);
    EXPECT_TRUE(got.frames[4].startSeen);
    EXPECT_FALSE(got.frames[4].endSeen);
    for (std::size_t i = 1; i < got.frames.size(); ++i)
        EXPECT_EQ(static_cast<std::uint32_t>(got.frames[i].firstTimestamp -
                                             got.frames[i - 1].lastTimestamp),
                  40u); // the next measurement: nothing lost between frames
}

TEST(ScanFrames, NotificationsConfirmTheFirstStartAndTheLastEnd) {
    SessionSettings s;
    s.notifications = true;
    s.scanCommand = CommandSerialiser::SVSFFS(10.0, 5.0);
    s.seconds = 2.0 + 0.01; // the fourth frame's end notification arrives
    const auto arrivals = runSession(s);
    const Split got = split(arrivals);
    expectConsistent(got);
    ASSERT_GE(got.frames.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i)
        expectWholeFrame(got.frames[i]);
    // Whatever followed the last end is a frame of its own that is not whole.
    for (std::size_t i = 4; i < got.frames.size(); ++i)
        EXPECT_FALSE(got.frames[i].complete());

    // The same cut without the notifications, apart from the first start.
    const Split plain = split([&] {
        std::vector<Arrival> laser;
        for (const Arrival& a : arrivals)
            if (a.laser)
                laser.push_back(a);
        return laser;
    }());
    ASSERT_GE(plain.frames.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(plain.frames[i].firstTimestamp, got.frames[i].firstTimestamp);
        EXPECT_EQ(plain.frames[i].points, got.frames[i].points);
    }
    EXPECT_FALSE(plain.frames[0].startSeen);
}

TEST(ScanFrames, OneFrameCaptureEndedByTheDeviceIsWholeOnlyWithNotifications) {
    // Laser and aperture stop at the frame's end: no restart ever shows.
    DeviceSettings settings;
    settings.homeTimeMs = 100;
    settings.scanner.noise.enabled = false;
    Device d(settings);
    std::vector<Outgoing> out;
    d.receive("SVHOME", kController, 0.0, out);
    d.advance(0.2, out);
    d.receive(
        CommandSerialiser::SVECCF(128, CommandSerialiser::SVRRBE({{1, 0}, {2, 0}, {0, 4366}})),
        kManager, 0.3, out);
    d.receive(CommandSerialiser::SVECCF(129, "SVSRBE"), kManager, 0.3, out);
    d.receive(CommandSerialiser::SVECCF(130, "SVSTOP"), kManager, 0.3, out);
    d.receive(CommandSerialiser::SVEENB(128, 0, false), kManager, 0.3, out);
    d.receive(CommandSerialiser::SVEENB(129, 1, false), kManager, 0.3, out);
    d.receive(CommandSerialiser::SVEENB(130, 1, false), kManager, 0.3, out);
    out.clear();
    d.receive(CommandSerialiser::SVSFFS(10.0, 5.0), kController, 1.0, out);
    tavrel::ScanFrameSplitter withEvents, without;
    for (double t = 1.0; t < 2.0; t += 0.001) {
        d.advance(t, out);
        const std::uint64_t now = static_cast<std::uint64_t>(std::llround(t * 1e6));
        for (const Outgoing& o : out) {
            if (o.kind == OutKind::Notification && o.bytes.compare(0, 6, "EBAACK") == 0) {
                withEvents.AddEvent(static_cast<unsigned char>(o.bytes[6]), now);
            } else if (o.kind == OutKind::LaserData) {
                const auto obs = observations(o.bytes);
                withEvents.AddBatch(obs.data(), obs.size(), now);
                without.AddBatch(obs.data(), obs.size(), now);
            }
        }
        out.clear();
    }
    EXPECT_FALSE(d.status().streaming);
    withEvents.Finish();
    without.Finish();
    const auto framed = withEvents.TakeClosed();
    const auto plain = without.TakeClosed();
    // The device sends the first measurement of the next frame before it stops.
    ASSERT_EQ(framed.size(), 2u);
    expectWholeFrame(framed[0]);
    EXPECT_EQ(framed[1].points, 1u);
    EXPECT_FALSE(framed[1].complete());
    ASSERT_EQ(plain.size(), 2u);
    EXPECT_EQ(plain[0].points, framed[0].points);
    EXPECT_FALSE(plain[0].complete());
}

TEST(ScanFrames, RegionScanAlternatingDirectionKeepsOneFramePerPass) {
    for (const double lines : {2.0, 3.0, 4.0}) {
        SCOPED_TRACE(std::to_string(lines) + " lines");
        SessionSettings s;
        s.notifications = true;
        // 90 degrees of azimuth per line at 10 turns per second: 25 ms a line.
        s.scanCommand = CommandSerialiser::SVSRES(10.0, -45.0, 45.0, -10.0, 10.0, lines);
        s.seconds = 1.0;
        const double frameSeconds = 0.025 * lines;
        const Split got = split(runSession(s));
        expectConsistent(got);
        const std::size_t whole = static_cast<std::size_t>(1.0 / frameSeconds) - 1;
        ASSERT_GE(got.frames.size(), whole);
        for (std::size_t i = 0; i < whole; ++i) {
            SCOPED_TRACE("frame " + std::to_string(i));
            EXPECT_TRUE(got.frames[i].complete());
            EXPECT_NEAR(got.frames[i].durationMicros(), frameSeconds * 1e6, 2000.0);
        }
    }
}

// Below the door every measurement has a return: a whole frame holds every one
// from its first time stamp to its last, and begins on the line the raster
// begins with, whichever end that is.
TEST(ScanFrames, EitherLineOrderCutsTheSimulatorsStreamIntoWholeFrames) {
    struct Scan {
        const char* name;
        std::string command;
        double frameSeconds;
    };
    const Scan scans[] = {
        {"bounded elevation", kBelowTheDoor, kFrameSeconds},
        // Region lines alternate their azimuth direction: 90 degrees, 25 ms a line.
        {"region, 3 lines", CommandSerialiser::SVSRES(10.0, -45.0, 45.0, -35.0, -25.0, 3.0), 0.075},
        {"region, 4 lines", CommandSerialiser::SVSRES(10.0, -45.0, 45.0, -35.0, -25.0, 4.0), 0.1},
    };
    constexpr double kSeconds = 2.01;
    for (const LineOrder order : {LineOrder::BottomFirst, LineOrder::TopFirst}) {
        for (const bool notifications : {false, true}) {
            for (const Scan& scan : scans) {
                SCOPED_TRACE(std::string(scan.name) +
                             (order == LineOrder::TopFirst ? ", top first" : ", bottom first") +
                             (notifications ? ", notified" : ", data only"));
                SessionSettings s;
                s.order = order;
                s.notifications = notifications;
                s.scanCommand = scan.command;
                s.seconds = kSeconds;
                const Split got = split(runSession(s));
                expectConsistent(got);
                // Without notifications the first frame's start is not seen.
                const std::size_t first = notifications ? 0 : 1;
                const std::size_t whole =
                    static_cast<std::size_t>(std::floor(kSeconds / scan.frameSeconds));
                ASSERT_GE(got.frames.size(), whole);
                ASSERT_EQ(got.firstElevation.size(), got.frames.size());
                const double firstLine = order == LineOrder::TopFirst ? -25.0 : -35.0;
                for (std::size_t i = first; i < whole; ++i) {
                    const scan_frame_t& f = got.frames[i];
                    SCOPED_TRACE("frame " + std::to_string(i));
                    EXPECT_TRUE(f.complete());
                    EXPECT_NEAR(f.durationMicros(), scan.frameSeconds * 1e6, 2000.0);
                    EXPECT_EQ(f.points, f.durationMicros() / 40 + 1);
                    // The laser starts just before the scan: the first frame
                    // begins with the aperture still at home.
                    if (i > 0) {
                        EXPECT_NEAR(got.firstElevation[i], firstLine, 1e-6);
                    }
                }
            }
        }
    }
}

TEST(ScanFrames, ADropInsideAFrameMarksItAndNeverJoinsItToTheNext) {
    SessionSettings s;
    s.notifications = true;
    s.scanCommand = kBelowTheDoor;
    s.seconds = 2.01;
    const auto arrivals = runSession(s);
    const Split whole = split(arrivals);
    ASSERT_GE(whole.frames.size(), 4u);
    // A datagram from the middle of the second frame.
    const double wanted = 1.0 + 1.5 * kFrameSeconds;
    std::size_t lost = 0, datagram = 0;
    for (const Arrival& a : arrivals) {
        if (!a.laser)
            continue;
        if (a.micros >= wanted * 1e6) {
            lost = datagram;
            break;
        }
        ++datagram;
    }
    tavrel::scan_frame_options_t recording;
    recording.timestampGaps = true;
    for (const bool fromRecording : {false, true}) {
        SCOPED_TRACE(fromRecording ? "gap in a recording" : "drop counted live");
        const Split got =
            split(arrivals, fromRecording ? recording : tavrel::scan_frame_options_t{},
                  [&](std::size_t i) { return i == lost; });
        expectConsistent(got);
        ASSERT_EQ(got.frames.size(), whole.frames.size());
        EXPECT_TRUE(got.frames[0].complete());
        EXPECT_TRUE(got.frames[1].dropInside);
        EXPECT_FALSE(got.frames[1].complete());
        EXPECT_LT(got.frames[1].points, whole.frames[1].points);
        EXPECT_EQ(got.frames[1].lastTimestamp, whole.frames[1].lastTimestamp);
        EXPECT_EQ(got.frames[2].firstTimestamp, whole.frames[2].firstTimestamp);
        EXPECT_TRUE(got.frames[2].complete());
        EXPECT_EQ(got.frames[2].points, whole.frames[2].points);
    }
    // A recording of a whole session shows no gaps.
    const Split clean = split(arrivals, recording);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_TRUE(clean.frames[i].complete()) << i;
}

TEST(ScanFrames, FramesAcrossTheTimeStampWrapKeepTheirDuration) {
    SessionSettings s;
    s.notifications = true;
    s.scanCommand = kBelowTheDoor;
    s.startAt = 4294.0; // the 32-bit microsecond count wraps at 4294.967296 s
    s.seconds = 2.01;
    tavrel::scan_frame_options_t recording;
    recording.timestampGaps = true;
    const Split got = split(runSession(s), recording);
    expectConsistent(got);
    ASSERT_GE(got.frames.size(), 4u);
    bool wrapped = false;
    for (std::size_t i = 0; i < 4; ++i) {
        expectWholeFrame(got.frames[i]);
        EXPECT_LT(got.frames[i].lastTimestamp, 1ull << 32);
        wrapped = wrapped || got.frames[i].lastTimestamp < got.frames[i].firstTimestamp;
    }
    EXPECT_TRUE(wrapped);
}

TEST(ScanFrames, AStreamThatNeverStartsOverIsOneOpenFrame) {
    SessionSettings laserOnly;
    laserOnly.seconds = 1.0;
    SessionSettings oneLine;
    oneLine.scanCommand = CommandSerialiser::SVSFFS(10.0, 1.0);
    oneLine.seconds = 1.0;
    for (const auto& s : {laserOnly, oneLine}) {
        const Split got = split(runSession(s));
        expectConsistent(got);
        ASSERT_EQ(got.frames.size(), 1u);
        EXPECT_FALSE(got.frames[0].startSeen);
        EXPECT_FALSE(got.frames[0].endSeen);
        EXPECT_GT(double(got.frames[0].points), 0.9 * kPointRate);
    }
}

// The device ends its stream with the frame: with nothing after the end notification, the frame
// closes once the notification's window has passed, not only at the next batch.
TEST(ScanFrames, AnEndNotificationClosesTheFrameOnceItsWindowHasPassed) {
    tavrel::ScanFrameSplitter splitter;
    std::vector<tavrel::tavrel_rbe_obs_t> line(10);
    for (std::size_t i = 0; i < line.size(); ++i) {
        line[i].timestamp = 1000 + 33 * i;
        line[i].elevation = -30.0;
    }
    splitter.AddBatch(line.data(), line.size(), 1000000, 0);
    splitter.AddEvent(tavrel::kFrameEndEvent, 1001000);
    splitter.AdvanceTime(1001000 + tavrel::scan_frame_options_t{}.eventWindowMicros);
    EXPECT_TRUE(splitter.TakeClosed().empty()) << "the data may still overtake it";
    splitter.AdvanceTime(1001001 + tavrel::scan_frame_options_t{}.eventWindowMicros);
    const auto closed = splitter.TakeClosed();
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_TRUE(closed[0].endSeen);
    EXPECT_EQ(closed[0].points, line.size());
    EXPECT_FALSE(splitter.HasOpenFrame());
}

// The data may overtake the start notification of a stream's first frame, as it does one at a
// restart: the notification marks the frame it belongs to and cuts nothing off it.
TEST(ScanFrames, AStartNotificationOvertakenByTheFirstDataMarksThatFrame) {
    for (const bool climbingBeforeIt : {false, true}) {
        SCOPED_TRACE(climbingBeforeIt ? "climbing before it" : "still on the first line");
        tavrel::ScanFrameSplitter splitter;
        std::uint32_t timestamp = 1000;
        const auto batch = [&](double elevation, std::uint64_t arrival) {
            std::vector<tavrel::tavrel_rbe_obs_t> line(10);
            for (auto& o : line) {
                o.timestamp = timestamp += 33;
                o.elevation = elevation;
            }
            splitter.AddBatch(line.data(), line.size(), arrival, 0);
        };
        batch(-30.0, 1000000);
        if (climbingBeforeIt)
            batch(-29.0, 1002000);
        splitter.AddEvent(tavrel::kFrameStartEvent, 1005000);
        batch(-28.0, 1010000);
        batch(-27.0, 1020000);
        splitter.AddEvent(tavrel::kFrameEndEvent, 1021000);
        splitter.AdvanceTime(1021001 + tavrel::scan_frame_options_t{}.eventWindowMicros);
        const auto closed = splitter.TakeClosed();
        ASSERT_EQ(closed.size(), 1u);
        EXPECT_TRUE(closed[0].complete());
        EXPECT_EQ(closed[0].points, climbingBeforeIt ? 40u : 30u);
    }
}
