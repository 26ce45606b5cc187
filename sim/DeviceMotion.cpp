// The aperture: homing, moves, scans, stabilisation and triggered moves, and
// what the device reports of them (angles, roll, target error).
#include "Device.h"
#include "Wire.h"

#include <algorithm>
#include <cmath>

namespace sentova {
namespace sim {

using namespace wire;

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kMaximumMoveSpeed = 3600.0;  // degrees per second
constexpr double kTriggerTestSpacing = 0.005; // seconds between test trigger records
// The platform under the device sways gently in roll...
constexpr double kSwayAmplitude = 0.2; // degrees
constexpr double kSwayPeriod = 8.0;    // seconds
// ...and leans into the aperture's turns, up to this much.
constexpr double kMaximumLean = 0.5;         // degrees
constexpr double kLeanRateScale = 60.0;      // degrees per second for three quarters of it
constexpr double kStabilisedResidual = 0.02; // degrees of error left while holding a target
constexpr double kResidualPeriod = 1.7;      // seconds

bool elevationAllowed(double el) {
    return std::isfinite(el) && std::fabs(el) <= kElevationLimit + 1e-6;
}

bool speedAllowed(double speed) {
    return speed > 0.0 && speed <= kMaximumMoveSpeed;
}

} // namespace

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
    case MotionKind::Homing: {
        const double span = m_motion.t1 - m_motion.t0;
        const double f = span > 0.0 ? std::clamp((t - m_motion.t0) / span, 0.0, 1.0) : 1.0;
        az = wrapDegrees(m_motion.az0 + f * wrapDegrees(m_motion.az1 - m_motion.az0));
        el = m_motion.el0 + f * (m_motion.el1 - m_motion.el0);
        return;
    }
    case MotionKind::Moving:
    case MotionKind::Tracking:
    case MotionKind::Stabilising:
        break;
    }
    const double f = m_motion.profile.fraction(t - m_motion.t0);
    az = wrapDegrees(m_motion.az0 + f * wrapDegrees(m_motion.az1 - m_motion.az0));
    el = m_motion.el0 + f * (m_motion.el1 - m_motion.el0);
}

double Device::azimuthRateAt(double t) const {
    switch (m_motion.kind) {
    case MotionKind::Idle:
        return 0.0;
    case MotionKind::Scanning:
        return 360.0 * m_motion.scan.speed;
    case MotionKind::Homing: {
        const double span = m_motion.t1 - m_motion.t0;
        const bool running = t >= m_motion.t0 && t < m_motion.t1;
        return running && span > 0.0 ? wrapDegrees(m_motion.az1 - m_motion.az0) / span : 0.0;
    }
    case MotionKind::Moving:
    case MotionKind::Tracking:
    case MotionKind::Stabilising:
        break;
    }
    const MoveProfile& p = m_motion.profile;
    if (!(p.distance > 0.0))
        return 0.0;
    return p.velocity(t - m_motion.t0) * wrapDegrees(m_motion.az1 - m_motion.az0) / p.distance;
}

void Device::targetError(double& azimuth, double& elevation) const {
    azimuth = 0.0;
    elevation = 0.0;
    if (m_motion.kind == MotionKind::Idle || m_motion.kind == MotionKind::Scanning)
        return;
    // The way still to go to the motion's target.
    double az = 0.0, el = 0.0;
    anglesAt(m_clock, az, el);
    azimuth = wrapDegrees(m_motion.az1 - az);
    elevation = m_motion.el1 - el;
    if (m_motion.kind == MotionKind::Stabilising) {
        // Holding a target against the sway never quite cancels it.
        const double phase = 2.0 * kPi * m_clock / kResidualPeriod;
        azimuth += kStabilisedResidual * std::sin(phase);
        elevation += 0.75 * kStabilisedResidual * std::cos(phase);
    }
}

