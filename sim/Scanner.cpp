#include "Scanner.h"

#include "Scene.h"

#include "Sentova/LaserPacket.h"

#include <cmath>
#include <limits>

namespace sentova {
namespace sim {

double streamRate(Model model, const std::map<unsigned, std::int32_t>& parameters) {
    const auto param = [&](unsigned id, std::int32_t fallback) {
        const auto it = parameters.find(id);
        return it == parameters.end() ? fallback : it->second;
    };
    switch (model) {
    case Model::LX30: {
        static const double rates[] = {25000.0, 5000.0, 500.0};
        const std::int32_t mode = param(1, 0);
        return rates[mode >= 0 && mode <= 2 ? mode : 0];
    }
    case Model::LX20: {
        const std::int32_t sampleRate = param(3, 10000);
        const std::int32_t averaged = param(4, 1);
        return averaged > 0 ? static_cast<double>(sampleRate) / averaged : 0.0;
    }
    case Model::Generic:
        break;
    }
    return 10000.0;
}

tavrel::tavrel_error_t SyntheticScanner::start(const LaserStreamStart& start) {
    m_running = true;
    m_rate = streamRate(start.model, start.parameters);
    m_start = start.time;
    m_samples = 0;
    m_window = 0;
    m_packet.clear();
    m_packetRecords = 0;
    return m_rate > 0.0 ? tavrel::NoError : tavrel::ArgumentOutOfRange;
}

void SyntheticScanner::stop(double, std::vector<std::string>& out) {
    flush(out);
    m_running = false;
}

double SyntheticScanner::sampleTime(std::uint64_t sample) const {
    return m_start + static_cast<double>(sample) / m_rate;
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
        ++m_samples;
        double az = 0.0, el = 0.0;
        aperture.pointingAt(t, az, el);
        const auto stamp = static_cast<std::uint32_t>(std::llround(t * 1e6));
        const auto record = measure(az, el, stamp);
        if (!record)
            continue;
        if (m_packet.empty())
            m_packet = tavrel::kLaserHeader;
        tavrel::appendLaserRecord(m_packet, *record);
        if (++m_packetRecords == kRecordsPerPacket)
            flush(out);
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
