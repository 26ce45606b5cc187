// The simulator core: a device bound to a UDP endpoint on loopback, run by one
// network thread of its own, with optional fault injection. Tests run it
// in-process; sentova-sim is a thin program around it.
#pragma once

#include "Device.h"
#include "PacketFaults.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace sentova {
namespace sim {

// Faults injected into the device's answers and its laser stream, for
// testing clients.
struct FaultOptions {
    double dropReplies = 0.0;          // share of replies never sent, 0..1
    unsigned delayRepliesMs = 0;       // every reply leaves this much later
    unsigned replyJitterMs = 0;        // and each one up to this much later again
    double lateReplies = 0.0;          // share of replies sent just past their time-out
    std::map<std::string, int> errors; // command code -> "EE" code answered instead
    std::set<std::string> wrongStem;   // command codes answered with a wrong stem
    bool duplicateReplies = false;     // every reply is sent twice
    PacketFaultOptions packets;        // the laser data stream's faults
    std::uint64_t seed = 1;            // for the shares above
};

// How long the library waits for the reply to this command, milliseconds: the
// motion time-out for "SVHOME", "SVSEAA" and "SVSSSP", the event manager's for
// the commands that travel through it, the response time-out otherwise.
unsigned replyTimeoutMs(const std::string& command);

struct SimulatorConfig {
    std::string address = "127.0.0.1"; // must be a 127.x.y.z address
    unsigned short port = 4365;        // 0 picks a free port
    DeviceSettings device;
    FaultOptions faults;
    bool echo = true;    // print one line per command on standard output
    std::string logFile; // if set, the same lines go there too
};

// A command datagram as it arrived.
struct ReceivedCommand {
    Endpoint from;
    std::string bytes;
};

struct SimulatorCounters {
    std::uint64_t commands = 0;
    std::uint64_t repliesSent = 0; // duplicates included; failed sends too
    std::uint64_t repliesDropped = 0;
    std::uint64_t repliesDelayed = 0; // left later than at once (delay, jitter, late)
    std::uint64_t repliesLate = 0;    // past their time-out on purpose
    std::uint64_t repliesDuplicated = 0;
    std::uint64_t errorsInjected = 0;
    std::uint64_t wrongStems = 0;
    std::uint64_t packetsSent = 0; // laser datagrams, copies included
    std::uint64_t packetsDropped = 0;
    std::uint64_t notificationsSent = 0;
    std::uint64_t triggerRecordsSent = 0;
    std::uint64_t sendFailures = 0;
    PacketFaultCounters packetFaults;
};

// "<sender ip>:<port> <code> <argument hex> -> <reply code> <payload hex>", or
// "... -> (dropped)" when reply is null. Codes show non-printable bytes as '?'.
std::string formatCommandLine(const Endpoint& from, const std::string& command,
                              const std::string* reply);

// The counters on one line, for the program's exit, SIGUSR1 and --stats.
std::string formatCounters(const SimulatorCounters& counters, const DeviceStatus& status);

// Lower-case hex of every byte, no separators.
std::string toHex(const std::string& bytes);

// True for a dotted IPv4 address text in 127.0.0.0/8; stores it in host order.
bool parseLoopbackAddress(const std::string& text, std::uint32_t& address);

class Simulator {
public:
    explicit Simulator(SimulatorConfig config);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Binds the endpoint and starts the network thread. Throws
    // std::invalid_argument for an address outside loopback and
    // std::system_error when the socket or the log file cannot be opened.
    void start();
    // Stops the thread and closes the socket; harmless when not running.
    void stop();

    Endpoint endpoint() const; // the bound address and port, once started

    std::vector<ReceivedCommand> received() const; // most recent last, at most 10000
    std::vector<std::string> commandLines() const; // the per-command lines, likewise
    DeviceStatus status() const;
    SimulatorCounters counters() const;

private:
    struct Delayed {
        double due;
        Endpoint to;
        std::string bytes;
    };

    void run();
    double now() const;
    void dispatch(std::vector<Outgoing>& out, double now);
    void handleReply(const Outgoing& reply, double now);
    void handleDatagram(const std::string& datagram, const Endpoint& from, double now,
                        std::vector<Outgoing>& out);
    bool send(const Endpoint& to, const std::string& bytes);
    void sendLaserData(std::vector<AddressedDatagram>& datagrams);
    double uniform();
    bool chance(double share);
    void emitLine(const std::string& line);
    void countReply();
    void publishStatus();

    const SimulatorConfig m_config;
    Endpoint m_endpoint;
    int m_socket = -1;
    std::FILE* m_log = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::chrono::steady_clock::time_point m_start;

    // Used by the network thread only.
    Device m_device;
    std::deque<Delayed> m_delayed; // ordered by due time
    std::uint64_t m_random;
    PacketFaults m_packetFaults;
    std::vector<AddressedDatagram> m_laserOut;

    // m_mutex guards m_received, m_lines, m_status and m_counters, which the
    // network thread writes and any thread reads.
    mutable std::mutex m_mutex;
    std::deque<ReceivedCommand> m_received;
    std::deque<std::string> m_lines;
    DeviceStatus m_status;
    SimulatorCounters m_counters;
};

} // namespace sim
} // namespace sentova
