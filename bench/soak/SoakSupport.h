// Pieces of the soak run that need no window, device or socket: option
// parsing, /proc readings and the stall bookkeeping.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace soak {

struct Options {
    double seconds = 600.0;
    std::string address = "127.91.0.1";
    unsigned dataPort = 45400;
    unsigned maximumPoints = 10000000;
    // After the stream time, each display mode in turn for this long, the stream going on.
    double modeSeconds = 30.0;
    // An aid for quick iterations, not for the figures: each batch the listener delivers is
    // handed to the window this many times until the buffer is full, which fills it that many
    // times faster (the copies repeat the batch's points and time stamps).
    unsigned fillFactor = 1;
    std::string error; // set when the arguments are unusable
    bool help = false;
};

Options parseOptions(const std::vector<std::string>& arguments);
std::string usageText(const std::string& program);

// The "VmRSS:" value of a /proc/<pid>/status text in kB, or -1.
long residentKb(const std::string& statusText);
// The same for a live process (0 = this one).
long residentKbOf(int pid);

// The drop counter of the UDP socket bound to this local port in a
// /proc/net/udp text, or -1 when no socket has that port.
long udpDrops(const std::string& procNetUdp, unsigned port);
long udpDropsNow(unsigned port);

// Points the window draws per frame, from its Stats box: the N of a shown "showing N of M",
// every buffered point when the figure is hidden.
long long drawnPoints(const std::string& drawnLabel, bool shown, long long buffered);

// Bytes of resident memory per buffered point beyond the window's empty-buffer size.
double bytesPerPoint(long residentKb, long emptyBufferKb, long long buffered);

// Longest interval between consecutive ticks of a periodic timer, and how
// many intervals exceeded a threshold.
class StallTracker {
public:
    using Clock = std::chrono::steady_clock;
    explicit StallTracker(std::chrono::milliseconds threshold) : m_threshold(threshold) {}
    void tick(Clock::time_point now);
    std::chrono::microseconds longest() const { return m_longest; }
    // When the longest interval ended, relative to the first tick.
    std::chrono::milliseconds longestAt() const { return m_longestAt; }
    std::uint64_t overThreshold() const { return m_over; }
    std::uint64_t ticks() const { return m_ticks; }

private:
    std::chrono::milliseconds m_threshold;
    bool m_started = false;
    Clock::time_point m_first, m_last;
    std::chrono::microseconds m_longest{0};
    std::chrono::milliseconds m_longestAt{0};
    std::uint64_t m_over = 0;
    std::uint64_t m_ticks = 0;
};

} // namespace soak
