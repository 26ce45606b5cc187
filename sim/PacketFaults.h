// Faults injected into the laser data stream on its way out: lost, truncated,
// spoilt, doubled and reordered datagrams, and bursts. Pure: datagrams and
// times in, datagrams out, every decision drawn from the seed and the
// datagram's place in the stream, so that a run repeats exactly.
#pragma once

#include "Device.h"
#include "Random.h"

#include <cstdint>
#include <deque>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace sentova {
namespace sim {

struct PacketFaultOptions {
    double drop = 0.0;      // share never sent, 0..1
    double truncate = 0.0;  // share cut off inside a record
    double badHeader = 0.0; // share whose header is spoilt ("EBRBEX")
    double duplicate = 0.0; // share sent twice
    double reorder = 0.0;   // share held back and sent after the next datagram
    // Bursts: the stream is held back and leaves every burstIntervalMs all at
    // once, topped up to at least `burst` datagrams with large copies of its
    // last one (its records repeated to kBurstCopyRecords), which a loopback
    // reader cannot take as fast as they come. 0 = no bursts.
    unsigned burst = 0;
    unsigned burstIntervalMs = 1000;

    bool any() const {
        return drop > 0.0 || truncate > 0.0 || badHeader > 0.0 || duplicate > 0.0 ||
               reorder > 0.0 || burst > 0;
    }
};

// Records in each copy that fills a burst up: the largest laser datagram that
// fits in one UDP datagram.
constexpr std::size_t kBurstCopyRecords = 2900;

// A burst's filler: the datagram's records repeated to kBurstCopyRecords
// (the datagram itself when it has no whole record or a spoilt header).
std::string burstCopy(const std::string& datagram);

struct PacketFaultCounters {
    std::uint64_t dropped = 0;
    std::uint64_t truncated = 0;
    std::uint64_t badHeader = 0;
    std::uint64_t duplicated = 0;
    std::uint64_t reordered = 0;
    std::uint64_t bursts = 0;
    std::uint64_t burstDatagrams = 0; // datagrams that left in bursts, copies included
    std::uint64_t burstCopies = 0;    // copies added to fill bursts up
};

struct AddressedDatagram {
    Endpoint to;
    std::string bytes;
};

class PacketFaults {
public:
    PacketFaults(PacketFaultOptions options, std::uint64_t seed);

    // A laser datagram for `to`, made at time t (seconds). What leaves now is
    // appended to out, in order.
    void offer(const Endpoint& to, std::string bytes, double t,
               std::vector<AddressedDatagram>& out);
    // Appends what is held and due by time t.
    void release(double t, std::vector<AddressedDatagram>& out);
    // When release has something to do next (infinity when nothing is held).
    double nextRelease() const;

    const PacketFaultCounters& counters() const { return m_counters; }

private:
    // A datagram held back for reordering, until the next one to the same
    // host, or until it has waited kReorderWait.
    struct HeldBack {
        std::string bytes;
        double since = 0.0;
    };

    void toBurst(const Endpoint& to, std::string bytes, double t,
                 std::vector<AddressedDatagram>& out);

    static std::uint64_t key(const Endpoint& e) {
        return (static_cast<std::uint64_t>(e.address) << 16) | e.port;
    }

    const PacketFaultOptions m_options;
    const std::uint64_t m_seed;
    std::uint64_t m_index = 0; // datagrams offered so far
    std::map<std::uint64_t, HeldBack> m_reordering;
    std::map<std::uint64_t, std::deque<std::string>> m_bursting;
    double m_nextBurst = std::numeric_limits<double>::infinity();
    PacketFaultCounters m_counters;
};

} // namespace sim
} // namespace sentova
