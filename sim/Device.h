// The simulated device's behaviour, without sockets or threads: commands in,
// datagrams out, on a clock that the caller advances. The Simulator drives it
// from its network thread; tests drive it directly with chosen times.
#pragma once

#include "LaserSource.h"
#include "Motion.h"
#include "Raster.h"
#include "Scanner.h"

#include "Sentova/CommandTable.h"
#include "Sentova/Protocol.h"

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sentova {
namespace sim {

// "LX30", "LX20" or "generic".

// An IPv4 endpoint, address and port in host byte order.
struct Endpoint {
    std::uint32_t address = 0;
    std::uint16_t port = 0;
};
bool operator==(const Endpoint& a, const Endpoint& b);
std::string toString(const Endpoint& e); // "a.b.c.d:port"

// The serial number text a device of this model reports by default: the model
// string, '-', the two firmware digits, '-', a unit number.
std::string defaultSerial(LIDAR_TYPE model, unsigned firmware);

struct DeviceSettings {
    LIDAR_TYPE model = LIDAR_LX30;
    std::string serial = defaultSerial(LIDAR_LX30, 31);
    unsigned homeTimeMs = 400;
    // A motion that arrives within this many milliseconds is answered on
    // arrival; a longer one is answered at once and its end shows in the
    // motion state. Below the library's motion time-out of 2500 ms.
    unsigned motionReplyWithinMs = 2000;
    // A fault: answer every motion on arrival, however long it takes.
    bool answerMotionsOnArrival = false;
    // Where the scans' frames begin: the bottom line, as the device does, or
    // the top line, for programs that must handle either.
    LineOrder scanLineOrder = LineOrder::BottomFirst;
    // The synthetic scanner's noise and scene.
    ScannerSettings scanner;
    // Makes the laser stream's datagrams; null means the synthetic scanner.
    // One device uses it at a time.
    std::shared_ptr<LaserPacketSource> laserSource;
};

enum class OutKind { Reply, Notification, Trigger, LaserData };

struct Outgoing {
    OutKind kind = OutKind::Reply;
    Endpoint to;
    std::string bytes;
    // For replies: the command answered and who sent it (for the command log).
    std::string command;
    Endpoint from;
};

// Event numbers: what makes the device fire an event.
constexpr unsigned kEventFrameStart = tavrel::protocol::kFrameStartEvent;
constexpr unsigned kEventFrameEnd = tavrel::protocol::kFrameEndEvent;
constexpr unsigned kEventTimer = tavrel::protocol::kTimerEvent;
constexpr unsigned kEventIsolatedIO = tavrel::protocol::kIsolatedIOEvent;
constexpr unsigned kEventCount = tavrel::protocol::kEventCount;

constexpr unsigned kFlashPages = 16;
constexpr std::size_t kFlashPageSize = tavrel::kFlashDataMinimum;
constexpr unsigned kMaximumTimerHz = 1000;
constexpr unsigned kMaximumTriggerRecords = 1000;
// Hosts that may receive the laser stream at the same time.
constexpr std::size_t kMaximumStreamTargets = 8;
// Event manager channels that receive the notifications; the oldest goes.
constexpr std::size_t kMaximumEventChannels = 16;
constexpr double kDefaultAcceleration = 1000.0;  // degrees per second squared
constexpr double kDefaultStabilisedSpeed = 30.0; // degrees per second

// A snapshot of the device for tests and the program's status.
struct DeviceStatus {
    bool homed = false;
    bool motorsOn = true;
    // "idle", "homing", "moving", "tracking", "scanning", "stabilising"
    std::string motion;
    double azimuth = 0.0;
    double elevation = 0.0;
    bool streaming = false;
    Endpoint streamTarget;               // the latest stream started
    std::vector<Endpoint> streamTargets; // everyone the stream goes to
    double pointRate = 0.0;              // points per second of the running or last stream
    unsigned long framesStarted = 0;
    unsigned long framesCompleted = 0;
    std::uint64_t pointsSent = 0;
    std::uint64_t packetsSent = 0;
    std::uint64_t notificationsSent = 0;
    std::uint64_t triggerRecordsSent = 0;
    std::uint64_t bufferedCommandsRun = 0;
    std::uint64_t repliesWithheld = 0; // motions replaced before their answer was due
    std::vector<Endpoint> eventChannels;
};

class Device : public Aperture {
public:
    explicit Device(DeviceSettings settings);

    // Handles one command datagram of any length or content from a host; the
    // device clock first runs up to now (seconds). Every datagram gets at most
    // one reply, possibly later (a motion that arrives soon answers when it
    // does); only a motion replaced by the same host with the same stem never
    // answers, so that its answer cannot be taken for the new command's.
    void receive(const std::string& datagram, const Endpoint& from, double now,
                 std::vector<Outgoing>& out);

    // Runs motion, scan frames, events, trigger records and the laser stream up
    // to now. Time never runs backwards: an earlier now is ignored.
    void advance(double now, std::vector<Outgoing>& out);

    // The earliest time at which advance has something to do other than laser
    // sampling (infinity when nothing is scheduled).
    double nextScheduledTime() const;
    // When the laser stream's next datagram is due (infinity when not streaming).
    double nextLaserDue() const;

    void pointingAt(double time, double& azimuth, double& elevation) const override;

    DeviceStatus status() const;
    bool streaming() const { return !m_streamTargets.empty(); }
    const DeviceSettings& settings() const { return m_settings; }

private:
    enum class MotionKind { Idle, Homing, Moving, Tracking, Scanning, Stabilising };

    struct Motion {
        MotionKind kind = MotionKind::Idle;
        double t0 = 0.0, t1 = 0.0;
        double az0 = 0.0, el0 = 0.0, az1 = 0.0, el1 = 0.0;
        MoveProfile profile; // moves and slews; homing runs evenly from t0 to t1
        ScanPattern scan;
        unsigned long nextBoundary = 0; // frame boundary to process next
        bool replyPending = false;      // a host waits for the motion's end
        Endpoint replyTo;
        std::string command; // the motion command, for its deferred reply
    };

    // Buffer enabled on an event. A binding without repeat disarms itself
    // after firing once.
    struct Binding {
        bool armed = false;
        bool repeat = false;
        bool fired = false;
    };

    struct Buffer {
        std::string command;
        Endpoint owner; // commands run as if sent from here
    };

    struct PendingTrigger {
        double time;
        Endpoint to;
        std::uint32_t index;
        std::uint32_t exp;
    };

    // One host receiving the stream, and the channel that asked for it.
    struct StreamTarget {
        Endpoint to;
        Endpoint owner;
    };

    // Runs one command; returns the reply, or an empty string for a motion
    // that answers on arrival.
    std::string execute(const std::string& command, const Endpoint& from, bool fromBuffer,
                        std::vector<Outgoing>& out);

    // One well-formed command as its handler sees it: the argument bytes fit
    // the command's layout.
    struct Request {
        const std::string& command;
        std::string args; // the bytes after the code
        const Endpoint& from;
        bool fromBuffer;
    };
    using Handler = std::string (Device::*)(const Request&, std::vector<Outgoing>&);
    using HandlerTable = std::array<Handler, tavrel::kCommands.size()>;
    // The handler of each command, at the command's place in the library's table.
    static const HandlerTable& handlers();

    // Device.cpp: queries, settings and the laser.
    std::string serialNumber(const Request& r, std::vector<Outgoing>& out);
    std::string motionState(const Request& r, std::vector<Outgoing>& out);
    std::string apertureAngles(const Request& r, std::vector<Outgoing>& out);
    std::string setAcceleration(const Request& r, std::vector<Outgoing>& out);
    std::string startLaser(const Request& r, std::vector<Outgoing>& out);
    std::string stopLaser(const Request& r, std::vector<Outgoing>& out);
    std::string setLaserGain(const Request& r, std::vector<Outgoing>& out);
    std::string stabilisedTarget(const Request& r, std::vector<Outgoing>& out);
    std::string stabilisedRoll(const Request& r, std::vector<Outgoing>& out);
    std::string stabilisedTargetError(const Request& r, std::vector<Outgoing>& out);
    std::string setIPSettings(const Request& r, std::vector<Outgoing>& out);
    std::string acknowledge(const Request& r, std::vector<Outgoing>& out);
    std::string startLaserStream(const Request& r, std::vector<Outgoing>& out);
    std::string stopLaserStream(const Request& r, std::vector<Outgoing>& out);

    // DeviceMotion.cpp: the aperture.
    std::string stop(const Request& r, std::vector<Outgoing>& out);
    std::string motorsOn(const Request& r, std::vector<Outgoing>& out);
    std::string motorsOff(const Request& r, std::vector<Outgoing>& out);
    std::string home(const Request& r, std::vector<Outgoing>& out);
    std::string setApertureAngles(const Request& r, std::vector<Outgoing>& out);
    std::string trackApertureAngles(const Request& r, std::vector<Outgoing>& out);
    std::string fullFieldScan(const Request& r, std::vector<Outgoing>& out);
    std::string boundedElevationScan(const Request& r, std::vector<Outgoing>& out);
    std::string regionScan(const Request& r, std::vector<Outgoing>& out);
    std::string startStabilisation(const Request& r, std::vector<Outgoing>& out);
    std::string stopStabilisation(const Request& r, std::vector<Outgoing>& out);
    std::string setStabilisedTarget(const Request& r, std::vector<Outgoing>& out);
    std::string setStabilisedSpeed(const Request& r, std::vector<Outgoing>& out);
    std::string setAnglesWithTrigger(const Request& r, std::vector<Outgoing>& out);
    std::string testTrigger(const Request& r, std::vector<Outgoing>& out);

    // DeviceEvents.cpp: events, the isolated line and the user flash.
    std::string resetEvents(const Request& r, std::vector<Outgoing>& out);
    std::string configureBuffer(const Request& r, std::vector<Outgoing>& out);
    std::string enableEvent(const Request& r, std::vector<Outgoing>& out);
    std::string disableEvent(const Request& r, std::vector<Outgoing>& out);
    std::string eventStatus(const Request& r, std::vector<Outgoing>& out);
    std::string startTimer(const Request& r, std::vector<Outgoing>& out);
    std::string stopTimer(const Request& r, std::vector<Outgoing>& out);
    std::string timerFrequency(const Request& r, std::vector<Outgoing>& out);
    std::string setIsolatedIO(const Request& r, std::vector<Outgoing>& out);
    std::string toggleIsolatedIO(const Request& r, std::vector<Outgoing>& out);
    std::string isolatedIO(const Request& r, std::vector<Outgoing>& out);
    std::string setIOEventInput(const Request& r, std::vector<Outgoing>& out);
    std::string ioEventInput(const Request& r, std::vector<Outgoing>& out);
    std::string capturedAngles(const Request& r, std::vector<Outgoing>& out);
    std::string readFlash(const Request& r, std::vector<Outgoing>& out);
    std::string writeFlash(const Request& r, std::vector<Outgoing>& out);
    std::string eraseFlash(const Request& r, std::vector<Outgoing>& out);

    // Shared by the handlers above.
    std::string aimAt(const Request& r, bool tracking, std::vector<Outgoing>& out);
    std::string startScan(const Request& r, tavrel::tavrel_error_t made, const ScanPattern& pattern,
                          std::vector<Outgoing>& out);
    // Turns to the stabilised target when stabilising, after a new target or speed.
    std::string holdStabilisedTarget(const Request& r, std::vector<Outgoing>& out);
    std::string scheduleTriggers(const Request& r, const std::vector<double>& times, unsigned exp);
    // Sets the isolated outputs; an edge captures the angles and fires the event.
    std::string setOutputs(const Request& r, unsigned char outputs, std::vector<Outgoing>& out);
    // The user flash page a command names, or an error reply.
    std::string flashPageError(const Request& r, bool writing) const;

    // Why a motion may not start now (NoError when it may).
    tavrel::tavrel_error_t motionRefusal() const;
    // A move from where the aperture points now to (az, el) at speed.
    Motion moveTo(MotionKind kind, double az, double el, double speed) const;
    // Starts a motion commanded by a host; returns its reply now, or nothing
    // when the reply waits for the arrival.
    std::string startMotion(Motion m, const std::string& command, const Endpoint& from,
                            bool fromBuffer, std::vector<Outgoing>& out);

    void anglesAt(double t, double& az, double& el) const;
    double azimuthRateAt(double t) const; // degrees per second
    void targetError(double& azimuth, double& elevation) const;
    double roll() const;
    // Ends the current motion at the clock's time; a host waiting for it gets
    // the given reply code (0 = done).
    void endMotion(int result, std::vector<Outgoing>& out);
    // The new motion replaces the current one, whose waiting host is told at
    // once that it did not complete, unless that answer could be taken for
    // the new command's (same host, same stem): then it is never answered.
    void beginMotion(const Motion& m, const Endpoint& from, std::vector<Outgoing>& out);
    void noteEventChannel(const Endpoint& channel);
    void notify(std::string bytes, std::vector<Outgoing>& out);
    void fireEvent(unsigned event, std::vector<Outgoing>& out);
    void runScheduled(double t, std::vector<Outgoing>& out);
    void sampleLaser(double until, std::vector<Outgoing>& out);
    void sendLaserData(std::vector<std::string>& datagrams, std::vector<Outgoing>& out);
    void stopStream(std::vector<Outgoing>& out);
    void stopStreamFor(const Endpoint& from, std::vector<Outgoing>& out);
    double timerPeriod() const;
    double scanBoundaryTime() const;
    std::string stateText() const;

    DeviceSettings m_settings;
    double m_clock = 0.0;

    bool m_homed = false;
    bool m_motorsOn = true;
    bool m_stabilising = false;
    double m_azimuth = 0.0; // position while idle
    double m_elevation = 0.0;
    double m_acceleration = kDefaultAcceleration;
    double m_stabilisedSpeed = kDefaultStabilisedSpeed;
    Motion m_motion;

    bool m_laserOn = false;
    unsigned m_laserGain = 0;
    std::shared_ptr<LaserPacketSource> m_source;
    std::vector<StreamTarget> m_streamTargets;
    Endpoint m_latestStreamTarget;
    LaserStreamStart m_lastStreamStart;
    double m_pointRate = 0.0;
    std::vector<std::string> m_laserDatagrams; // scratch for the source's output

    std::map<unsigned, Buffer> m_buffers;
    std::map<std::pair<unsigned, unsigned>, Binding> m_bindings; // (event, buffer)
    std::vector<Endpoint> m_eventChannels;                       // most recent last
    unsigned m_timerFrequency = 0;
    bool m_timerRunning = false;
    double m_nextTimerTick = 0.0;
    std::array<unsigned long, kEventCount> m_eventCounts{};
    int m_eventDepth = 0;
    double m_eventInstant = -1.0; // device time of the latest event
    int m_eventsAtInstant = 0;

    unsigned char m_ioOutputs = 0;
    unsigned char m_ioEventA = 0, m_ioEventB = 0;
    double m_capturedAzimuth = 0.0, m_capturedElevation = 0.0;

    double m_stabilisedTarget[3] = {0.0, 0.0, 0.0};
    std::vector<std::string> m_flash;
    std::vector<PendingTrigger> m_triggers; // ordered by time

    DeviceStatus m_counters;
};

} // namespace sim
} // namespace sentova
