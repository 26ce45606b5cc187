// The laser stream inside a capture: which datagrams are laser data packets,
// which host sent them, and reading them out of a file. Pure functions and a
// reader over Capture.h; any thread.
#pragma once

#include "SentovaPcap/Capture.h"

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace sentova {
namespace pcap {

// The data port that a laser stream start asks for: the value of parameter 0
// of a "SVRRBE" command, also when the command is stored in a command buffer
// ("SVECCF" n "SVRRBE..."). False for any other datagram.
bool streamStartDataPort(const std::string& command, std::uint16_t& port);

// Whether a datagram can be a laser data packet: not sent to the command
// port, and it holds at least one whole point record, either after the
// "EBRBEP" header or, without the header, as whole records only.
bool isLaserCandidate(const Datagram& datagram);

struct LaserSource {
    std::uint32_t address = 0;
    std::uint64_t datagrams = 0;
    std::uint64_t points = 0;
};

// Picks the device's laser datagrams out of a capture's datagrams.
struct LaserFilter {
    std::uint32_t deviceAddress = 0;
    std::set<std::uint16_t> dataPorts; // empty: any port
    bool accepts(const Datagram& datagram) const;
};

// What a capture holds of the laser stream, built by adding every datagram.
class LaserSurvey {
public:
    void add(const Datagram& datagram);

    // Laser sources, busiest (most datagrams) first; when the capture holds
    // stream start commands, only the datagrams to the ports they named count.
    std::vector<LaserSource> sources() const;
    // The busiest source and the ports of the stream starts seen; a device
    // address of 0 when the capture holds no laser data.
    LaserFilter filter() const;

private:
    std::set<std::uint16_t> m_dataPorts;
    // Laser candidates by (source address, destination port).
    std::map<std::pair<std::uint32_t, std::uint16_t>, LaserSource> m_counts;
};

struct LaserReadResult {
    std::uint32_t deviceAddress = 0;  // 0: no laser data in the file
    std::vector<LaserSource> sources; // busiest first
    std::uint64_t datagrams = 0;      // delivered
    std::uint64_t points = 0;         // whole point records in them
    bool cancelled = false;
    // What was wrong with the file (Reader::report), naming it; empty if nothing.
    std::string problems;
};

// Whether a datagram is the device's notification of an event, and which.
bool frameNotification(const Datagram& datagram, unsigned& event);

// Reads the laser data packets of the device out of a capture in one pass,
// handing each laser datagram of the busiest source to deliver, in file order.
// The source is chosen from the first two thousand laser datagrams (or the
// whole file, if shorter), so the first datagrams go out at once; sources
// still counts every datagram of the file. events, when given, receives the
// device's event notifications recorded in the file with their capture times.
// progress (0 to 1) and cancel are optional and are called on the caller's
// thread between datagrams. Throws CaptureError when the file cannot be read
// at all; damage later in the file ends the reading with what came before it
// delivered and described in problems.
LaserReadResult readLaserDatagrams(
    const std::string& path, const std::function<void(const Datagram&)>& deliver,
    const std::function<void(double)>& progress = {}, const std::function<bool()>& cancel = {},
    const std::function<void(unsigned event, std::uint64_t timeMicros)>& events = {});

// What readLaserDatagrams hands out, for readers that come back to a datagram
// later (Reader::seek).
struct LaserDatagramSinks {
    // A laser datagram and a file position from which Reader::next gives it again.
    std::function<void(const Datagram&, std::uint64_t position)> deliver;
    // The filter in use: once the source is chosen, before the first delivery,
    // and again whenever a later stream start adds a data port.
    std::function<void(const LaserFilter&)> filter;
    std::function<void(unsigned event, std::uint64_t timeMicros)> events;
    std::function<void(double)> progress;
    std::function<bool()> cancel;
};
LaserReadResult readLaserDatagrams(const std::string& path, const LaserDatagramSinks& sinks);

} // namespace pcap
} // namespace sentova
