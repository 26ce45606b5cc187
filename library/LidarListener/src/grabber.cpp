#include "grabber.h"

#include "ObservationDecoding.h"

#include "Sentova/LaserPacket.h"
#include "Sentova/SentovaLogger.h"

#include <pcl/console/print.h>

#include <boost/asio/ip/address_v4.hpp>
#include <boost/system/system_error.hpp>

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <exception>
#include <thread>
#include <utility>

namespace pcl {

namespace {
// The most records one datagram can carry.
constexpr std::size_t kMaxRecords =
    tavrel::DatagramBatch::kDatagramBytes / tavrel::kLaserRecordSize;
// A backlog reaches the sink in batches of about this many observations, so that
// the batch being handed on adds little to what the queue holds.
constexpr std::size_t kMaxBatchObservations = 65536;

// The counters have one writer, the socket thread: a plain load and store is
// enough. The stores release and a snapshot's loads acquire, so that a reader
// that sees a counter of a batch also sees the version marking it in progress.
void addTo(std::atomic<std::uint64_t>& counter, std::uint64_t amount) {
    counter.store(counter.load(std::memory_order_relaxed) + amount, std::memory_order_release);
}

bool isFinitePosition(const PointXYZINormal& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}
} // namespace

SentovaGrabber::SentovaGrabber() : SentovaGrabber(boost::asio::ip::address_v4::any(), 443) {}

SentovaGrabber::SentovaGrabber(const boost::asio::ip::address& sensorAddress,
                               unsigned short dataPort)
    : m_dataPort(dataPort), m_sensorAddress(sensorAddress),
      m_batch(std::make_unique<tavrel::DatagramBatch>()), m_pointCloud(new Cloud),
      m_pointCloudSignal(createSignal<sig_cb_sentova_point_cloud>()) {
    m_timestamps.reserve(kMaxRecords);
}

SentovaGrabber::~SentovaGrabber() noexcept {
    if (m_socketThread) {
        const boost::system::error_code error = stopSequence();
        if (error)
            SENTOVA_LOG(error) << "laser data socket close failed: " << error.message();
    }
    disconnect_all_slots<sig_cb_sentova_point_cloud>();
}

void SentovaGrabber::start() {
    startGrabbing();
}

bool SentovaGrabber::startGrabbing() {
    if (isRunning())
        return true;
    resetPointCloud();

    auto ioService = std::make_shared<boost::asio::io_context>();
    std::shared_ptr<boost::asio::ip::udp::socket> socket;
    try {
        socket = std::make_shared<boost::asio::ip::udp::socket>(*ioService);
        socket->open(boost::asio::ip::udp::v4());
        socket->bind(
            boost::asio::ip::udp::endpoint(boost::asio::ip::address_v4::any(), m_dataPort));
        // The socket thread blocks in the system's receive until data comes or
        // stop shuts the socket down; the time-out only bounds how long a stop
        // that comes between its check and its receive can wait.
        const timeval tick{0, 100000};
        if (setsockopt(socket->native_handle(), SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick) != 0)
            throw boost::system::system_error(errno, boost::system::system_category(),
                                              "SO_RCVTIMEO");
    } catch (const std::exception& e) {
        console::print(console::L_ERROR, "[SentovaGrabber::start] Unable to bind to socket! %s\n",
                       e.what());
        return false;
    }
    requestReceiveBuffer(*socket);
    tavrel::DatagramBatch::requestArrivalDetails(socket->native_handle());

    m_stop = false;
    m_packetQueue = std::make_shared<tavrel::DatagramQueue>(m_queueLimit);
    m_pending = tavrel::DatagramChunk();
    m_filterSender =
        m_sensorAddress != boost::asio::ip::address(boost::asio::ip::address_v4::any());
    m_acceptedIsV4 = m_sensorAddress.is_v4();
    m_acceptedSender = m_acceptedIsV4 ? m_sensorAddress.to_v4().to_uint() : 0;
    m_ioService = ioService;
    m_socket = socket;
    resetCounters();

    try {
        m_consumerThread =
            std::make_shared<boost::thread>(&SentovaGrabber::consumerThreadLoop, this);
    } catch (const std::exception& e) {
        console::print(console::L_ERROR, "[SentovaGrabber::start] Unable to start thread! %s\n",
                       e.what());
        m_countersLive = false;
        m_socket.reset();
        m_ioService.reset();
        return false;
    }
    try {
        m_socketThread = std::make_shared<boost::thread>(&SentovaGrabber::socketThreadLoop, this);
    } catch (const std::exception& e) {
        console::print(console::L_ERROR, "[SentovaGrabber::start] Unable to start thread! %s\n",
                       e.what());
        m_packetQueue->stop();
        m_consumerThread->join();
        m_consumerThread.reset();
        m_countersLive = false;
        m_socket.reset();
        m_ioService.reset();
        return false;
    }
    return true;
}

void SentovaGrabber::stop() {
    if (!isRunning())
        return;
    const boost::system::error_code error = stopSequence();
    if (error)
        throw boost::system::system_error(error, "close");
}

boost::system::error_code SentovaGrabber::stopSequence() {
    m_stop = true;
    // Shutting the socket down wakes a receive that blocks in the system (it
    // then returns at once); the socket is closed only once the socket thread
    // has ended, so that its descriptor can not be reused under it.
    ::shutdown(m_socket->native_handle(), SHUT_RD);
    m_socketThread->join();
    m_socketThread.reset();

    boost::system::error_code error;
    m_socket->close(error);
    m_socket.reset();
    m_ioService.reset();

    m_packetQueue->stop();
    m_consumerThread->join();
    m_consumerThread.reset();
    m_countersLive = false;
    return error;
}

std::string SentovaGrabber::getName() const {
    return "Tavrel Dynamics Sentova Grabber";
}

bool SentovaGrabber::isRunning() const {
    return static_cast<bool>(m_socketThread);
}

float SentovaGrabber::getFramesPerSecond() const {
    return 0.0f;
}

void SentovaGrabber::setSensorAddress(const boost::asio::ip::address& address) {
    m_sensorAddress = address;
}

const boost::asio::ip::address& SentovaGrabber::getSensorAddress() const {
    return m_sensorAddress;
}

void SentovaGrabber::setDataPort(unsigned short port) {
    m_dataPort = port;
}

unsigned short SentovaGrabber::getDataPort() const {
    return m_dataPort;
}

void SentovaGrabber::setSignalPointCloudSize(unsigned long size) {
    m_signalPointCloudSize = size;
}

std::size_t SentovaGrabber::getSignalPointCloudSize() const {
    return m_signalPointCloudSize;
}

SentovaGrabber::Cloud::Ptr SentovaGrabber::getPointCloud() const {
    std::lock_guard<std::mutex> lock(m_cloudMutex);
    return Cloud::Ptr(new Cloud(*m_pointCloud));
}

int SentovaGrabber::getReceiveBufferSize() const {
    return m_receiveBufferSize;
}

void SentovaGrabber::setRequestedReceiveBufferSize(int bytes) {
    m_requestedReceiveBufferSize = bytes;
}

void SentovaGrabber::setQueueLimit(std::size_t bytes) {
    m_queueLimit = bytes;
}

std::size_t SentovaGrabber::getQueueLimit() const {
    return m_queueLimit;
}

std::size_t SentovaGrabber::getQueuePeakBytes() const {
    return m_packetQueue ? m_packetQueue->peakBytes() : 0;
}

void SentovaGrabber::setObservationSink(ObservationSink sink) {
    m_observationSink = std::move(sink);
}

void SentovaGrabber::setTrafficObserver(
    std::shared_ptr<tavrel::SentovaTrafficCallbackClass> observer) {
    m_traffic.Set(std::move(observer));
}

tavrel::stream_statistics_t SentovaGrabber::getStatistics() const {
    tavrel::stream_statistics_t s;
    if (!m_countersLive.load(std::memory_order_acquire))
        return s;
    const auto get = [](const std::atomic<std::uint64_t>& a) {
        return a.load(std::memory_order_acquire);
    };
    for (;;) {
        const std::uint32_t version = m_counters.version.load(std::memory_order_acquire);
        if (version & 1u) {
            std::this_thread::yield();
            continue;
        }
        s.datagrams = get(m_counters.datagrams);
        s.points = get(m_counters.points);
        s.bytes = get(m_counters.bytes);
        s.refusedSender = get(m_counters.refusedSender);
        s.refusedHeader = get(m_counters.refusedHeader);
        s.kernelDrops = get(m_counters.kernelDrops);
        s.queueDrops = get(m_counters.queueDrops);
        s.pointsMissing = get(m_counters.pointsMissing);
        s.lastDatagramMicros = get(m_counters.lastDatagramMicros);
        if (m_counters.version.load(std::memory_order_relaxed) == version)
            return s;
    }
}

// On the caller's thread while no thread of the grabber runs.
void SentovaGrabber::resetCounters() {
    for (std::atomic<std::uint64_t>* a :
         {&m_counters.datagrams, &m_counters.points, &m_counters.bytes, &m_counters.refusedSender,
          &m_counters.refusedHeader, &m_counters.kernelDrops, &m_counters.queueDrops,
          &m_counters.pointsMissing, &m_counters.lastDatagramMicros})
        a->store(0, std::memory_order_relaxed);
    m_lastDropCounter = 0;
    m_gaps.Reset();
    m_countersLive.store(true, std::memory_order_release);
}

void SentovaGrabber::requestReceiveBuffer(boost::asio::ip::udp::socket& socket) {
    boost::system::error_code error;
    socket.set_option(boost::asio::socket_base::receive_buffer_size(m_requestedReceiveBufferSize),
                      error);
    boost::asio::socket_base::receive_buffer_size granted;
    if (!error)
        socket.get_option(granted, error);
    // The system caps the plain request (net.core.rmem_max); a process allowed
    // to administer the network may pass the cap, others keep what they got.
    if (!error && granted.value() < m_requestedReceiveBufferSize &&
        setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVBUFFORCE,
                   &m_requestedReceiveBufferSize, sizeof m_requestedReceiveBufferSize) == 0)
        socket.get_option(granted, error);
    m_receiveBufferSize = error ? 0 : granted.value();
    if (error || m_receiveBufferSize < m_requestedReceiveBufferSize)
        SENTOVA_LOG(warning) << "laser data socket receive buffer: asked for "
                             << m_requestedReceiveBufferSize << " bytes, system gave "
                             << m_receiveBufferSize
                             << (error ? " (" + error.message() + ")" : std::string());
}

