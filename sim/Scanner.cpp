#include "Scanner.h"

#include "Sentova/LaserPacket.h"

#include <cmath>
#include <limits>

namespace sentova {
namespace sim {

SyntheticScanner::SyntheticScanner(ScannerSettings settings)
    : m_settings(std::move(settings)),
      m_scene(m_settings.scene ? *m_settings.scene : builtInRoom()) {}

tavrel::tavrel_error_t SyntheticScanner::start(const LaserStreamStart& start) {
    m_mode = laserMode(start.model, start.parameters, start.laserGain);
    if (!(m_mode.rate > 0.0))
        return tavrel::ArgumentOutOfRange;
    m_running = true;
    m_lastRate = m_mode.rate;
    m_start = start.time;
    m_samples = 0;
    m_window = 0;
    m_packet.clear();
    m_packetRecords = 0;
    return tavrel::NoError;
}

void SyntheticScanner::stop(double, std::vector<std::string>& out) {
    flush(out);
    m_running = false;
}

double SyntheticScanner::sampleTime(std::uint64_t sample) const {
    return m_start + static_cast<double>(sample) / m_mode.rate;
}

double SyntheticScanner::nextDue() const {
    if (!m_running)
        return std::numeric_limits<double>::infinity();
    return m_start + static_cast<double>(m_window + 1) * kPacketWindow;
}

void SyntheticScanner::produce(double until, const Aperture& aperture,
                               std::vector<std::string>& out) {
    if (!m_running)
        return;
    for (;;) {
        const double t = sampleTime(m_samples);
        if (t > until)
            break;
        // A sample past the current window closes the datagram being filled.
        const auto window = static_cast<std::uint64_t>((t - m_start) / kPacketWindow);
        if (window != m_window) {
            flush(out);
            m_window = window;
        }
        const std::uint64_t sample = m_samples++;
        double az = 0.0, el = 0.0;
        aperture.pointingAt(t, az, el);
        Return returns[2];
        const int count = measureSample(m_scene, az, el, m_settings.noise, m_mode, m_settings.seed,
                                        sample, returns);
        tavrel::LaserRecord record;
        record.azimuth = az;
        record.elevation = el;
        record.timestamp = static_cast<std::uint32_t>(std::llround(t * 1e6));
        for (int i = 0; i < count; ++i) {
            record.range = static_cast<std::int32_t>(std::lround(returns[i].range * 1000.0));
            record.amplitude = static_cast<std::uint16_t>(returns[i].amplitude);
            record.reflectance = returns[i].reflectance;
            record.pulseShapeDeviation = returns[i].pulseShapeDeviation;
            if (m_packet.empty())
                m_packet = tavrel::kLaserHeader;
            tavrel::appendLaserRecord(m_packet, record);
            if (++m_packetRecords == kRecordsPerPacket)
                flush(out);
        }
    }
    // Every window that has ended by now has left.
    if (m_start + static_cast<double>(m_window + 1) * kPacketWindow <= until) {
        flush(out);
        m_window = static_cast<std::uint64_t>((until - m_start) / kPacketWindow);
    }
}

void SyntheticScanner::flush(std::vector<std::string>& out) {
    if (m_packetRecords == 0)
        return;
    out.push_back(std::move(m_packet));
    m_packet.clear();
    m_packetRecords = 0;
}

} // namespace sim
} // namespace sentova
