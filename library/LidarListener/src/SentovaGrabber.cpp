#include "SentovaGrabberPrivate.h"

#include <pcl/console/print.h>

#include <boost/asio/ip/address.hpp>
#include <boost/system/system_error.hpp>

#include <cerrno>
#include <utility>

namespace tavrel {

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
    // Observations come straight from the wire: no point cloud is made.
    m_grabber.setObservationSink([callback](std::vector<tavrel_rbe_obs_t> observations) {
        callback->LaserDataCallback(std::move(observations), 0u);
    });
    return m_grabber.startGrabbing();
}

void SentovaGrabberPrivate::StopListening() {
    m_grabber.stop();
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

void SentovaGrabber::SetQueueLimit(std::size_t bytes) {
    m_private->m_grabber.setQueueLimit(bytes);
}

void SentovaGrabber::SetTrafficObserver(std::shared_ptr<SentovaTrafficCallbackClass> observer) {
    m_private->m_grabber.setTrafficObserver(std::move(observer));
}

} // namespace tavrel
