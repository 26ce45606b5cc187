#include "PointStore.h"

#include "ChunkedCloud.h"
#include "IntensityScale.h"

#include <vtkActor.h>
#include <vtkMapper.h>
#include <vtkPolyData.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

using namespace viewer;

namespace {

// One line of a raster scan: points across the azimuth at one elevation, one batch.
std::vector<tavrel::tavrel_rbe_obs_t> line(double elevation, int points, std::uint64_t& timestamp,
                                           double amplitude = 100.0) {
    std::vector<tavrel::tavrel_rbe_obs_t> batch;
    for (int i = 0; i < points; ++i) {
        batch.push_back({-10.0 + i, elevation, 2000.0, timestamp, amplitude, 0.0, 0.0});
        timestamp += 10;
    }
    return batch;
}

// Lines from elevation 0 up, one degree apart: one frame of the raster.
void sweep(PointStore& store, int lines, int perLine, std::uint64_t& timestamp) {
    for (int l = 0; l < lines; ++l) {
        store.LaserDataCallback(line(l, perLine, timestamp), 0);
    }
}

std::size_t size(PointStore& store) {
    return store.withBuffer(
        [](const std::deque<DataPoint>& points, const BufferLog&) { return points.size(); });
}

// The x of every point the cloud draws, sorted.
std::vector<float> drawnXs(const ChunkedCloud& cloud) {
    std::vector<float> xs;
    for (vtkActor* actor : cloud.actors()) {
        auto* polyData = vtkPolyData::SafeDownCast(actor->GetMapper()->GetInput());
        for (vtkIdType id = 0; actor->GetVisibility() && id < polyData->GetNumberOfPoints(); ++id) {
            xs.push_back(static_cast<float>(polyData->GetPoint(id)[0]));
        }
    }
    std::sort(xs.begin(), xs.end());
    return xs;
}

} // namespace

TEST(PointStore, FramesOfARasterLieWhereTheirPointsAre) {
    PointStore store;
    std::uint64_t timestamp = 0;
    sweep(store, 4, 5, timestamp);
    PointStore::Frames frames = store.frames();
    // The first sweep is still open: nothing has shown where it ends.
    ASSERT_EQ(frames.spans.size(), 1u);
    EXPECT_FALSE(frames.spans[0].closed);
    EXPECT_EQ(frames.spans[0].begin, 0u);
    EXPECT_EQ(frames.spans[0].end, 20u);

    sweep(store, 4, 5, timestamp);
    sweep(store, 2, 5, timestamp);
    frames = store.frames();
    ASSERT_EQ(frames.spans.size(), 3u);
    EXPECT_EQ(frames.back, 50u);
    EXPECT_EQ(frames.closedCount, 2u);
    EXPECT_TRUE(frames.spans[0].closed);
    // Its start was never seen: the stream began in it.
    EXPECT_FALSE(frames.spans[0].complete);
    EXPECT_TRUE(frames.spans[1].closed);
    EXPECT_TRUE(frames.spans[1].complete);
    EXPECT_EQ(frames.spans[1].begin, 20u);
    EXPECT_EQ(frames.spans[1].end, 40u);
    EXPECT_FALSE(frames.spans[2].closed);
    EXPECT_EQ(frames.spans[2].begin, 40u);
    EXPECT_EQ(frames.spans[2].end, 50u);
}

TEST(PointStore, EvictedFramesAreForgottenAndAClearForgetsAll) {
    PointStore store;
    store.setMaximumPoints(25);
    std::uint64_t timestamp = 0;
    sweep(store, 4, 5, timestamp);
    sweep(store, 4, 5, timestamp);
    sweep(store, 1, 5, timestamp);
    EXPECT_EQ(size(store), 25u);
    PointStore::Frames frames = store.frames();
    // The buffer holds arrivals 20 to 45: the first frame has gone.
    ASSERT_EQ(frames.spans.size(), 2u);
    EXPECT_EQ(frames.spans[0].begin, 20u);

    store.clear();
    EXPECT_TRUE(store.frames().spans.empty());
    EXPECT_EQ(size(store), 0u);
    // The frame under way when the buffer was cleared goes on from the next arrival.
    store.LaserDataCallback(line(1, 5, timestamp), 0);
    frames = store.frames();
    ASSERT_EQ(frames.spans.size(), 1u);
    EXPECT_EQ(frames.spans[0].begin, 45u);
    EXPECT_EQ(frames.spans[0].end, 50u);
}

