// The listener's implementation: owns the grabber, whose observations go
// straight to the application's callback.
#pragma once

#include "Sentova/SentovaGrabber.h"
#include "grabber.h"

#include <string>

namespace tavrel {

class SentovaGrabberPrivate {
public:
    SentovaGrabberPrivate() = default;
    ~SentovaGrabberPrivate();
    SentovaGrabberPrivate(const SentovaGrabberPrivate&) = delete;
    SentovaGrabberPrivate& operator=(const SentovaGrabberPrivate&) = delete;

    bool StartListening(const std::string& ip, int port, SentovaLaserDataCallbackClass* callback);
    void StopListening();

    pcl::SentovaGrabber m_grabber;
    // Written only while the grabber is stopped.
    SentovaLaserDataCallbackClass* m_callback = nullptr;
};

} // namespace tavrel
