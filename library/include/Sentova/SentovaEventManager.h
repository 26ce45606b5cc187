// The device's event system, command buffers, event timer and isolated I/O,
// on a channel of its own (own UDP socket on an ephemeral port, own thread).
#pragma once

#include "Sentova/SentovaCallbacks.h"
#include "Sentova/SentovaError.h"
#include "Sentova/SentovaTraffic.h"

#include <cstdint>
#include <memory>
#include <string>

namespace tavrel {

class SentovaEventManagerPrivate;

// Transactions run one at a time on the caller's thread and wait up to 5000 ms
// for the reply: a concurrent one gets 253 at once, a missing reply 254, an
// "EE" reply the device's code. Query outputs are written only on success.
//
// Event callbacks run on the event manager's socket thread, in registration
// order, while the registry lock is held: they must return quickly and must not
// call this event manager (neither transactions nor the registry).
class SentovaEventManager {
public:
    // address: dotted IPv4. Throws boost::system::system_error for any other
    // text (its what() begins "'TEXT' is not an IPv4 address") or when the
    // socket cannot be opened or the first datagram not sent.
    explicit SentovaEventManager(std::string address);
    // Stops the socket thread first, so no callback runs once this returns.
    // Must not be called from an event callback.
    ~SentovaEventManager();
    SentovaEventManager(const SentovaEventManager&) = delete;
    SentovaEventManager& operator=(const SentovaEventManager&) = delete;

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
    // first: 0 to 655.35 degrees; second: -327.68 to 327.67 degrees.
    tavrel_error_t IsolatedIOGetCapturedAngles(double& first, double& second);
    // Sends any command (at least six bytes) as one transaction.
    tavrel_error_t ManagerSendCommand(std::string command);

    // The registry: event number to callbacks, several per number, called in
    // registration order. Registering the same pair twice calls it twice.
    int RegisterEventCallback(unsigned int event, SentovaEventCallbackClass* callback);
    // Removes the first matching entry: 1 if one was removed, else 0.
    int DeregisterEventCallback(unsigned int event, SentovaEventCallbackClass* callback);
    int ResetEventCallbacks(unsigned int event);
    int ResetEventCallbacks();

    // Shows every command this object sends and every datagram its socket
    // receives (replies, event notifications) to observer; nullptr removes it. Commands are shown
    // on the calling thread just before they are sent, received datagrams on
    // the socket thread before they are dispatched. Any thread may call this.
    void SetTrafficObserver(std::shared_ptr<SentovaTrafficCallbackClass> observer);

    // Datagrams that reached this object's socket from a host other than the
    // device and were dropped unread (no reply, notification or record is
    // taken from them). With a broadcast device address every sender is taken,
    // and this stays 0. Any thread.
    std::uint64_t GetRefusedSenderCount();

private:
    SentovaEventManagerPrivate* m_private;
};

} // namespace tavrel
