#include "Capture.h"

#include "Failure.h"
#include "Interrupt.h"
#include "McapOutput.h"
#include "ObservationPoint.h"
#include "ProgressLine.h"
#include "Report.h"

#include "Sentova/ScanFrames.h"
#include "Sentova/SentovaGrabber.h"
#include "SentovaPcap/FrameCollector.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;
using WholeFrames = sentova::pcap::FrameCollector<std::deque<DataPoint>>;

std::uint64_t systemNanos() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::system_clock::now().time_since_epoch())
                                          .count());
}

// Receives the observations on the listener's thread. With a frame count it keeps only whole
// scan frames: the open frame's points wait aside until the frame closes. For one frame that
// the device's events start and stop it keeps the first frame only: the stop runs a little
// after the raster has started over.
class Receiver : public tavrel::SentovaLaserDataCallbackClass {
public:
    Receiver(LIDAR_TYPE model, bool highSpeed, std::optional<std::uint64_t> limit,
             std::optional<std::uint64_t> frames, bool firstFrameOnly)
        : m_model(model), m_highSpeed(highSpeed), m_limit(limit), m_frames(frames),
          m_firstFrameOnly(firstFrameOnly) {}

    // The listener whose drop counts mark frames that lost data; set before it starts.
    void countDropsOf(const tavrel::SentovaGrabber* listener) { m_listener = listener; }
    // Notes where each scan frame begins among the points kept, for a file with a message per
    // frame; set before the listener starts.
    void markFrames() { m_markFrames = true; }

    void LaserDataCallback(std::vector<tavrel::tavrel_rbe_obs_t> observations,
                           unsigned int) override {
        const Clock::rep now = Clock::now().time_since_epoch().count();
        m_lastArrival = now;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_frames) {
            keepWholeFrames(observations, now);
            return;
        }
        if (m_firstFrameOnly) {
            keepFirstFrame(observations, now);
            return;
        }
        if (m_markFrames) {
            keepMarked(observations, now);
            return;
        }
        for (const tavrel::tavrel_rbe_obs_t& o : observations) {
            if (m_limit && m_points.size() >= *m_limit) {
                break;
            }
            m_points.push_back(formats::toDataPoint(o, m_model, m_highSpeed));
        }
        m_count = m_points.size();
    }

    std::uint64_t count() const { return m_count; }
    std::uint64_t wholeFrames() const { return m_wholeFrames; }
    Clock::time_point lastArrival() const {
        return Clock::time_point(Clock::duration(m_lastArrival.load()));
    }
    bool anyArrived() const { return m_lastArrival.load() != 0; }

    std::deque<DataPoint> take() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::move(m_points);
    }
    // Where the frames begin among the points, with markFrames.
    std::vector<FrameSpan> takeFrames() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::move(m_marks);
    }

