#include "Serve.h"

#include "Failure.h"
#include "Interrupt.h"
#include "McapOutput.h"
#include "ObservationPoint.h"

#include "Sentova/ScanFrames.h"
#include "Sentova/SentovaGrabber.h"
#include "SentovaFoxglove/LiveServer.h"
#include "SentovaMcap/Foxglove.h"
#include "SentovaMcap/ScanFile.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;
using sentova::foxglove::LiveServer;

constexpr std::uint32_t kPointsChannel = 1;
constexpr std::uint32_t kLogChannel = 2;
// Without scan frames, the points of this long go out as one message.
constexpr auto kBatchInterval = std::chrono::milliseconds(100);
// Messages made but not yet published; more wait only while the main thread is held up.
constexpr std::size_t kReadyLimit = 4;

std::uint64_t systemMicros() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::system_clock::now().time_since_epoch())
                                          .count());
}

struct Ready {
    std::deque<DataPoint> points;
    std::uint64_t timeNanos = 0; // when the last of them arrived
};

// Gathers the points on the listener's thread into messages: a scan frame each, or with frames
// off whatever came until the main thread flushes. A frame above the size of one message is
// sent in several, as the files split it.
class PointFeed : public tavrel::SentovaLaserDataCallbackClass {
public:
    PointFeed(LIDAR_TYPE model, bool highSpeed, bool frames, const tavrel::SentovaGrabber& listener)
        : m_model(model), m_highSpeed(highSpeed), m_frames(frames), m_listener(listener) {}

    void LaserDataCallback(std::vector<tavrel::tavrel_rbe_obs_t> observations,
                           unsigned int) override {
        const std::uint64_t now = systemMicros();
        const tavrel::stream_statistics_t stats = m_listener.GetStatistics();
        bool handed = false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_points += observations.size();
            if (!m_frames) {
                m_pieces.assign(1, {m_openFrame, 0, observations.size()});
            } else {
                m_splitter.AddBatch(observations.data(), observations.size(), now,
                                    stats.kernelDrops + stats.queueDrops, &m_pieces);
                m_splitter.TakeClosed();
            }
            for (const tavrel::scan_frame_piece_t& piece : m_pieces) {
                if (piece.frame != m_openFrame) {
                    handed = handOver() || handed;
                    m_openFrame = piece.frame;
                }
                for (std::size_t i = piece.begin; i < piece.begin + piece.count; ++i) {
                    if (m_open.size() >= sentova::mcap::kMaxPointsPerMessage) {
                        handed = handOver() || handed;
                    }
                    m_open.push_back(formats::toDataPoint(observations[i], m_model, m_highSpeed));
                }
                m_openArrival = now;
            }
        }
        if (handed) {
            m_ready.notify_one();
        }
    }

    // The next message's points, waiting until the deadline for one.
    std::optional<Ready> next(Clock::time_point deadline) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_ready.wait_until(lock, deadline, [this] { return !m_queue.empty(); });
        if (m_queue.empty()) {
            return std::nullopt;
        }
        Ready r = std::move(m_queue.front());
        m_queue.pop_front();
        return r;
    }

    // Ends the message gathering now (the points of an interval, with frames off).
    void flush() {
        std::lock_guard<std::mutex> lock(m_mutex);
        handOver();
    }

    std::uint64_t points() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_points;
    }
    // Points lost because the main thread had not taken the messages before them.
    std::uint64_t dropped() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_dropped;
    }

private:
    // Called with m_mutex held. True when a message was queued.
    bool handOver() {
        if (m_open.empty()) {
            return false;
        }
        bool queued = false;
        if (m_queue.size() < kReadyLimit) {
            m_queue.push_back({std::move(m_open), m_openArrival * 1000});
            queued = true;
        } else {
            m_dropped += m_open.size();
        }
        m_open.clear();
        return queued;
    }

    const LIDAR_TYPE m_model;
    const bool m_highSpeed;
    const bool m_frames;
    const tavrel::SentovaGrabber& m_listener;
    mutable std::mutex m_mutex; // guards everything below
    std::condition_variable m_ready;
    tavrel::ScanFrameSplitter m_splitter;
    std::vector<tavrel::scan_frame_piece_t> m_pieces;
    std::uint64_t m_openFrame = 0;
    std::deque<DataPoint> m_open;
    std::uint64_t m_openArrival = 0;
    std::deque<Ready> m_queue;
    std::uint64_t m_points = 0;
    std::uint64_t m_dropped = 0;
};

// The commands, replies and notifications as lines on the log channel.
class LogFeed : public tavrel::SentovaTrafficCallbackClass {
public:
    explicit LogFeed(LiveServer& server) : m_server(server) {}

    void TrafficCallback(const tavrel::traffic_datagram_t& d) override {
        if (!m_server.subscribed(kLogChannel)) {
            return;
        }
        const bool toDevice = d.destinationPort == tavrel::protocol::kCommandPort;
        const std::string bytes(d.data, d.size);
        const std::uint64_t nanos = d.timeMicros * 1000;
        m_server.publish(
            kLogChannel, nanos,
            std::make_shared<const std::string>(sentova::mcap::logMessage(
                nanos, trafficLevel(bytes, toDevice), trafficText(bytes, toDevice), "sentova")));
    }

private:
    LiveServer& m_server;
};

