// Laser data packets straight into observations, in double precision from the
// wire. Pure; the live stream and recordings share it.
#pragma once

#include "DatagramQueue.h"

#include "Sentova/LaserPacket.h"
#include "Sentova/SentovaGrabber.h"

#include <cstddef>
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

// The observations of the chunks' records, in order, in one vector that holds
// exactly them.
std::vector<tavrel_rbe_obs_t> observationsOf(const std::vector<DatagramChunk>& chunks);

// Appends the observations of one packet to out (nothing when it is discarded)
// and returns its layout.
LaserPacketLayout appendPacketObservations(const unsigned char* packet, std::size_t length,
                                           std::vector<tavrel_rbe_obs_t>& out);

} // namespace tavrel
