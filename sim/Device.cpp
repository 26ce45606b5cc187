#include "Device.h"

#include "Scanner.h"
#include "Wire.h"

#include "Sentova/LaserPacket.h"
#include "Sentova/StreamParameters.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <limits>

namespace sentova {
namespace sim {

using namespace wire;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMaximumAcceleration = 10000.0;
// A single advance never processes more scheduled items than this.
constexpr int kMaximumScheduledPerAdvance = 100000;

} // namespace

bool operator==(const Endpoint& a, const Endpoint& b) {
    return a.address == b.address && a.port == b.port;
}

std::string toString(const Endpoint& e) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", (e.address >> 24) & 0xFF,
                  (e.address >> 16) & 0xFF, (e.address >> 8) & 0xFF, e.address & 0xFF, e.port);
    return text;
}

std::string defaultSerial(LIDAR_TYPE model, unsigned firmware) {
    char text[48];
    const char* prefix = model == LIDAR_GENERIC ? "SV" : tavrel::ModelLabel(model);
    std::snprintf(text, sizeof text, "%s-%02u-SIM0001", prefix, firmware % 100);
    return text;
}

Device::Device(DeviceSettings settings)
    : m_settings(std::move(settings)), m_source(m_settings.laserSource),
      m_flash(kFlashPages, std::string(kFlashPageSize, '\xFF')) {
    if (!m_source)
        m_source = std::make_shared<SyntheticScanner>(m_settings.scanner);
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
    case MotionKind::Stabilising: // holds its target until told otherwise
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
    case MotionKind::Stabilising:
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
    static const char* names[] = {"idle",     "homing",   "moving",
                                  "tracking", "scanning", "stabilising"};
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
    s.eventChannels = m_eventChannels;
    return s;
}

const Device::HandlerTable& Device::handlers() {
    static constexpr std::pair<const char*, Handler> entries[] = {
        {"SVCQRE", &Device::serialNumber},
        {"SVHOME", &Device::home},
        {"SVSTOP", &Device::stop},
        {"SVSEAC", &Device::setAcceleration},
        {"SVGEAA", &Device::apertureAngles},
        {"SVSEAA", &Device::setApertureAngles},
        {"SVTRAA", &Device::trackApertureAngles},
        {"SVSFFS", &Device::fullFieldScan},
        {"SVSBES", &Device::boundedElevationScan},
        {"SVSRES", &Device::regionScan},
        {"SVRRBE", &Device::startLaserStream},
        {"SVSRBE", &Device::stopLaserStream},
        {"SVRNLS", &Device::startLaser},
        {"SVSTLS", &Device::stopLaser},
        {"SVSRUN", &Device::startStabilisation},
        {"SVSSTP", &Device::stopStabilisation},
        {"SVSSTG", &Device::setStabilisedTarget},
        {"SVSGTG", &Device::stabilisedTarget},
        {"SVSGRL", &Device::stabilisedRoll},
        {"SVSSSP", &Device::setStabilisedSpeed},
        {"SVMONN", &Device::motorsOn},
        {"SVMOFF", &Device::motorsOff},
        {"SVSLGA", &Device::setLaserGain},
        {"SVSGER", &Device::stabilisedTargetError},
        {"SVSTST", &Device::acknowledge},
        {"SVGUFP", &Device::readFlash},
        {"SVSUFP", &Device::writeFlash},
        {"SVEUFP", &Device::eraseFlash},
        {"SVERST", &Device::resetEvents},
        {"SVPPPP", &Device::acknowledge},
        {"SVEENB", &Device::enableEvent},
        {"SVEDIS", &Device::disableEvent},
        {"SVESTS", &Device::eventStatus},
        {"SVESTM", &Device::stopTimer},
        {"SVERTM", &Device::startTimer},
        {"SVEGTM", &Device::timerFrequency},
        {"SVECCF", &Device::configureBuffer},
        {"SVIIOS", &Device::setIsolatedIO},
        {"SVIIOT", &Device::toggleIsolatedIO},
        {"SVIIOG", &Device::isolatedIO},
        {"SVIOSE", &Device::setIOEventInput},
        {"SVIOGE", &Device::ioEventInput},
        {"SVGCAA", &Device::capturedAngles},
        {"SVGMTN", &Device::motionState},
        {"SVSEAT", &Device::setAnglesWithTrigger},
        {"SVTTRG", &Device::testTrigger},
        {"SVSIPC", &Device::setIPSettings},
    };
    // Every code names a command of the table, and no command has two handlers: with as many
    // entries as commands, each command has exactly one.
    constexpr bool eachCommandOnce = [] {
        bool seen[std::size(entries)] = {};
        for (const auto& entry : entries) {
            const tavrel::CommandInfo* command = tavrel::FindCommand(entry.first);
            if (command == nullptr || seen[command - tavrel::kCommands.data()])
                return false;
            seen[command - tavrel::kCommands.data()] = true;
        }
        return true;
    }();
    static_assert(std::size(entries) == tavrel::kCommands.size(), "a handler for every command");
    static_assert(eachCommandOnce, "each handler's code is a command of its own");
    static const HandlerTable table = [] {
        HandlerTable t{};
        for (const auto& entry : entries)
            t[tavrel::FindCommand(entry.first) - tavrel::kCommands.data()] = entry.second;
        return t;
    }();
    return table;
}

