#include "SentovaPcap/LaserCapture.h"

#include "Sentova/CommandTable.h"
#include "Sentova/LaserPacket.h"
#include "Sentova/Protocol.h"
#include "Sentova/StreamParameters.h"

#include <algorithm>

namespace sentova {
namespace pcap {

namespace {

constexpr std::uint64_t kProgressEvery = 1024;
// Laser datagrams read before the source is chosen: a few seconds of a stream.
constexpr std::uint64_t kChoosingDatagrams = 2048;

std::size_t recordsIn(const Datagram& d) {
    const tavrel::LaserPacketLayout layout = tavrel::examineLaserPacket(
        reinterpret_cast<const unsigned char*>(d.bytes.data()), d.bytes.size());
    return layout.discarded ? 0 : layout.records;
}

} // namespace

bool streamStartDataPort(const std::string& command, std::uint16_t& port) {
    // A stream start may be stored in a command buffer ("SVECCF" n "SVRRBE...").
    const tavrel::CommandInfo* store = tavrel::FindCommand("SVECCF");
    const std::size_t stored = tavrel::ArgumentOffset(*store, 1, command.size());
    const bool buffered = tavrel::FindCommand(command) == store && command.size() > stored;
    const auto parameters =
        tavrel::ParseStreamParameters(buffered ? command.substr(stored) : command);
    if (!parameters)
        return false;
    const auto value = tavrel::ParameterValue(*parameters, tavrel::protocol::kParameterDataPort);
    if (!value)
        return false;
    port = static_cast<std::uint16_t>(*value);
    return true;
}

bool isLaserCandidate(const Datagram& d) {
    // The device may send laser data from its command port; replies from there
    // begin with 'E' and so are never taken for laser data without the header.
    if (d.destinationPort == tavrel::protocol::kCommandPort)
        return false;
    const std::size_t records = recordsIn(d);
    if (records == 0)
        return false;
    const bool header = !d.bytes.empty() && d.bytes[0] == 'E';
    // Without the header nothing marks the datagram as laser data, so only
    // whole records are taken for it.
    return header || d.bytes.size() == records * tavrel::kLaserRecordSize;
}

bool LaserFilter::accepts(const Datagram& d) const {
    return deviceAddress != 0 && d.sourceAddress == deviceAddress &&
           (dataPorts.empty() || dataPorts.count(d.destinationPort) != 0) && isLaserCandidate(d);
}

void LaserSurvey::add(const Datagram& d) {
    std::uint16_t port = 0;
    if (d.destinationPort == tavrel::protocol::kCommandPort && streamStartDataPort(d.bytes, port)) {
        m_dataPorts.insert(port);
        return;
    }
    if (!isLaserCandidate(d))
        return;
    LaserSource& source = m_counts[{d.sourceAddress, d.destinationPort}];
    source.address = d.sourceAddress;
    ++source.datagrams;
    source.points += recordsIn(d);
}

std::vector<LaserSource> LaserSurvey::sources() const {
    std::vector<LaserSource> out;
    for (const auto& entry : m_counts) {
        if (!m_dataPorts.empty() && m_dataPorts.count(entry.first.second) == 0)
            continue;
        if (out.empty() || out.back().address != entry.second.address)
            out.push_back(LaserSource{entry.second.address, 0, 0});
        out.back().datagrams += entry.second.datagrams;
        out.back().points += entry.second.points;
    }
    std::stable_sort(out.begin(), out.end(), [](const LaserSource& a, const LaserSource& b) {
        return a.datagrams > b.datagrams;
    });
    return out;
}

LaserFilter LaserSurvey::filter() const {
    LaserFilter f;
    const std::vector<LaserSource> all = sources();
    if (!all.empty())
        f.deviceAddress = all.front().address;
    f.dataPorts = m_dataPorts;
    return f;
}

bool frameNotification(const Datagram& d, unsigned& event) {
    const std::string code = tavrel::protocol::kNotificationCodes[0];
    if (d.sourcePort != tavrel::protocol::kCommandPort || d.bytes.size() < code.size() + 1 ||
        d.bytes.compare(0, code.size(), code) != 0)
        return false;
    event = static_cast<unsigned char>(d.bytes[code.size()]);
    return true;
}

LaserReadResult readLaserDatagrams(const std::string& path,
                                   const std::function<void(const Datagram&)>& deliver,
                                   const std::function<void(double)>& progress,
                                   const std::function<bool()>& cancel,
                                   const std::function<void(unsigned, std::uint64_t)>& events) {
    LaserDatagramSinks sinks;
    sinks.deliver = [&](const Datagram& d, std::uint64_t) { deliver(d); };
    sinks.events = events;
    sinks.progress = progress;
    sinks.cancel = cancel;
    return readLaserDatagrams(path, sinks);
}

LaserReadResult readLaserDatagrams(const std::string& path, const LaserDatagramSinks& sinks) {
    LaserReadResult result;
    LaserSurvey survey;
    Reader reader(path);
    const std::uint64_t size = reader.fileSize();
    // The laser source is chosen from the file's beginning, so that the first
    // datagrams go out without a pass over the whole file; until then the
    // datagrams that may matter wait here, a bounded number of them.
    std::vector<std::pair<Datagram, std::uint64_t>> waiting;
    std::uint64_t candidates = 0;
    bool chosen = false;
    LaserFilter filter;
    const auto pass = [&](const Datagram& d, std::uint64_t position) {
        unsigned event = 0;
        if (filter.accepts(d)) {
            ++result.datagrams;
            result.points += recordsIn(d);
            sinks.deliver(d, position);
        } else if (sinks.events && d.sourceAddress == filter.deviceAddress &&
                   frameNotification(d, event)) {
            sinks.events(event, d.timeMicros);
        }
    };
    const auto choose = [&] {
        chosen = true;
        filter = survey.filter();
        result.deviceAddress = filter.deviceAddress;
        if (sinks.filter)
            sinks.filter(filter);
        for (const auto& w : waiting)
            pass(w.first, w.second);
        waiting.clear();
        waiting.shrink_to_fit();
    };
    Datagram d;
    std::uint64_t position = reader.position();
    while (reader.next(d)) {
        const std::uint64_t at = position;
        position = reader.position();
        survey.add(d);
        std::uint16_t port = 0;
        if (chosen && !filter.dataPorts.empty() &&
            d.destinationPort == tavrel::protocol::kCommandPort &&
            streamStartDataPort(d.bytes, port) && filter.dataPorts.insert(port).second &&
            sinks.filter)
            sinks.filter(filter); // a later stream start to another port
        unsigned event = 0;
        if (chosen) {
            pass(d, at);
        } else if (isLaserCandidate(d) || frameNotification(d, event)) {
            candidates += isLaserCandidate(d) ? 1 : 0;
            waiting.emplace_back(d, at);
            if (candidates >= kChoosingDatagrams)
                choose();
        }
        if (reader.datagramsRead() % kProgressEvery == 0) {
            if (sinks.cancel && sinks.cancel()) {
                result.cancelled = true;
                return result;
            }
            if (sinks.progress && size > 0)
                sinks.progress(double(position) / double(size));
        }
    }
    if (!chosen)
        choose();
    result.sources = survey.sources();
    result.problems = reader.report();
    if (sinks.progress)
        sinks.progress(1.0);
    return result;
}

} // namespace pcap
} // namespace sentova