private:
    // Called with m_mutex held: the batch's pieces, frame by frame.
    void split(const std::vector<tavrel::tavrel_rbe_obs_t>& observations, Clock::rep now) {
        std::uint64_t drops = 0;
        if (m_listener) {
            const tavrel::stream_statistics_t stats = m_listener->GetStatistics();
            drops = stats.kernelDrops + stats.queueDrops;
        }
        const auto micros =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::duration(now)).count();
        m_splitter.AddBatch(observations.data(), observations.size(),
                            static_cast<std::uint64_t>(micros), drops, &m_pieces);
    }

    // Called with m_mutex held: the points up to the limit, a mark where each frame begins.
    void keepMarked(const std::vector<tavrel::tavrel_rbe_obs_t>& observations, Clock::rep now) {
        split(observations, now);
        const std::uint64_t arrival = systemNanos();
        for (const tavrel::scan_frame_piece_t& piece : m_pieces) {
            for (std::size_t i = piece.begin; i < piece.begin + piece.count; ++i) {
                if (m_limit && m_points.size() >= *m_limit) {
                    break;
                }
                if (m_marks.empty() || piece.frame != m_openIndex) {
                    m_marks.push_back({m_points.size(), arrival});
                    m_openIndex = piece.frame;
                }
                m_marks.back().timeNanos = arrival;
                m_points.push_back(formats::toDataPoint(observations[i], m_model, m_highSpeed));
            }
        }
        m_count = m_points.size();
    }

    // Called with m_mutex held.
    void keepFirstFrame(const std::vector<tavrel::tavrel_rbe_obs_t>& observations, Clock::rep now) {
        split(observations, now);
        for (const tavrel::scan_frame_piece_t& piece : m_pieces) {
            if (piece.frame != 0) {
                break;
            }
            if (m_marks.empty()) {
                m_marks.push_back({0, 0});
            }
            m_marks.back().timeNanos = systemNanos();
            for (std::size_t i = piece.begin; i < piece.begin + piece.count; ++i) {
                m_points.push_back(formats::toDataPoint(observations[i], m_model, m_highSpeed));
            }
        }
        m_count = m_points.size();
    }

    // Called with m_mutex held: the frames that close whole, until there are enough.
    void keepWholeFrames(const std::vector<tavrel::tavrel_rbe_obs_t>& observations,
                         Clock::rep now) {
        if (m_wholeFrames >= *m_frames) {
            return;
        }
        split(observations, now);
        m_open.add(
            observations.data(), m_pieces,
            [this](const tavrel::tavrel_rbe_obs_t& o) {
                return formats::toDataPoint(o, m_model, m_highSpeed);
            },
            systemNanos());
        for (const WholeFrames::Frame& f : m_open.close(m_splitter.TakeClosed())) {
            if (f.info.complete() && m_wholeFrames < *m_frames) {
                m_marks.push_back({m_points.size(), f.lastWhen});
                m_points.insert(m_points.end(), f.points.begin(), f.points.end());
                ++m_wholeFrames;
                m_count = m_points.size();
            }
        }
    }

    const LIDAR_TYPE m_model;
    const bool m_highSpeed;
    const std::optional<std::uint64_t> m_limit;
    const std::optional<std::uint64_t> m_frames;
    const bool m_firstFrameOnly;
    const tavrel::SentovaGrabber* m_listener = nullptr;
    std::mutex m_mutex; // guards m_points and the frame state below
    std::deque<DataPoint> m_points;
    tavrel::ScanFrameSplitter m_splitter;
    std::vector<tavrel::scan_frame_piece_t> m_pieces;
    std::uint64_t m_openIndex = 0;
    // The points of the frames not yet closed, timed by the system clock (ns).
    WholeFrames m_open;
    bool m_markFrames = false;
    std::vector<FrameSpan> m_marks;
    std::atomic<std::uint64_t> m_count{0};
    std::atomic<std::uint64_t> m_wholeFrames{0};
    std::atomic<Clock::rep> m_lastArrival{0};
};

// Notes the end of the frame: the device reports event 1 when it runs the stop buffers.
class FrameEnd : public tavrel::SentovaEventCallbackClass {
public:
    void EventCallback(unsigned int kind, unsigned int event, char*) override {
        if (kind == 0 && event == 1) {
            m_ended = true;
        }
    }
    bool ended() const { return m_ended; }

private:
    std::atomic<bool> m_ended{false};
};

} // namespace

