// Replay as the device: a laser packet source that plays the laser datagrams
// of a capture file instead of measuring the synthetic scene. Every stream
// start plays the recording from its beginning, at the recorded pace, a chosen
// multiple of it, or as fast as the network thread can send; at its end the
// stream falls silent, or starts over with looping on. Used like every source:
// by one device, from the thread that drives it.
#pragma once

#include "LaserSource.h"

#include "SentovaPcap/Capture.h"
#include "SentovaPcap/LaserCapture.h"

#include <cstdint>
#include <memory>
#include <string>

namespace sentova {
namespace sim {

struct ReplayOptions {
    std::string file; // empty: no replay
    double speed = 1.0;
    bool asFastAsPossible = false;
    bool loop = false;
};

// What the recording holds, from reading it once.
struct RecordingSummary {
    std::uint32_t deviceAddress = 0; // the recorded source of the laser data
    std::uint64_t datagrams = 0;
    std::uint64_t points = 0;
    double seconds = 0.0; // from the first laser datagram to the last
    std::string serial;   // the device's serial number replies, if recorded
    std::string problems; // what was wrong with the file, naming it; may be empty
};

class ReplaySource : public LaserPacketSource {
public:
    // Reads the recording once. Throws pcap::CaptureError when it cannot be
    // read, and std::runtime_error (naming the file) when it holds no laser data.
    explicit ReplaySource(ReplayOptions options);
    ~ReplaySource() override;

    const RecordingSummary& summary() const { return m_summary; }
    // Plays through the recording so far (loops included), for the status.
    std::uint64_t datagramsPlayed() const { return m_played; }

    tavrel::tavrel_error_t start(const LaserStreamStart& start) override;
    void stop(double time, std::vector<std::string>& out) override;
    double nextDue() const override;
    void produce(double until, const Aperture& aperture, std::vector<std::string>& out) override;
    double pointRate() const override;

private:
    // Reads ahead to the next laser datagram, starting over at the end when
    // looping; false when the recording has ended.
    bool advance();
    bool openRecording();

    const ReplayOptions m_options;
    RecordingSummary m_summary;
    pcap::LaserFilter m_filter;

    std::unique_ptr<pcap::Reader> m_reader;
    bool m_running = false;
    bool m_haveNext = false;
    pcap::Datagram m_next;
    double m_startTime = 0.0;        // device time of the stream start
    std::uint64_t m_firstMicros = 0; // recorded time of the first laser datagram
    double m_loopOffset = 0.0;       // recorded seconds played by earlier loops
    std::uint64_t m_lastMicros = 0;
    std::uint64_t m_played = 0;
};

struct DeviceSettings;

// Makes the device play options.file as its laser stream, and take the
// recorded device's serial number and model unless keepDevice. Returns a line
// describing the recording; what was wrong with the file goes to problems.
// Throws as ReplaySource does.
std::string useReplay(const ReplayOptions& options, bool keepDevice, DeviceSettings& device,
                      std::string& problems);

} // namespace sim
} // namespace sentova