TEST(PointStore, ADropOnTheStreamMarksTheFrameItFallsIn) {
    PointStore store;
    std::uint64_t drops = 0;
    store.setDropCounter([&drops] { return drops; });
    std::uint64_t timestamp = 0;
    sweep(store, 3, 5, timestamp);
    sweep(store, 1, 5, timestamp);
    drops = 2;
    sweep(store, 2, 5, timestamp);
    sweep(store, 3, 5, timestamp);
    const PointStore::Frames frames = store.frames();
    ASSERT_EQ(frames.spans.size(), 3u);
    EXPECT_TRUE(frames.spans[1].closed);
    EXPECT_FALSE(frames.spans[1].complete);
}

TEST(PointStore, ReplacedBufferKeepsEveryPointAndNoFrame) {
    PointStore store;
    store.setMaximumPoints(1000);
    std::uint64_t timestamp = 0;
    sweep(store, 2, 5, timestamp);
    store.replace(std::deque<DataPoint>(2500));
    EXPECT_EQ(size(store), 2500u);
    EXPECT_TRUE(store.frames().spans.empty());
    EXPECT_TRUE(store.takeChanged());
    EXPECT_FALSE(store.takeChanged());
    // Live points after a load above the cap evict one each.
    store.LaserDataCallback(line(0, 3, timestamp), 0);
    EXPECT_EQ(size(store), 2500u);
    // Their frame lies at the buffer's back, the loaded points before it.
    const PointStore::Frames frames = store.frames();
    ASSERT_EQ(frames.spans.size(), 1u);
    EXPECT_EQ(frames.spans[0].end, frames.back);
    EXPECT_EQ(frames.spans[0].begin, frames.back - 3);
    EXPECT_GE(frames.back, 2500u);
}

TEST(PointStore, AnExchangeHandsBackTheFormerPointsInTheirOrder) {
    PointStore store;
    std::uint64_t timestamp = 0;
    sweep(store, 1, 4, timestamp);
    const std::uint64_t generation = store.withBuffer(
        [](const std::deque<DataPoint>&, const BufferLog& log) { return log.generation; });
    std::deque<DataPoint> loaded(3);
    loaded[2].x = 7.0;
    std::deque<DataPoint> former = store.exchange(std::move(loaded));
    ASSERT_EQ(former.size(), 4u);
    EXPECT_EQ(former.front().timestamp, 0u);
    EXPECT_EQ(former.back().timestamp, 30u);
    store.withBuffer([&](const std::deque<DataPoint>& points, const BufferLog& log) {
        ASSERT_EQ(points.size(), 3u);
        EXPECT_EQ(points[2].x, 7.0);
        // The display starts again from the new points.
        EXPECT_EQ(log.generation, generation + 1);
    });
    EXPECT_TRUE(store.frames().spans.empty());
    EXPECT_TRUE(store.takeChanged());
    EXPECT_EQ(store.takeReceived(), 0u);
    // Handed to the release thread, the former points leave the store alone.
    store.release(std::move(former));
    EXPECT_EQ(size(store), 3u);
}

TEST(PointStore, ArrivalsWidenTheAutomaticRangeUntilItIsSetByHand) {
    PointStore store;
    store.setConversion(LIDAR_LX30, false);
    std::uint64_t timestamp = 0;
    store.LaserDataCallback(line(0, 2, timestamp, 300.0), 0);
    store.LaserDataCallback(line(0, 2, timestamp, 40.0), 0);
    IntensityRange range = store.intensityRange();
    EXPECT_TRUE(range.automatic);
    EXPECT_EQ(range.minimum, 40u);
    EXPECT_EQ(range.maximum, 300u);

    // A maximum at or below the minimum would leave no range.
    EXPECT_FALSE(store.setMaximumIntensity(40));
    EXPECT_TRUE(store.intensityRange().automatic);
    EXPECT_TRUE(store.setMaximumIntensity(200));
    store.LaserDataCallback(line(0, 2, timestamp, 900.0), 0);
    store.setAutomaticRange(0, 65535);
    range = store.intensityRange();
    EXPECT_FALSE(range.automatic);
    EXPECT_EQ(range.maximum, 200u);
    EXPECT_EQ(range.minimum, 40u);

    store.setAutomaticIntensity();
    store.setAutomaticRange(7, 900);
    range = store.intensityRange();
    EXPECT_TRUE(range.automatic);
    EXPECT_EQ(range.minimum, 7u);
}

