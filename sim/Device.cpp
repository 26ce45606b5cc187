#include "Device.h"

#include "Scanner.h"

#include "Sentova/Encoding.h"
#include "Sentova/LaserPacket.h"
#include "Sentova/Protocol.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace sentova {
namespace sim {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMaximumMoveSpeed = 3600.0; // degrees per second
constexpr double kMaximumAcceleration = 10000.0;
constexpr double kTriggerTestSpacing = 0.005; // seconds between test trigger records
// Buffered commands may fire further events; deeper chains are cut off.
constexpr int kMaximumEventDepth = 4;
// Events fired at one instant of the device clock; more are dropped.
constexpr int kMaximumEventsAtOnce = 16;
// A single advance never processes more scheduled items than this.
constexpr int kMaximumScheduledPerAdvance = 100000;

// Argument bytes each command carries; -1 = variable, checked by its handler.
const std::map<std::string, int>& argumentLengths() {
    static const std::map<std::string, int> lengths = {
        {"SVCQRE", 0},  {"SVHOME", 0},  {"SVSTOP", 0}, {"SVSEAC", 4},  {"SVGEAA", 0},
        {"SVSEAA", 12}, {"SVTRAA", 12}, {"SVSFFS", 8}, {"SVSBES", 16}, {"SVSRES", 24},
        {"SVRRBE", -1}, {"SVSRBE", 0},  {"SVRNLS", 8}, {"SVSTLS", 0},  {"SVSRUN", 0},
        {"SVSSTP", 0},  {"SVSSTG", 12}, {"SVSGTG", 0}, {"SVSGRL", 0},  {"SVSSSP", 4},
        {"SVMONN", 0},  {"SVMOFF", 0},  {"SVSLGA", 1}, {"SVSGER", 0},  {"SVSTST", 0},
        {"SVGUFP", 1},  {"SVSUFP", -1}, {"SVEUFP", 1}, {"SVERST", 0},  {"SVPPPP", 0},
        {"SVEENB", 3},  {"SVEDIS", 2},  {"SVESTS", 2}, {"SVESTM", 0},  {"SVERTM", 2},
        {"SVEGTM", 0},  {"SVECCF", -1}, {"SVIIOS", 1}, {"SVIIOT", 1},  {"SVIIOG", 0},
        {"SVIOSE", 2},  {"SVIOGE", 0},  {"SVGCAA", 0}, {"SVGMTN", 0},  {"SVSEAT", 20},
        {"SVTTRG", 8},  {"SVSIPC", -1},
    };
    return lengths;
}

// The four stem characters of a datagram; missing ones read as '?'.
std::string stemOf(const std::string& command) {
    std::string stem =
        command.size() > tavrel::protocol::kStemOffset
            ? command.substr(tavrel::protocol::kStemOffset, tavrel::protocol::kStemLength)
            : std::string();
    stem.resize(tavrel::protocol::kStemLength, '?');
    return stem;
}

std::string done(const std::string& command) {
    return "EA" + stemOf(command);
}
std::string data(const std::string& command, const std::string& payload) {
    return "ER" + stemOf(command) + payload;
}
std::string failure(const std::string& command, int code) {
    return "EE" + stemOf(command) + std::string(1, static_cast<char>(code));
}

// Reads argument fields in order; lengths are checked before any read.
class ArgReader {
public:
    explicit ArgReader(const std::string& args) : m_bytes(args), m_it(m_bytes.begin()) {}
    double angle() { return tavrel::UnpackAngle(m_it); }
    double speed() { return tavrel::UnpackSpeed(m_it); }
    double acceleration() { return tavrel::UnpackAcceleration(m_it); }
    unsigned u32() { return tavrel::EfficientUnpackInt32(m_it); }
    unsigned u16() { return static_cast<unsigned short>(tavrel::EfficientUnpackInt16(m_it)); }
    unsigned u8() { return tavrel::EfficientUnpackInt8(m_it); }

private:
    std::string m_bytes;
    std::string::iterator m_it;
};

std::string packU16(unsigned v) {
    return tavrel::PackArg16(static_cast<short>(v & 0xFFFF));
}
std::string packU8(unsigned v) {
    return tavrel::PackArg8(static_cast<signed char>(v & 0xFF));
}

bool elevationAllowed(double el) {
    return std::isfinite(el) && std::fabs(el) <= kElevationLimit + 1e-6;
}

} // namespace

