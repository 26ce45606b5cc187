// The frame budget in the cloud: which chunks and which share of a chunk are drawn.
#include "ChunkedCloudFixture.h"

namespace {

// Points whose x is their arrival number, so a drawn point says which one it is. The display
// starts from an empty buffer, so it counts arrivals as the test does.
class Budgeted : public Window {
protected:
    void SetUp() override { refresh(); }

    void numbered(std::size_t count) {
        for (std::size_t i = 0; i < count; ++i, ++next) {
            DataPoint p;
            p.x = static_cast<double>(next);
            p.intensity = static_cast<double>(next % 500);
            appendBounded(points, p, cap, log);
        }
    }

    std::set<long> drawnArrivals() {
        std::set<long> arrivals;
        for (const Drawn& d : drawnBy(cloud)) {
            arrivals.insert(static_cast<long>(std::get<0>(d)));
        }
        return arrivals;
    }

    std::set<long> heldArrivals() {
        std::set<long> arrivals;
        for (const DataPoint& p : points) {
            arrivals.insert(static_cast<long>(p.x));
        }
        return arrivals;
    }

    long next = 0;
};

} // namespace

TEST(BitReverse, ReversesTheLowBits) {
    EXPECT_EQ(bitReverse(0, 6), 0u);
    EXPECT_EQ(bitReverse(1, 6), 32u);
    EXPECT_EQ(bitReverse(6, 6), 24u);
    EXPECT_EQ(bitReverse(63, 6), 63u);
    EXPECT_EQ(bitReverse(1, 16), 32768u);
    for (std::uint32_t v = 0; v < 64; ++v) {
        EXPECT_EQ(bitReverse(bitReverse(v, 6), 6), v);
    }
}

TEST_F(Budgeted, DrawsAboutTheBudgetNewestChunkWholeAndOnlyBufferedPoints) {
    cap = 640; // ten large chunks
    numbered(700);
    budget = 200;
    refresh();
    const std::set<long> drawn = drawnArrivals();
    EXPECT_EQ(drawn.size(), cloud.drawnCount());
    // The budget's share of the points, and the newest small chunk (arrivals 696..699) whole on
    // top.
    EXPECT_GE(cloud.drawnCount(), 180u);
    EXPECT_LE(cloud.drawnCount(), 200u + 8u);
    for (long a = 696; a < 700; ++a) {
        EXPECT_TRUE(drawn.count(a)) << a;
    }
    const std::set<long> held = heldArrivals();
    for (long a : drawn) {
        EXPECT_TRUE(held.count(a)) << a;
    }
    EXPECT_EQ(cloud.heldCount(), 640u);
}

TEST(ChunkedCloudBudget, ManyLargeChunksDrawTheBudgetNotAFixedStepEach) {
    // Chunks of 4096 and 512: the rounding of each chunk's share is paid once per chunk, so with
    // many chunks a coarse step would draw several times a small budget.
    auto renderer = vtkSmartPointer<vtkRenderer>::New();
    auto property = vtkSmartPointer<vtkProperty>::New();
    ChunkedCloud cloud(renderer, property, 12, 9);
    std::deque<DataPoint> points;
    BufferLog log;
    const std::size_t chunks = 64;
    for (std::size_t i = 0; i < chunks * 4096; ++i) {
        DataPoint p;
        p.x = static_cast<double>(i);
        p.intensity = static_cast<double>(i % 1000);
        appendBounded(points, p, 1u << 30, log);
    }
    cloud.capture(points, log, 1u << 30);
    ASSERT_EQ(cloud.chunkCount(), chunks);
    IntensityScale scale;
    std::uint32_t minimum = 0;
    std::uint32_t maximum = 1000;
    const ColourTable& table =
        scale.update(minimum, maximum, kDefaultMinimumColour, kDefaultMaximumColour);
    // Each budget more than a tenth from the last, so none keeps the share in place.
    for (std::size_t budget : {640u, 2000u, 7000u, 30000u}) {
        SCOPED_TRACE(budget);
        // A new share reaches a few dozen chunks per apply: the drawn count is that of the
        // share once every chunk has taken it.
        int applies = 0;
        do {
            cloud.apply(table, budget);
            ++applies;
        } while (cloud.needsApply(table, budget) && applies < 10);
        EXPECT_FALSE(cloud.needsApply(table, budget));
        EXPECT_GE(cloud.drawnCount(), budget);
        // At most a sixteenth over, and the share's rounding up to a whole point in each chunk.
        EXPECT_LE(cloud.drawnCount(), budget + budget / 16 + chunks);
    }
}

TEST_F(Budgeted, AShareOfAChunkIsEvenlySpreadAndALargerShareContainsTheSmaller) {
    cap = 100000;
    numbered(64 * 5);
    std::set<long> previous;
    for (std::size_t b : {80, 160, 250, 320}) {
        budget = b;
        refresh();
        const std::set<long> drawn = drawnArrivals();
        EXPECT_TRUE(std::includes(drawn.begin(), drawn.end(), previous.begin(), previous.end()))
            << b;
        previous = drawn;
    }
    // A quarter of each older chunk: every fourth arrival.
    budget = 80;
    refresh();
    for (long a : drawnArrivals()) {
        if (a < 256) {
            EXPECT_EQ(a % 4, 0) << a;
        }
    }
    budget = 1u << 30;
    refresh();
    EXPECT_EQ(cloud.drawnCount(), points.size());
}

