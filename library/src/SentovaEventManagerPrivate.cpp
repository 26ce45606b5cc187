#include "SentovaEventManagerPrivate.h"

#include "ReplyDecoding.h"

#include "Sentova/CommandSerialiser.h"
#include "Sentova/Encoding.h"
#include "Sentova/Protocol.h"

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
    m_transaction.Close();
    StopSocketThread();
}

tavrel_error_t SentovaEventManagerPrivate::ManagerSendCommand(std::string command) {
    return Transact(command);
}

tavrel_error_t SentovaEventManagerPrivate::Transact(const std::string& command,
                                                    const Reader& read) {
    CommandTransaction::Decoder decode;
    if (read)
        decode = [&read](const std::string& response) {
            std::string data = response;
            read(data);
            return NoError;
        };
    return m_transaction.Run(command, m_responseTimeout, decode);
}

void SentovaEventManagerPrivate::BaseRXCallback(std::string code, std::string payload,
                                                std::string) {
    // After a time-out a late reply is only a possible notification.
    if (m_transaction.Complete(code, payload))
        return;
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
    return Transact(CommandSerialiser::SVERST());
}

tavrel_error_t SentovaEventManagerPrivate::EventEnable(unsigned int a, unsigned int b, bool flag) {
    return Transact(CommandSerialiser::SVEENB(a, b, flag));
}

tavrel_error_t SentovaEventManagerPrivate::EventDisable(unsigned int a, unsigned int b) {
    return Transact(CommandSerialiser::SVEDIS(a, b));
}

tavrel_error_t SentovaEventManagerPrivate::EventStatus(unsigned int a, unsigned int b, bool& first,
                                                       bool& second) {
    return Transact(CommandSerialiser::SVESTS(a, b), [&](std::string& response) {
        first = UnpackInt8(response) != 0;
        second = UnpackInt8(response) != 0;
    });
}

tavrel_error_t SentovaEventManagerPrivate::StartTimer(unsigned int frequency) {
    return Transact(CommandSerialiser::SVERTM(frequency));
}

tavrel_error_t SentovaEventManagerPrivate::StopTimer() {
    return Transact(CommandSerialiser::SVESTM());
}

tavrel_error_t SentovaEventManagerPrivate::GetTimerFrequency(unsigned int& frequency) {
    return Transact(CommandSerialiser::SVEGTM(),
                    [&](std::string& response) { frequency = UnpackInt16(response); });
}

tavrel_error_t SentovaEventManagerPrivate::ConfigureCommandBuffer(unsigned int n,
                                                                  std::string command) {
    return Transact(CommandSerialiser::SVECCF(n, std::move(command)));
}

tavrel_error_t SentovaEventManagerPrivate::IsolatedIOSet(unsigned int n) {
    return Transact(CommandSerialiser::SVIIOS(n));
}

tavrel_error_t SentovaEventManagerPrivate::IsolatedIOToggle(unsigned int n) {
    return Transact(CommandSerialiser::SVIIOT(n));
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
    return Transact(CommandSerialiser::SVIOSE(a, b));
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
