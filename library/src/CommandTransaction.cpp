#include "CommandTransaction.h"

#include "ReplyDecoding.h"
#include "SentovaBase.h"

#include "Sentova/Protocol.h"

#include <boost/chrono.hpp>

namespace tavrel {

tavrel_error_t CommandTransaction::Run(const std::string& command, unsigned int timeout,
                                       const Decoder& decode) {
    if (command.size() < protocol::kCodeLength)
        return UnknownCommand;
    boost::unique_lock<boost::mutex> lock(m_mutex, boost::try_to_lock);
    if (!lock.owns_lock() || m_busy || m_closing)
        return DriverBusy;
    m_busy = true;
    m_command = command;
    m_response.clear();
    if (m_channel.TrafficObserved()) {
        // Busy keeps other transactions out while the observer runs unlocked.
        lock.unlock();
        m_channel.ObserveOutgoing(command);
        lock.lock();
        if (m_closing) {
            Leave();
            return Timeout;
        }
    }
    m_inProgress = true;
    try {
        m_channel.SendCommand(command);
    } catch (...) {
        // Leaving the channel reserved would refuse every later command with 253.
        m_inProgress = false;
        Leave();
        throw;
    }
    tavrel_error_t result = Wait(lock, timeout);
    if (result == NoError && decode) {
        result = decode(m_response);
        m_lastError = result;
    }
    Leave();
    return result;
}

tavrel_error_t CommandTransaction::Wait(boost::unique_lock<boost::mutex>& lock,
                                        unsigned int timeout) {
    // Closing also ends the wait, as a time-out.
    const auto done = [this] { return !m_inProgress || m_closing; };
    if (timeout == 0) {
        m_condition.wait(lock, done);
    } else {
        const auto deadline =
            boost::chrono::steady_clock::now() + boost::chrono::milliseconds(timeout);
        m_condition.wait_until(lock, deadline, done);
    }
    if (m_inProgress) {
        m_inProgress = false;
        m_lastError = Timeout;
        return Timeout;
    }
    return m_lastError;
}

// Called with m_mutex held.
void CommandTransaction::Leave() {
    m_busy = false;
    m_condition.notify_all();
}

bool CommandTransaction::Complete(const std::string& code, const std::string& payload) {
    if (!m_inProgress)
        return false;
    boost::lock_guard<boost::mutex> lock(m_mutex);
    // Checked again under the lock: the requester may have timed out meanwhile,
    // and a late reply must not replace its 254.
    if (!m_inProgress || !SameStem(m_command, code))
        return false;
    if (HasClass(code, protocol::kClassError)) {
        m_lastError = DeviceErrorCode(payload);
    } else if (HasClass(code, protocol::kClassDone)) {
        m_lastError = NoError;
    } else if (HasClass(code, protocol::kClassData)) {
        m_lastError = NoError;
        m_response = payload;
    } else {
        // The right stem with a class the device does not send: a reply nobody
        // can read, never the result of an earlier transaction.
        m_lastError = OtherError;
    }
    m_inProgress = false;
    // All: Close may be waiting on the same condition.
    m_condition.notify_all();
    return true;
}

void CommandTransaction::Close() {
    boost::unique_lock<boost::mutex> lock(m_mutex);
    m_closing = true;
    m_condition.notify_all();
    m_condition.wait(lock, [this] { return !m_busy; });
}

tavrel_error_t CommandTransaction::LastResponse(std::string& out) {
    boost::lock_guard<boost::mutex> lock(m_mutex);
    const tavrel_error_t result = m_lastError;
    if (result == NoError)
        out = m_response;
    return result;
}

} // namespace tavrel