void SentovaGrabber::socketThreadLoop() {
    // Each batch the system hands over becomes one chunk of the queue.
    const int fd = m_socket->native_handle();
    m_pending = m_packetQueue->spare();
    while (!m_stop) {
        const std::size_t received = m_batch->receive(fd);
        if (received == 0)
            continue;
        // Room for every record at once: the chunk's storage then holds no more
        // than its records, which is what the queue's bound counts.
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < received; ++i)
            bytes += m_batch->length(i);
        m_pending.records.reserve(m_pending.records.size() + bytes);
        BatchCounts counts;
        for (std::size_t i = 0; i < received; ++i)
            handleDatagram(i, counts);
        publish(counts);
        if (!m_pending.datagramEnds.empty())
            m_packetQueue->pushAndSpare(m_pending);
    }
}

void SentovaGrabber::handleDatagram(std::size_t index, BatchCounts& counts) {
    const unsigned char* data = m_batch->data(index);
    const std::size_t bytes = m_batch->length(index);
    const tavrel::DatagramArrival& arrival = m_batch->arrival(index);
    if (m_traffic.Active())
        showTraffic(data, bytes, arrival);
    countKernelDrops(arrival, counts);
    if (m_filterSender && (!m_acceptedIsV4 || arrival.sourceAddress != m_acceptedSender)) {
        ++counts.refusedSender;
        return;
    }
    const tavrel::LaserPacketLayout layout = tavrel::examineLaserPacket(data, bytes);
    if (layout.discarded || layout.records == 0) {
        ++counts.refusedHeader;
        // One without records carries nothing, but still runs a point cloud's
        // signal check.
        if (!layout.discarded && m_packetQueue->fits(m_pending.bytes(), tavrel::chunkBytesOf(0)))
            m_pending.datagramEnds.push_back(m_pending.records.size());
        return;
    }
    if (!m_packetQueue->fits(m_pending.bytes(), tavrel::chunkBytesOf(layout.records))) {
        ++counts.queueDrops;
        return;
    }
    const unsigned char* first = data + layout.headerSize;
    const std::size_t recordBytes = layout.records * tavrel::kLaserRecordSize;
    m_pending.records.insert(m_pending.records.end(), first, first + recordBytes);
    m_pending.datagramEnds.push_back(m_pending.records.size());

    m_timestamps.resize(layout.records);
    const unsigned char* record = first;
    for (std::size_t i = 0; i < layout.records; ++i, record += tavrel::kLaserRecordSize)
        m_timestamps[i] = tavrel::laserRecordTimestamp(record);
    m_gaps.Add(m_timestamps.data(), m_timestamps.size(), arrival.micros);
    ++counts.datagrams;
    counts.points += layout.records;
    counts.bytes += bytes;
    counts.lastDatagramMicros = arrival.micros;
}

