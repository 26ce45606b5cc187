// The synthetic scanner: the default laser packet source. It samples the
// aperture's direction at the stream's point rate, measures the scene there
// and packs the records into datagrams of the device's laser data format.
#pragma once

#include "LaserSource.h"
#include "Measurement.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace sentova {
namespace sim {

constexpr std::size_t kRecordsPerPacket = 40;
// A datagram leaves when it is full or, at the latest, this long after its
// window began, so that slow streams still arrive promptly.
constexpr double kPacketWindow = 0.002;

struct ScannerSettings {
    NoiseSettings noise;
    std::uint64_t seed = 1; // of the noise
    // What the laser sees; null means the built-in room.
    std::shared_ptr<const Scene> scene;
};

class SyntheticScanner : public LaserPacketSource {
public:
    explicit SyntheticScanner(ScannerSettings settings = {});

    tavrel::tavrel_error_t start(const LaserStreamStart& start) override;
    void stop(double time, std::vector<std::string>& out) override;
    double nextDue() const override;
    void produce(double until, const Aperture& aperture, std::vector<std::string>& out) override;
    double pointRate() const override { return m_running ? m_mode.rate : m_lastRate; }

private:
    void flush(std::vector<std::string>& out);
    double sampleTime(std::uint64_t sample) const;

    const ScannerSettings m_settings;
    const Scene& m_scene;
    bool m_running = false;
    LaserMode m_mode;
    double m_lastRate = 0.0;
    double m_start = 0.0;
    std::uint64_t m_samples = 0; // samples taken since the start
    std::uint64_t m_window = 0;  // packet window of the datagram being filled
    std::string m_packet;
    std::size_t m_packetRecords = 0;
};

} // namespace sim
} // namespace sentova
