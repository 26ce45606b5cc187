// The laser stream's figures as the status shows them: rates from the listener's cumulative
// counters, and which figures signal trouble: only the drops the listener knows of. Pure.
#pragma once

#include <cstdint>
#include <optional>

namespace viewer {

// The listener's counters since it started listening.
struct StreamCounters {
    std::uint64_t datagrams = 0;   // accepted laser datagrams
    std::uint64_t points = 0;      // points in them
    std::uint64_t refused = 0;     // from another sender, or with a bad header or size
    std::uint64_t kernelDrops = 0; // dropped by the system before the listener read them
    // Points the gaps in the device's time stamps stand for: measurements without a return (open
    // sky, glass, beyond range) or points lost on the way, which the time stamps can not tell
    // apart. Counted, never taken for a loss.
    std::uint64_t gaps = 0;
    std::uint64_t queueDrops = 0; // dropped by the listener while the window fell behind
};

enum class Severity {
    Normal,  // nothing to say
    Good,    // a healthy sign (the device answers)
    Warning, // worth a look: something went wrong earlier, or strangers send to the port
    Trouble, // data is being lost now
};

struct StreamFigures {
    double datagramsPerSecond = 0.0;
    StreamCounters totals;
    Severity refused = Severity::Normal;
    Severity kernelDrops = Severity::Normal;
    Severity queueDrops = Severity::Normal;
};

class StreamHealth {
public:
    // A counter that rose within this long still counts as rising.
    static constexpr std::int64_t kRecentMs = 10000;

    // The counters now. Counters that went down mean the listener started again: they count
    // from zero.
    void update(const StreamCounters& now, std::int64_t nowMs);
    StreamFigures figures() const { return m_figures; }

private:
    struct Rise {
        std::optional<std::int64_t> lastMs;
        void note(std::uint64_t before, std::uint64_t now, std::int64_t nowMs) {
            if (now > before) {
                lastMs = nowMs;
            }
        }
        bool recent(std::int64_t nowMs) const { return lastMs && nowMs - *lastMs < kRecentMs; }
    };

    std::optional<std::int64_t> m_lastMs;
    StreamCounters m_last;
    Rise m_drops, m_queueDrops;
    StreamFigures m_figures;
};

} // namespace viewer
