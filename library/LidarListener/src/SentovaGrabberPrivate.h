// The listener's implementation: owns the grabber and turns each cloud it
// signals into observations for the application.
#pragma once

#include "Sentova/SentovaGrabber.h"
#include "grabber.h"

#include <boost/signals2/connection.hpp>

#include <string>

namespace tavrel {

// One cloud point as an observation; the timestamp is truncated toward zero.
tavrel_rbe_obs_t toObservation(const pcl::PointXYZINormal& point);

class SentovaGrabberPrivate {
public:
    SentovaGrabberPrivate() = default;
    ~SentovaGrabberPrivate();
    SentovaGrabberPrivate(const SentovaGrabberPrivate&) = delete;
    SentovaGrabberPrivate& operator=(const SentovaGrabberPrivate&) = delete;

    bool StartListening(const std::string& ip, int port, SentovaLaserDataCallbackClass* callback);
    void StopListening();
    // Runs on the grabber's consumer thread.
    void cloudCallback(const pcl::SentovaGrabber::Cloud::ConstPtr& cloud, unsigned int n);

    pcl::SentovaGrabber m_grabber;
    // Written only while the grabber is stopped; read by the consumer thread.
    SentovaLaserDataCallbackClass* m_callback = nullptr;
    boost::signals2::connection m_connection;
};

} // namespace tavrel
