#include "Device.h"

#include "Failure.h"

#include <arpa/inet.h>

namespace cli {

bool isIpv4Address(const std::string& text) {
    in_addr parsed{};
    return text.find('\0') == std::string::npos && inet_pton(AF_INET, text.c_str(), &parsed) == 1;
}

Device::Device(std::string address) : m_address(std::move(address)) {}

tavrel::Sentova& Device::control() {
    if (!m_control) {
        m_control = std::make_unique<tavrel::Sentova>(m_address);
    }
    return *m_control;
}

tavrel::SentovaEventManager& Device::events() {
    if (!m_events) {
        m_events = std::make_unique<tavrel::SentovaEventManager>(m_address);
    }
    return *m_events;
}

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
    const LIDAR_TYPE actual = formats::modelFromSerial(serial());
    if (!asked) {
        return actual;
    }
    if (*asked != LIDAR_GENERIC && *asked != actual) {
        usageError("the device at " + m_address + " is " +
                   (actual == LIDAR_GENERIC ? std::string("not an LX30 or LX20")
                                            : std::string("an ") + modelLabel(actual)) +
                   " (serial " + m_serial + "), not an " + modelLabel(*asked));
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

void Device::startLaser(const std::vector<tavrel::Parameter>& parameters) {
    check(events().ManagerSendCommand(tavrel::CommandSerialiser::SVRRBE(parameters)),
          "Start Laser");
}

void Device::stopLaser() {
    check(events().ManagerSendCommand(tavrel::CommandSerialiser::SVSRBE()), "Stop Laser");
}

void Device::armFrame(const std::vector<tavrel::Parameter>& parameters) {
    tavrel::SentovaEventManager& e = events();
    if (e.ResetEvents() != tavrel::NoError) {
        e.ResetEvents();
    }
    check(e.ConfigureCommandBuffer(128, tavrel::CommandSerialiser::SVRRBE(parameters)),
          "ConfigureCommandBuffer");
    check(e.ConfigureCommandBuffer(129, tavrel::CommandSerialiser::SVSRBE()),
          "ConfigureCommandBuffer");
    check(e.ConfigureCommandBuffer(130, tavrel::CommandSerialiser::SVSTOP()),
          "ConfigureCommandBuffer");
    check(e.EventEnable(128, 0, false), "EventEnable");
    check(e.EventEnable(129, 1, false), "EventEnable");
    check(e.EventEnable(130, 1, false), "EventEnable");
}

void Device::resetEvents() {
    check(events().ResetEvents(), "ResetEvents");
}

} // namespace cli