TEST(PointStore, FirstDataIsReportedOnce) {
    PointStore store;
    EXPECT_FALSE(store.takeFirstData());
    std::uint64_t timestamp = 0;
    store.LaserDataCallback(line(0, 4, timestamp), 0);
    EXPECT_EQ(store.takeReceived(), 4u);
    EXPECT_EQ(store.takeReceived(), 0u);
    EXPECT_TRUE(store.takeFirstData());
    store.LaserDataCallback(line(0, 4, timestamp), 0);
    EXPECT_FALSE(store.takeFirstData());
}

TEST(PointStore, LiveDataIsKeptApartWhileARecordingIsShownAndComesBackWithItsFrames) {
    PointStore store;
    store.setMaximumPoints(30);
    std::uint64_t timestamp = 0;
    sweep(store, 4, 5, timestamp);
    sweep(store, 2, 5, timestamp);
    store.showRecording();
    EXPECT_TRUE(store.recordingShown());
    EXPECT_EQ(size(store), 0u);
    EXPECT_TRUE(store.frames().spans.empty());
    EXPECT_EQ(store.livePointsKept(), 30u);

    // The recording's frame in the buffer; the stream goes on meanwhile, into the kept buffer
    // under the same cap: the recording's points stay as they are.
    std::deque<DataPoint> frame(7);
    for (DataPoint& p : frame) {
        p.range = 123.0;
    }
    store.replace(std::move(frame));
    sweep(store, 2, 5, timestamp); // the second frame's last lines
    sweep(store, 4, 5, timestamp); // a third frame, begun
    EXPECT_EQ(size(store), 7u);
    EXPECT_TRUE(store.withBuffer([](const std::deque<DataPoint>& points, const BufferLog&) {
        for (const DataPoint& p : points) {
            if (p.range != 123.0) {
                return false;
            }
        }
        return true;
    }));
    EXPECT_EQ(store.livePointsKept(), 30u);
    // Showing the recording again changes nothing.
    store.showRecording();
    EXPECT_EQ(size(store), 7u);

    store.showLive();
    EXPECT_FALSE(store.recordingShown());
    EXPECT_EQ(store.livePointsKept(), 0u);
    EXPECT_EQ(size(store), 30u);
    // The newest live points, every one of them live, and frames that lie within the buffer
    // as their points do: the second frame closed, the third open with its 20 points.
    EXPECT_TRUE(store.withBuffer([](const std::deque<DataPoint>& points, const BufferLog&) {
        for (const DataPoint& p : points) {
            if (p.range != 2000.0) {
                return false;
            }
        }
        return true;
    }));
    const PointStore::Frames frames = store.frames();
    ASSERT_EQ(frames.spans.size(), 2u);
    EXPECT_TRUE(frames.spans[0].closed);
    EXPECT_TRUE(frames.spans[0].complete);
    EXPECT_FALSE(frames.spans[1].closed);
    EXPECT_EQ(frames.spans[1].end, frames.back);
    EXPECT_EQ(frames.spans[1].end - frames.spans[1].begin, 20u);
    EXPECT_GE(frames.spans[0].end, frames.back - 30u);

    // Live again: arrivals join the buffer and its frames, numbered on from there.
    sweep(store, 1, 5, timestamp);
    EXPECT_EQ(size(store), 30u);
    EXPECT_EQ(store.frames().back, frames.back + 5u);
    EXPECT_EQ(store.frames().spans.back().end, frames.back + 5u);
}

