// Callback interfaces implemented by the application. The library never owns,
// copies or deletes a callback object; it must outlive its registration.
#pragma once

#include "Sentova/SentovaError.h"

namespace tavrel {

// Outcome of one non-blocking device operation.
class SentovaNotificationCallbackClass {
public:
    virtual ~SentovaNotificationCallbackClass() = default;
    // Called exactly once per completed transaction, on the controller's socket
    // thread, with the controller's non-blocking lock held: 0, the device's error
    // code, or 254 (no reply in time). Must not start operations of that controller.
    virtual void NotificationCallback(tavrel_error_t result) = 0;
};

// Event notifications of the event manager.
class SentovaEventCallbackClass {
public:
    virtual ~SentovaEventCallbackClass() = default;
    // Called on the event manager's socket thread with its callback lock held.
    // kind: 0 "EBAACK", 1 "EBACNG", 2 "EBAANG", 3 "EBADRT"; payload points to the
    // notification's payload, whose first byte is the event number. Must return
    // quickly and must not call back into the same event manager.
    virtual void EventCallback(unsigned int kind, unsigned int event, char* payload) = 0;
};

// High-performance trigger records.
class SentovaHighPerfTriggerCallbackClass {
public:
    virtual ~SentovaHighPerfTriggerCallbackClass() = default;
    // Called on the trigger's own thread, no library lock held; angles in degrees.
    // When records arrive faster than this returns, only the latest is delivered.
    // Must not destroy a device controller.
    virtual void HighPerfTriggerCallback(unsigned int index, unsigned int tStamp, double azimuth,
                                         double elevation, unsigned int exp) = 0;
};

} // namespace tavrel
