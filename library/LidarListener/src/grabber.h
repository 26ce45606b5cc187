// Receives laser data packets on a UDP port and signals them as point clouds.
//
// Two threads of its own: the socket thread takes the datagrams in batches,
// counts them and queues their records as they came, so that bursts are not
// lost while subscribers are busy; the consumer thread decodes the queued
// records once and hands them on, as point clouds to PCL subscribers or in
// batches of observations to an observation sink, so both run there. The queue is bounded by the
// memory it holds: what does not fit is dropped and counted (queueDrops).
#pragma once

#include "DatagramBatch.h"
#include "DatagramQueue.h"
#include "TrafficObserverSlot.h"

#include "Sentova/SentovaGrabber.h"

#include "Sentova/SentovaStreamStatistics.h"

#include <pcl/io/grabber.h>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/thread/thread.hpp>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pcl {

class SentovaGrabber : public Grabber {
public:
    using Cloud = PointCloud<PointXYZINormal>;
    using sig_cb_sentova_point_cloud = void(const Cloud::ConstPtr&, unsigned int);

    // The receive buffer we ask the system for on the data socket: the
    // system's default (about 208 KiB) overflows during a burst of packets
    // while the socket thread waits for a core.
    static constexpr int kRequestedReceiveBufferSize = 8 * 1024 * 1024;
    // The memory the queue between the two threads may hold by default: the
    // records as received, 22 bytes each.
    static constexpr std::size_t kDefaultQueueLimit = 64 * 1024 * 1024;

    // Takes the observations of the datagrams received since the last call, in
    // arrival order; a batch may hold several datagrams. Never empty.
    using ObservationSink = std::function<void(std::vector<tavrel::tavrel_rbe_obs_t>)>;

    SentovaGrabber();
    SentovaGrabber(const boost::asio::ip::address& sensorAddress, unsigned short dataPort);
    ~SentovaGrabber() noexcept override;

    // pcl::Grabber's start has no result; startGrabbing offers it.
    void start() override;
    // True when the grabber runs afterwards (also when it already ran); false,
    // with a message on standard error, when the socket cannot be bound or a
    // thread cannot be created. On false nothing of the grabber runs.
    bool startGrabbing();
    // Joins both threads; datagrams still queued are discarded. A failure to
    // close the socket is thrown as boost::system::system_error after the
    // threads have ended.
    void stop() override;
    std::string getName() const override;
    bool isRunning() const override;
    float getFramesPerSecond() const override;

    // Address and port take effect at the next start. The IPv4 address 0.0.0.0
    // accepts datagrams from every sender.
    void setSensorAddress(const boost::asio::ip::address& address);
    const boost::asio::ip::address& getSensorAddress() const;
    void setDataPort(unsigned short port);
    unsigned short getDataPort() const;
    // A cloud is signalled once it holds more points than this. May be changed
    // while running.
    void setSignalPointCloudSize(unsigned long size);
    std::size_t getSignalPointCloudSize() const;

    // A copy of the points accumulated but not yet signalled. Safe while running
    // (it locks out the consumer thread for the copy), so it is a snapshot
    // rather than a share of the live cloud.
    Cloud::Ptr getPointCloud() const;

    // The receive buffer size the system reported for the data socket at the
    // last successful start (Linux reports twice the usable size).
    int getReceiveBufferSize() const;
    // The receive buffer asked for at the next start; tests ask for a small one.
    void setRequestedReceiveBufferSize(int bytes);

    // The bytes of records the queue may hold, from the next start on.
    void setQueueLimit(std::size_t bytes);
    std::size_t getQueueLimit() const;
    // The most the queue held at once in the current or the last run; 0 before
    // the first start. On the caller's thread.
    std::size_t getQueuePeakBytes() const;

    // Set while stopped. With a sink the observations go there, and point clouds
    // are made only while a PCL subscriber is connected.
    void setObservationSink(ObservationSink sink);

    // Shown every datagram that reaches the data port, refused ones included,
    // on the socket thread, with the system's arrival time. Any thread.
    void setTrafficObserver(std::shared_ptr<tavrel::SentovaTrafficCallbackClass> observer);

    // The counters since the last start; zeros while not running. Any thread;
    // a handful of relaxed atomic loads.
    tavrel::stream_statistics_t getStatistics() const;

