// The event manager's channel: one-at-a-time transactions, the event
// operations with their reply decoding, and the event callback registry.
#pragma once

#include "SentovaBase.h"

#include "Sentova/SentovaCallbacks.h"
#include "Sentova/SentovaError.h"

#include <boost/thread/condition_variable.hpp>
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
    // Reads the data of a successful reply from the front of m_lastResponse,
    // with m_commandMutex held.
    using Decoder = std::function<void(std::string& response)>;

    tavrel_error_t Transact(const std::string& command, const Decoder& decode);
    tavrel_error_t WaitForCommandResponse(boost::unique_lock<boost::mutex>& lock,
                                          unsigned int timeout);
    // Wakes a transaction waiting on another thread and returns once it has
    // left, so that the members it uses outlive it.
    void EndWaitingTransaction();
    void DispatchNotification(unsigned int kind, std::string& payload);

    // m_commandMutex guards m_pendingCommand and m_lastResponse, and is held by
    // the requester for a whole transaction except while it waits.
    boost::mutex m_commandMutex;
    boost::condition_variable m_commandCondition;
    std::string m_pendingCommand;
    std::string m_lastResponse;
    // Written under m_commandMutex; read before taking it.
    std::atomic<bool> m_commandInProgress{false};
    // Set by the destructor: ends a waiting transaction and refuses new ones.
    std::atomic<bool> m_closing{false};
    std::atomic<tavrel_error_t> m_lastError{NoError};
    std::atomic<unsigned int> m_responseTimeout;

    // m_callbackMutex guards m_eventCallbacks; held while one notification's
    // callbacks run. Never held together with m_commandMutex.
    boost::mutex m_callbackMutex;
    // Entries of one event number stay in registration order.
    std::multimap<unsigned int, SentovaEventCallbackClass*> m_eventCallbacks;
};

} // namespace tavrel
