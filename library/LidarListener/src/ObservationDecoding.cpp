#include "ObservationDecoding.h"

namespace tavrel {

LaserPacketLayout appendPacketObservations(const unsigned char* packet, std::size_t length,
                                           std::vector<tavrel_rbe_obs_t>& out) {
    const LaserPacketLayout layout = examineLaserPacket(packet, length);
    if (layout.discarded)
        return layout;
    const unsigned char* first = packet + layout.headerSize;
    out.insert(out.end(), RecordObservations(first),
               RecordObservations(first + layout.records * kLaserRecordSize));
    return layout;
}

std::vector<tavrel_rbe_obs_t> observationsOf(const std::vector<DatagramChunk>& chunks) {
    std::size_t count = 0;
    for (const DatagramChunk& chunk : chunks)
        count += chunk.recordCount();
    std::vector<tavrel_rbe_obs_t> out;
    out.reserve(count);
    for (const DatagramChunk& chunk : chunks) {
        const unsigned char* first = chunk.records.data();
        out.insert(out.end(), RecordObservations(first),
                   RecordObservations(first + chunk.recordCount() * kLaserRecordSize));
    }
    return out;
}

std::vector<tavrel_rbe_obs_t> DecodeLaserDatagram(const unsigned char* data, std::size_t length) {
    std::vector<tavrel_rbe_obs_t> observations;
    appendPacketObservations(data, length, observations);
    return observations;
}

} // namespace tavrel
