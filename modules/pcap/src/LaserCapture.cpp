#include "SentovaPcap/LaserCapture.h"

#include "Sentova/LaserPacket.h"
#include "Sentova/Protocol.h"

#include <algorithm>
#include <cstring>

namespace sentova {
namespace pcap {

namespace {

constexpr std::size_t kParameterSize = 5;

std::size_t recordsIn(const Datagram& d) {
    const tavrel::LaserPacketLayout layout = tavrel::examineLaserPacket(
        reinterpret_cast<const unsigned char*>(d.bytes.data()), d.bytes.size());
    return layout.discarded ? 0 : layout.records;
}

bool startsWith(const std::string& s, std::size_t at, const char* prefix) {
    const std::size_t n = std::strlen(prefix);
    return s.size() >= at + n && s.compare(at, n, prefix) == 0;
}

} // namespace

bool streamStartDataPort(const std::string& command, std::uint16_t& port) {
    std::size_t at = 0;
    if (startsWith(command, 0, "SVECCF"))
        at = tavrel::protocol::kCodeLength + 1; // the buffer number, then the stored command
    if (!startsWith(command, at, "SVRRBE"))
        return false;
    bool found = false;
    for (at += tavrel::protocol::kCodeLength; at + kParameterSize <= command.size();
         at += kParameterSize) {
        const auto* p = reinterpret_cast<const unsigned char*>(command.data()) + at;
        if (static_cast<signed char>(p[0]) != tavrel::protocol::kParameterDataPort)
            continue;
        const std::uint32_t value = (std::uint32_t(p[1]) << 24) | (std::uint32_t(p[2]) << 16) |
                                    (std::uint32_t(p[3]) << 8) | std::uint32_t(p[4]);
        port = static_cast<std::uint16_t>(value);
        found = true;
    }
    return found;
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

LaserReadResult readLaserDatagrams(const std::string& path,
                                   const std::function<void(const Datagram&)>& deliver,
                                   const std::function<void(double)>& progress,
                                   const std::function<bool()>& cancel) {
    LaserReadResult result;
    LaserSurvey survey;
    std::uint64_t size = 0;
    // Progress runs over both passes: the survey is the first half.
    const auto report = [&](const Reader& reader, double base) {
        if (progress && size > 0)
            progress(base + 0.5 * double(reader.position()) / double(size));
    };
    constexpr std::uint64_t kProgressEvery = 4096;
    {
        Reader reader(path);
        size = reader.fileSize();
        Datagram d;
        while (reader.next(d)) {
            survey.add(d);
            if (reader.datagramsRead() % kProgressEvery == 0) {
                if (cancel && cancel()) {
                    result.cancelled = true;
                    return result;
                }
                report(reader, 0.0);
            }
        }
        result.problems = reader.report();
    }
    result.sources = survey.sources();
    const LaserFilter filter = survey.filter();
    result.deviceAddress = filter.deviceAddress;
    if (result.deviceAddress == 0)
        return result;

    Reader reader(path);
    Datagram d;
    while (reader.next(d)) {
        if (filter.accepts(d)) {
            ++result.datagrams;
            result.points += recordsIn(d);
            deliver(d);
        }
        if (reader.datagramsRead() % kProgressEvery == 0) {
            if (cancel && cancel()) {
                result.cancelled = true;
                return result;
            }
            report(reader, 0.5);
        }
    }
    if (progress)
        progress(1.0);
    return result;
}

} // namespace pcap
} // namespace sentova
