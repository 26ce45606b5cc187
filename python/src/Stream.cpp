#include "Stream.h"

#include "Waiting.h"

#include <algorithm>

namespace sentova::python {

void BatchQueue::LaserDataCallback(std::vector<tavrel::tavrel_rbe_obs_t> observations,
                                   unsigned int) {
    const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
                         std::chrono::steady_clock::now().time_since_epoch())
                         .count();
    const std::size_t count = observations.size();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_points + count <= m_limit || m_batches.empty()) {
            m_points += count;
            m_batches.push_back(
                {std::move(observations), static_cast<std::uint64_t>(now), std::nullopt});
            m_ready.notify_one();
            return;
        }
    }
    m_droppedBatches.fetch_add(1);
    m_droppedPoints.fetch_add(count);
}

void BatchQueue::pushEvent(unsigned event) {
    const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
                         std::chrono::steady_clock::now().time_since_epoch())
                         .count();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_events < kEventLimit) {
            ++m_events;
            m_batches.push_back({{}, static_cast<std::uint64_t>(now), event});
            m_ready.notify_one();
            return;
        }
    }
    m_droppedEvents.fetch_add(1);
}

std::optional<Batch> BatchQueue::pop(std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_ready.wait_for(lock, wait, [this] { return !m_batches.empty(); })) {
        return std::nullopt;
    }
    Batch batch = std::move(m_batches.front());
    m_batches.pop_front();
    m_points -= batch.observations.size();
    m_events -= batch.event ? 1 : 0;
    return batch;
}

void FrameAssembler::add(const Batch& batch, std::uint64_t drops) {
    m_splitter.AddBatch(batch.observations.data(), batch.observations.size(), batch.arrivalMicros,
                        drops, &m_pieces);
    m_collector.add(batch.observations.data(), m_pieces, fromObservation);
}

void FrameAssembler::addEvent(unsigned event, std::uint64_t arrivalMicros) {
    m_splitter.AddEvent(event, arrivalMicros);
}

void FrameAssembler::advanceTime(std::uint64_t nowMicros) {
    m_splitter.AdvanceTime(nowMicros);
}

std::vector<Frame> FrameAssembler::takeClosed() {
    return m_collector.close(m_splitter.TakeClosed());
}

std::optional<Batch> StreamReader::nextBatch(std::optional<double> timeoutSeconds) {
    std::optional<Batch> batch;
    waitInSlices(
        [&](std::chrono::milliseconds slice) {
            const auto until = std::chrono::steady_clock::now() + slice;
            for (;;) {
                batch = m_queue.pop(std::chrono::duration_cast<std::chrono::milliseconds>(
                    until - std::chrono::steady_clock::now()));
                if (!batch || !batch->event) {
                    return bool(batch);
                }
            }
        },
        timeoutSeconds);
    return batch;
}

std::optional<Frame> StreamReader::nextFrame(std::optional<double> timeoutSeconds, bool wholeOnly) {
    std::optional<Frame> frame;
    const auto take = [&] {
        while (!m_ready.empty()) {
            Frame f = std::move(m_ready.front());
            m_ready.pop_front();
            if (!wholeOnly || f.info.complete()) {
                frame = std::move(f);
                return true;
            }
        }
        return false;
    };
    waitInSlices(
        [&](std::chrono::milliseconds slice) {
            const auto until = std::chrono::steady_clock::now() + slice;
            std::unique_lock<std::timed_mutex> reading(m_reading, std::defer_lock);
            if (!reading.try_lock_for(slice)) {
                return false;
            }
            while (!take()) {
                // With no time left, what is queued is still taken, without waiting.
                const auto left = std::max(std::chrono::milliseconds::zero(),
                                           std::chrono::duration_cast<std::chrono::milliseconds>(
                                               until - std::chrono::steady_clock::now()));
                std::optional<Batch> batch = m_queue.pop(left);
                if (!batch) {
                    // Nothing came: a frame whose end was notified may be over.
                    m_frames.advanceTime(static_cast<std::uint64_t>(
                        std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count()));
                    for (Frame& f : m_frames.takeClosed()) {
                        m_ready.push_back(std::move(f));
                    }
                    return take();
                }
                if (batch->event) {
                    m_frames.addEvent(*batch->event, batch->arrivalMicros);
                } else {
                    // Any loss counts: a rise between batches marks the frame.
                    const tavrel::stream_statistics_t stats = statistics();
                    m_frames.add(*batch,
                                 stats.kernelDrops + stats.queueDrops + m_queue.droppedBatches());
                }
                for (Frame& f : m_frames.takeClosed()) {
                    m_ready.push_back(std::move(f));
                }
            }
            return true;
        },
        timeoutSeconds);
    return frame;
}

tavrel::stream_statistics_t StreamReader::statistics() const {
    tavrel::stream_statistics_t stats;
    if (m_listener) {
        stats = m_listener->GetStatistics();
    }
    return stats;
}

} // namespace sentova::python
