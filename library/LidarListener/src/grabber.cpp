#include "grabber.h"

#include "Sentova/Encoding.h"
#include "Sentova/LaserPacket.h"
#include "Sentova/SentovaLogger.h"

#include <pcl/console/print.h>

#include <boost/asio/ip/address_v4.hpp>
#include <boost/system/system_error.hpp>

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <exception>

namespace pcl {

namespace {
constexpr std::size_t kReceiveBufferBytes = 65535;
// At most this many datagrams are taken from the socket per completion, so that
// a flood still reaches the consumer in runs.
constexpr std::size_t kMaxRun = 64;
// The most records one datagram can carry.
constexpr std::size_t kMaxRecords = kReceiveBufferBytes / tavrel::kLaserRecordSize;

// The counters have one writer, the socket thread: a plain load and store is
// enough, and readers take relaxed loads.
void addTo(std::atomic<std::uint64_t>& counter, std::uint64_t amount) {
    counter.store(counter.load(std::memory_order_relaxed) + amount, std::memory_order_relaxed);
}

bool isFinitePosition(const PointXYZINormal& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}
} // namespace

SentovaGrabber::SentovaGrabber() : SentovaGrabber(boost::asio::ip::address_v4::any(), 443) {}

SentovaGrabber::SentovaGrabber(const boost::asio::ip::address& sensorAddress,
                               unsigned short dataPort)
    : m_dataPort(dataPort), m_sensorAddress(sensorAddress), m_receiveBuffer(kReceiveBufferBytes),
      m_pointCloud(new Cloud), m_pointCloudSignal(createSignal<sig_cb_sentova_point_cloud>()) {
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
        // The socket thread drains the socket with direct receives, which must
        // never block it.
        socket->non_blocking(true);
    } catch (const std::exception& e) {
        console::print(console::L_ERROR, "[SentovaGrabber::start] Unable to bind to socket! %s\n",
                       e.what());
        return false;
    }
    requestReceiveBuffer(*socket);
    requestArrivalDetails(*socket);

    m_stop = false;
    m_packetQueue = std::make_shared<PacketQueue<Datagram>>();
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
        m_packetQueue->stopQueue();
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
    // The socket is closed only once the socket thread has ended: an Asio
    // socket must not be used from two threads at once.
    m_ioService->stop();
    m_socketThread->join();
    m_socketThread.reset();

    boost::system::error_code error;
    m_socket->close(error);
    m_socket.reset();
    m_ioService.reset();

