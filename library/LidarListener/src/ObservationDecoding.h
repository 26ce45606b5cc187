// Laser data packets straight into observations, in double precision from the
// wire. Pure; the live stream and recordings share it.
#pragma once

#include "DatagramQueue.h"

#include "Sentova/LaserPacket.h"
#include "Sentova/SentovaGrabber.h"

#include <cstddef>
#include <iterator>
#include <vector>

namespace tavrel {

// The 22 bytes at record as an observation. Inline: the socket thread runs it
// for every record it receives.
inline tavrel_rbe_obs_t observationFromRecord(const unsigned char* record) {
    const LaserRecord r = decodeLaserRecord(record);
    tavrel_rbe_obs_t obs;
    obs.azimuth = r.azimuth;
    obs.elevation = r.elevation;
    obs.range = r.range;
    obs.timestamp = r.timestamp;
    obs.amplitude = r.amplitude;
    obs.reflectance = r.reflectance;
    obs.pulse_shape_deviation = r.pulseShapeDeviation;
    return obs;
}

// Walks whole records, decoding each where it is read: inserting a range of
// them sizes the vector once and writes every observation once, with neither
// zeroing first nor a capacity check per record.
class RecordObservations {
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = tavrel_rbe_obs_t;
    using difference_type = std::ptrdiff_t;
    using pointer = const tavrel_rbe_obs_t*;
    using reference = tavrel_rbe_obs_t;

    explicit RecordObservations(const unsigned char* record) : m_record(record) {}
    tavrel_rbe_obs_t operator*() const { return observationFromRecord(m_record); }
    RecordObservations& operator++() {
        m_record += kLaserRecordSize;
        return *this;
    }
    RecordObservations operator++(int) {
        RecordObservations before = *this;
        ++*this;
        return before;
    }
    bool operator==(const RecordObservations& o) const { return m_record == o.m_record; }
    bool operator!=(const RecordObservations& o) const { return m_record != o.m_record; }

private:
    const unsigned char* m_record;
};

// The observations of the chunks' records, in order, in one vector that holds
// exactly them.
std::vector<tavrel_rbe_obs_t> observationsOf(const std::vector<DatagramChunk>& chunks);

// Appends the observations of one packet to out (nothing when it is discarded)
// and returns its layout.
LaserPacketLayout appendPacketObservations(const unsigned char* packet, std::size_t length,
                                           std::vector<tavrel_rbe_obs_t>& out);

} // namespace tavrel