TEST(PointStore, AClearOrANewCapWhileARecordingIsShownEmptiesTheLiveBufferToo) {
    PointStore store;
    std::uint64_t timestamp = 0;
    sweep(store, 4, 5, timestamp);
    store.showRecording();
    sweep(store, 4, 5, timestamp);
    EXPECT_EQ(store.livePointsKept(), 40u);
    store.clear();
    EXPECT_EQ(store.livePointsKept(), 0u);
    sweep(store, 1, 5, timestamp);
    store.setMaximumPoints(1000);
    EXPECT_EQ(store.livePointsKept(), 0u);
    store.showLive();
    EXPECT_EQ(size(store), 0u);
    EXPECT_TRUE(store.frames().spans.empty());
}

// After a load's exchange the display's copy is laid out from the buffer while the stream goes
// on: no loaded point leaves meanwhile (the drops wait for the copy), the display waits for it,
// and the copy taken in, followed by a capture, holds the buffer exactly.
TEST(PointStore, ALoadsCopyLaidOutAfterTheExchangeShowsTheBufferWithWhatArrivedMeanwhile) {
    PointStore store;
    store.setMaximumPoints(50);
    std::uint64_t timestamp = 0;
    sweep(store, 2, 10, timestamp);
    std::deque<DataPoint> file(100);
    for (std::size_t i = 0; i < file.size(); ++i) {
        file[i].x = 1000.0 + static_cast<double>(i);
    }
    EXPECT_FALSE(store.copyAwaited());
    EXPECT_EQ(store.exchangeBeforeCopy(std::move(file)).size(), 20u);
    EXPECT_TRUE(store.copyAwaited());

    auto copy = std::make_shared<PreparedCloud>(6, 3);
    EXPECT_EQ(store.layCopy(*copy, 64), PointStore::CopyStep::More);
    sweep(store, 1, 7, timestamp);
    EXPECT_EQ(size(store), 107u);
    EXPECT_EQ(store.layCopy(*copy, 64), PointStore::CopyStep::Done);
    EXPECT_EQ(copy->size(), 100u);
    copy->finish();
    store.giveCopy(copy);
    EXPECT_FALSE(store.copyAwaited());
    // The seven drops the stream's points made wait no longer.
    EXPECT_EQ(size(store), 100u);

    auto renderer = vtkSmartPointer<vtkRenderer>::New();
    auto property = vtkSmartPointer<vtkProperty>::New();
    ChunkedCloud cloud(renderer, property, 6, 3);
    const std::shared_ptr<PreparedCloud> taken = store.takePrepared();
    ASSERT_TRUE(taken);
    ASSERT_TRUE(cloud.adopt(*taken));
    std::vector<float> buffered;
    store.withBuffer([&](const std::deque<DataPoint>& points, const BufferLog& log) {
        cloud.capture(points, log, 1000);
        for (const DataPoint& p : points) {
            buffered.push_back(static_cast<float>(p.x));
        }
    });
    std::sort(buffered.begin(), buffered.end());
    EXPECT_EQ(cloud.pendingCount(), 0u);
    ASSERT_EQ(cloud.heldCount(), 100u);
    IntensityScale scale;
    std::uint32_t minimum = 0;
    std::uint32_t maximum = 65535;
    const ColourTable& table =
        scale.update(minimum, maximum, kDefaultMinimumColour, kDefaultMaximumColour);
    while (cloud.needsApply(table, 1000)) {
        cloud.apply(table, 1000);
    }
    EXPECT_EQ(drawnXs(cloud), buffered);
}

// A clear while the copy is laid out: the display waits no longer, and the copy never reaches it.
TEST(PointStore, ALoadsCopyOfABufferClearedMeanwhileIsDropped) {
    PointStore store;
    store.exchangeBeforeCopy(std::deque<DataPoint>(100));
    auto copy = std::make_shared<PreparedCloud>(6, 3);
    EXPECT_EQ(store.layCopy(*copy, 64), PointStore::CopyStep::More);
    store.clear();
    EXPECT_FALSE(store.copyAwaited());
    EXPECT_EQ(store.layCopy(*copy, 64), PointStore::CopyStep::Replaced);
    store.giveCopy(nullptr);
    EXPECT_FALSE(store.takePrepared());
    // The stream fills the cleared buffer as usual once the hold has ended.
    std::uint64_t timestamp = 0;
    store.setMaximumPoints(5);
    sweep(store, 1, 8, timestamp);
    EXPECT_EQ(size(store), 5u);
}
