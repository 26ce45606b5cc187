#include "SentovaGrabberPrivate.h"

#include <pcl/console/print.h>

#include <boost/asio/ip/address.hpp>
#include <boost/system/system_error.hpp>

#include <cerrno>
#include <functional>
#include <utility>

namespace tavrel {

tavrel_rbe_obs_t toObservation(const pcl::PointXYZINormal& point) {
    tavrel_rbe_obs_t obs;
    obs.azimuth = point.x;
    obs.elevation = point.y;
    obs.range = point.z;
    // The grabber stores an unsigned 32-bit value here; the guard keeps a
    // negative or NaN value from an undefined conversion.
    obs.timestamp = point.normal_z > 0.0f ? static_cast<std::uint64_t>(point.normal_z) : 0u;
    obs.amplitude = point.intensity;
    obs.reflectance = point.normal_x;
    obs.pulse_shape_deviation = point.normal_y;
    return obs;
}

std::vector<tavrel_rbe_obs_t> DecodeLaserDatagram(const unsigned char* data, std::size_t length) {
    pcl::SentovaGrabber::Cloud cloud;
    std::vector<tavrel_rbe_obs_t> observations;
    if (!pcl::SentovaGrabber::appendPacketPoints(cloud, data, length))
        return observations;
    observations.reserve(cloud.points.size());
    for (const pcl::PointXYZINormal& point : cloud.points)
        observations.push_back(toObservation(point));
    return observations;
}

SentovaGrabberPrivate::~SentovaGrabberPrivate() {
    try {
        StopListening();
    } catch (const std::exception& e) {
        pcl::console::print_error("[SentovaGrabber] %s\n", e.what());
    }
}

bool SentovaGrabberPrivate::StartListening(const std::string& ip, int port,
                                           SentovaLaserDataCallbackClass* callback) {
    StopListening();
    // The parser reads only up to a zero byte; such text is not an address.
    if (ip.find('\0') != std::string::npos)
        throw boost::system::system_error(EINVAL, boost::system::generic_category());
    const boost::asio::ip::address address = boost::asio::ip::make_address(ip);
    m_grabber.setSensorAddress(address);
    m_grabber.setDataPort(static_cast<unsigned short>(port));
    m_callback = callback;
    if (callback == nullptr) {
        pcl::console::print_error("[SentovaGrabber::StartListening] No callback object given\n");
        return false;
    }
    m_connection =
        m_grabber.registerCallback(std::function<pcl::SentovaGrabber::sig_cb_sentova_point_cloud>(
            [this](const pcl::SentovaGrabber::Cloud::ConstPtr& cloud, unsigned int n) {
                cloudCallback(cloud, n);
            }));
    m_grabber.setSignalPointCloudSize(1);
    return m_grabber.startGrabbing();
}

void SentovaGrabberPrivate::StopListening() {
    // The connection is dropped even when the grabber is not running: a
    // failed start leaves one behind, and a second start would otherwise
    // deliver every cloud twice.
    try {
        m_grabber.stop();
    } catch (...) {
        m_connection.disconnect();
        throw;
    }
    m_connection.disconnect();
}

void SentovaGrabberPrivate::cloudCallback(const pcl::SentovaGrabber::Cloud::ConstPtr& cloud,
                                          unsigned int n) {
    // The grabber never touches a cloud again once it has signalled it, so
    // it is read in place rather than copied first.
    std::vector<tavrel_rbe_obs_t> observations;
    observations.reserve(cloud->points.size());
    for (const pcl::PointXYZINormal& point : cloud->points)
        observations.push_back(toObservation(point));
    m_callback->LaserDataCallback(std::move(observations), n);
}

SentovaGrabber::SentovaGrabber() : m_private(new SentovaGrabberPrivate) {}

SentovaGrabber::~SentovaGrabber() {
    delete m_private;
}

bool SentovaGrabber::StartListening(std::string ip, int port,
                                    SentovaLaserDataCallbackClass* callback) {
    return m_private->StartListening(ip, port, callback);
}

void SentovaGrabber::StopListening() {
    m_private->StopListening();
}

stream_statistics_t SentovaGrabber::GetStatistics() const {
    return m_private->m_grabber.getStatistics();
}

void SentovaGrabber::SetTrafficObserver(std::shared_ptr<SentovaTrafficCallbackClass> observer) {
    m_private->m_grabber.setTrafficObserver(std::move(observer));
}

} // namespace tavrel