double Device::roll() const {
    const double sway = kSwayAmplitude * std::sin(2.0 * kPi * m_clock / kSwayPeriod);
    const double lean = kMaximumLean * std::tanh(azimuthRateAt(m_clock) / kLeanRateScale);
    return sway + lean;
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

void Device::beginMotion(const Motion& m, const Endpoint& from, std::vector<Outgoing>& out) {
    // The host that sends a command with the same stem would take the old
    // motion's failure for the new command's answer.
    if (m_motion.replyPending && m_motion.replyTo == from &&
        stemOf(m_motion.command) == stemOf(m.command)) {
        m_motion.replyPending = false;
        ++m_counters.repliesWithheld;
    }
    endMotion(tavrel::NotReady, out);
    m_motion = m;
}

tavrel::tavrel_error_t Device::motionRefusal() const {
    if (!m_motorsOn || m_motion.kind == MotionKind::Homing)
        return tavrel::NotReady;
    if (m_stabilising)
        return tavrel::BusyStabilising;
    if (!m_homed)
        return tavrel::NotHomed;
    return tavrel::NoError;
}

Device::Motion Device::moveTo(MotionKind kind, double az, double el, double speed) const {
    Motion m;
    m.kind = kind;
    m.t0 = m_clock;
    anglesAt(m_clock, m.az0, m.el0);
    m.az1 = wrapDegrees(az);
    m.el1 = std::clamp(el, -kElevationLimit, kElevationLimit);
    m.profile.distance = std::max(std::fabs(wrapDegrees(m.az1 - m.az0)), std::fabs(m.el1 - m.el0));
    m.profile.speed = speed;
    m.profile.acceleration = m_acceleration;
    m.t1 = m_clock + m.profile.duration();
    return m;
}

std::string Device::startMotion(Motion m, const std::string& command, const Endpoint& from,
                                bool fromBuffer, std::vector<Outgoing>& out) {
    // Answered on arrival when that comes soon enough for the host to wait;
    // otherwise answered now, and the motion state shows when it ends.
    const double durationMs = (m.t1 - m.t0) * 1000.0;
    const bool onArrival = !fromBuffer && (m_settings.answerMotionsOnArrival ||
                                           durationMs <= m_settings.motionReplyWithinMs);
    m.command = command;
    m.replyTo = from;
    m.replyPending = onArrival;
    beginMotion(m, from, out);
    return onArrival ? std::string() : done(command);
}

std::string Device::stop(const Request& r, std::vector<Outgoing>& out) {
    endMotion(tavrel::NotReady, out);
    m_stabilising = false;
    return done(r.command);
}

std::string Device::motorsOn(const Request& r, std::vector<Outgoing>&) {
    m_motorsOn = true;
    return done(r.command);
}

std::string Device::motorsOff(const Request& r, std::vector<Outgoing>& out) {
    // Without power the aperture loses its reference.
    endMotion(tavrel::NotReady, out);
    m_motorsOn = false;
    m_homed = false;
    m_stabilising = false;
    return done(r.command);
}

std::string Device::home(const Request& r, std::vector<Outgoing>& out) {
    const tavrel::tavrel_error_t refusal = motionRefusal();
    if (refusal != tavrel::NoError && refusal != tavrel::NotHomed)
        return failure(r.command, refusal);
    Motion m;
    m.kind = MotionKind::Homing;
    m.t0 = m_clock;
    anglesAt(m_clock, m.az0, m.el0);
    m.t1 = m_clock + m_settings.homeTimeMs / 1000.0;
    m_homed = false;
    return startMotion(m, r.command, r.from, r.fromBuffer, out);
}

std::string Device::setApertureAngles(const Request& r, std::vector<Outgoing>& out) {
    return aimAt(r, false, out);
}

std::string Device::trackApertureAngles(const Request& r, std::vector<Outgoing>& out) {
    return aimAt(r, true, out);
}

std::string Device::aimAt(const Request& r, bool tracking, std::vector<Outgoing>& out) {
    ArgReader in(r.args);
    const double az = in.angle();
    const double el = in.angle();
    const double speed = in.speed();
    if (!elevationAllowed(el) || !speedAllowed(speed))
        return failure(r.command, tavrel::ArgumentOutOfRange);
    const tavrel::tavrel_error_t refusal = motionRefusal();
    if (refusal != tavrel::NoError)
        return failure(r.command, refusal);
    if (tracking) {
        // Tracking answers at once and keeps moving.
        beginMotion(moveTo(MotionKind::Tracking, az, el, speed), r.from, out);
        return done(r.command);
    }
    return startMotion(moveTo(MotionKind::Moving, az, el, speed), r.command, r.from, r.fromBuffer,
                       out);
}

std::string Device::fullFieldScan(const Request& r, std::vector<Outgoing>& out) {
    ArgReader in(r.args);
    const double speed = in.speed();
    const double lines = in.speed();
    ScanPattern pattern;
    const tavrel::tavrel_error_t made = makeScanPattern(
        ScanKind::FullField, speed, 0, 0, -kElevationLimit, kElevationLimit, lines, pattern);
    return startScan(r, made, pattern, out);
}

std::string Device::boundedElevationScan(const Request& r, std::vector<Outgoing>& out) {
    ArgReader in(r.args);
    const double speed = in.speed();
    const double elMin = in.angle();
    const double elMax = in.angle();
    const double lines = in.speed();
    ScanPattern pattern;
    const tavrel::tavrel_error_t made =
        makeScanPattern(ScanKind::BoundedElevation, speed, 0, 0, elMin, elMax, lines, pattern);
    return startScan(r, made, pattern, out);
}

std::string Device::regionScan(const Request& r, std::vector<Outgoing>& out) {
    ArgReader in(r.args);
    const double azMin = in.angle();
    const double azMax = in.angle();
    const double elMin = in.angle();
    const double elMax = in.angle();
    const double speed = in.speed();
    const double lines = in.speed();
    ScanPattern pattern;
    const tavrel::tavrel_error_t made =
        makeScanPattern(ScanKind::Region, speed, azMin, azMax, elMin, elMax, lines, pattern);
    return startScan(r, made, pattern, out);
}

std::string Device::startScan(const Request& r, tavrel::tavrel_error_t made,
                              const ScanPattern& pattern, std::vector<Outgoing>& out) {
    if (made != tavrel::NoError)
        return failure(r.command, made);
    const tavrel::tavrel_error_t refusal = motionRefusal();
    if (refusal != tavrel::NoError)
        return failure(r.command, refusal);

    Motion m;
    m.kind = MotionKind::Scanning;
    m.t0 = m_clock;
    m.scan = pattern;
    m.scan.order = m_settings.scanLineOrder;
    m.command = r.command;
    beginMotion(m, r.from, out);
    return done(r.command);
}

std::string Device::setStabilisedTarget(const Request& r, std::vector<Outgoing>& out) {
    ArgReader in(r.args);
    for (double& t : m_stabilisedTarget)
        t = in.angle();
    return holdStabilisedTarget(r, out);
}

std::string Device::setStabilisedSpeed(const Request& r, std::vector<Outgoing>& out) {
    const double speed = ArgReader(r.args).speed();
    if (!speedAllowed(speed))
        return failure(r.command, tavrel::ArgumentOutOfRange);
    m_stabilisedSpeed = speed;
    return holdStabilisedTarget(r, out);
}

std::string Device::stopStabilisation(const Request& r, std::vector<Outgoing>& out) {
    if (m_motion.kind == MotionKind::Stabilising)
        endMotion(tavrel::NoError, out);
    m_stabilising = false;
    return done(r.command);
}

std::string Device::startStabilisation(const Request& r, std::vector<Outgoing>& out) {
    if (!m_motorsOn || m_motion.kind == MotionKind::Homing)
        return failure(r.command, tavrel::NotReady);
    if (!m_homed)
        return failure(r.command, tavrel::NotHomed);
    m_stabilising = true;
    return holdStabilisedTarget(r, out);
}

std::string Device::holdStabilisedTarget(const Request& r, std::vector<Outgoing>& out) {
    // While stabilising, the aperture turns to the target (azimuth, elevation)
    // at the stabilised speed and holds it; a new target or speed applies at once.
    if (m_stabilising) {
        const Endpoint nobody{};
        Motion m = moveTo(MotionKind::Stabilising, m_stabilisedTarget[0], m_stabilisedTarget[1],
                          m_stabilisedSpeed);
        beginMotion(m, nobody, out);
    }
    return done(r.command);
}

std::string Device::testTrigger(const Request& r, std::vector<Outgoing>&) {
    ArgReader in(r.args);
    unsigned count = in.u32();
    const unsigned exp = in.u32();
    if (count > kMaximumTriggerRecords)
        return failure(r.command, tavrel::ArgumentOutOfRange);
    count = std::max(count, 1u);
    std::vector<double> times;
    for (unsigned i = 0; i < count; ++i)
        times.push_back(m_clock + (i + 1) * kTriggerTestSpacing);
    return scheduleTriggers(r, times, exp);
}

std::string Device::setAnglesWithTrigger(const Request& r, std::vector<Outgoing>& out) {
    ArgReader in(r.args);
    const double az = in.angle();
    const double el = in.angle();
    const double speed = in.speed();
    unsigned count = in.u32();
    const unsigned exp = in.u32();
    if (!elevationAllowed(el) || !speedAllowed(speed) || count > kMaximumTriggerRecords)
        return failure(r.command, tavrel::ArgumentOutOfRange);
    const tavrel::tavrel_error_t refusal = motionRefusal();
    if (refusal != tavrel::NoError)
        return failure(r.command, refusal);
    count = std::max(count, 1u);
    // Answered at once; the records tell how the move goes.
    Motion m = moveTo(MotionKind::Moving, az, el, speed);
    m.command = r.command;
    const double duration = m.t1 - m.t0;
    beginMotion(m, r.from, out);
    // Records spread evenly over the move, the last one on arrival.
    std::vector<double> times;
    for (unsigned i = 0; i < count; ++i)
        times.push_back(m_clock +
                        std::max(duration * (i + 1) / count, (i + 1) * kTriggerTestSpacing));
    return scheduleTriggers(r, times, exp);
}

std::string Device::scheduleTriggers(const Request& r, const std::vector<double>& times,
                                     unsigned exp) {
    // Keep the schedule ordered by time.
    for (std::size_t i = 0; i < times.size(); ++i) {
        PendingTrigger t{times[i], r.from, static_cast<std::uint32_t>(i), exp};
        const auto at = std::upper_bound(
            m_triggers.begin(), m_triggers.end(), t,
            [](const PendingTrigger& a, const PendingTrigger& b) { return a.time < b.time; });
        m_triggers.insert(at, t);
    }
    return done(r.command);
}

} // namespace sim
} // namespace sentova