const char* modelName(Model model) {
    switch (model) {
    case Model::LX30:
        return "LX30";
    case Model::LX20:
        return "LX20";
    case Model::Generic:
        break;
    }
    return "generic";
}

bool operator==(const Endpoint& a, const Endpoint& b) {
    return a.address == b.address && a.port == b.port;
}

std::string toString(const Endpoint& e) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", (e.address >> 24) & 0xFF,
                  (e.address >> 16) & 0xFF, (e.address >> 8) & 0xFF, e.address & 0xFF, e.port);
    return text;
}

std::string defaultSerial(Model model, unsigned firmware) {
    char text[48];
    const char* prefix = model == Model::Generic ? "SV" : modelName(model);
    std::snprintf(text, sizeof text, "%s-%02u-SIM0001", prefix, firmware % 100);
    return text;
}

Device::Device(DeviceSettings settings)
    : m_settings(std::move(settings)), m_source(m_settings.laserSource),
      m_flash(kFlashPages, std::string(kFlashPageSize, '\xFF')) {
    if (!m_source)
        m_source = std::make_shared<SyntheticScanner>();
    // Page 0 is the factory page: it carries the serial number and cannot be written.
    m_flash[0].replace(0, std::min(m_settings.serial.size(), kFlashPageSize),
                       m_settings.serial.substr(0, kFlashPageSize));
}

void Device::receive(const std::string& datagram, const Endpoint& from, double now,
                     std::vector<Outgoing>& out) {
    advance(now, out);
    std::string reply = execute(datagram, from, false, out);
    if (!reply.empty()) {
        Outgoing o;
        o.kind = OutKind::Reply;
        o.to = from;
        o.bytes = std::move(reply);
        o.command = datagram;
        o.from = from;
        out.push_back(std::move(o));
    }
    // A scan started now begins its first frame (and fires its event) at once.
    advance(now, out);
}

double Device::timerPeriod() const {
    return 1.0 / std::min<unsigned>(m_timerFrequency, kMaximumTimerHz);
}

double Device::scanBoundaryTime() const {
    return m_motion.t0 + m_motion.nextBoundary * frameDuration(m_motion.scan);
}

double Device::nextScheduledTime() const {
    double t = kInf;
    switch (m_motion.kind) {
    case MotionKind::Homing:
    case MotionKind::Moving:
    case MotionKind::Tracking:
        t = m_motion.t1;
        break;
    case MotionKind::Scanning:
        t = scanBoundaryTime();
        break;
    case MotionKind::Idle:
        break;
    }
    if (m_timerRunning)
        t = std::min(t, m_nextTimerTick);
    if (!m_triggers.empty())
        t = std::min(t, m_triggers.front().time);
    return t;
}

void Device::advance(double now, std::vector<Outgoing>& out) {
    if (!(now >= m_clock))
        now = m_clock;
    for (int i = 0; i < kMaximumScheduledPerAdvance; ++i) {
        const double due = nextScheduledTime();
        if (due > now)
            break;
        const double at = std::max(due, m_clock);
        sampleLaser(at, out);
        m_clock = at;
        runScheduled(at, out);
    }
    sampleLaser(now, out);
    m_clock = now;
}

double Device::nextLaserDue() const {
    return streaming() ? m_source->nextDue() : kInf;
}

void Device::pointingAt(double time, double& azimuth, double& elevation) const {
    anglesAt(time, azimuth, elevation);
}

void Device::runScheduled(double t, std::vector<Outgoing>& out) {
    switch (m_motion.kind) {
    case MotionKind::Homing:
    case MotionKind::Moving:
    case MotionKind::Tracking:
        if (m_motion.t1 <= t) {
            if (m_motion.kind == MotionKind::Homing)
                m_homed = true;
            endMotion(tavrel::NoError, out);
        }
        break;
    case MotionKind::Scanning:
        if (scanBoundaryTime() <= t) {
            const unsigned long boundary = m_motion.nextBoundary++;
            const double scanStart = m_motion.t0;
            if (boundary > 0) {
                ++m_counters.framesCompleted;
                fireEvent(kEventFrameEnd, out);
            }
            // A buffered command may have stopped or replaced the scan.
            if (m_motion.kind == MotionKind::Scanning && m_motion.t0 == scanStart &&
                m_motion.nextBoundary == boundary + 1) {
                ++m_counters.framesStarted;
                fireEvent(kEventFrameStart, out);
            }
        }
        break;
    case MotionKind::Idle:
        break;
    }
    if (m_timerRunning && m_nextTimerTick <= t) {
        m_nextTimerTick += timerPeriod();
        fireEvent(kEventTimer, out);
    }
    while (!m_triggers.empty() && m_triggers.front().time <= t) {
        const PendingTrigger trigger = m_triggers.front();
        m_triggers.erase(m_triggers.begin());
        double az = 0.0, el = 0.0;
        anglesAt(trigger.time, az, el);
        Outgoing o;
        o.kind = OutKind::Trigger;
        o.to = trigger.to;
        o.bytes = tavrel::protocol::kTriggerCode;
        o.bytes += tavrel::PackArg32(static_cast<int>(trigger.index));
        o.bytes += tavrel::PackArg32(
            static_cast<int>(static_cast<std::uint32_t>(std::llround(trigger.time * 1e6))));
        o.bytes += tavrel::PackAngle(az);
        o.bytes += tavrel::PackAngle(el);
        o.bytes += tavrel::PackArg32(static_cast<int>(trigger.exp));
        out.push_back(std::move(o));
        ++m_counters.triggerRecordsSent;
    }
}

