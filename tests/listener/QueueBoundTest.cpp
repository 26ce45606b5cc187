// A callback that falls behind the stream costs at most the queue's limit: what
// does not fit is dropped and counted, and delivery goes on once it catches up.
#include "LoopbackSupport.h"
#include "grabber.h"

#include "Sentova/SentovaGrabber.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace listener_test;
using tavrel::stream_statistics_t;

namespace {

// Holds the consumer thread in its first call until released.
class Stalling : public tavrel::SentovaLaserDataCallbackClass {
public:
    void LaserDataCallback(std::vector<tavrel::tavrel_rbe_obs_t> observations,
                           unsigned int) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_calls;
        m_points += observations.size();
        m_last = observations.back().timestamp;
        m_changed.notify_all();
        m_changed.wait_for(lock, kWait, [&] { return !m_held; });
    }
    void Release() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held = false;
        m_changed.notify_all();
    }
    // Waits until the condition on (calls, points, last timestamp) holds.
    template <typename Condition> bool WaitUntil(Condition condition) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kWait,
                                  [&] { return condition(m_calls, m_points, m_last); });
    }

private:
    std::mutex m_mutex; // guards everything below
    std::condition_variable m_changed;
    bool m_held = true;
    std::size_t m_calls = 0;
    std::size_t m_points = 0;
    std::uint64_t m_last = 0;
};

std::string Datagram(std::uint32_t first, std::size_t records) {
    std::vector<tavrel::LaserRecord> r;
    for (std::size_t i = 0; i < records; ++i)
        r.push_back(Record(first + static_cast<std::uint32_t>(i)));
    return tavrel::encodeLaserPacket(r);
}

std::uint64_t Accounted(const stream_statistics_t& s) {
    return s.datagrams + s.queueDrops + s.kernelDrops;
}

} // namespace

TEST(QueueBound, AStalledCallbackCostsAtMostTheLimitAndDeliveryResumes) {
    constexpr std::size_t kRecords = 63;
    constexpr std::size_t kLimit = 256 * 1024;
    // The queue holds the records as they came.
    constexpr std::size_t kRecordBytes = tavrel::kLaserRecordSize;
    const unsigned short port = TestPort(63);
    tavrel::SentovaGrabber listener;
    listener.SetQueueLimit(kLimit);
    Stalling callback;
    ASSERT_TRUE(listener.StartListening("127.0.0.1", port, &callback));
    LoopbackSender sender;
    sender.Send(port, Datagram(0, kRecords));
    ASSERT_TRUE(callback.WaitUntil(
        [](std::size_t calls, std::size_t, std::uint64_t) { return calls == 1; }));

    // A burst of about ten times the limit while the callback is held.
    std::uint32_t sent = 1;
    const std::size_t burst = 10 * kLimit / (kRecords * kRecordBytes);
    for (std::size_t i = 0; i < burst; ++i, ++sent)
        sender.Send(port, Datagram(sent * 100, kRecords));
    // Kernel drops show with the next datagram received, so probe until every
    // datagram sent is accounted for.
    stream_statistics_t s;
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (std::chrono::steady_clock::now() < deadline) {
        sender.Send(port, Datagram(sent++ * 100, kRecords));
        const auto probeEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
        do {
            s = listener.GetStatistics();
            if (Accounted(s) == sent)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } while (std::chrono::steady_clock::now() < probeEnd);
        if (Accounted(s) == sent)
            break;
    }
    ASSERT_EQ(Accounted(s), sent);
    EXPECT_GT(s.queueDrops, 0u);
    // Beside the first datagram, what was taken in is what the queue holds.
    EXPECT_LE((s.datagrams - 1) * kRecords * kRecordBytes, kLimit);
    EXPECT_GE((s.datagrams - 1) * kRecords * kRecordBytes, kLimit / 2);

    // Released, the callback gets everything that was queued, then new data
    // as it comes.
    callback.Release();
    const std::size_t queued = s.points;
    EXPECT_TRUE(callback.WaitUntil(
        [&](std::size_t, std::size_t points, std::uint64_t) { return points == queued; }));
    sender.Send(port, Datagram(sent * 100, kRecords));
    const std::uint64_t last = sent * 100 + kRecords - 1;
    EXPECT_TRUE(callback.WaitUntil(
        [&](std::size_t, std::size_t, std::uint64_t stamp) { return stamp == last; }));
    EXPECT_EQ(listener.GetStatistics().queueDrops, s.queueDrops);
    listener.StopListening();
}

TEST(QueueBound, DatagramsWithoutRecordsCountTowardsTheLimit) {
    // Each still runs a point cloud's signal check, so it is queued: a flood of
    // them behind a stalled callback must stay within the limit as well.
    constexpr std::size_t kLimit = 4096;
    constexpr std::size_t kFlood = 2000;
    const unsigned short port = TestPort(65);
    pcl::SentovaGrabber grabber(boost::asio::ip::make_address("127.0.0.1"), port);
    grabber.setQueueLimit(kLimit);
    std::mutex mutex; // guards held and the two below
    std::condition_variable changed;
    bool held = true;
    std::size_t calls = 0;
    std::uint64_t last = 0;
    grabber.setObservationSink([&](std::vector<tavrel::tavrel_rbe_obs_t> observations) {
        std::unique_lock<std::mutex> lock(mutex);
        ++calls;
        last = observations.back().timestamp;
        changed.notify_all();
        changed.wait_for(lock, kWait, [&] { return !held; });
    });
    ASSERT_TRUE(grabber.startGrabbing());
    LoopbackSender sender;
    sender.Send(port, Packet({1, 2}));
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, kWait, [&] { return calls == 1; }));
    }
    for (std::size_t i = 0; i < kFlood; ++i)
        sender.Send(port, tavrel::kLaserHeader);
    const stream_statistics_t s = PollUntil(
        [&] { return grabber.getStatistics(); },
        [](const stream_statistics_t& t) { return t.refusedHeader + t.kernelDrops >= kFlood; });
    ASSERT_EQ(s.refusedHeader + s.kernelDrops, kFlood);
    EXPECT_LE(grabber.getQueuePeakBytes(), kLimit);
    EXPECT_GT(grabber.getQueuePeakBytes(), kLimit / 2);

    {
        std::lock_guard<std::mutex> lock(mutex);
        held = false;
        changed.notify_all();
    }
    // Until the consumer has caught up, a datagram may still find the queue
    // full: probe until one is delivered.
    bool delivered = false;
    const auto resumeBy = std::chrono::steady_clock::now() + kWait;
    while (!delivered && std::chrono::steady_clock::now() < resumeBy) {
        sender.Send(port, Packet({3, 4}));
        std::unique_lock<std::mutex> lock(mutex);
        delivered =
            changed.wait_for(lock, std::chrono::milliseconds(50), [&] { return last == 4; });
    }
    EXPECT_TRUE(delivered);
    grabber.stop();
}
