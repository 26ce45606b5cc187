#include "SentovaEventManagerPrivate.h"

#include "ReplyDecoding.h"

#include "Sentova/CommandSerialiser.h"
#include "Sentova/Encoding.h"
#include "Sentova/Protocol.h"

#include <boost/chrono.hpp>

namespace tavrel {

SentovaEventManagerPrivate::SentovaEventManagerPrivate(std::string address,
                                                       unsigned short remotePort,
                                                       unsigned short localPort)
    : SentovaBase(address, remotePort, localPort),
      m_responseTimeout(protocol::kEventManagerTimeoutMs) {
    StartReceiving();
}

SentovaEventManagerPrivate::~SentovaEventManagerPrivate() {
    // Before the registry and the transaction state go.
    EndWaitingTransaction();
    StopSocketThread();
}

tavrel_error_t SentovaEventManagerPrivate::ManagerSendCommand(std::string command) {
    return Transact(command, nullptr);
}

tavrel_error_t SentovaEventManagerPrivate::Transact(const std::string& command,
                                                    const Decoder& decode) {
    if (command.size() < protocol::kCodeLength)
        return UnknownCommand;
    boost::unique_lock<boost::mutex> lock(m_commandMutex, boost::try_to_lock);
    if (!lock.owns_lock() || m_commandInProgress || m_closing)
        return DriverBusy;
    m_commandInProgress = true;
    m_pendingCommand = command;
    try {
        SendCommand(command);
    } catch (...) {
        m_commandInProgress = false;
        throw;
    }
    const tavrel_error_t result = WaitForCommandResponse(lock, m_responseTimeout);
    m_commandInProgress = false;
    if (result == NoError && decode)
        decode(m_lastResponse);
    return result;
}

void SentovaEventManagerPrivate::EndWaitingTransaction() {
    m_closing = true;
    for (;;) {
        {
            boost::lock_guard<boost::mutex> lock(m_commandMutex);
            if (!m_commandInProgress)
                return;
            m_commandCondition.notify_all();
        }
        boost::this_thread::sleep_for(boost::chrono::milliseconds(1));
    }
}

tavrel_error_t
SentovaEventManagerPrivate::WaitForCommandResponse(boost::unique_lock<boost::mutex>& lock,
                                                   unsigned int timeout) {
    // Shutdown also ends the wait, as a time-out.
    const auto done = [this] { return !m_commandInProgress || m_closing; };
    if (timeout == 0) {
        m_commandCondition.wait(lock, done);
    } else {
        const auto deadline =
            boost::chrono::steady_clock::now() + boost::chrono::milliseconds(timeout);
        m_commandCondition.wait_until(lock, deadline, done);
    }
    if (m_commandInProgress) {
        m_commandInProgress = false;
        m_lastError = Timeout;
        return Timeout;
    }
    return m_lastError;
}

void SentovaEventManagerPrivate::BaseRXCallback(std::string code, std::string payload,
                                                std::string) {
    if (m_commandInProgress) {
        boost::lock_guard<boost::mutex> lock(m_commandMutex);
        // Checked again: after a time-out the late reply is only a notification.
        if (m_commandInProgress && SameStem(m_pendingCommand, code)) {
            if (HasClass(code, protocol::kClassError)) {
                m_lastError = DeviceErrorCode(payload);
            } else if (HasClass(code, protocol::kClassDone)) {
                m_lastError = NoError;
            } else if (HasClass(code, protocol::kClassData)) {
                m_lastError = NoError;
                m_lastResponse = payload;
            }
            m_commandInProgress = false;
            m_commandCondition.notify_one();
            return;
        }
    }
    for (unsigned int kind = 0; kind < 4; ++kind) {
        if (code == protocol::kNotificationCodes[kind]) {
            DispatchNotification(kind, payload);
            return;
        }
    }
}

void SentovaEventManagerPrivate::DispatchNotification(unsigned int kind, std::string& payload) {
    if (payload.empty())
        return;
    const unsigned int event = static_cast<unsigned char>(payload[0]);
    boost::lock_guard<boost::mutex> lock(m_callbackMutex);
    const auto range = m_eventCallbacks.equal_range(event);
    for (auto it = range.first; it != range.second; ++it)
        it->second->EventCallback(kind, event, &payload[0]);
}

int SentovaEventManagerPrivate::RegisterEventCallback(unsigned int event,
                                                      SentovaEventCallbackClass* callback) {
    boost::lock_guard<boost::mutex> lock(m_callbackMutex);
    // Inserted after the existing entries of the same key.
    m_eventCallbacks.emplace(event, callback);
    return 0;
}

int SentovaEventManagerPrivate::DeregisterEventCallback(unsigned int event,
                                                        SentovaEventCallbackClass* callback) {
    boost::lock_guard<boost::mutex> lock(m_callbackMutex);
    const auto range = m_eventCallbacks.equal_range(event);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second == callback) {
            m_eventCallbacks.erase(it);
            return 1;
        }
    }
    return 0;
}