void Device::anglesAt(double t, double& az, double& el) const {
    switch (m_motion.kind) {
    case MotionKind::Idle:
        az = m_azimuth;
        el = m_elevation;
        return;
    case MotionKind::Scanning: {
        const RasterPosition p = rasterAt(m_motion.scan, std::max(0.0, t - m_motion.t0));
        az = p.azimuth;
        el = p.elevation;
        return;
    }
    case MotionKind::Homing:
    case MotionKind::Moving:
    case MotionKind::Tracking:
        break;
    }
    const double span = m_motion.t1 - m_motion.t0;
    const double f = span > 0.0 ? std::clamp((t - m_motion.t0) / span, 0.0, 1.0) : 1.0;
    az = wrapDegrees(m_motion.az0 + f * wrapDegrees(m_motion.az1 - m_motion.az0));
    el = m_motion.el0 + f * (m_motion.el1 - m_motion.el0);
}

void Device::endMotion(int result, std::vector<Outgoing>& out) {
    // A scan stopped at a frame boundary (as by a frame-end event) stays at the
    // end of its last line, not at the start of a frame that never runs.
    const double stopTime = m_motion.kind == MotionKind::Scanning ? m_clock - 1e-9 : m_clock;
    anglesAt(stopTime, m_azimuth, m_elevation);
    if (m_motion.replyPending) {
        Outgoing o;
        o.kind = OutKind::Reply;
        o.to = m_motion.replyTo;
        o.bytes =
            result == tavrel::NoError ? done(m_motion.command) : failure(m_motion.command, result);
        o.command = m_motion.command;
        o.from = m_motion.replyTo;
        out.push_back(std::move(o));
    }
    m_motion = Motion();
}

void Device::beginMotion(const Motion& m, std::vector<Outgoing>& out) {
    // A host still waiting for a replaced motion learns that it did not finish.
    endMotion(tavrel::NotReady, out);
    m_motion = m;
}

void Device::fireEvent(unsigned event, std::vector<Outgoing>& out) {
    if (m_eventDepth >= kMaximumEventDepth)
        return;
    // A buffer that restarts the scan on its own frame start would otherwise
    // fire again and again without the clock moving on.
    if (m_clock != m_eventInstant) {
        m_eventInstant = m_clock;
        m_eventsAtInstant = 0;
    }
    if (++m_eventsAtInstant > kMaximumEventsAtOnce)
        return;
    ++m_eventDepth;
    const unsigned long count = ++m_eventCounts[event];

    std::vector<unsigned> buffers;
    for (const auto& entry : m_bindings)
        if (entry.first.first == event && entry.second.armed)
            buffers.push_back(entry.first.second);

    for (unsigned number : buffers) {
        // Earlier buffered commands may have reset or reconfigured the events.
        auto binding = m_bindings.find({event, number});
        auto buffer = m_buffers.find(number);
        if (binding == m_bindings.end() || !binding->second.armed || buffer == m_buffers.end())
            continue;
        binding->second.fired = true;
        if (!binding->second.repeat)
            binding->second.armed = false;
        const Buffer copy = buffer->second;
        const std::string reply = execute(copy.command, copy.owner, true, out);
        ++m_counters.bufferedCommandsRun;
        if (reply.size() > 6 && reply.compare(0, 2, "EE") == 0 && m_eventChannelKnown) {
            Outgoing o;
            o.kind = OutKind::Notification;
            o.to = m_eventChannel;
            o.bytes = tavrel::protocol::kNotificationCodes[3];
            o.bytes += packU8(event) + packU8(number) + reply.substr(6, 1);
            out.push_back(std::move(o));
            ++m_counters.notificationsSent;
        }
    }
    if (!buffers.empty() && m_eventChannelKnown) {
        Outgoing o;
        o.kind = OutKind::Notification;
        o.to = m_eventChannel;
        o.bytes = tavrel::protocol::kNotificationCodes[0];
        o.bytes += packU8(event) + tavrel::PackArg32(static_cast<int>(count));
        out.push_back(std::move(o));
        ++m_counters.notificationsSent;
    }
    --m_eventDepth;
}

