#include "FrameBudget.h"

#include <gtest/gtest.h>

using viewer::FrameBudget;

namespace {

// A machine whose frame costs fixedMs plus perPointMs for each point drawn, drawing at most
// `buffered` points.
void run(FrameBudget& budget, double fixedMs, double perPointMs, std::size_t buffered, int frames) {
    for (int i = 0; i < frames; ++i) {
        const std::size_t drawn = std::min(budget.budget(), buffered);
        budget.frameRendered(drawn, fixedMs + perPointMs * static_cast<double>(drawn));
    }
}

double frameMs(const FrameBudget& budget, double fixedMs, double perPointMs) {
    return fixedMs + perPointMs * static_cast<double>(budget.budget());
}

} // namespace

TEST(FrameBudget, SettlesWhereAFrameTakesTheTarget) {
    FrameBudget budget;
    run(budget, 5.0, 0.001, 10000000, 40); // 1 µs per point
    EXPECT_NEAR(frameMs(budget, 5.0, 0.001), 50.0, 50.0 / 6.0 + 1.0);

    // While the camera moves the frame aims at half that.
    budget.setMoving(true);
    run(budget, 5.0, 0.001, 10000000, 40);
    EXPECT_NEAR(frameMs(budget, 5.0, 0.001), 25.0, 25.0 / 6.0 + 1.0);
    budget.setMoving(false);
    EXPECT_NEAR(frameMs(budget, 5.0, 0.001), 50.0, 50.0 / 6.0 + 1.0);
}

TEST(FrameBudget, AFastMachineGetsEverything) {
    FrameBudget budget;
    run(budget, 2.0, 0.000002, 10000000, 60); // a graphics card: 2 ns per point
    EXPECT_GE(budget.budget(), 10000000u);
}

TEST(FrameBudget, FollowsASlowFrameAtOnceAndRecoversStepByStep) {
    FrameBudget budget;
    run(budget, 5.0, 0.001, 10000000, 40);
    const std::size_t settled = budget.budget();
    budget.frameRendered(settled, 400.0); // the machine was busy elsewhere
    EXPECT_LT(budget.budget(), settled / 4);
    run(budget, 5.0, 0.001, 10000000, 1);
    EXPECT_LE(budget.budget(), settled / 2);
    run(budget, 5.0, 0.001, 10000000, 20);
    EXPECT_NEAR(static_cast<double>(budget.budget()), static_cast<double>(settled), settled / 4.0);
}

TEST(FrameBudget, SteadyFramesLeaveTheBudgetAlone) {
    FrameBudget budget;
    run(budget, 5.0, 0.001, 10000000, 40);
    const std::size_t settled = budget.budget();
    // Frames that vary by a few per cent change nothing.
    for (int i = 0; i < 50; ++i) {
        budget.frameRendered(settled, 50.0 * (i % 2 == 0 ? 1.05 : 0.95));
    }
    EXPECT_EQ(budget.budget(), settled);
    // Frames of no points say nothing.
    budget.frameRendered(0, 1.0);
    EXPECT_EQ(budget.budget(), settled);
}

TEST(FrameBudget, AJitteryMachineKeepsItsSlowFramesNearTheTarget) {
    FrameBudget budget;
    // Every third frame takes twice as long per point, as when other work shares the machine.
    for (int i = 0; i < 60; ++i) {
        const double perPointMs = i % 3 == 0 ? 0.002 : 0.001;
        budget.frameRendered(budget.budget(), 5.0 + perPointMs * budget.budget());
    }
    EXPECT_LE(frameMs(budget, 5.0, 0.002), 50.0 * 1.1);
    EXPECT_GE(frameMs(budget, 5.0, 0.002), 50.0 * 5.0 / 6.0 - 1.0);
}
