#include "Replay.h"

#include "Device.h"

#include "Sentova/Protocol.h"

#include <cstdio>
#include <limits>
#include <stdexcept>

namespace sentova {
namespace sim {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
// As fast as possible still hands the network thread bounded batches, so that
// it goes on answering commands in between.
constexpr std::size_t kFastBatch = 256;

} // namespace

ReplaySource::ReplaySource(ReplayOptions options) : m_options(std::move(options)) {
    pcap::LaserSurvey survey;
    {
        pcap::Reader reader(m_options.file);
        pcap::Datagram d;
        while (reader.next(d)) {
            survey.add(d);
            // The serial number reply of the recorded device names its model.
            if (m_summary.serial.empty() && d.sourcePort == tavrel::protocol::kCommandPort &&
                d.bytes.compare(0, 6, "ERCQRE") == 0)
                m_summary.serial = d.bytes.substr(6);
        }
        m_summary.problems = reader.report();
    }
    m_filter = survey.filter();
    m_summary.deviceAddress = m_filter.deviceAddress;
    if (m_filter.deviceAddress == 0)
        throw std::runtime_error(m_options.file + ": holds no laser data packets to replay");
    for (const pcap::LaserSource& s : survey.sources())
        if (s.address == m_filter.deviceAddress) {
            m_summary.datagrams = s.datagrams;
            m_summary.points = s.points;
        }
    // The recorded span, from a pass over the device's datagrams.
    if (!openRecording())
        throw std::runtime_error(m_options.file + ": holds no laser data packets to replay");
    const std::uint64_t first = m_next.timeMicros;
    std::uint64_t last = first;
    while (m_reader->next(m_next))
        if (m_filter.accepts(m_next))
            last = m_next.timeMicros;
    m_summary.seconds = last > first ? double(last - first) / 1e6 : 0.0;
    m_reader.reset();
}

ReplaySource::~ReplaySource() = default;

bool ReplaySource::openRecording() {
    m_reader = std::make_unique<pcap::Reader>(m_options.file);
    while (m_reader->next(m_next))
        if (m_filter.accepts(m_next))
            return true;
    return false;
}

bool ReplaySource::advance() {
    while (m_reader && m_reader->next(m_next))
        if (m_filter.accepts(m_next))
            return true;
    if (!m_options.loop)
        return false;
    // The next pass follows the last datagram after one mean interval.
    const double span = double(m_lastMicros - m_firstMicros) / 1e6;
    const double gap =
        m_summary.datagrams > 1 ? m_summary.seconds / double(m_summary.datagrams - 1) : 0.001;
    m_loopOffset += span + gap;
    try {
        if (!openRecording())
            return false;
    } catch (const pcap::CaptureError&) {
        return false; // the file went away since the stream began
    }
    m_firstMicros = m_next.timeMicros;
    m_lastMicros = m_next.timeMicros;
    return true;
}

tavrel::tavrel_error_t ReplaySource::start(const LaserStreamStart& start) {
    try {
        m_haveNext = openRecording();
    } catch (const pcap::CaptureError&) {
        m_haveNext = false;
    }
    if (!m_haveNext)
        return tavrel::NotReady;
    m_running = true;
    m_startTime = start.time;
    m_firstMicros = m_next.timeMicros;
    m_lastMicros = m_next.timeMicros;
    m_loopOffset = 0.0;
    return tavrel::NoError;
}

void ReplaySource::stop(double, std::vector<std::string>&) {
    m_running = false;
    m_haveNext = false;
    m_reader.reset();
}

double ReplaySource::nextDue() const {
    if (!m_running || !m_haveNext)
        return kInf;
    if (m_options.asFastAsPossible)
        return m_startTime;
    // Datagrams recorded out of time order leave at once.
    const double recorded =
        m_loopOffset +
        (m_next.timeMicros > m_firstMicros ? double(m_next.timeMicros - m_firstMicros) / 1e6 : 0.0);
    return m_startTime + recorded / m_options.speed;
}

void ReplaySource::produce(double until, const Aperture&, std::vector<std::string>& out) {
    std::size_t batch = 0;
    while (m_running && m_haveNext && nextDue() <= until) {
        if (m_options.asFastAsPossible && batch++ == kFastBatch)
            break;
        if (m_next.timeMicros > m_lastMicros)
            m_lastMicros = m_next.timeMicros;
        out.push_back(std::move(m_next.bytes));
        ++m_played;
        m_haveNext = advance();
    }
}

double ReplaySource::pointRate() const {
    if (m_summary.seconds <= 0.0)
        return 0.0;
    const double rate = double(m_summary.points) / m_summary.seconds;
    return m_options.asFastAsPossible ? 0.0 : rate * m_options.speed;
}

std::string useReplay(const ReplayOptions& options, bool keepDevice, DeviceSettings& device,
                      std::string& problems) {
    auto source = std::make_shared<ReplaySource>(options);
    const RecordingSummary& r = source->summary();
    problems = r.problems;
    if (!keepDevice && !r.serial.empty()) {
        device.serial = r.serial;
        device.model = tavrel::ModelFromSerial(r.serial);
    }
    device.laserSource = source;
    char text[160];
    std::snprintf(text, sizeof text, " points over %.1f s recorded from ", r.seconds);
    std::string line = "replaying " + options.file + ": " + std::to_string(r.datagrams) +
                       " laser datagrams, " + std::to_string(r.points) + text +
                       pcap::addressText(r.deviceAddress) + ", ";
    if (options.asFastAsPossible) {
        line += "as fast as possible";
    } else {
        std::snprintf(text, sizeof text, "at %g times the recorded pace", options.speed);
        line += text;
    }
    return line + (options.loop ? ", looping" : "");
}

} // namespace sim
} // namespace sentova
