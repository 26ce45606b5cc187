// The synthetic scanner: the default laser packet source. It samples the
// aperture's direction at the stream's point rate, measures the scene there
// and packs the records into datagrams of the device's laser data format.
#pragma once

#include "LaserSource.h"

#include <cstddef>
#include <cstdint>

namespace sentova {
namespace sim {

constexpr std::size_t kRecordsPerPacket = 40;
// A datagram leaves when it is full or, at the latest, this long after its
// window began, so that slow streams still arrive promptly.
constexpr double kPacketWindow = 0.002;

// Points per second a model streams with these (already checked) parameters.
double streamRate(Model model, const std::map<unsigned, std::int32_t>& parameters);

class SyntheticScanner : public LaserPacketSource {
public:
    tavrel::tavrel_error_t start(const LaserStreamStart& start) override;
    void stop(double time, std::vector<std::string>& out) override;
    double nextDue() const override;
    void produce(double until, const Aperture& aperture, std::vector<std::string>& out) override;
    double pointRate() const override { return m_rate; }

private:
    void flush(std::vector<std::string>& out);
    double sampleTime(std::uint64_t sample) const;

    bool m_running = false;
    double m_rate = 0.0;
    double m_start = 0.0;
    std::uint64_t m_samples = 0; // samples taken since the start
    std::uint64_t m_window = 0;  // packet window of the datagram being filled
    std::string m_packet;
    std::size_t m_packetRecords = 0;
};

} // namespace sim
} // namespace sentova