    m_packetQueue->stopQueue();
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

void SentovaGrabber::setTrafficObserver(
    std::shared_ptr<tavrel::SentovaTrafficCallbackClass> observer) {
    m_traffic.Set(std::move(observer));
}

tavrel::stream_statistics_t SentovaGrabber::getStatistics() const {
    tavrel::stream_statistics_t s;
    if (!m_countersLive.load(std::memory_order_acquire))
        return s;
    const auto get = [](const std::atomic<std::uint64_t>& a) {
        return a.load(std::memory_order_relaxed);
    };
    s.datagrams = get(m_counters.datagrams);
    s.points = get(m_counters.points);
    s.bytes = get(m_counters.bytes);
    s.refusedSender = get(m_counters.refusedSender);
    s.refusedHeader = get(m_counters.refusedHeader);
    s.kernelDrops = get(m_counters.kernelDrops);
    s.pointsMissing = get(m_counters.pointsMissing);
    s.lastDatagramMicros = get(m_counters.lastDatagramMicros);
    return s;
}

// On the caller's thread while no thread of the grabber runs.
void SentovaGrabber::resetCounters() {
    for (std::atomic<std::uint64_t>* a :
         {&m_counters.datagrams, &m_counters.points, &m_counters.bytes, &m_counters.refusedSender,
          &m_counters.refusedHeader, &m_counters.kernelDrops, &m_counters.pointsMissing,
          &m_counters.lastDatagramMicros})
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
    m_receiveBufferSize = error ? 0 : granted.value();
    if (error || m_receiveBufferSize < m_requestedReceiveBufferSize)
        SENTOVA_LOG(warning) << "laser data socket receive buffer: asked for "
                             << m_requestedReceiveBufferSize << " bytes, system gave "
                             << m_receiveBufferSize
                             << (error ? " (" + error.message() + ")" : std::string());
}

// Each received datagram comes with the socket's kernel drop counter, the
// system's arrival time and the address it was sent to.
void SentovaGrabber::requestArrivalDetails(boost::asio::ip::udp::socket& socket) {
    const int fd = socket.native_handle();
    const int on = 1;
    const std::pair<int, int> options[] = {
        {SOL_SOCKET, SO_RXQ_OVFL}, {SOL_SOCKET, SO_TIMESTAMPNS}, {IPPROTO_IP, IP_PKTINFO}};
    for (const auto& option : options) {
        if (setsockopt(fd, option.first, option.second, &on, sizeof on) != 0)
            SENTOVA_LOG(warning) << "laser data socket option " << option.second << ": "
                                 << std::strerror(errno);
    }
}

void SentovaGrabber::socketThreadLoop() {
    asyncSocketWait();
    m_ioService->run();
}

void SentovaGrabber::asyncSocketWait() {
    m_socket->async_wait(boost::asio::ip::udp::socket::wait_read,
                         [this](const boost::system::error_code& error) { socketReady(error); });
}

void SentovaGrabber::socketReady(const boost::system::error_code& error) {
    if (m_stop || error == boost::asio::error::operation_aborted)
        return;
    // Whatever has arrived is taken at once and queued as one run, without a
    // round trip through the I/O service for each datagram.
    for (std::size_t i = 0; i < kMaxRun && receiveOne(); ++i) {
    }
    if (!m_received.empty())
        m_packetQueue->enqueue(m_received);
    asyncSocketWait();
}

// Receives one datagram if one is waiting; false otherwise.
bool SentovaGrabber::receiveOne() {
    sockaddr_in from{};
    iovec vector{m_receiveBuffer.data(), m_receiveBuffer.size()};
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(std::uint32_t)) +
                                           CMSG_SPACE(sizeof(timespec)) +
                                           CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t received = recvmsg(m_socket->native_handle(), &message, MSG_DONTWAIT);
    if (received < 0)
        return false;

    Arrival arrival;
    arrival.sourceAddress = ntohl(from.sin_addr.s_addr);
    arrival.sourcePort = ntohs(from.sin_port);
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
            std::memcpy(&arrival.dropCounter, CMSG_DATA(c), sizeof arrival.dropCounter);
            arrival.dropCounterSeen = true;
        } else if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec t;
            std::memcpy(&t, CMSG_DATA(c), sizeof t);
            arrival.micros = static_cast<std::uint64_t>(t.tv_sec) * 1000000u +
                             static_cast<std::uint64_t>(t.tv_nsec) / 1000u;
        } else if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            arrival.destinationAddress = ntohl(info.ipi_addr.s_addr);
        }
    }
    if (arrival.micros == 0)
        arrival.micros = tavrel::SystemMicrosNow();
    handleDatagram(static_cast<std::size_t>(received), arrival);
    return true;
}

void SentovaGrabber::handleDatagram(std::size_t bytes, const Arrival& arrival) {
    if (m_traffic.Active())
        showTraffic(bytes, arrival);
    countKernelDrops(arrival);
    if (m_filterSender && (!m_acceptedIsV4 || arrival.sourceAddress != m_acceptedSender)) {
        addTo(m_counters.refusedSender, 1);
        return;
    }
    const tavrel::LaserPacketLayout layout =
        tavrel::examineLaserPacket(m_receiveBuffer.data(), bytes);
    if (layout.discarded) {
        addTo(m_counters.refusedHeader, 1);
        return;
    }
    if (layout.records == 0) {
        // Carries nothing, but is still converted: it runs the signal check.
        addTo(m_counters.refusedHeader, 1);
    } else {
        const unsigned char* record = m_receiveBuffer.data() + layout.headerSize;
        m_timestamps.clear();
        for (std::size_t i = 0; i < layout.records; ++i, record += tavrel::kLaserRecordSize) {
            const unsigned char* p = record;
            m_timestamps.push_back(tavrel::EfficientUnpackInt32(p));
        }
        m_gaps.Add(m_timestamps.data(), m_timestamps.size(), arrival.micros);
        addTo(m_counters.datagrams, 1);
        addTo(m_counters.points, layout.records);
        addTo(m_counters.bytes, bytes);
        m_counters.pointsMissing.store(m_gaps.PointsMissing(), std::memory_order_relaxed);
        m_counters.lastDatagramMicros.store(arrival.micros, std::memory_order_relaxed);
    }
    copyDatagram(bytes);
}