void SentovaGrabber::publish(const BatchCounts& counts) {
    const std::uint32_t version = m_counters.version.load(std::memory_order_relaxed);
    m_counters.version.store(version + 1, std::memory_order_relaxed);
    addTo(m_counters.datagrams, counts.datagrams);
    addTo(m_counters.points, counts.points);
    addTo(m_counters.bytes, counts.bytes);
    addTo(m_counters.refusedSender, counts.refusedSender);
    addTo(m_counters.refusedHeader, counts.refusedHeader);
    addTo(m_counters.kernelDrops, counts.kernelDrops);
    addTo(m_counters.queueDrops, counts.queueDrops);
    m_counters.pointsMissing.store(m_gaps.PointsMissing(), std::memory_order_release);
    if (counts.lastDatagramMicros != 0)
        m_counters.lastDatagramMicros.store(counts.lastDatagramMicros, std::memory_order_release);
    m_counters.version.store(version + 2, std::memory_order_release);
}

void SentovaGrabber::showTraffic(const unsigned char* data, std::size_t bytes,
                                 const tavrel::DatagramArrival& arrival) const {
    tavrel::traffic_datagram_t d;
    d.timeMicros = arrival.micros;
    d.sourceAddress = arrival.sourceAddress;
    d.sourcePort = arrival.sourcePort;
    d.destinationAddress = arrival.destinationAddress;
    d.destinationPort = m_dataPort;
    d.data = reinterpret_cast<const char*>(data);
    d.size = bytes;
    m_traffic.Show(d);
}

