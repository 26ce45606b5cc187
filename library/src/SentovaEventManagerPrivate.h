// The event manager's channel: one-at-a-time transactions, the event
// operations with their reply decoding, and the event callback registry.
#pragma once

#include "CommandTransaction.h"
#include "SentovaBase.h"

#include "Sentova/SentovaCallbacks.h"
#include "Sentova/SentovaError.h"

#include <boost/thread/mutex.hpp>

#include <atomic>
#include <functional>
#include <map>
#include <string>

namespace tavrel {

class SentovaEventManagerPrivate final : public SentovaBase {
public:
    SentovaEventManagerPrivate(std::string address, unsigned short remotePort,
                               unsigned short localPort);
    ~SentovaEventManagerPrivate();

    tavrel_error_t ResetEvents();
    tavrel_error_t EventEnable(unsigned int a, unsigned int b, bool flag);
    tavrel_error_t EventDisable(unsigned int a, unsigned int b);
    tavrel_error_t EventStatus(unsigned int a, unsigned int b, bool& first, bool& second);
    tavrel_error_t StartTimer(unsigned int frequency);
    tavrel_error_t StopTimer();
    tavrel_error_t GetTimerFrequency(unsigned int& frequency);
    tavrel_error_t ConfigureCommandBuffer(unsigned int n, std::string command);
    tavrel_error_t IsolatedIOSet(unsigned int n);
    tavrel_error_t IsolatedIOToggle(unsigned int n);
    tavrel_error_t IsolatedIOGet(unsigned char& first, unsigned char& second);
    tavrel_error_t IsolatedIOSetEventInput(unsigned char a, unsigned char b);
    tavrel_error_t IsolatedIOGetEventInput(unsigned char& first, unsigned char& second);
    tavrel_error_t IsolatedIOGetCapturedAngles(double& first, double& second);
    tavrel_error_t ManagerSendCommand(std::string command);

    int RegisterEventCallback(unsigned int event, SentovaEventCallbackClass* callback);
    int DeregisterEventCallback(unsigned int event, SentovaEventCallbackClass* callback);
    int ResetEventCallbacks(unsigned int event);
    int ResetEventCallbacks();

    // The reply time-out is fixed at 5000 ms for applications; tests shorten it.
    void SetResponseTimeout(unsigned int milliseconds) { m_responseTimeout = milliseconds; }

    // The reply and notification dispatcher, run on the socket thread for every
    // datagram; public so that fuzzing can hand it datagrams without a socket.
    void BaseRXCallback(std::string code, std::string payload, std::string sender) override;

private:
    // Reads the data of a successful reply from its front; missing bytes read
    // as zero.
    using Reader = std::function<void(std::string& data)>;

    tavrel_error_t Transact(const std::string& command, const Reader& read = nullptr);
    void DispatchNotification(unsigned int kind, std::string& payload);

    CommandTransaction m_transaction{*this};
    std::atomic<unsigned int> m_responseTimeout;

    // m_callbackMutex guards m_eventCallbacks; held while one notification's
    // callbacks run. Never held together with m_commandMutex.
    boost::mutex m_callbackMutex;
    // Entries of one event number stay in registration order.
    std::multimap<unsigned int, SentovaEventCallbackClass*> m_eventCallbacks;
};

} // namespace tavrel