int SentovaEventManagerPrivate::ResetEventCallbacks(unsigned int event) {
    boost::lock_guard<boost::mutex> lock(m_callbackMutex);
    m_eventCallbacks.erase(event);
    return 0;
}

int SentovaEventManagerPrivate::ResetEventCallbacks() {
    boost::lock_guard<boost::mutex> lock(m_callbackMutex);
    m_eventCallbacks.clear();
    return 0;
}

tavrel_error_t SentovaEventManagerPrivate::ResetEvents() {
    return Transact(CommandSerialiser::SVERST(), nullptr);
}

tavrel_error_t SentovaEventManagerPrivate::EventEnable(unsigned int a, unsigned int b, bool flag) {
    return Transact(CommandSerialiser::SVEENB(a, b, flag), nullptr);
}

tavrel_error_t SentovaEventManagerPrivate::EventDisable(unsigned int a, unsigned int b) {
    return Transact(CommandSerialiser::SVEDIS(a, b), nullptr);
}

tavrel_error_t SentovaEventManagerPrivate::EventStatus(unsigned int a, unsigned int b, bool& first,
                                                       bool& second) {
    return Transact(CommandSerialiser::SVESTS(a, b), [&](std::string& response) {
        first = UnpackInt8(response) != 0;
        second = UnpackInt8(response) != 0;
    });
}

tavrel_error_t SentovaEventManagerPrivate::StartTimer(unsigned int frequency) {
    return Transact(CommandSerialiser::SVERTM(frequency), nullptr);
}

tavrel_error_t SentovaEventManagerPrivate::StopTimer() {
    return Transact(CommandSerialiser::SVESTM(), nullptr);
}

tavrel_error_t SentovaEventManagerPrivate::GetTimerFrequency(unsigned int& frequency) {
    return Transact(CommandSerialiser::SVEGTM(),
                    [&](std::string& response) { frequency = UnpackInt16(response); });
}

tavrel_error_t SentovaEventManagerPrivate::ConfigureCommandBuffer(unsigned int n,
                                                                  std::string command) {
    return Transact(CommandSerialiser::SVECCF(n, std::move(command)), nullptr);
}

tavrel_error_t SentovaEventManagerPrivate::IsolatedIOSet(unsigned int n) {
    return Transact(CommandSerialiser::SVIIOS(n), nullptr);
}

tavrel_error_t SentovaEventManagerPrivate::IsolatedIOToggle(unsigned int n) {
    return Transact(CommandSerialiser::SVIIOT(n), nullptr);
}

tavrel_error_t SentovaEventManagerPrivate::IsolatedIOGet(unsigned char& first,
                                                         unsigned char& second) {
    return Transact(CommandSerialiser::SVIIOG(), [&](std::string& response) {
        first = UnpackInt8(response);
        second = UnpackInt8(response);
    });
}

tavrel_error_t SentovaEventManagerPrivate::IsolatedIOSetEventInput(unsigned char a,
                                                                   unsigned char b) {
    return Transact(CommandSerialiser::SVIOSE(a, b), nullptr);
}

tavrel_error_t SentovaEventManagerPrivate::IsolatedIOGetEventInput(unsigned char& first,
                                                                   unsigned char& second) {
    return Transact(CommandSerialiser::SVIOGE(), [&](std::string& response) {
        first = UnpackInt8(response);
        second = UnpackInt8(response);
    });
}

tavrel_error_t SentovaEventManagerPrivate::IsolatedIOGetCapturedAngles(double& first,
                                                                       double& second) {
    return Transact(CommandSerialiser::SVGCAA(), [&](std::string& response) {
        first = UnpackInt16(response) / 100.0;
        second = UnpackSignedInt16(response) / 100.0;
    });
}

} // namespace tavrel
