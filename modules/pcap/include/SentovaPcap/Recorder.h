// Recording the traffic of the library's sockets to a capture file in the
// background. Register one Recorder as traffic observer of the device facade,
// the event manager and the laser listener: their threads only copy each
// datagram into a queue, and a writer thread of the recorder's own writes the
// file, handing it to the system at least every flush interval, so that a
// crash of the program loses at most that much. Every public operation may be
// called from any thread.
#pragma once

#include "Sentova/SentovaTraffic.h"
#include "SentovaPcap/Capture.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sentova {
namespace pcap {

struct RecorderOptions {
    LinkType linkType = LinkType::Raw;
    unsigned flushIntervalMs = 250;
    // Bytes waiting for the writer beyond which datagrams are not recorded
    // (and counted) rather than memory growing without bound.
    std::size_t maximumQueuedBytes = std::size_t(512) << 20;
};

struct RecorderStatus {
    std::uint64_t datagrams = 0;      // written to the file
    std::uint64_t bytes = 0;          // size of the file written so far
    std::uint64_t durationMicros = 0; // from the first recorded datagram to the last
    std::uint64_t notRecorded = 0;    // lost to a full queue or a write error
    bool failed = false;
    std::string error; // the first write error, naming the file; empty if none
    bool stopped = false;
};

class Recorder : public tavrel::SentovaTrafficCallbackClass {
public:
    // Creates the file and starts the writer thread. Throws CaptureError.
    explicit Recorder(const std::string& path, RecorderOptions options = {});
    // Stops as stop() does.
    ~Recorder() override;
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Copies the datagram into the queue and returns; never blocks on the disk.
    void TrafficCallback(const tavrel::traffic_datagram_t& datagram) override;

    RecorderStatus status() const;
    // Writes what is queued, flushes, closes the file and ends the writer
    // thread; datagrams arriving afterwards are ignored. Returns the final
    // status. Calling it again returns the same.
    RecorderStatus stop();

    const std::string& path() const { return m_path; }

private:
    struct Entry {
        std::uint64_t timeMicros;
        std::uint32_t sourceAddress;
        std::uint32_t destinationAddress;
        std::uint16_t sourcePort;
        std::uint16_t destinationPort;
        std::uint32_t size; // bytes at the entry's place in the byte queue
    };

    void run();
    // Writes one batch; a failure is published and ends the recording.
    void writeBatch(const std::vector<Entry>& entries, const std::string& bytes, bool last);
    void publish(bool stopped);

    // The writer thread's: times of the first and last datagram written.
    std::uint64_t m_firstTime = 0;
    std::uint64_t m_lastTime = 0;

    const std::string m_path;
    const RecorderOptions m_options;
    Writer m_writer; // the writer thread's, once it runs

    // m_queueMutex guards the queue and m_stopping: the observed threads fill
    // the queue, the writer thread drains it.
    std::mutex m_queueMutex;
    std::condition_variable m_wake;
    std::vector<Entry> m_entries;
    std::string m_bytes;
    bool m_stopping = false;
    std::atomic<std::uint64_t> m_notRecorded{0};
    std::atomic<bool> m_failed{false};

    // m_statusMutex guards m_status, published by the writer thread.
    mutable std::mutex m_statusMutex;
    RecorderStatus m_status;

    std::mutex m_stopMutex; // serialises stop()
    std::thread m_thread;
};

} // namespace pcap
} // namespace sentova
