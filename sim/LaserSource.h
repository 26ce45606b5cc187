// Where the laser data stream's datagrams come from. The device decides when a
// stream runs and to whom it goes ("SVRRBE" starts or restarts it, "SVSRBE"
// ends it); a laser packet source makes the datagrams. The default source is
// the synthetic scanner (Scanner.h), which measures the scene in the
// aperture's direction; a replay source plays recorded datagrams instead.
//
// A source is owned by one Device and called only from the thread that drives
// that device, always with device times that never run backwards.
#pragma once

#include "Sentova/DeviceModel.h"

#include "Sentova/SentovaError.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sentova {
namespace sim {

// An accepted laser stream start.
struct LaserStreamStart {
    LIDAR_TYPE model = LIDAR_LX30;
    // Every parameter of the "SVRRBE", id -> value (a repeated id keeps its
    // last value). Id 0, the data port, is always there.
    std::map<unsigned, std::int32_t> parameters;
    double time = 0.0;      // device clock, seconds
    unsigned laserGain = 0; // the gain last set with "SVSLGA"
};

// Where the aperture points at a device time (degrees; azimuth in [-180, 180)).
class Aperture {
public:
    virtual ~Aperture() = default;
    virtual void pointingAt(double time, double& azimuth, double& elevation) const = 0;
};

class LaserPacketSource {
public:
    virtual ~LaserPacketSource() = default;

    // A stream starts at start.time, after the device has checked the
    // parameters against its model. NoError to accept; any other code is the
    // device's answer to the "SVRRBE" and the stream does not start.
    virtual tavrel::tavrel_error_t start(const LaserStreamStart& start) = 0;

    // The stream ends at time; datagrams still held may be appended to out and
    // are sent to the stream's hosts.
    virtual void stop(double time, std::vector<std::string>& out) = 0;

    // Device time at which the next datagram is due, or +infinity when none
    // will come. Asked only while the stream runs; the device's thread sleeps
    // until then (a time already past means "at once").
    virtual double nextDue() const = 0;

    // Appends, in order, every datagram due up to time `until` (device
    // clock). The aperture is there for sources that sample it.
    virtual void produce(double until, const Aperture& aperture, std::vector<std::string>& out) = 0;

    // Points per second of the running stream, for the device's status; 0
    // when the source cannot tell.
    virtual double pointRate() const { return 0.0; }
};

} // namespace sim
} // namespace sentova
