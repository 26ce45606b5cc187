// Reply and notification datagrams of arbitrary bytes through the device
// controller's and the event manager's dispatchers, with a trigger callback and
// event callbacks registered so that those paths run too. The first byte picks
// the channel; the next six are the code, the rest the payload.
#include "SentovaEventManagerPrivate.h"
#include "SentovaPrivate.h"

#include "Sentova/SentovaCallbacks.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

struct Trigger : tavrel::SentovaHighPerfTriggerCallbackClass {
    void HighPerfTriggerCallback(unsigned int, unsigned int, double, double,
                                 unsigned int) override {}
};

struct Events : tavrel::SentovaEventCallbackClass {
    // The payload's length is not passed; only its first byte (the event
    // number) is guaranteed to be there.
    void EventCallback(unsigned int, unsigned int event, char* payload) override {
        sink += static_cast<unsigned char>(payload[0]) + event;
    }
    unsigned int sink = 0;
};

struct Channels {
    // Nothing listens at this loopback address: the channels only send their
    // opening datagram there.
    tavrel::SentovaPrivate controller{"127.0.0.250", 4365};
    tavrel::SentovaEventManagerPrivate events{"127.0.0.250", 4365, 0};
    Trigger trigger;
    Events eventCallback;
    Channels() {
        controller.RegisterHighPerfTriggerCallback(&trigger);
        for (unsigned int event : {0u, 1u, 2u, 3u, 128u, 255u})
            events.RegisterEventCallback(event, &eventCallback);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Channels channels;
    if (size < 7)
        return 0;
    std::string code(reinterpret_cast<const char*>(data + 1), 6);
    std::string payload(reinterpret_cast<const char*>(data + 7), size - 7);
    if (data[0] & 1)
        channels.events.BaseRXCallback(code, payload, "127.0.0.250");
    else
        channels.controller.BaseRXCallback(code, payload, "127.0.0.250");
    return 0;
}
