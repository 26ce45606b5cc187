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
        // The timer ticks at most kMaximumTimerHz: a faster one cannot run.
        if (frequency == 0 || frequency > kMaximumTimerHz)
            return failure(command, tavrel::ArgumentOutOfRange);
        m_timerFrequency = frequency;
        m_timerRunning = true;
        m_nextTimerTick = m_clock + timerPeriod();
    }
    noteEventChannel(from);
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

} // namespace sim
} // namespace sentova