// The counter only ever grows; its difference modulo 2^32 is what was added.
void SentovaGrabber::countKernelDrops(const tavrel::DatagramArrival& arrival, BatchCounts& counts) {
    if (!arrival.dropCounterSeen)
        return;
    counts.kernelDrops += arrival.dropCounter - m_lastDropCounter;
    m_lastDropCounter = arrival.dropCounter;
}

void SentovaGrabber::consumerThreadLoop() {
    std::vector<tavrel::DatagramChunk> taken;
    while (m_packetQueue->pop(taken, kMaxBatchObservations)) {
        deliver(taken);
        // Whatever deliver has not given back already.
        m_packetQueue->recycle(taken);
    }
}

// A throwing subscriber or sink (the application's laser data callback) must
// not end the thread, nor the process: it is logged, and delivery goes on.
void SentovaGrabber::deliver(std::vector<tavrel::DatagramChunk>& chunks) {
    if (!m_observationSink || m_pointCloudSignal->num_slots() > 0) {
        for (const tavrel::DatagramChunk& chunk : chunks) {
            std::size_t begin = 0;
            for (const std::size_t end : chunk.datagramEnds) {
                // Datagrams still queued when stop comes are discarded.
                if (m_packetQueue->stopRequested())
                    return;
                try {
                    convertRecords(chunk.records.data() + begin,
                                   (end - begin) / tavrel::kLaserRecordSize);
                } catch (const std::exception& e) {
                    SENTOVA_LOG(error) << "SentovaGrabber: point cloud subscriber: " << e.what();
                } catch (...) {
                    SENTOVA_LOG(error)
                        << "SentovaGrabber: point cloud subscriber: unknown exception";
                }
                begin = end;
            }
        }
    }
    if (!m_observationSink)
        return;
    if (m_packetQueue->stopRequested())
        return;
    // The sink owns what it is given; the chunks go back to the queue's pool
    // before it runs, so that what they held no longer counts.
    std::vector<tavrel::tavrel_rbe_obs_t> batch = tavrel::observationsOf(chunks);
    m_packetQueue->recycle(chunks);
    if (batch.empty())
        return;
    try {
        m_observationSink(std::move(batch));
    } catch (const std::exception& e) {
        SENTOVA_LOG(error) << "SentovaGrabber: laser data callback: " << e.what();
    } catch (...) {
        SENTOVA_LOG(error) << "SentovaGrabber: laser data callback: unknown exception";
    }
}