std::vector<sentova::foxglove::Channel> channels() {
    return {{kPointsChannel, sentova::mcap::kPointsTopic, "json", "foxglove.PointCloud",
             sentova::mcap::pointCloudSchema(), "jsonschema"},
            {kLogChannel, sentova::mcap::kLogTopic, "json", "foxglove.Log",
             sentova::mcap::logSchema(), "jsonschema"}};
}

std::string clientsLine(const LiveServer& server) {
    std::string line;
    std::size_t connected = 0;
    for (const sentova::foxglove::ClientCounts& c : server.clients()) {
        connected += c.connected ? 1 : 0;
        line += "; #" + std::to_string(c.number) + " " + c.peer + " sent " +
                std::to_string(c.sent) + " dropped " + std::to_string(c.dropped) +
                (c.connected ? "" : " (gone)");
    }
    std::string behind;
    if (const std::uint64_t n = server.publishDrops()) {
        behind = " (" + std::to_string(n) + " messages dropped by the server's network thread)";
    }
    return std::to_string(connected) + " clients connected" + behind + line;
}

} // namespace

int runServe(ServeOptions o) {
    sentova::foxglove::ServerOptions serverOptions;
    serverOptions.address = o.listen;
    serverOptions.port = static_cast<unsigned short>(o.wsPort);
    serverOptions.channels = channels();
    std::unique_ptr<LiveServer> server;
    try {
        server = std::make_unique<LiveServer>(serverOptions);
    } catch (const sentova::foxglove::ListenError& e) {
        failed(e.what());
    }

    Device device(o.address);
    const LIDAR_TYPE model = device.model(o.model);
    o.laser.model = model;
    checkOptionsFor(o.laser, model);
    const auto port = static_cast<unsigned short>(o.port);
    sentova::session::DeviceSession& session = device.session();

    const auto log = std::make_shared<LogFeed>(*server);
    for (auto channel : {sentova::session::Channel::Control, sentova::session::Channel::Events})
        session.traffic(channel).add(log);
    const tavrel::SentovaGrabber& listener = session.prepareListener();
    PointFeed feed(model, model == LIDAR_LX20 && o.laser.highSpeed, o.scan.has_value(), listener);
    const ListeningGuard listening(session);
    if (!session.listen(port, &feed)) {
        failed("cannot listen for laser data on UDP port " + std::to_string(o.port));
    }

    InterruptGuard interrupts;
    const auto stopDevice = [&] {
        std::string failure;
        for (const auto& stop : session.stopWhatWasStarted()) {
            if (stop.result != tavrel::NoError && failure.empty()) {
                failure = stop.what + ": " + tavrel::Sentova::GetErrorString(stop.result);
            }
        }
        session.stopListening();
        for (auto channel : {sentova::session::Channel::Control, sentova::session::Channel::Events})
            session.traffic(channel).remove(log);
        return failure;
    };
    try {
        if (o.scan) {
            device.events().ResetEvents();
            device.startScan(*o.scan);
        }
        device.startLaser(o.laser, port);
    } catch (const Failure&) {
        stopDevice();
        throw;
    }

    std::printf("Serving ws://%s:%u (%s) from the device at %s; Ctrl-C stops\n", o.listen.c_str(),
                static_cast<unsigned>(server->port()), sentova::foxglove::kSubprotocol,
                o.address.c_str());
    std::fflush(stdout);

    Clock::time_point nextFlush = Clock::now() + kBatchInterval;
    Clock::time_point nextStats = Clock::now() + std::chrono::seconds(1);
    std::uint64_t messages = 0;
    while (!InterruptGuard::interrupted()) {
        // Interrupts are seen within this.
        Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(50);
        if (!o.scan) {
            deadline = std::min(deadline, nextFlush);
        }
        if (std::optional<Ready> ready = feed.next(deadline)) {
            if (server->subscribed(kPointsChannel)) {
                server->publish(
                    kPointsChannel, ready->timeNanos,
                    std::make_shared<const std::string>(sentova::mcap::pointCloudMessage(
                        ready->points, 0, ready->points.size(), ready->timeNanos,
                        sentova::mcap::kFrameId)));
            }
            ++messages;
        }
        const Clock::time_point now = Clock::now();
        if (!o.scan && now >= nextFlush) {
            feed.flush();
            nextFlush = std::max(nextFlush + kBatchInterval, now);
        }
        if (o.stats && now >= nextStats) {
            const tavrel::stream_statistics_t s = listener.GetStatistics();
            std::fprintf(stderr,
                         "%llu points, %llu messages, %llu points missing from the stream, "
                         "%llu dropped before sending; %s\n",
                         static_cast<unsigned long long>(feed.points()),
                         static_cast<unsigned long long>(messages),
                         static_cast<unsigned long long>(s.pointsMissing),
                         static_cast<unsigned long long>(feed.dropped()),
                         clientsLine(*server).c_str());
            nextStats = now + std::chrono::seconds(1);
        }
    }

    const std::string failure = stopDevice();
    // The clients see the stop in the log before the connections end.
    server->flush(std::chrono::milliseconds(500));
    std::fprintf(stderr, "served %llu messages of %llu points; %s\n",
                 static_cast<unsigned long long>(messages),
                 static_cast<unsigned long long>(feed.points()), clientsLine(*server).c_str());
    if (!failure.empty()) {
        failed(failure);
    }
    return kSuccess;
}

} // namespace cli
