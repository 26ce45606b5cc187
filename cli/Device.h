#pragma once

// The device as the tool drives it: the device session for one address, with every result
// checked. A failed operation throws a Failure (status 1) whose message is the operation's name
// and the library's error text. Used from the main thread only.

#include "DataPoint.h"
#include "DeviceSession.h"
#include "Models.h"

#include <memory>
#include <optional>
#include <string>

namespace cli {

enum class ScanType { FullField, BoundedElevation, Region };

struct ScanSettings {
    ScanType type = ScanType::FullField;
    double speed = 5.0; // revolutions per second
    double lines = 100;
    double elevationMin = -35.0;
    double elevationMax = 35.0;
    double azimuthMin = 15.0;
    double azimuthMax = 345.0;
};

class Device {
public:
    // address must pass tavrel::IsIPv4Address.
    explicit Device(std::string address);

    const std::string& address() const { return m_session.address(); }
    sentova::session::DeviceSession& session() { return m_session; }
    tavrel::Sentova& control() { return *m_session.device(); }
    tavrel::SentovaEventManager& events() { return *m_session.eventManager(); }

    // Throws Failure(1, what + ": " + the error text) unless result is 0.
    void check(tavrel::tavrel_error_t result, const std::string& what) const;

    std::string serial();
    // The model of the device's serial number; with asked, that model after checking that the
    // device is one (a generic request suits every device). A mismatch is a usage error.
    LIDAR_TYPE model(std::optional<LIDAR_TYPE> asked);

    void home();
    void stop();
    void startScan(const ScanSettings& scan);
    void startLaser(const tavrel::LaserSettings& laser, unsigned short port);
    void stopLaser();
    // Arms the capture of the next scan frame: the laser starts with it, and the laser and
    // the aperture stop when it ends.
    void armFrame(const tavrel::LaserSettings& laser, unsigned short port);
    // Clears the device's command buffers and event bindings.
    void resetEvents();

private:
    sentova::session::DeviceSession m_session;
    std::string m_serial;
};

// Ends the session's listening when it goes, so that a callback declared before it is not
// called after its end.
class ListeningGuard {
public:
    explicit ListeningGuard(sentova::session::DeviceSession& session) : m_session(session) {}
    ~ListeningGuard() { m_session.stopListening(); }
    ListeningGuard(const ListeningGuard&) = delete;
    ListeningGuard& operator=(const ListeningGuard&) = delete;

private:
    sentova::session::DeviceSession& m_session;
};

} // namespace cli
