// The laser listener: receives the device's laser data stream on a local UDP
// port and hands it to the application as batches of observations.
#pragma once

#include "Sentova/SentovaStreamStatistics.h"
#include "Sentova/SentovaTraffic.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tavrel {

// One laser observation, in the device's spherical terms, decoded from the
// packet in double precision: the angles are the wire's exact values and the
// timestamp is the record's 32-bit count, unchanged.
struct tavrel_rbe_obs_t {
    double azimuth;   // degrees, [-180, 180)
    double elevation; // degrees, [-180, 180)
    double range;     // device range unit, unscaled
    std::uint64_t timestamp;
    double amplitude;   // 0 to 65535
    double reflectance; // -32768 to 32767
    double pulse_shape_deviation;
};

// Implemented by the application; the library never owns or deletes it. It
// must outlive the listening that uses it.
class SentovaLaserDataCallbackClass {
public:
    virtual ~SentovaLaserDataCallbackClass() = default;
    // Runs on the listener's own consumer thread, one call at a time, in the
    // order the datagrams arrived, as soon as they have; one call may carry the
    // observations of several datagrams that arrived together, and never none.
    // The unsigned argument is always 0. Must not call StopListening.
    virtual void LaserDataCallback(std::vector<tavrel_rbe_obs_t> observations, unsigned int) = 0;
};

// The observations that one laser data packet from the device gives the
// application, decoded exactly as the listener decodes the live stream: for
// packets read back from a recording. Empty when the listener would refuse the
// packet (a wrong header) or it holds no whole record. Pure; any thread.
std::vector<tavrel_rbe_obs_t> DecodeLaserDatagram(const unsigned char* data, std::size_t length);

class SentovaGrabberPrivate;

class SentovaGrabber {
public:
    SentovaGrabber();
    ~SentovaGrabber();
    SentovaGrabber(const SentovaGrabber&) = delete;
    SentovaGrabber& operator=(const SentovaGrabber&) = delete;

    // Listens on the local UDP port (taken modulo 65536) for laser data from
    // the device at ip (IPv4 or IPv6 text) and delivers it to callback.
    // Restarts listening if already listening. Returns false, with a message on
    // standard error, when the port cannot be bound or callback is null; throws
    // boost::system::system_error when ip is not an address.
    bool StartListening(std::string ip, int port, SentovaLaserDataCallbackClass* callback);
    // Stops listening; no callback runs after it returns. Harmless when not
    // listening.
    void StopListening();

    // The memory the queue between receiving and the callback may hold, in
    // bytes of point records as received, 22 per point, and a few per datagram
    // (64 MiB unless set): while the callback falls behind, datagrams that do
    // not fit are dropped and counted (queueDrops).
    // Takes effect at the next StartListening.
    static constexpr std::size_t kDefaultQueueLimit = 64 * 1024 * 1024;
    void SetQueueLimit(std::size_t bytes);

    // The stream's counters since the last StartListening that succeeded;
    // zeros while not listening. Cheap (a few atomic loads) and callable from
    // any thread, so a display may poll it often.
    stream_statistics_t GetStatistics() const;

    // Shows every datagram that reaches the data port to observer, refused ones
    // included, before any filtering, with the system's arrival time; nullptr
    // removes it. It runs on the listener's socket thread, which receives
    // nothing meanwhile: a slow observer makes the system drop datagrams (see
    // kernelDrops). Stays set across StartListening calls. Any thread.
    void SetTrafficObserver(std::shared_ptr<SentovaTrafficCallbackClass> observer);

private:
    SentovaGrabberPrivate* m_private;
};

} // namespace tavrel