void Device::sampleLaser(double until, std::vector<Outgoing>& out) {
    if (!streaming())
        return;
    m_source->produce(until, *this, m_laserDatagrams);
    sendLaserData(m_laserDatagrams, out);
}

void Device::sendLaserData(std::vector<std::string>& datagrams, std::vector<Outgoing>& out) {
    for (std::string& bytes : datagrams) {
        const auto layout = tavrel::examineLaserPacket(
            reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        for (const StreamTarget& target : m_streamTargets) {
            Outgoing o;
            o.kind = OutKind::LaserData;
            o.to = target.to;
            o.bytes = bytes;
            out.push_back(std::move(o));
            m_counters.pointsSent += layout.discarded ? 0 : layout.records;
            ++m_counters.packetsSent;
        }
    }
    datagrams.clear();
}

void Device::stopStream(std::vector<Outgoing>& out) {
    if (!streaming())
        return;
    m_source->stop(m_clock, m_laserDatagrams);
    sendLaserData(m_laserDatagrams, out);
    m_streamTargets.clear();
}

std::string Device::stateText() const {
    static const char* names[] = {"idle", "homing", "moving", "tracking", "scanning"};
    return names[static_cast<int>(m_motion.kind)];
}

DeviceStatus Device::status() const {
    DeviceStatus s = m_counters;
    s.homed = m_homed;
    s.motorsOn = m_motorsOn;
    s.motion = stateText();
    anglesAt(m_clock, s.azimuth, s.elevation);
    s.streaming = streaming();
    s.streamTarget = m_latestStreamTarget;
    for (const StreamTarget& target : m_streamTargets)
        s.streamTargets.push_back(target.to);
    s.pointRate = m_pointRate;
    return s;
}

std::string Device::execute(const std::string& command, const Endpoint& from, bool fromBuffer,
                            std::vector<Outgoing>& out) {
    if (command.size() < tavrel::protocol::kCodeLength)
        return failure(command, tavrel::UnknownCommand);
    const std::string code = command.substr(0, tavrel::protocol::kCodeLength);
    const auto known = argumentLengths().find(code);
    if (known == argumentLengths().end())
        return failure(command, tavrel::UnknownCommand);
    const std::string args = command.substr(tavrel::protocol::kCodeLength);
    if (known->second >= 0 && args.size() != static_cast<std::size_t>(known->second))
        return failure(command, tavrel::InvalidArgumentLength);

    if (code == "SVHOME" || code == "SVSTOP" || code == "SVSEAA" || code == "SVTRAA" ||
        code == "SVMONN" || code == "SVMOFF")
        return handleMotion(command, args, from, fromBuffer, out);
    if (code == "SVSFFS" || code == "SVSBES" || code == "SVSRES")
        return handleScan(command, args, out);
    if (code == "SVRRBE" || code == "SVSRBE")
        return handleLaserStream(command, args, from, out);
    if (code == "SVERST" || code == "SVECCF" || code == "SVEENB" || code == "SVEDIS" ||
        code == "SVESTS" || code == "SVERTM" || code == "SVESTM" || code == "SVEGTM")
        return handleEvents(command, args, from);
    if (code == "SVIIOS" || code == "SVIIOT" || code == "SVIIOG" || code == "SVIOSE" ||
        code == "SVIOGE" || code == "SVGCAA")
        return handleIsolatedIO(command, args, out);
    if (code == "SVGUFP" || code == "SVSUFP" || code == "SVEUFP")
        return handleFlash(command, args);
    if (code == "SVSEAT" || code == "SVTTRG")
        return handleTrigger(command, args, from, out);

    ArgReader in(args);
    if (code == "SVCQRE")
        return data(command, m_settings.serial);
    if (code == "SVGMTN") {
        std::string state = stateText();
        state += m_homed ? " homed" : " not-homed";
        state += m_motorsOn ? "" : " motors-off";
        state += m_stabilising ? " stabilising" : "";
        state += m_laserOn ? " laser-on" : "";
        state += streaming() ? " streaming" : "";
        char settingsText[64];
        std::snprintf(settingsText, sizeof settingsText, " gain %u acceleration %g", m_laserGain,
                      m_acceleration);
        return data(command, state + settingsText);
    }
    if (code == "SVGEAA") {
        double az = 0.0, el = 0.0;
        anglesAt(m_clock, az, el);
        return data(command, tavrel::PackAngle(az) + tavrel::PackAngle(el));
    }
    if (code == "SVSEAC") {
        const double a = in.acceleration();
        if (!(a > 0.0 && a <= kMaximumAcceleration))
            return failure(command, tavrel::ArgumentOutOfRange);
        m_acceleration = a;
        return done(command);
    }
    if (code == "SVRNLS" || code == "SVSTLS") {
        m_laserOn = code == "SVRNLS";
        return done(command);
    }
    if (code == "SVSLGA") {
        m_laserGain = in.u8();
        return done(command);
    }
    if (code == "SVSRUN") {
        if (!m_homed)
            return failure(command, tavrel::NotHomed);
        m_stabilising = true;
        return done(command);
    }
    if (code == "SVSSTP") {
        m_stabilising = false;
        return done(command);
    }
    if (code == "SVSSTG") {
        for (double& t : m_stabilisedTarget)
            t = in.angle();
        return done(command);
    }
    if (code == "SVSGTG")
        return data(command, tavrel::PackAngle(m_stabilisedTarget[0]) +
                                 tavrel::PackAngle(m_stabilisedTarget[1]) +
                                 tavrel::PackAngle(m_stabilisedTarget[2]));
    if (code == "SVSGRL")
        return data(command, tavrel::PackAngle(0.0));
    if (code == "SVSGER")
        return data(command, tavrel::PackAngle(0.0) + tavrel::PackAngle(0.0));
    if (code == "SVSIPC") {
        // Network settings are acknowledged but never applied: the simulator
        // keeps the address it was started on.
        if (args.size() < 4)
            return failure(command, tavrel::InvalidArgumentLength);
        return done(command);
    }
    // "SVSSSP", "SVSTST", "SVPPPP": nothing to change.
    return done(command);
}

std::string Device::handleMotion(const std::string& command, const std::string& args,
                                 const Endpoint& from, bool fromBuffer,
                                 std::vector<Outgoing>& out) {
    const std::string code = command.substr(0, 6);
    if (code == "SVSTOP") {
        endMotion(tavrel::NotReady, out);
        return done(command);
    }
    if (code == "SVMONN") {
        m_motorsOn = true;
        return done(command);
    }
    if (code == "SVMOFF") {
        // Without power the aperture loses its reference.
        endMotion(tavrel::NotReady, out);
        m_motorsOn = false;
        m_homed = false;
        return done(command);
    }

    double az = 0.0, el = 0.0, speed = 0.0;
    if (code != "SVHOME") {
        ArgReader in(args);
        az = in.angle();
        el = in.angle();
        speed = in.speed();
        if (!elevationAllowed(el) || !(speed > 0.0 && speed <= kMaximumMoveSpeed))
            return failure(command, tavrel::ArgumentOutOfRange);
    }
    if (!m_motorsOn || m_motion.kind == MotionKind::Homing)
        return failure(command, tavrel::NotReady);
    if (m_stabilising)
        return failure(command, tavrel::BusyStabilising);

    Motion m;
    m.t0 = m_clock;
    m.command = command;
    anglesAt(m_clock, m.az0, m.el0);
    if (code == "SVHOME") {
        m.kind = MotionKind::Homing;
        m.t1 = m_clock + m_settings.homeTimeMs / 1000.0;
        m_homed = false;
    } else {
        if (!m_homed)
            return failure(command, tavrel::NotHomed);
        m.kind = code == "SVSEAA" ? MotionKind::Moving : MotionKind::Tracking;
        m.az1 = wrapDegrees(az);
        m.el1 = el;
        const double distance =
            std::max(std::fabs(wrapDegrees(m.az1 - m.az0)), std::fabs(m.el1 - m.el0));
        m.t1 = m_clock + distance / speed;
    }
    // "SVTRAA" answers at once; home and set-angles answer when the aperture arrives.
    const bool deferred = code != "SVTRAA";
    m.replyPending = deferred && !fromBuffer;
    m.replyTo = from;
    beginMotion(m, out);
    return deferred ? std::string() : done(command);
}

std::string Device::handleScan(const std::string& command, const std::string& args,
                               std::vector<Outgoing>& out) {
    const std::string code = command.substr(0, 6);
    ArgReader in(args);
    ScanPattern pattern;
    tavrel::tavrel_error_t result;
    if (code == "SVSFFS") {
        const double speed = in.speed();
        const double lines = in.speed();
        result = makeScanPattern(ScanKind::FullField, speed, 0, 0, -kElevationLimit,
                                 kElevationLimit, lines, pattern);
    } else if (code == "SVSBES") {
        const double speed = in.speed();
        const double elMin = in.angle();
        const double elMax = in.angle();
        const double lines = in.speed();
        result =
            makeScanPattern(ScanKind::BoundedElevation, speed, 0, 0, elMin, elMax, lines, pattern);
    } else {
        const double azMin = in.angle();
        const double azMax = in.angle();
        const double elMin = in.angle();
        const double elMax = in.angle();
        const double speed = in.speed();
        const double lines = in.speed();
        result =
            makeScanPattern(ScanKind::Region, speed, azMin, azMax, elMin, elMax, lines, pattern);
    }
    if (result != tavrel::NoError)
        return failure(command, result);
    if (!m_motorsOn || m_motion.kind == MotionKind::Homing)
        return failure(command, tavrel::NotReady);
    if (m_stabilising)
        return failure(command, tavrel::BusyStabilising);
    if (!m_homed)
        return failure(command, tavrel::NotHomed);

    Motion m;
    m.kind = MotionKind::Scanning;
    m.t0 = m_clock;
    m.scan = pattern;
    m.command = command;
    beginMotion(m, out);
    return done(command);
}

std::string Device::handleLaserStream(const std::string& command, const std::string& args,
                                      const Endpoint& from, std::vector<Outgoing>& out) {
    if (command.compare(0, 6, "SVSRBE") == 0) {
        stopStreamFor(from, out);
        return done(command);
    }
    if (args.size() % 5 != 0)
        return failure(command, tavrel::InvalidArgumentLength);
    std::map<unsigned, long long> params;
    for (std::size_t i = 0; i < args.size(); i += 5) {
        std::string field = args.substr(i, 5);
        const unsigned id = tavrel::UnpackInt8(field);
        const int value = tavrel::UnpackSignedInt32(field);
        if (id > 5)
            return failure(command, tavrel::InvalidArgument);
        params[id] = value;
    }
    const auto param = [&](unsigned id, long long fallback) {
        const auto it = params.find(id);
        return it == params.end() ? fallback : it->second;
    };
    if (params.count(tavrel::protocol::kParameterDataPort) == 0)
        return failure(command, tavrel::InvalidArgument);
    const long long port = params[tavrel::protocol::kParameterDataPort];
    if (port < 1 || port > 65535)
        return failure(command, tavrel::ArgumentOutOfRange);

    // Each model reads only its own parameters; the others are ignored.
    if (m_settings.model == Model::LX30) {
        const long long mode = param(1, 0);
        const long long target = param(2, 0);
        if (mode < 0 || mode > 2 || target < 0 || target > 4)
            return failure(command, tavrel::ArgumentOutOfRange);
    } else if (m_settings.model == Model::LX20) {
        const long long sampleRate = param(3, 10000);
        const long long averaged = param(4, 1);
        const long long gain = param(5, 0);
        if (sampleRate < 1 || sampleRate > 30000 || averaged < 1 || averaged > 1000 || gain < 0 ||
            gain > 255)
            return failure(command, tavrel::ArgumentOutOfRange);
    }

    const StreamTarget target{Endpoint{from.address, static_cast<std::uint16_t>(port)}, from};
    auto existing = std::find_if(m_streamTargets.begin(), m_streamTargets.end(),
                                 [&](const StreamTarget& t) { return t.to == target.to; });
    if (existing == m_streamTargets.end() && m_streamTargets.size() >= kMaximumStreamTargets)
        return failure(command, tavrel::BusyOtherClient);

    // One laser feeds every host: the stream restarts with the new parameters,
    // and what the old one still held goes to the hosts it was for.
    LaserStreamStart start;
    start.model = m_settings.model;
    for (const auto& p : params)
        start.parameters[p.first] = static_cast<std::int32_t>(p.second);
    start.time = m_clock;
    const bool wasStreaming = streaming();
    if (wasStreaming) {
        m_source->stop(m_clock, m_laserDatagrams);
        sendLaserData(m_laserDatagrams, out);
    }
    const tavrel::tavrel_error_t result = m_source->start(start);
    if (result != tavrel::NoError) {
        if (wasStreaming) {
            LaserStreamStart resumed = m_lastStreamStart;
            resumed.time = m_clock;
            if (m_source->start(resumed) != tavrel::NoError)
                m_streamTargets.clear();
        }
        return failure(command, result);
    }
    m_lastStreamStart = start;
    if (existing == m_streamTargets.end())
        m_streamTargets.push_back(target);
    else
        existing->owner = from;
    m_latestStreamTarget = target.to;
    m_pointRate = m_source->pointRate();
    return done(command);
}

void Device::stopStreamFor(const Endpoint& from, std::vector<Outgoing>& out) {
    // A channel stops the streams it started; one that started none stops
    // every stream to its host.
    const auto owned = [&](const StreamTarget& t) { return t.owner == from; };
    const auto sameHost = [&](const StreamTarget& t) { return t.to.address == from.address; };
    const bool ownsOne = std::any_of(m_streamTargets.begin(), m_streamTargets.end(), owned);
    std::vector<StreamTarget> keep;
    for (const StreamTarget& t : m_streamTargets)
        if (!(ownsOne ? owned(t) : sameHost(t)))
            keep.push_back(t);
    if (keep.size() == m_streamTargets.size())
        return;
    if (keep.empty()) {
        stopStream(out);
        return;
    }
    m_streamTargets = std::move(keep);
}

std::string Device::handleEvents(const std::string& command, const std::string& args,
                                 const Endpoint& from) {
    const std::string code = command.substr(0, 6);
    ArgReader in(args);
    if (code == "SVEGTM")
        return data(command, packU16(m_timerRunning ? m_timerFrequency : 0));
    if (code == "SVESTS") {
        const unsigned event = in.u8();
        const unsigned buffer = in.u8();
        const auto it = m_bindings.find({event, buffer});
        const bool armed = it != m_bindings.end() && it->second.armed;
        const bool fired = it != m_bindings.end() && it->second.fired;
        return data(command, packU8(armed) + packU8(fired));
    }
    if (code == "SVESTM") {
        m_timerRunning = false;
        return done(command);
    }

    // The remaining commands configure events: their sender is the event
    // manager, whose channel receives the notifications.
    if (code == "SVERST") {
        m_buffers.clear();
        m_bindings.clear();
        m_timerRunning = false;
    } else if (code == "SVECCF") {
        if (args.size() < 1 + tavrel::protocol::kCodeLength)
            return failure(command, tavrel::InvalidArgumentLength);
        m_buffers[in.u8()] = Buffer{args.substr(1), from};
    } else if (code == "SVEENB" || code == "SVEDIS") {
        const unsigned event = in.u8();
        const unsigned buffer = in.u8();
        if (event >= kEventCount)
            return failure(command, tavrel::InvalidArgument);
        if (code == "SVEDIS") {
            m_bindings.erase({event, buffer});
        } else {
            if (m_buffers.count(buffer) == 0)
                return failure(command, tavrel::InvalidArgument);
            Binding b;
            b.armed = true;
            b.repeat = in.u8() != 0;
            m_bindings[{event, buffer}] = b;
        }
    } else if (code == "SVERTM") {
        const unsigned frequency = in.u16();
        if (frequency == 0)
            return failure(command, tavrel::ArgumentOutOfRange);
        m_timerFrequency = frequency;
        m_timerRunning = true;
        m_nextTimerTick = m_clock + timerPeriod();
    }
    m_eventChannel = from;
    m_eventChannelKnown = true;
    return done(command);
}

std::string Device::handleIsolatedIO(const std::string& command, const std::string& args,
                                     std::vector<Outgoing>& out) {
    const std::string code = command.substr(0, 6);
    ArgReader in(args);
    if (code == "SVIIOG")
        // Nothing drives the isolated inputs of a simulated device: they read 0.
        return data(command, packU8(m_ioOutputs) + packU8(0));
    if (code == "SVIOGE")
        return data(command, packU8(m_ioEventA) + packU8(m_ioEventB));
    if (code == "SVIOSE") {
        m_ioEventA = static_cast<unsigned char>(in.u8());
        m_ioEventB = static_cast<unsigned char>(in.u8());
        return done(command);
    }
    if (code == "SVGCAA") {
        double az = m_capturedAzimuth;
        if (az < 0.0)
            az += 360.0;
        const auto azHundredths = static_cast<unsigned>(std::lround(az * 100.0)) % 36000;
        const auto elHundredths = static_cast<int>(std::lround(m_capturedElevation * 100.0));
        return data(command, packU16(azHundredths) + packU16(static_cast<unsigned>(elHundredths)));
    }

    const unsigned n = in.u8();
    unsigned char outputs = m_ioOutputs;
    if (code == "SVIIOS") {
        outputs = static_cast<unsigned char>(n); // the pattern of all eight lines
    } else {
        if (n > 7)
            return failure(command, tavrel::ArgumentOutOfRange);
        outputs = static_cast<unsigned char>(outputs ^ (1u << n));
    }
    if (outputs != m_ioOutputs) {
        m_ioOutputs = outputs;
        // An edge on the isolated line captures the aperture angles and is an event.
        anglesAt(m_clock, m_capturedAzimuth, m_capturedElevation);
        fireEvent(kEventIsolatedIO, out);
    }
    return done(command);
}

std::string Device::handleFlash(const std::string& command, const std::string& args) {
    const std::string code = command.substr(0, 6);
    if (code == "SVSUFP" && args.size() != 1 + kFlashPageSize)
        return failure(command, tavrel::InvalidArgumentLength);
    const unsigned page = static_cast<unsigned char>(args[0]);
    if (page >= kFlashPages)
        return failure(command, tavrel::BadFlashPage);
    if (code == "SVGUFP")
        return data(command, m_flash[page]);
    if (page == 0)
        return failure(command, tavrel::BadFlashKey);
    m_flash[page] = code == "SVSUFP" ? args.substr(1) : std::string(kFlashPageSize, '\xFF');
    return done(command);
}

std::string Device::handleTrigger(const std::string& command, const std::string& args,
                                  const Endpoint& from, std::vector<Outgoing>& out) {
    const std::string code = command.substr(0, 6);
    ArgReader in(args);
    std::vector<double> times;
    unsigned count = 0, exp = 0;
    if (code == "SVTTRG") {
        count = in.u32();
        exp = in.u32();
        if (count > kMaximumTriggerRecords)
            return failure(command, tavrel::ArgumentOutOfRange);
        count = std::max(count, 1u);
        for (unsigned i = 0; i < count; ++i)
            times.push_back(m_clock + (i + 1) * kTriggerTestSpacing);
    } else {
        const double az = in.angle();
        const double el = in.angle();
        const double speed = in.speed();
        count = in.u32();
        exp = in.u32();
        if (!elevationAllowed(el) || !(speed > 0.0 && speed <= kMaximumMoveSpeed) ||
            count > kMaximumTriggerRecords)
            return failure(command, tavrel::ArgumentOutOfRange);
        if (!m_motorsOn || m_motion.kind == MotionKind::Homing)
            return failure(command, tavrel::NotReady);
        if (m_stabilising)
            return failure(command, tavrel::BusyStabilising);
        if (!m_homed)
            return failure(command, tavrel::NotHomed);
        count = std::max(count, 1u);
        Motion m;
        m.kind = MotionKind::Moving;
        m.t0 = m_clock;
        m.command = command;
        anglesAt(m_clock, m.az0, m.el0);
        m.az1 = wrapDegrees(az);
        m.el1 = el;
        const double duration =
            std::max(std::fabs(wrapDegrees(m.az1 - m.az0)), std::fabs(m.el1 - m.el0)) / speed;
        m.t1 = m_clock + duration;
        beginMotion(m, out);
        // Records spread evenly over the move, the last one on arrival.
        for (unsigned i = 0; i < count; ++i)
            times.push_back(m_clock +
                            std::max(duration * (i + 1) / count, (i + 1) * kTriggerTestSpacing));
    }
    // Keep the schedule ordered by time.
    for (unsigned i = 0; i < count; ++i) {
        PendingTrigger t{times[i], from, i, exp};
        const auto at = std::upper_bound(
            m_triggers.begin(), m_triggers.end(), t,
            [](const PendingTrigger& a, const PendingTrigger& b) { return a.time < b.time; });
        m_triggers.insert(at, t);
    }
    return done(command);
}

} // namespace sim
} // namespace sentova
