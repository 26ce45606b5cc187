// What the laser listener counts of the stream it receives, and the estimate of
// the points missing from it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavrel {

// Counters of one listening, from StartListening on (all zero while not
// listening). Every datagram that reaches the data port is counted once: as
// accepted, as refused for its sender, as refused for its header or size, or
// as dropped for a full queue.
struct stream_statistics_t {
    // Accepted laser datagrams: from the device, with a valid header (or none)
    // and at least one whole 22-byte point record.
    std::uint64_t datagrams = 0;
    // Point records in the accepted datagrams.
    std::uint64_t points = 0;
    // Bytes of the accepted datagrams, as received (UDP payload).
    std::uint64_t bytes = 0;
    // Datagrams from another address than the device's.
    std::uint64_t refusedSender = 0;
    // Datagrams from the device discarded for a wrong header (a first byte 'E',
    // not "EBRBEP", and a length that is not whole records), or too short to
    // hold one point record.
    std::uint64_t refusedHeader = 0;
    // Datagrams the system dropped on the data socket because its receive
    // buffer was full: the kernel's exact count, as of the latest datagram
    // received (drops after the latest datagram show with the next one).
    std::uint64_t kernelDrops = 0;
    // Datagrams from the device dropped because the queue towards the laser
    // data callback was full: the callback fell behind the stream.
    std::uint64_t queueDrops = 0;
    // Points estimated missing from gaps in the device timestamps between
    // accepted datagrams (see SentovaTimestampGaps).
    std::uint64_t pointsMissing = 0;
    // System clock, microseconds since the Unix epoch, when the latest accepted
    // datagram arrived (the system's arrival time stamp); 0 if none yet.
    std::uint64_t lastDatagramMicros = 0;
};

// Estimates how many points a stream lost from the device timestamps of the
// datagrams that arrived, in arrival order. Pure: it only sees what it is
// given, so it can be fed from a recording as well as from the socket.
//
// The device takes its measurements at a steady rate and sends a run of
// consecutive ones per datagram, each with its 32-bit time stamp. The interval
// between measurements is taken as the smallest positive step between
// consecutive records of the latest datagram that had two or more (the last
// interval known otherwise): within one datagram nothing is lost, but a
// measurement without a return has no record, so the smallest step is the
// interval. The gap from the newest time stamp seen to the first record of the
// next datagram, divided by that interval and rounded, is one more than the
// points missing between them.
//
// - Time stamps are compared modulo 2^32, so wrapping past 2^32 is no gap.
// - The first datagram only sets the reference; so does the first after a
//   silence of more than kPauseMicros in arrival time, which is a pause of the
//   stream (stopped and started again), not a loss.
// - A datagram that arrives late, all of it older than the newest time stamp
//   seen, was counted missing when the gap it fills was seen: its records are
//   taken off the count again (never below zero), and the reference stays.
// - A run of measurements without returns that spans datagrams cannot be told
//   from a loss and counts as missing.
class SentovaTimestampGaps {
public:
    static constexpr std::uint64_t kPauseMicros = 250000;

    // One datagram's record time stamps in packet order, and its arrival time in
    // microseconds on any steady count (the system clock will do).
    void Add(const std::uint32_t* timestamps, std::size_t count, std::uint64_t arrivalMicros);
    std::uint64_t PointsMissing() const { return m_missing; }
    void Reset() { *this = SentovaTimestampGaps(); }

private:
    bool m_started = false;
    std::uint32_t m_newest = 0;
    std::uint64_t m_newestArrival = 0;
    std::uint32_t m_interval = 0; // 0 while unknown
    std::uint64_t m_missing = 0;
};

} // namespace tavrel
