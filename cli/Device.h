#pragma once

// The device as the tool drives it: the library's device facade and event manager for one
// address, with every result checked. A failed operation throws a Failure (status 1) whose
// message is the operation's name and the library's error text. Used from the main thread only.

#include "DataPoint.h"
#include "Models.h"

#include "Sentova/Sentova.h"
#include "Sentova/SentovaEventManager.h"

#include <memory>
#include <optional>
#include <string>

namespace cli {

// Dotted-quad IPv4 text, nothing before or after it.
bool isIpv4Address(const std::string& text);

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
    // address must pass isIpv4Address.
    explicit Device(std::string address);

    const std::string& address() const { return m_address; }
    tavrel::Sentova& control();
    tavrel::SentovaEventManager& events();

    // Throws Failure(1, what + ": " + the error text) unless result is 0.
    void check(tavrel::tavrel_error_t result, const std::string& what) const;

    std::string serial();
    // The model of the device's serial number; with asked, that model after checking that the
    // device is one (a generic request suits every device). A mismatch is a usage error.
    LIDAR_TYPE model(std::optional<LIDAR_TYPE> asked);

    void home();
    void stop();
    void startScan(const ScanSettings& scan);
    void startLaser(const std::vector<tavrel::Parameter>& parameters);
    void stopLaser();
    // Programs the device's events as the viewer's Get Frame does: the laser starts with the
    // next scan frame, and the laser and the aperture stop when it ends.
    void armFrame(const std::vector<tavrel::Parameter>& parameters);
    // Clears the device's command buffers and event bindings.
    void resetEvents();

private:
    std::string m_address;
    std::unique_ptr<tavrel::Sentova> m_control;
    std::unique_ptr<tavrel::SentovaEventManager> m_events;
    std::string m_serial;
};

} // namespace cli