int runCapture(CaptureOptions o) {
    ProgressLine line(errorOutputStyle(o.quiet));
    checkWritable(o.output);

    Device device(o.address);
    const auto commandRefused = [&device] { return device.session().refusedOnCommandChannels(); };
    const LIDAR_TYPE model = device.model(o.model);
    o.laser.model = model;
    checkOptionsFor(o.laser, model);
    const formats::FieldSelection fields =
        o.fields ? *o.fields : formats::forModel(formats::FieldSelection{}, model);
    const auto port = static_cast<unsigned short>(o.port);

    Receiver receiver(model, model == LIDAR_LX20 && o.laser.highSpeed, o.points, o.frames, o.frame);
    const tavrel::SentovaGrabber& listener = device.session().prepareListener();
    receiver.countDropsOf(&listener);
    if (o.output.mcap) {
        receiver.markFrames();
    }
    // The receiver outlives the listening, whichever way this ends.
    const ListeningGuard listening(device.session());
    if (!device.session().listen(port, &receiver)) {
        failed("cannot listen for laser data on UDP port " + std::to_string(o.port));
    }

    InterruptGuard interrupts;
    FrameEnd frameEnd;
    bool scanStarted = false;
    bool laserStarted = false;
    // Stops what was started, whatever happened; the first failure is reported after the file
    // is written.
    std::string stopFailure;
    auto stopDevice = [&] {
        auto attempt = [&](auto&& action) {
            try {
                action();
            } catch (const Failure& f) {
                if (stopFailure.empty()) {
                    stopFailure = f.what();
                }
            }
        };
        if (laserStarted || o.frame) {
            attempt([&] { device.stopLaser(); });
        }
        if (scanStarted) {
            attempt([&] { device.check(device.control().Stop(), "Stop"); });
        }
        if (o.frame && !frameEnd.ended()) {
            attempt([&] { device.resetEvents(); }); // the stop buffers are still armed
        }
    };

    const Clock::time_point start = Clock::now();
    try {
        if (o.frame) {
            device.events().RegisterEventCallback(1, &frameEnd);
            device.armFrame(o.laser, port);
            device.startScan(o.scan.value_or(ScanSettings{}));
            scanStarted = true;
        } else {
            if (o.scan) {
                device.events().ResetEvents();
                device.startScan(*o.scan);
                scanStarted = true;
            }
            device.startLaser(o.laser, port);
            laserStarted = true;
        }
    } catch (const Failure&) {
        stopDevice();
        device.session().stopListening();
        device.events().ResetEventCallbacks();
        throw;
    }

    // Once the frame has ended, the last datagrams are still on their way: wait for a quiet spell.
    constexpr auto kQuiet = std::chrono::milliseconds(300);
    Clock::time_point frameEndSeen{};
    Clock::time_point nextReport = start;
    std::uint64_t reportedPoints = 0;
    Clock::time_point reportedAt = start;
    double rate = 0.0;
    for (;;) {
        const Clock::time_point now = Clock::now();
        const double elapsed = std::chrono::duration<double>(now - start).count();
        if (InterruptGuard::interrupted()) {
            break;
        }
        if (o.points && receiver.count() >= *o.points) {
            break;
        }
        if (o.frames && receiver.wholeFrames() >= *o.frames) {
            break;
        }
        if (o.seconds && elapsed >= *o.seconds) {
            break;
        }
        if (o.frame && frameEnd.ended()) {
            if (frameEndSeen == Clock::time_point{}) {
                frameEndSeen = now;
            }
            const Clock::time_point last = std::max(receiver.lastArrival(), frameEndSeen);
            if (now - last >= kQuiet) {
                break;
            }
        }
        if (line.style() != ProgressStyle::Silent && now >= nextReport) {
            const std::uint64_t n = receiver.count();
            const double interval = std::chrono::duration<double>(now - reportedAt).count();
            if (interval > 0.5) {
                rate = static_cast<double>(n - reportedPoints) / interval;
                reportedPoints = n;
                reportedAt = now;
            }
            const tavrel::stream_statistics_t stats = listener.GetStatistics();
            CaptureProgress p;
            p.points = n;
            p.seconds = elapsed;
            p.rate = rate;
            p.missing = stats.pointsMissing;
            p.kernelDrops = stats.kernelDrops;
            p.refused = stats.refusedSender + stats.refusedHeader;
            p.commandRefused = commandRefused();
            line.figure(progressLine(p));
            nextReport = now + std::chrono::milliseconds(250);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    line.end();

    stopDevice();
    const tavrel::stream_statistics_t stats = listener.GetStatistics();
    device.session().stopListening();
    device.events().ResetEventCallbacks();

    const std::deque<DataPoint> points = receiver.take();
    if (o.output.mcap) {
        writeFramesMcap(o.output.path, points, receiver.takeFrames(), o.output.mcapOptions);
    } else {
        writePoints(o.output, points, fields, line);
    }
    if (!o.quiet) {
        std::string losses;
        if (stats.pointsMissing != 0 || stats.kernelDrops != 0 || stats.queueDrops != 0) {
            losses = ", about " + std::to_string(stats.pointsMissing) +
                     " points missing from the stream, " + std::to_string(stats.kernelDrops) +
                     " datagrams dropped by the system";
            if (stats.queueDrops != 0) {
                losses += ", " + std::to_string(stats.queueDrops) +
                          " dropped by the listener's full queue";
            }
        }
        if (const std::uint64_t strangers = commandRefused()) {
            losses += ", " + std::to_string(strangers) +
                      " datagrams from other hosts refused on the command channels";
        }
        std::fprintf(stderr, "%zu points written to %s%s%s\n", points.size(), o.output.path.c_str(),
                     InterruptGuard::interrupted() ? " (interrupted)" : "", losses.c_str());
    }
    if (!stopFailure.empty()) {
        failed(stopFailure);
    }
    return kSuccess;
}

} // namespace cli
