#include "DeviceActivity.h"

#include "Sentova/CommandTable.h"
#include "Sentova/StreamParameters.h"

#include <algorithm>
#include <cstdio>

namespace sentova::session {

namespace {

// Head-room over the library's own time-out before a missing reply counts as silence.
constexpr std::int64_t kReplyMarginMs = 250;

std::string codeOf(const std::string& datagram) {
    return datagram.substr(0, 6);
}

unsigned byteAt(const std::string& s, std::size_t i) {
    return i < s.size() ? static_cast<unsigned char>(s[i]) : 0u;
}

bool isStreamStart(const std::string& command) {
    return tavrel::ParseStreamParameters(command).has_value();
}

} // namespace

void DeviceActivity::sent(Channel channel, const std::string& datagram, std::int64_t nowMs) {
    m_lastSentMs = nowMs;
    if (datagram.size() < 6 || datagram.compare(0, 2, "SV") != 0) {
        return;
    }
    const std::string code = codeOf(datagram);
    const std::int64_t allowance = channel == Channel::Events     ? m_timeouts.eventsMs
                                   : tavrel::WaitsForMotion(code) ? m_timeouts.motionMs
                                                                  : m_timeouts.responseMs;
    m_pending[static_cast<int>(channel)] = Pending{datagram, nowMs, allowance};
}

void DeviceActivity::received(Channel channel, const std::string& datagram, std::int64_t nowMs) {
    if (datagram.size() < 6) {
        return;
    }
    m_lastReplyMs = nowMs;
    const std::string status = datagram.substr(0, 2);
    if (codeOf(datagram) == "EBAACK") {
        // The device ran the command buffers bound to this event.
        eventOccurred(byteAt(datagram, 6));
        return;
    }
    std::optional<Pending>& pending = m_pending[static_cast<int>(channel)];
    if (!pending || (status != "EA" && status != "ER" && status != "EE") ||
        datagram.compare(2, 4, pending->command, 2, 4) != 0) {
        return;
    }
    if (status != "EE") {
        carriedOut(pending->command, datagram.substr(6));
    }
    pending.reset();
}

void DeviceActivity::carriedOut(const std::string& command, const std::string& replyPayload) {
    const std::string code = codeOf(command);
    if (isStreamStart(command)) {
        m_laser = Laser::Started;
    } else if (code == "SVSRBE") {
        m_laser = Laser::Stopped;
        rearm();
    } else if (code == "SVSFFS" || code == "SVSBES" || code == "SVSRES") {
        m_scanning = true;
    } else if (code == "SVSTOP") {
        m_scanning = false;
    } else if (code == "SVERST") {
        m_buffers.clear();
        m_bindings.clear();
        if (m_laser == Laser::Armed) {
            m_laser = Laser::Stopped;
        } else if (m_laser == Laser::StreamingFrame) {
            // Nothing will stop it at the frame's end any more.
            m_laser = Laser::Started;
        }
    } else if (code == "SVECCF" && command.size() > 7) {
        m_buffers[byteAt(command, 6)] = command.substr(7);
    } else if (code == "SVEENB" && command.size() >= 9) {
        // On the wire: event, buffer, flag (non-zero: every time the event occurs).
        std::vector<Binding>& bound = m_bindings[byteAt(command, 6)];
        const unsigned buffer = byteAt(command, 7);
        bound.erase(std::remove_if(bound.begin(), bound.end(),
                                   [&](const Binding& b) { return b.buffer == buffer; }),
                    bound.end());
        bound.push_back({buffer, byteAt(command, 8) == 0});
        rearm();
    } else if (code == "SVEDIS" && command.size() >= 8) {
        std::vector<Binding>& bound = m_bindings[byteAt(command, 6)];
        const unsigned buffer = byteAt(command, 7);
        bound.erase(std::remove_if(bound.begin(), bound.end(),
                                   [&](const Binding& b) { return b.buffer == buffer; }),
                    bound.end());
        if (m_laser == Laser::Armed) {
            m_laser = Laser::Stopped;
            rearm();
        }
    } else if (code == "SVCQRE") {
        m_serial = replyPayload;
    }
}

void DeviceActivity::eventOccurred(unsigned event) {
    const auto found = m_bindings.find(event);
    if (found == m_bindings.end()) {
        return;
    }
    const std::vector<Binding> bound = found->second;
    found->second.erase(std::remove_if(found->second.begin(), found->second.end(),
                                       [](const Binding& b) { return b.once; }),
                        found->second.end());
    for (const Binding& binding : bound) {
        const auto stored = m_buffers.find(binding.buffer);
        if (stored == m_buffers.end()) {
            continue;
        }
        carriedOut(stored->second, {});
        if (isStreamStart(stored->second)) {
            m_laser = Laser::StreamingFrame;
        }
    }
}

void DeviceActivity::rearm() {
    if (m_laser != Laser::Stopped) {
        return;
    }
    for (const auto& [event, bound] : m_bindings) {
        for (const Binding& binding : bound) {
            const auto stored = m_buffers.find(binding.buffer);
            if (stored != m_buffers.end() && isStreamStart(stored->second)) {
                m_laser = Laser::Armed;
                return;
            }
        }
    }
}

DeviceActivity::Answer DeviceActivity::answer(std::int64_t nowMs) const {
    for (const std::optional<Pending>& pending : m_pending) {
        if (pending && nowMs - pending->sentMs > pending->allowanceMs + kReplyMarginMs &&
            (!m_lastReplyMs || *m_lastReplyMs < pending->sentMs)) {
            return Answer::NotAnswering;
        }
    }
    return m_lastReplyMs ? Answer::Answering : Answer::Unknown;
}

bool DeviceActivity::quietFor(std::int64_t intervalMs, std::int64_t nowMs) const {
    std::optional<std::int64_t> last = m_lastSentMs;
    if (m_lastReplyMs && (!last || *m_lastReplyMs > *last)) {
        last = m_lastReplyMs;
    }
    return !last || nowMs - *last >= intervalMs;
}

} // namespace sentova::session
