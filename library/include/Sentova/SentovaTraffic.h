// Observing the datagrams that cross the library's sockets, for recording the
// device traffic. The command channel, the event manager and the laser listener
// each take an observer; the same observer may watch all three.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tavrel {

// One UDP datagram as it left or reached one of the library's sockets.
// Addresses are IPv4 in host byte order, as they stand in the IP header: for a
// datagram the library sent, the source is the local address the system used
// toward the device and the socket's port; for one it received, the sender.
struct traffic_datagram_t {
    std::uint64_t timeMicros; // system clock, microseconds since the Unix epoch:
                              // when it was handed to the system or arrived
    std::uint32_t sourceAddress;
    std::uint16_t sourcePort;
    std::uint32_t destinationAddress;
    std::uint16_t destinationPort;
    const char* data; // the datagram's bytes, valid during the call only
    std::size_t size;
};

// Implemented by the application.
class SentovaTrafficCallbackClass {
public:
    virtual ~SentovaTrafficCallbackClass() = default;
    // Called for every datagram the observed object sends or receives, on the
    // thread that sent or received it (the caller's thread for commands, the
    // socket threads for replies, notifications and laser data), with no
    // library lock held. A command is shown just before it is sent and a
    // received datagram before it is dispatched, so a command always comes
    // before its reply. Received laser data carries the system's arrival time
    // stamp; a command channel receives at most 1023 bytes of a datagram.
    // It delays the traffic it observes, so it should copy what it needs and
    // return. An exception it throws is logged and dropped.
    virtual void TrafficCallback(const traffic_datagram_t& datagram) = 0;
};

} // namespace tavrel