TEST_F(Budgeted, StreamingThroughAFullBufferKeepsTheSubsampleInPlace) {
    cap = 64 * 8;
    numbered(64 * 8 + 20);
    budget = 64 * 3;
    refresh();
    for (int tick = 0; tick < 12; ++tick) {
        SCOPED_TRACE(tick);
        const std::set<long> before = drawnArrivals();
        const long newestChunkStart = next / 8 * 8;
        numbered(23);
        refresh();
        const std::set<long> after = drawnArrivals();
        const std::set<long> held = heldArrivals();
        // Every point drawn before, still buffered and no longer in the newest chunk, is drawn
        // now: nothing flickers out.
        for (long a : before) {
            if (held.count(a) && a < newestChunkStart) {
                EXPECT_TRUE(after.count(a)) << a;
            }
        }
        for (long a : after) {
            EXPECT_TRUE(held.count(a)) << a;
        }
        for (long a = next / 8 * 8; a < next; ++a) {
            EXPECT_TRUE(after.count(a)) << a;
        }
        // Small chunks are merged as their large block completes: few actors.
        EXPECT_LE(cloud.chunkCount(), 9u + 8u);
    }
}

TEST_F(Budgeted, PointsDrawnLaterGetTheColoursOfTheCurrentTable) {
    cap = 100000;
    stream(64 * 6);
    budget = 80;
    refresh();
    autoIntensity = false;
    minimum = 500;
    maximum = 900;
    low = {0.2, 1.0, 1.0};
    changed = true;
    refresh();
    budget = 1u << 30;
    refresh();
    expectScene();
}

// A loaded file's copy, as streamed points, holds colours for the points drawn only: a budget
// far below the file's size leaves most of its slots uncoloured, and a larger one colours more.
TEST_F(Budgeted, ALoadedCopyColoursOnlyThePointsDrawn) {
    cap = 100;
    std::vector<DataPoint> file(64 * 20 + 5);
    for (std::size_t i = 0; i < file.size(); ++i) {
        file[i].x = static_cast<double>(i);
        file[i].intensity = static_cast<float>(i % 700);
    }
    PreparedCloud prepared(6, 3);
    prepared.append(file.data(), file.size());
    prepared.finish();
    replaceBuffer(points, std::deque<DataPoint>(file.begin(), file.end()), log);
    prepared.log = log;
    ASSERT_TRUE(cloud.adopt(prepared));
    changed = true;
    for (const std::size_t drawn : {std::size_t{160}, std::size_t{640}, file.size()}) {
        SCOPED_TRACE(drawn);
        budget = drawn;
        changed = true;
        while (refresh()) {
        }
        ASSERT_GE(cloud.drawnCount(), drawn * 9 / 10);
        // Room for the drawn points, and for the newest small chunk whole.
        EXPECT_LE(cloud.bytes().colours, 3 * (cloud.drawnCount() + 8));
    }
    expectScene();
}

TEST_F(Budgeted, CaptureCopiesAtMostTheLimitAndCatchesUp) {
    cap = 100000;
    numbered(1000);
    refresh(true, 300);
    EXPECT_EQ(cloud.heldCount(), 300u);
    EXPECT_EQ(cloud.pendingCount(), 700u);
    numbered(50);
    refresh(true, 300);
    EXPECT_EQ(cloud.heldCount(), 600u);
    refresh(true, 300);
    refresh(true, 300);
    EXPECT_EQ(cloud.pendingCount(), 0u);
    expectScene();

    // Points that leave the buffer before they were copied are skipped.
    clearBuffer(points, log);
    cap = 200;
    numbered(150);
    refresh(true, 100);
    numbered(500);
    refresh(true, 100);
    EXPECT_EQ(cloud.heldCount(), 100u);
    refresh(true, 1000);
    expectScene();
}

// The large chunks that no longer change and draw a small share are drawn by a few actors: every
// point drawn is drawn once, while shares change a slice of chunks at a time and as chunks join
// and leave the groups.
TEST_F(Budgeted, GroupedChunksDrawEachPointOnceWithFewActors) {
    cap = 64 * 100;
    numbered(cap + 30);
    const auto expectEachPointOnce = [this] {
        const std::vector<Drawn> drawn = drawnBy(cloud);
        const std::set<long> arrivals = drawnArrivals();
        EXPECT_EQ(drawn.size(), cloud.drawnCount());
        EXPECT_EQ(arrivals.size(), drawn.size());
        const std::set<long> held = heldArrivals();
        EXPECT_TRUE(std::includes(held.begin(), held.end(), arrivals.begin(), arrivals.end()));
        for (long a = next / 8 * 8; a < next; ++a) {
            EXPECT_TRUE(arrivals.count(a)) << a;
        }
    };
    for (const std::size_t share : {64 * 6, 64 * 60, 64 * 3, 1 << 30}) {
        SCOPED_TRACE(share);
        budget = share;
        for (int tick = 0; tick < 4; ++tick) {
            numbered(37);
            refresh();
            expectEachPointOnce();
        }
        while (refresh()) {
        }
        expectEachPointOnce();
        std::size_t visible = 0;
        for (vtkActor* actor : cloud.actors()) {
            visible += actor->GetVisibility() ? 1 : 0;
        }
        ASSERT_GE(cloud.chunkCount(), 100u);
        if (share <= 64 * 6) {
            // Seven groups, the chunk at the front losing points, and the small chunks.
            EXPECT_LE(visible, 7u + 1u + 8u);
        }
    }
    EXPECT_EQ(drawnArrivals(), heldArrivals());
}
