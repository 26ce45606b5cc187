#pragma once

// Progress reports and cancellation of long file work. The callbacks are called on the thread
// doing the work (the caller of write or read), so a caller that runs the work in the background
// passes callbacks that are safe to call from there (an atomic flag to poll, a queued signal).

#include <cstdint>
#include <functional>

namespace formats {

// Work done so far and the total, in the unit of the operation (points when writing, bytes
// when reading). Called now and then, and once more with done == total at the end.
using Progress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// Polled as often as the progress; returning true stops the work, which then leaves no file
// behind (writing) or returns no points (reading).
using Cancel = std::function<bool()>;

// Calls the two callbacks every kEvery units of work, so that the per-point cost is one
// comparison.
class Ticker {
public:
    static constexpr std::uint64_t kEvery = 1 << 16;

    Ticker(std::uint64_t total, Progress progress, Cancel cancel)
        : m_total(total), m_progress(std::move(progress)), m_cancel(std::move(cancel)) {}

    // False once cancelled.
    bool at(std::uint64_t done) {
        if (done < m_next) {
            return true;
        }
        return report(done);
    }

    // The final report (done == total) unless cancelled.
    void finish() {
        if (!m_cancelled && m_progress) {
            m_progress(m_total, m_total);
        }
    }

    bool cancelled() const { return m_cancelled; }
    std::uint64_t total() const { return m_total; }
    void setTotal(std::uint64_t total) { m_total = total; }

private:
    bool report(std::uint64_t done) {
        m_next = done + kEvery;
        if (m_progress) {
            m_progress(done < m_total ? done : m_total, m_total);
        }
        if (m_cancel && m_cancel()) {
            m_cancelled = true;
        }
        return !m_cancelled;
    }

    std::uint64_t m_total;
    std::uint64_t m_next = 0;
    bool m_cancelled = false;
    Progress m_progress;
    Cancel m_cancel;
};

} // namespace formats
