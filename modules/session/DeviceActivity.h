// What a program knows of the device from the datagrams on its two command channels: whether the
// device answers and how long ago it last did, its serial number, and what this program set it
// doing (the laser stream, a scan, Get Frame's armed events). Pure: the caller feeds it the
// traffic with the time, and guards it with a lock of its own when several threads do.
#pragma once

#include "Sentova/Protocol.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sentova::session {

// The device controller's channel and the event manager's: each runs one transaction at a time.
enum class Channel { Control = 0, Events = 1 };

class DeviceActivity {
public:
    // How long the library waits for a reply: on the control channel for motions (home, move)
    // and everything else, and on the event manager's channel.
    struct Timeouts {
        std::int64_t responseMs = tavrel::protocol::kResponseTimeoutMs;
        std::int64_t motionMs = tavrel::protocol::kMotionTimeoutMs;
        std::int64_t eventsMs = tavrel::protocol::kEventManagerTimeoutMs;
    };

    enum class Answer { Unknown, Answering, NotAnswering };
    enum class Laser { Stopped, Started, Armed, StreamingFrame };

    DeviceActivity() = default;
    explicit DeviceActivity(Timeouts timeouts) : m_timeouts(timeouts) {}

    // A datagram this program sent on a channel, or received there from the device.
    void sent(Channel channel, const std::string& datagram, std::int64_t nowMs);
    void received(Channel channel, const std::string& datagram, std::int64_t nowMs);

    // Answering once a reply has come and no command has outlived its time-out since; not
    // answering when one has; unknown before either.
    Answer answer(std::int64_t nowMs) const;
    std::optional<std::int64_t> lastReplyMs() const { return m_lastReplyMs; }
    // True while nothing has crossed either channel for intervalMs: time to ask the device
    // something cheap, so that its silence shows.
    bool quietFor(std::int64_t intervalMs, std::int64_t nowMs) const;

    Laser laser() const { return m_laser; }
    // The laser stream this program started (or armed) and has not seen stopped.
    bool streamStarted() const { return m_laser != Laser::Stopped; }
    // A scan this program started and has not seen stopped.
    bool scanStarted() const { return m_scanning; }
    // The last serial number the device gave; empty before.
    const std::string& serial() const { return m_serial; }

private:
    struct Pending {
        std::string command;
        std::int64_t sentMs = 0;
        std::int64_t allowanceMs = 0;
    };
    struct Binding {
        unsigned buffer = 0;
        bool once = true;
    };

    // The effect of a command the device carried out, sent by this program or run from one of
    // the device's command buffers.
    void carriedOut(const std::string& command, const std::string& replyPayload);
    void eventOccurred(unsigned event);
    void rearm();

    Timeouts m_timeouts;
    std::optional<Pending> m_pending[2];
    std::optional<std::int64_t> m_lastReplyMs;
    std::optional<std::int64_t> m_lastSentMs;
    Laser m_laser = Laser::Stopped;
    bool m_scanning = false;
    std::string m_serial;
    std::map<unsigned, std::string> m_buffers;           // command buffer -> stored command
    std::map<unsigned, std::vector<Binding>> m_bindings; // event -> buffers it runs
};

} // namespace sentova::session
