// The device's event system (command buffers, bindings, the event timer and
// the notifications), its isolated input/output line and its user flash.
#include "Device.h"
#include "Wire.h"

#include <algorithm>
#include <cmath>

namespace sentova {
namespace sim {

using namespace wire;

namespace {

// Buffered commands may fire further events; deeper chains are cut off.
constexpr int kMaximumEventDepth = 4;
// Events fired at one instant of the device clock; more are dropped.
constexpr int kMaximumEventsAtOnce = 16;

} // namespace

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
        if (reply.size() > 6 && reply.compare(0, 2, "EE") == 0)
            notify(tavrel::protocol::kNotificationCodes[3] + packU8(event) + packU8(number) +
                       reply.substr(6, 1),
                   out);
    }
    if (!buffers.empty())
        notify(tavrel::protocol::kNotificationCodes[0] + packU8(event) +
                   tavrel::PackArg32(static_cast<int>(count)),
               out);
    --m_eventDepth;
}

void Device::notify(std::string bytes, std::vector<Outgoing>& out) {
    for (const Endpoint& channel : m_eventChannels) {
        Outgoing o;
        o.kind = OutKind::Notification;
        o.to = channel;
        o.bytes = bytes;
        out.push_back(std::move(o));
        ++m_counters.notificationsSent;
    }
}

void Device::noteEventChannel(const Endpoint& channel) {
    const auto known = std::find(m_eventChannels.begin(), m_eventChannels.end(), channel);
    if (known != m_eventChannels.end())
        m_eventChannels.erase(known);
    else if (m_eventChannels.size() == kMaximumEventChannels)
        m_eventChannels.erase(m_eventChannels.begin());
    m_eventChannels.push_back(channel);
}

std::string Device::timerFrequency(const Request& r, std::vector<Outgoing>&) {
    return data(r.command, packU16(m_timerRunning ? m_timerFrequency : 0));
}

std::string Device::eventStatus(const Request& r, std::vector<Outgoing>&) {
    ArgReader in(r.args);
    const unsigned event = in.u8();
    const unsigned buffer = in.u8();
    const auto it = m_bindings.find({event, buffer});
    const bool armed = it != m_bindings.end() && it->second.armed;
    const bool fired = it != m_bindings.end() && it->second.fired;
    return data(r.command, packU8(armed) + packU8(fired));
}

std::string Device::stopTimer(const Request& r, std::vector<Outgoing>&) {
    m_timerRunning = false;
    return done(r.command);
}

// The commands below configure events: their sender is the event manager,
// whose channel receives the notifications from then on.

std::string Device::resetEvents(const Request& r, std::vector<Outgoing>&) {
    m_buffers.clear();
    m_bindings.clear();
    m_timerRunning = false;
    noteEventChannel(r.from);
    return done(r.command);
}

std::string Device::configureBuffer(const Request& r, std::vector<Outgoing>&) {
    m_buffers[ArgReader(r.args).u8()] = Buffer{r.args.substr(1), r.from};
    noteEventChannel(r.from);
    return done(r.command);
}

std::string Device::enableEvent(const Request& r, std::vector<Outgoing>&) {
    ArgReader in(r.args);
    const unsigned event = in.u8();
    const unsigned buffer = in.u8();
    if (event >= kEventCount || m_buffers.count(buffer) == 0)
        return failure(r.command, tavrel::InvalidArgument);
    Binding b;
    b.armed = true;
    b.repeat = in.u8() != 0;
    m_bindings[{event, buffer}] = b;
    noteEventChannel(r.from);
    return done(r.command);
}

std::string Device::disableEvent(const Request& r, std::vector<Outgoing>&) {
    ArgReader in(r.args);
    const unsigned event = in.u8();
    const unsigned buffer = in.u8();
    if (event >= kEventCount)
        return failure(r.command, tavrel::InvalidArgument);
    m_bindings.erase({event, buffer});
    noteEventChannel(r.from);
    return done(r.command);
}

