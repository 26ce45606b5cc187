#include "FrameBudget.h"

#include <algorithm>
#include <cmath>

namespace viewer {

namespace {

// Drawing more than this in one frame is beyond any display's need.
constexpr double kLargest = 2.0e9;

} // namespace

FrameBudget::FrameBudget(const Settings& settings)
    : m_settings(settings), m_stillBudget(settings.initial),
      m_movingBudget(static_cast<std::size_t>(static_cast<double>(settings.initial) *
                                              settings.movingMs / settings.stillMs)) {}

void FrameBudget::setMoving(bool moving) {
    m_moving = moving;
}

std::size_t FrameBudget::follow(std::size_t current, double wanted, std::size_t minimum) {
    wanted = std::min(wanted, kLargest);
    const double now = static_cast<double>(current);
    // Up by at most twice, down at once; small moves are ignored.
    if (wanted > now) {
        wanted = std::min(wanted, 2.0 * now);
        if (wanted < now * 7.0 / 6.0) {
            return current;
        }
    } else if (wanted > now * 5.0 / 6.0) {
        return current;
    }
    return std::max(minimum, static_cast<std::size_t>(wanted));
}

void FrameBudget::frameRendered(std::size_t drawn, double milliseconds) {
    if (drawn == 0 || !(milliseconds > 0.0) || !std::isfinite(milliseconds)) {
        return;
    }
    m_paces[m_nextPace] = static_cast<double>(drawn) / milliseconds;
    m_nextPace = (m_nextPace + 1) % kPaceFrames;
    double slowest = kLargest;
    for (const double pace : m_paces) {
        if (pace > 0.0) {
            slowest = std::min(slowest, pace);
        }
    }
    m_stillBudget = follow(m_stillBudget, slowest * m_settings.stillMs, m_settings.minimum);
    m_movingBudget = follow(m_movingBudget, slowest * m_settings.movingMs, m_settings.minimum);
}

} // namespace viewer