void SentovaGrabber::resetPointCloud() {
    Cloud::Ptr fresh(new Cloud);
    std::lock_guard<std::mutex> lock(m_cloudMutex);
    m_pointCloud.swap(fresh);
}

void SentovaGrabber::convertRecords(const unsigned char* records, std::size_t count) {
    Cloud::Ptr finished;
    {
        std::lock_guard<std::mutex> lock(m_cloudMutex);
        // No reserve here: reserving exactly what each packet adds would defeat
        // the vector's geometric growth and make accumulation quadratic.
        for (std::size_t i = 0; i < count; ++i, records += tavrel::kLaserRecordSize) {
            PointXYZINormal point;
            pointFromObservation(point, tavrel::observationFromRecord(records));
            if (isFinitePosition(point))
                m_pointCloud->points.push_back(point);
        }
        if (!m_pointCloud->points.empty()) {
            m_pointCloud->width = static_cast<std::uint32_t>(m_pointCloud->points.size());
            m_pointCloud->height = 1;
        }
        if (m_pointCloud->size() <= m_signalPointCloudSize)
            return;
        finished.swap(m_pointCloud);
        m_pointCloud.reset(new Cloud);
    }
    // Without a subscriber the finished cloud is dropped all the same.
    if (m_pointCloudSignal->num_slots() > 0)
        (*m_pointCloudSignal)(finished, 0u);
}

void SentovaGrabber::pointFromObservation(PointXYZINormal& point,
                                          const tavrel::tavrel_rbe_obs_t& o) {
    point.x = static_cast<float>(o.azimuth);
    point.y = static_cast<float>(o.elevation);
    point.z = static_cast<float>(o.range);
    point.data[3] = 1.0f;
    point.normal_x = static_cast<float>(o.reflectance);
    point.normal_y = static_cast<float>(o.pulse_shape_deviation);
    point.normal_z = static_cast<float>(o.timestamp);
    point.data_n[3] = 0.0f;
    point.intensity = static_cast<float>(o.amplitude);
    point.curvature = 0.0f;
}

void SentovaGrabber::computeXYZI(PointXYZINormal& point, const unsigned char* record) {
    const float w = point.data[3], nw = point.data_n[3], curvature = point.curvature;
    pointFromObservation(point, tavrel::observationFromRecord(record));
    point.data[3] = w;
    point.data_n[3] = nw;
    point.curvature = curvature;
}

void SentovaGrabber::computeTimestamp(unsigned int& timestamp, const unsigned char* record) {
    timestamp = tavrel::decodeData(reinterpret_cast<const char*>(record)).timestamp;
}

bool SentovaGrabber::appendPacketPoints(Cloud& cloud, const unsigned char* packet,
                                        std::size_t length) {
    const tavrel::LaserPacketLayout layout = tavrel::examineLaserPacket(packet, length);
    if (layout.discarded)
        return false;
    // No reserve here: reserving exactly what each packet adds would defeat
    // the vector's geometric growth and make accumulation quadratic.
    const unsigned char* record = packet + layout.headerSize;
    bool appended = false;
    for (std::size_t i = 0; i < layout.records; ++i, record += tavrel::kLaserRecordSize) {
        PointXYZINormal point;
        point.x = point.y = point.z = 0.0f;
        point.data[3] = 1.0f;
        point.normal_x = point.normal_y = point.normal_z = 0.0f;
        point.data_n[3] = 0.0f;
        point.intensity = 0.0f;
        point.curvature = 0.0f;
        computeXYZI(point, record);
        if (!isFinitePosition(point))
            continue;
        cloud.points.push_back(point);
        appended = true;
    }
    if (appended) {
        cloud.width = static_cast<std::uint32_t>(cloud.points.size());
        cloud.height = 1;
    }
    return true;
}

} // namespace pcl
