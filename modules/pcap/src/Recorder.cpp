#include "SentovaPcap/Recorder.h"

#include <algorithm>
#include <chrono>

namespace sentova {
namespace pcap {

namespace {
// The writer is woken early once this much waits, to keep the queue short.
constexpr std::size_t kWakeBytes = std::size_t(4) << 20;
} // namespace

Recorder::Recorder(const std::string& path, RecorderOptions options)
    : m_path(path), m_options(options), m_writer(path, options.linkType) {
    m_status.bytes = m_writer.bytesWritten();
    m_thread = std::thread([this] { run(); });
}

Recorder::~Recorder() {
    stop();
}

void Recorder::TrafficCallback(const tavrel::traffic_datagram_t& d) {
    if (m_failed.load(std::memory_order_relaxed)) {
        m_notRecorded.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        if (m_stopping)
            return;
        if (m_bytes.size() + d.size > m_options.maximumQueuedBytes) {
            m_notRecorded.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        const std::size_t before = m_bytes.size();
        m_entries.push_back(Entry{d.timeMicros, d.sourceAddress, d.destinationAddress, d.sourcePort,
                                  d.destinationPort, static_cast<std::uint32_t>(d.size)});
        m_bytes.append(d.data, d.size);
        wake = before < kWakeBytes && m_bytes.size() >= kWakeBytes;
    }
    if (wake)
        m_wake.notify_one();
}

void Recorder::run() {
    std::vector<Entry> entries;
    std::string bytes;
    const auto interval = std::chrono::milliseconds(m_options.flushIntervalMs);
    for (;;) {
        bool stopping = false;
        {
            std::unique_lock<std::mutex> lock(m_queueMutex);
            m_wake.wait_for(lock, interval,
                            [&] { return m_stopping || m_bytes.size() >= kWakeBytes; });
            entries.swap(m_entries);
            bytes.swap(m_bytes);
            stopping = m_stopping;
        }
        if (m_failed.load())
            m_notRecorded.fetch_add(entries.size(), std::memory_order_relaxed);
        else
            writeBatch(entries, bytes, stopping);
        if (stopping && m_failed.load()) {
            try {
                m_writer.close();
            } catch (const CaptureError&) {
                // The first error is the one reported.
            }
        }
        entries.clear();
        bytes.clear();
        publish(stopping);
        if (stopping)
            return;
    }
}

void Recorder::writeBatch(const std::vector<Entry>& entries, const std::string& bytes, bool last) {
    std::size_t written = 0;
    try {
        std::size_t at = 0;
        for (const Entry& e : entries) {
            m_writer.write(e.timeMicros, e.sourceAddress, e.sourcePort, e.destinationAddress,
                           e.destinationPort, bytes.data() + at, e.size);
            at += e.size;
            if (m_writer.packetsWritten() == 1)
                m_firstTime = e.timeMicros;
            // Datagrams of different threads may be queued slightly out of time order.
            m_firstTime = std::min(m_firstTime, e.timeMicros);
            m_lastTime = std::max(m_lastTime, e.timeMicros);
            ++written;
        }
        if (last)
            m_writer.close();
        else
            m_writer.flush();
    } catch (const CaptureError& error) {
        m_notRecorded.fetch_add(entries.size() - written, std::memory_order_relaxed);
        {
            std::lock_guard<std::mutex> lock(m_statusMutex);
            m_status.failed = true;
            m_status.error = error.what();
        }
        m_failed.store(true);
    }
}

void Recorder::publish(bool stopped) {
    std::lock_guard<std::mutex> lock(m_statusMutex);
    m_status.datagrams = m_writer.packetsWritten();
    m_status.bytes = m_writer.bytesWritten();
    m_status.durationMicros = m_status.datagrams > 0 ? m_lastTime - m_firstTime : 0;
    m_status.stopped = stopped;
}

RecorderStatus Recorder::status() const {
    RecorderStatus s;
    {
        std::lock_guard<std::mutex> lock(m_statusMutex);
        s = m_status;
    }
    s.notRecorded = m_notRecorded.load(std::memory_order_relaxed);
    return s;
}

RecorderStatus Recorder::stop() {
    std::lock_guard<std::mutex> serial(m_stopMutex);
    if (m_thread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_queueMutex);
            m_stopping = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    return status();
}

} // namespace pcap
} // namespace sentova