std::string Device::startTimer(const Request& r, std::vector<Outgoing>&) {
    const unsigned frequency = ArgReader(r.args).u16();
    // The timer ticks at most kMaximumTimerHz: a faster one cannot run.
    if (frequency == 0 || frequency > kMaximumTimerHz)
        return failure(r.command, tavrel::ArgumentOutOfRange);
    m_timerFrequency = frequency;
    m_timerRunning = true;
    m_nextTimerTick = m_clock + timerPeriod();
    noteEventChannel(r.from);
    return done(r.command);
}

std::string Device::isolatedIO(const Request& r, std::vector<Outgoing>&) {
    // Nothing drives the isolated inputs of a simulated device: they read 0.
    return data(r.command, packU8(m_ioOutputs) + packU8(0));
}

std::string Device::ioEventInput(const Request& r, std::vector<Outgoing>&) {
    return data(r.command, packU8(m_ioEventA) + packU8(m_ioEventB));
}

std::string Device::setIOEventInput(const Request& r, std::vector<Outgoing>&) {
    ArgReader in(r.args);
    m_ioEventA = static_cast<unsigned char>(in.u8());
    m_ioEventB = static_cast<unsigned char>(in.u8());
    return done(r.command);
}

std::string Device::capturedAngles(const Request& r, std::vector<Outgoing>&) {
    double az = m_capturedAzimuth;
    if (az < 0.0)
        az += 360.0;
    const auto azHundredths = static_cast<unsigned>(std::lround(az * 100.0)) % 36000;
    const auto elHundredths = static_cast<int>(std::lround(m_capturedElevation * 100.0));
    return data(r.command, packU16(azHundredths) + packU16(static_cast<unsigned>(elHundredths)));
}

std::string Device::setIsolatedIO(const Request& r, std::vector<Outgoing>& out) {
    // The pattern of all eight lines.
    return setOutputs(r, static_cast<unsigned char>(ArgReader(r.args).u8()), out);
}

std::string Device::toggleIsolatedIO(const Request& r, std::vector<Outgoing>& out) {
    const unsigned line = ArgReader(r.args).u8();
    if (line > 7)
        return failure(r.command, tavrel::ArgumentOutOfRange);
    return setOutputs(r, static_cast<unsigned char>(m_ioOutputs ^ (1u << line)), out);
}

std::string Device::setOutputs(const Request& r, unsigned char outputs,
                               std::vector<Outgoing>& out) {
    if (outputs != m_ioOutputs) {
        m_ioOutputs = outputs;
        // An edge on the isolated line captures the aperture angles and is an event.
        anglesAt(m_clock, m_capturedAzimuth, m_capturedElevation);
        fireEvent(kEventIsolatedIO, out);
    }
    return done(r.command);
}

std::string Device::flashPageError(const Request& r, bool writing) const {
    const unsigned page = static_cast<unsigned char>(r.args[0]);
    if (page >= kFlashPages)
        return failure(r.command, tavrel::BadFlashPage);
    // Page 0 is the factory page.
    if (writing && page == 0)
        return failure(r.command, tavrel::BadFlashKey);
    return std::string();
}

std::string Device::readFlash(const Request& r, std::vector<Outgoing>&) {
    const std::string error = flashPageError(r, false);
    return error.empty() ? data(r.command, m_flash[static_cast<unsigned char>(r.args[0])]) : error;
}

std::string Device::writeFlash(const Request& r, std::vector<Outgoing>&) {
    // A page holds exactly the data of the shortest write.
    if (r.args.size() != 1 + kFlashPageSize)
        return failure(r.command, tavrel::InvalidArgumentLength);
    const std::string error = flashPageError(r, true);
    if (!error.empty())
        return error;
    m_flash[static_cast<unsigned char>(r.args[0])] = r.args.substr(1);
    return done(r.command);
}

std::string Device::eraseFlash(const Request& r, std::vector<Outgoing>&) {
    const std::string error = flashPageError(r, true);
    if (!error.empty())
        return error;
    m_flash[static_cast<unsigned char>(r.args[0])] = std::string(kFlashPageSize, '\xFF');
    return done(r.command);
}

} // namespace sim
} // namespace sentova