    // Pure conversions of the packet format into cloud points.
    static void pointFromObservation(PointXYZINormal& point, const tavrel::tavrel_rbe_obs_t& o);
    static void computeXYZI(PointXYZINormal& point, const unsigned char* record);
    static void computeTimestamp(unsigned int& timestamp, const unsigned char* record);
    // Appends the finite points of one packet to cloud. Returns false when the
    // packet is discarded for a wrong header (then cloud is unchanged).
    static bool appendPacketPoints(Cloud& cloud, const unsigned char* packet, std::size_t length);

private:
    // Written by the socket thread only, once per batch; read by any thread.
    struct Counters {
        std::atomic<std::uint64_t> datagrams{0}, points{0}, bytes{0}, refusedSender{0},
            refusedHeader{0}, kernelDrops{0}, queueDrops{0}, pointsMissing{0},
            lastDatagramMicros{0};
        // Odd while the socket thread publishes a batch: a reader that saw it
        // change reads again, so that a snapshot never mixes two batches.
        std::atomic<std::uint32_t> version{0};
    };

    // What one batch adds to the counters, summed on the socket thread's stack
    // and published once.
    struct BatchCounts {
        std::uint64_t datagrams = 0, points = 0, bytes = 0, refusedSender = 0, refusedHeader = 0,
                      kernelDrops = 0, queueDrops = 0, lastDatagramMicros = 0;
    };

    void socketThreadLoop();
    void consumerThreadLoop();
    void handleDatagram(std::size_t index, BatchCounts& counts);
    void publish(const BatchCounts& counts);
    void showTraffic(const unsigned char* data, std::size_t bytes,
                     const tavrel::DatagramArrival& arrival) const;
    void countKernelDrops(const tavrel::DatagramArrival& arrival, BatchCounts& counts);
    void deliver(std::vector<tavrel::DatagramChunk>& chunks);
    void resetPointCloud();
    void convertRecords(const unsigned char* records, std::size_t count);
    void requestReceiveBuffer(boost::asio::ip::udp::socket& socket);
    void resetCounters();
    // Ends both threads and releases the socket; returns the error of closing it.
    boost::system::error_code stopSequence();

    // Set by stop, read by the socket thread.
    std::atomic<bool> m_stop{false};
    // Written by the caller's thread, read by the consumer thread.
    std::atomic<std::size_t> m_signalPointCloudSize{1};
    unsigned short m_dataPort;
    boost::asio::ip::address m_sensorAddress;
    int m_receiveBufferSize = 0;
    int m_requestedReceiveBufferSize = kRequestedReceiveBufferSize;
    std::size_t m_queueLimit = kDefaultQueueLimit;
    // Set while stopped; called by the consumer thread.
    ObservationSink m_observationSink;

    // Socket thread only while running; reset by start before the thread
    // exists. The sender filter is copied from the sensor address then, so
    // setters called while running cannot race with it.
    std::unique_ptr<tavrel::DatagramBatch> m_batch;
    tavrel::DatagramChunk m_pending;
    std::vector<std::uint32_t> m_timestamps;
    bool m_filterSender = false;
    // With an IPv6 sensor address nothing passes: the socket receives IPv4.
    bool m_acceptedIsV4 = true;
    std::uint32_t m_acceptedSender = 0;
    std::uint32_t m_lastDropCounter = 0;
    tavrel::SentovaTimestampGaps m_gaps;

    Counters m_counters;
    // Set while running (after the counters were reset at start).
    std::atomic<bool> m_countersLive{false};
    // Set from any thread; shown datagrams on the socket thread.
    tavrel::TrafficObserverSlot m_traffic;

    // Created by start and released by stop, on the caller's thread, while no
    // thread of the grabber runs. Nothing runs on the I/O service: it only owns
    // the socket, which the socket thread reads with blocking system receives.
    std::shared_ptr<boost::asio::io_context> m_ioService;
    std::shared_ptr<boost::asio::ip::udp::socket> m_socket;
    std::shared_ptr<boost::thread> m_socketThread;
    std::shared_ptr<boost::thread> m_consumerThread;
    // Guarded by its own internal mutex.
    std::shared_ptr<tavrel::DatagramQueue> m_packetQueue;

    // Guards the m_pointCloud pointer and the points of the cloud it points to
    // while they are being accumulated. Never held while the signal runs.
    mutable std::mutex m_cloudMutex;
    Cloud::Ptr m_pointCloud;

    // Owned by pcl::Grabber.
    boost::signals2::signal<sig_cb_sentova_point_cloud>* m_pointCloudSignal;
};

} // namespace pcl