std::string Device::execute(const std::string& command, const Endpoint& from, bool fromBuffer,
                            std::vector<Outgoing>& out) {
    const tavrel::CommandInfo* info = tavrel::FindCommand(command);
    if (info == nullptr)
        return failure(command, tavrel::UnknownCommand);
    std::string args = command.substr(tavrel::protocol::kCodeLength);
    if (!tavrel::ArgumentBytesFit(*info, args.size()))
        return failure(command, tavrel::InvalidArgumentLength);
    const Handler handler = handlers()[info - tavrel::kCommands.data()];
    return (this->*handler)(Request{command, std::move(args), from, fromBuffer}, out);
}

std::string Device::serialNumber(const Request& r, std::vector<Outgoing>&) {
    return data(r.command, m_settings.serial);
}

std::string Device::motionState(const Request& r, std::vector<Outgoing>&) {
    std::string state = stateText();
    state += m_homed ? " homed" : " not-homed";
    state += m_motorsOn ? "" : " motors-off";
    state += m_laserOn ? " laser-on" : "";
    state += streaming() ? " streaming" : "";
    char settingsText[64];
    std::snprintf(settingsText, sizeof settingsText, " gain %u acceleration %g", m_laserGain,
                  m_acceleration);
    return data(r.command, state + settingsText);
}

std::string Device::apertureAngles(const Request& r, std::vector<Outgoing>&) {
    double az = 0.0, el = 0.0;
    anglesAt(m_clock, az, el);
    return data(r.command, tavrel::PackAngle(az) + tavrel::PackAngle(el));
}

std::string Device::setAcceleration(const Request& r, std::vector<Outgoing>&) {
    const double a = ArgReader(r.args).acceleration();
    if (!(a > 0.0 && a <= kMaximumAcceleration))
        return failure(r.command, tavrel::ArgumentOutOfRange);
    m_acceleration = a;
    return done(r.command);
}

std::string Device::startLaser(const Request& r, std::vector<Outgoing>&) {
    m_laserOn = true;
    return done(r.command);
}

std::string Device::stopLaser(const Request& r, std::vector<Outgoing>&) {
    m_laserOn = false;
    return done(r.command);
}

std::string Device::setLaserGain(const Request& r, std::vector<Outgoing>&) {
    m_laserGain = ArgReader(r.args).u8();
    return done(r.command);
}

std::string Device::stabilisedTarget(const Request& r, std::vector<Outgoing>&) {
    return data(r.command, tavrel::PackAngle(m_stabilisedTarget[0]) +
                               tavrel::PackAngle(m_stabilisedTarget[1]) +
                               tavrel::PackAngle(m_stabilisedTarget[2]));
}

std::string Device::stabilisedRoll(const Request& r, std::vector<Outgoing>&) {
    return data(r.command, tavrel::PackAngle(roll()));
}

std::string Device::stabilisedTargetError(const Request& r, std::vector<Outgoing>&) {
    double azimuth = 0.0, elevation = 0.0;
    targetError(azimuth, elevation);
    return data(r.command, tavrel::PackAngle(azimuth) + tavrel::PackAngle(elevation));
}

std::string Device::setIPSettings(const Request& r, std::vector<Outgoing>&) {
    // Network settings are acknowledged but never applied: the simulator
    // keeps the address it was started on.
    return done(r.command);
}

std::string Device::acknowledge(const Request& r, std::vector<Outgoing>&) {
    return done(r.command);
}

std::string Device::stopLaserStream(const Request& r, std::vector<Outgoing>& out) {
    stopStreamFor(r.from, out);
    return done(r.command);
}

std::string Device::startLaserStream(const Request& r, std::vector<Outgoing>& out) {
    const std::string& command = r.command;
    const Endpoint& from = r.from;
    // The length fits the layout, so the parameters are whole.
    const std::vector<tavrel::Parameter> parameters = *tavrel::ParseStreamParameters(command);
    std::map<unsigned, long long> params;
    for (const tavrel::Parameter& p : parameters) {
        const unsigned id = static_cast<unsigned char>(p.id);
        if (id > 5)
            return failure(command, tavrel::InvalidArgument);
        params[id] = p.value;
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
    if (m_settings.model == LIDAR_LX30) {
        const long long mode = param(1, 0);
        const long long target = param(2, 0);
        if (mode < 0 || mode > 2 || target < 0 || target > 4)
            return failure(command, tavrel::ArgumentOutOfRange);
    } else if (m_settings.model == LIDAR_LX20) {
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
    start.laserGain = m_laserGain;
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

} // namespace sim
} // namespace sentova
