#include "PacketFaults.h"

#include "Sentova/LaserPacket.h"

#include <algorithm>

namespace sentova {
namespace sim {

namespace {

// A reordered datagram waits at most this long for a successor.
constexpr double kReorderWait = 0.05;

enum Salt : std::uint64_t {
    kDrop = 1,
    kTruncate,
    kTruncateRecord,
    kTruncateByte,
    kBadHeader,
    kDuplicate,
    kReorder
};

Endpoint endpointOf(std::uint64_t key) {
    return Endpoint{static_cast<std::uint32_t>(key >> 16),
                    static_cast<std::uint16_t>(key & 0xFFFF)};
}

} // namespace

std::string burstCopy(const std::string& datagram) {
    const auto layout = tavrel::examineLaserPacket(
        reinterpret_cast<const unsigned char*>(datagram.data()), datagram.size());
    if (layout.discarded || layout.records == 0)
        return datagram;
    std::string copy = tavrel::kLaserHeader;
    copy.reserve(tavrel::kLaserHeaderSize + kBurstCopyRecords * tavrel::kLaserRecordSize);
    for (std::size_t i = 0; i < kBurstCopyRecords; ++i)
        copy.append(datagram, layout.headerSize + (i % layout.records) * tavrel::kLaserRecordSize,
                    tavrel::kLaserRecordSize);
    return copy;
}

PacketFaults::PacketFaults(PacketFaultOptions options, std::uint64_t seed)
    : m_options(options), m_seed(seed) {}

void PacketFaults::offer(const Endpoint& to, std::string bytes, double t,
                         std::vector<AddressedDatagram>& out) {
    const std::uint64_t index = m_index++;
    const auto draw = [&](Salt salt) { return uniformDraw(m_seed, index, salt); };
    if (draw(kDrop) < m_options.drop) {
        ++m_counters.dropped;
        return;
    }
    if (draw(kTruncate) < m_options.truncate && bytes.size() > 1) {
        const auto layout = tavrel::examineLaserPacket(
            reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
        std::size_t length = bytes.size() - 1;
        if (!layout.discarded && layout.records > 0) {
            // End inside a record: whole records before it, part of the next.
            const auto whole = static_cast<std::size_t>(draw(kTruncateRecord) * layout.records);
            const auto part =
                1 + static_cast<std::size_t>(draw(kTruncateByte) * (tavrel::kLaserRecordSize - 1));
            length = layout.headerSize + whole * tavrel::kLaserRecordSize + part;
        }
        bytes.resize(length);
        ++m_counters.truncated;
    }
    if (draw(kBadHeader) < m_options.badHeader && !bytes.empty()) {
        // Still begins with 'E', so a listener takes it for a header and refuses it,
        // unless its length is whole records: then it would pass as headerless.
        static const char spoilt[] = "EBRBEX";
        bytes.replace(0, std::min<std::size_t>(6, bytes.size()), spoilt,
                      std::min<std::size_t>(6, bytes.size()));
        if (bytes.size() % tavrel::kLaserRecordSize == 0)
            bytes.pop_back();
        ++m_counters.badHeader;
    }
    const int copies = draw(kDuplicate) < m_options.duplicate ? 2 : 1;
    if (copies == 2)
        ++m_counters.duplicated;

    const std::uint64_t k = key(to);
    for (int c = 0; c < copies; ++c) {
        // A datagram held back leaves after this one.
        std::string held;
        const auto waiting = m_reordering.find(k);
        if (waiting != m_reordering.end()) {
            held = std::move(waiting->second.bytes);
            m_reordering.erase(waiting);
        }
        if (c == 0 && held.empty() && draw(kReorder) < m_options.reorder) {
            m_reordering[k] = HeldBack{bytes, t};
            ++m_counters.reordered;
            continue;
        }
        toBurst(to, bytes, t, out);
        if (!held.empty())
            toBurst(to, std::move(held), t, out);
    }
}

void PacketFaults::toBurst(const Endpoint& to, std::string bytes, double t,
                           std::vector<AddressedDatagram>& out) {
    if (m_options.burst == 0) {
        out.push_back(AddressedDatagram{to, std::move(bytes)});
        return;
    }
    if (m_bursting.empty() && m_nextBurst == std::numeric_limits<double>::infinity())
        m_nextBurst = t + m_options.burstIntervalMs / 1000.0;
    m_bursting[key(to)].push_back(std::move(bytes));
}

double PacketFaults::nextRelease() const {
    double t = m_nextBurst;
    for (const auto& held : m_reordering)
        t = std::min(t, held.second.since + kReorderWait);
    return t;
}

void PacketFaults::release(double t, std::vector<AddressedDatagram>& out) {
    for (auto it = m_reordering.begin(); it != m_reordering.end();) {
        if (it->second.since + kReorderWait <= t) {
            const Endpoint to = endpointOf(it->first);
            std::string bytes = std::move(it->second.bytes);
            it = m_reordering.erase(it);
            toBurst(to, std::move(bytes), t, out);
        } else {
            ++it;
        }
    }
    if (m_nextBurst > t)
        return;
    for (auto& entry : m_bursting) {
        std::deque<std::string>& held = entry.second;
        if (held.empty())
            continue;
        const Endpoint to = endpointOf(entry.first);
        ++m_counters.bursts;
        const std::string last = held.size() < m_options.burst ? burstCopy(held.back()) : "";
        for (std::string& bytes : held)
            out.push_back(AddressedDatagram{to, std::move(bytes)});
        std::size_t sent = held.size();
        for (; sent < m_options.burst; ++sent) {
            out.push_back(AddressedDatagram{to, last});
            ++m_counters.burstCopies;
        }
        m_counters.burstDatagrams += sent;
        held.clear();
    }
    m_bursting.clear();
    // Held-back datagrams keep the rhythm; with nothing held the next burst
    // starts its interval with the next datagram.
    m_nextBurst = std::numeric_limits<double>::infinity();
}

} // namespace sim
} // namespace sentova
