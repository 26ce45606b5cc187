#include "Device.h"

#include "Failure.h"

namespace cli {

Device::Device(std::string address) : m_session(std::move(address)) {}

void Device::check(tavrel::tavrel_error_t result, const std::string& what) const {
    if (result != tavrel::NoError) {
        failed(what + ": " + tavrel::Sentova::GetErrorString(result));
    }
}

std::string Device::serial() {
    if (m_serial.empty()) {
        std::string serial;
        check(control().GetSerial(serial), "GetSerial");
        m_serial = serial;
    }
    return m_serial;
}

LIDAR_TYPE Device::model(std::optional<LIDAR_TYPE> asked) {
    const LIDAR_TYPE actual = tavrel::ModelFromSerial(serial());
    if (!asked) {
        return actual;
    }
    if (*asked != LIDAR_GENERIC && *asked != actual) {
        usageError("the device at " + address() + " is " +
                   (actual == LIDAR_GENERIC ? std::string("not an LX30 or LX20")
                                            : std::string("an ") + tavrel::ModelLabel(actual)) +
                   " (serial " + m_serial + "), not an " + tavrel::ModelLabel(*asked));
    }
    return *asked;
}

void Device::home() {
    events().ResetEvents();
    check(control().Home(), "Home");
}

void Device::stop() {
    events().ResetEvents();
    check(control().Stop(), "Stop");
}

void Device::startScan(const ScanSettings& s) {
    switch (s.type) {
    case ScanType::FullField:
        check(control().StartFullFieldScan(s.speed, s.lines), "StartFullFieldScan");
        break;
    case ScanType::BoundedElevation:
        check(control().StartBoundedElevationScan(s.speed, s.elevationMin, s.elevationMax, s.lines),
              "StartBoundedElevationScan");
        break;
    case ScanType::Region:
        check(control().StartRegionScan(s.speed, s.azimuthMin, s.azimuthMax, s.elevationMin,
                                        s.elevationMax, s.lines),
              "StartRegionScan");
        break;
    }
}

void Device::startLaser(const tavrel::LaserSettings& laser, unsigned short port) {
    check(m_session.startStream(laser, port), "Start Laser");
}

void Device::stopLaser() {
    check(m_session.stopStream(), "Stop Laser");
}

void Device::armFrame(const tavrel::LaserSettings& laser, unsigned short port) {
    const auto armed = m_session.armFrameCapture(laser, port);
    if (!armed.completed()) {
        // The step's name without the buffer it was for.
        check(armed.result, armed.step.substr(0, armed.step.find('(')));
    }
}

void Device::resetEvents() {
    check(events().ResetEvents(), "ResetEvents");
}

} // namespace cli