void SentovaGrabber::showTraffic(std::size_t bytes, const Arrival& arrival) const {
    tavrel::traffic_datagram_t d;
    d.timeMicros = arrival.micros;
    d.sourceAddress = arrival.sourceAddress;
    d.sourcePort = arrival.sourcePort;
    d.destinationAddress = arrival.destinationAddress;
    d.destinationPort = m_dataPort;
    d.data = reinterpret_cast<const char*>(m_receiveBuffer.data());
    d.size = bytes;
    m_traffic.Show(d);
}

// The counter only ever grows; its difference modulo 2^32 is what was added.
void SentovaGrabber::countKernelDrops(const Arrival& arrival) {
    if (!arrival.dropCounterSeen)
        return;
    const std::uint32_t added = arrival.dropCounter - m_lastDropCounter;
    m_lastDropCounter = arrival.dropCounter;
    addTo(m_counters.kernelDrops, added);
}

void SentovaGrabber::copyDatagram(std::size_t bytes) {
    Datagram datagram;
    datagram.data.reset(new unsigned char[bytes]);
    datagram.length = bytes;
    if (bytes > 0)
        std::memcpy(datagram.data.get(), m_receiveBuffer.data(), bytes);
    m_received.push_back(std::move(datagram));
}

void SentovaGrabber::consumerThreadLoop() {
    std::vector<Datagram> run;
    while (m_packetQueue->dequeueAll(run)) {
        for (const Datagram& datagram : run) {
            // Datagrams still queued when stop comes are discarded.
            if (m_packetQueue->stopRequested())
                break;
            // A throwing subscriber (the application's laser data callback)
            // must not end the thread, nor the process: it is logged, and the
            // next datagram is converted as usual.
            try {
                convertPacketData(datagram.data.get(), datagram.length);
            } catch (const std::exception& e) {
                SENTOVA_LOG(error) << "SentovaGrabber: point cloud subscriber: " << e.what();
            } catch (...) {
                SENTOVA_LOG(error) << "SentovaGrabber: point cloud subscriber: unknown exception";
            }
        }
        run.clear();
    }
}

void SentovaGrabber::resetPointCloud() {
    Cloud::Ptr fresh(new Cloud);
    std::lock_guard<std::mutex> lock(m_cloudMutex);
    m_pointCloud.swap(fresh);
}

void SentovaGrabber::convertPacketData(const unsigned char* packet, std::size_t length) {
    Cloud::Ptr finished;
    {
        std::lock_guard<std::mutex> lock(m_cloudMutex);
        if (!appendPacketPoints(*m_pointCloud, packet, length))
            return;
        if (m_pointCloud->size() <= m_signalPointCloudSize)
            return;
        finished.swap(m_pointCloud);
        m_pointCloud.reset(new Cloud);
    }
    // Without a subscriber the finished cloud is dropped all the same.
    if (m_pointCloudSignal->num_slots() > 0)
        (*m_pointCloudSignal)(finished, 0u);
}

void SentovaGrabber::computeXYZI(PointXYZINormal& point, const unsigned char* record) {
    const tavrel::LaserRecord r = tavrel::decodeData(reinterpret_cast<const char*>(record));
    point.x = static_cast<float>(r.azimuth);
    point.y = static_cast<float>(r.elevation);
    point.z = static_cast<float>(r.range);
    point.normal_x = static_cast<float>(r.reflectance);
    point.normal_y = static_cast<float>(r.pulseShapeDeviation);
    point.normal_z = static_cast<float>(r.timestamp);
    point.intensity = static_cast<float>(r.amplitude);
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
