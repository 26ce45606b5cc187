#include "ObservationDecoding.h"

namespace tavrel {

LaserPacketLayout appendPacketObservations(const unsigned char* packet, std::size_t length,
                                           std::vector<tavrel_rbe_obs_t>& out) {
    const LaserPacketLayout layout = examineLaserPacket(packet, length);
    if (layout.discarded)
        return layout;
    const unsigned char* record = packet + layout.headerSize;
    for (std::size_t i = 0; i < layout.records; ++i, record += kLaserRecordSize)
        out.push_back(observationFromRecord(record));
    return layout;
}

std::vector<tavrel_rbe_obs_t> observationsOf(const std::vector<DatagramChunk>& chunks) {
    std::size_t count = 0;
    for (const DatagramChunk& chunk : chunks)
        count += chunk.recordCount();
    std::vector<tavrel_rbe_obs_t> out;
    out.reserve(count);
    for (const DatagramChunk& chunk : chunks) {
        const unsigned char* record = chunk.records.data();
        for (std::size_t i = chunk.recordCount(); i > 0; --i, record += kLaserRecordSize)
            out.push_back(observationFromRecord(record));
    }
    return out;
}

std::vector<tavrel_rbe_obs_t> DecodeLaserDatagram(const unsigned char* data, std::size_t length) {
    std::vector<tavrel_rbe_obs_t> observations;
    appendPacketObservations(data, length, observations);
    return observations;
}

} // namespace tavrel
