#include "grabber.h"

#include "Sentova/LaserPacket.h"
#include "Sentova/SentovaLogger.h"

#include <pcl/console/print.h>

#include <boost/asio/ip/address_v4.hpp>
#include <boost/bind/bind.hpp>
#include <boost/system/system_error.hpp>

#include <cmath>
#include <cstring>
#include <exception>

namespace pcl {

namespace {
constexpr std::size_t kReceiveBufferBytes = 65535;
// At most this many datagrams are taken from the socket per completion, so that
// a flood still reaches the consumer in runs.
constexpr std::size_t kMaxRun = 64;

bool isFinitePosition(const PointXYZINormal& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}
} // namespace

SentovaGrabber::SentovaGrabber() : SentovaGrabber(boost::asio::ip::address_v4::any(), 443) {}

SentovaGrabber::SentovaGrabber(const boost::asio::ip::address& sensorAddress,
                               unsigned short dataPort)
    : m_dataPort(dataPort), m_sensorAddress(sensorAddress), m_receiveBuffer(kReceiveBufferBytes),
      m_pointCloud(new Cloud), m_pointCloudSignal(createSignal<sig_cb_sentova_point_cloud>()) {}

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

    m_stop = false;
    m_packetQueue = std::make_shared<PacketQueue<Datagram>>();
    m_filterSender =
        m_sensorAddress != boost::asio::ip::address(boost::asio::ip::address_v4::any());
    m_acceptedSender = m_sensorAddress;
    m_ioService = ioService;
    m_socket = socket;

    try {
        m_consumerThread =
            std::make_shared<boost::thread>(&SentovaGrabber::consumerThreadLoop, this);
    } catch (const std::exception& e) {
        console::print(console::L_ERROR, "[SentovaGrabber::start] Unable to start thread! %s\n",
                       e.what());
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

void SentovaGrabber::requestReceiveBuffer(boost::asio::ip::udp::socket& socket) {
    boost::system::error_code error;
    socket.set_option(boost::asio::socket_base::receive_buffer_size(kRequestedReceiveBufferSize),
                      error);
    boost::asio::socket_base::receive_buffer_size granted;
    if (!error)
        socket.get_option(granted, error);
    m_receiveBufferSize = error ? 0 : granted.value();
    if (error || m_receiveBufferSize < kRequestedReceiveBufferSize)
        SENTOVA_LOG(warning) << "laser data socket receive buffer: asked for "
                             << kRequestedReceiveBufferSize << " bytes, system gave "
                             << m_receiveBufferSize
                             << (error ? " (" + error.message() + ")" : std::string());
}

void SentovaGrabber::socketThreadLoop() {
    asyncSocketReceive();
    m_ioService->run();
}

void SentovaGrabber::asyncSocketReceive() {
    m_socket->async_receive_from(boost::asio::buffer(m_receiveBuffer), m_senderEndpoint,
                                 boost::bind(&SentovaGrabber::socketCallback, this,
                                             boost::placeholders::_1, boost::placeholders::_2));
}

void SentovaGrabber::socketCallback(const boost::system::error_code& error, std::size_t bytes) {
    if (m_stop)
        return;
    // A failed receive delivered nothing, and its sender endpoint is stale.
    if (!error) {
        copyDatagram(bytes);
        // Whatever else has already arrived is taken at once and queued as one
        // run, without a round trip through the I/O service for each datagram.
        for (std::size_t i = 1; i < kMaxRun; ++i) {
            boost::system::error_code more;
            bytes = m_socket->receive_from(boost::asio::buffer(m_receiveBuffer), m_senderEndpoint,
                                           0, more);
            if (more)
                break;
            copyDatagram(bytes);
        }
        if (!m_received.empty())
            m_packetQueue->enqueue(m_received);
    }
    asyncSocketReceive();
}

void SentovaGrabber::copyDatagram(std::size_t bytes) {
    if (m_filterSender && m_senderEndpoint.address() != m_acceptedSender)
        return;
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
