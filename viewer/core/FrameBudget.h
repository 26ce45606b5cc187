#pragma once

#include <array>
#include <cstddef>

namespace viewer {

// How many points a frame may draw so that it takes about a target time, learnt from the frames
// drawn so far: a frame of n points that took t ms says this machine draws n / t points per ms
// (fixed costs included, so the estimate settles where a frame takes the target). The estimate
// is the slowest pace of the last few frames: on a machine shared with other work the pace
// varies by half from frame to frame, and a budget from the average would let every slow frame
// run far over the target. The target is lower while the camera moves. The budget follows slow
// frames at once, grows at most twice per frame, and changes only by more than a sixth, so that
// the drawn subsample stays put while the machine keeps its pace.
class FrameBudget {
public:
    struct Settings {
        double stillMs = 50.0;
        double movingMs = 25.0;
        std::size_t initial = 100000;
        std::size_t minimum = 10000;
    };

    FrameBudget() : FrameBudget(Settings{}) {}
    explicit FrameBudget(const Settings& settings);

    void setMoving(bool moving);
    bool moving() const { return m_moving; }

    // A frame that drew `drawn` points took `milliseconds`.
    void frameRendered(std::size_t drawn, double milliseconds);

    // Points a frame may draw now.
    std::size_t budget() const { return m_moving ? m_movingBudget : m_stillBudget; }

private:
    static std::size_t follow(std::size_t current, double wanted, std::size_t minimum);

    Settings m_settings;
    bool m_moving = false;
    // The pace of the last frames, points per ms; 0 where no frame was drawn yet.
    static constexpr std::size_t kPaceFrames = 8;
    std::array<double, kPaceFrames> m_paces{};
    std::size_t m_nextPace = 0;
    std::size_t m_stillBudget;
    std::size_t m_movingBudget;
};

} // namespace viewer
