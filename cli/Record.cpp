#include "Record.h"

#include "Failure.h"
#include "Interrupt.h"
#include "McapOutput.h"
#include "OutputFile.h"
#include "ProgressLine.h"

#include "Sentova/SentovaGrabber.h"
#include "SentovaPcap/Recorder.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <sys/stat.h>
#include <thread>

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;

// The listener runs for its data port's traffic; the points themselves are not kept.
class Discard : public tavrel::SentovaLaserDataCallbackClass {
public:
    void LaserDataCallback(std::vector<tavrel::tavrel_rbe_obs_t>, unsigned int) override {}
};

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string megabytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

} // namespace

bool checkRecordOutput(const std::string& path, const std::string& format, bool force) {
    const bool mcap = format == "mcap" || (format.empty() && isMcap(path));
    if (!mcap && !endsWith(path, ".pcap")) {
        usageError("'" + path + "' is not a .pcap file name (record writes pcap captures)");
    }
    struct stat st {};
    if (!force && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        usageError("'" + path + "' exists: give --force to replace it");
    }
    return mcap;
}

int runRecord(RecordOptions o) {
    ProgressLine line(errorOutputStyle(o.quiet));
    formats::OutputFile file(o.output);
    std::string error;
    if (!file.open(error)) {
        failed("cannot write '" + o.output + "': " + error);
    }
    // Never committed: removed when done.
    std::unique_ptr<formats::OutputFile> traffic;
    if (o.mcap) {
        traffic = std::make_unique<formats::OutputFile>(o.output + ".pcap");
        if (!traffic->open(error)) {
            failed("cannot write beside '" + o.output + "': " + error);
        }
    }
    const std::string capturePath = o.mcap ? traffic->writtenPath() : file.writtenPath();
    std::shared_ptr<sentova::pcap::Recorder> recorder;
    try {
        recorder = std::make_shared<sentova::pcap::Recorder>(capturePath);
    } catch (const sentova::pcap::CaptureError& e) {
        failed(std::string("cannot write '") + o.output + "': " + e.what());
    }

    // Watched from the start, so that the file also holds the serial number the device
    // reports, which a replay takes the model from.
    Device device(o.address);
    sentova::session::DeviceSession& session = device.session();
    for (auto channel : {sentova::session::Channel::Control, sentova::session::Channel::Events})
        session.traffic(channel).add(recorder);
    const LIDAR_TYPE model = device.model(o.model);
    o.laser.model = model;
    checkOptionsFor(o.laser, model);

    Discard discard;
    session.setLaserTrafficObserver(recorder);
    const tavrel::SentovaGrabber& listener = session.prepareListener();
    const ListeningGuard listening(session);
    if (!session.listen(static_cast<unsigned short>(o.port), &discard)) {
        failed("cannot listen for laser data on UDP port " + std::to_string(o.port));
    }

    InterruptGuard interrupts;
    bool scanStarted = false;
    bool laserStarted = false;
    std::string stopFailure;
    const auto stopDevice = [&] {
        const auto attempt = [&](auto&& action) {
            try {
                action();
            } catch (const Failure& f) {
                if (stopFailure.empty()) {
                    stopFailure = f.what();
                }
            }
        };
        if (laserStarted) {
            attempt([&] { device.stopLaser(); });
        }
        if (scanStarted) {
            attempt([&] { device.check(device.control().Stop(), "Stop"); });
        }
    };
    const auto finish = [&] {
        stopDevice();
        session.stopListening();
        session.setLaserTrafficObserver(nullptr);
        for (auto channel : {sentova::session::Channel::Control, sentova::session::Channel::Events})
            session.traffic(channel).remove(recorder);
        return recorder->stop();
    };

    try {
        if (o.scan) {
            device.events().ResetEvents();
            device.startScan(*o.scan);
            scanStarted = true;
        }
        device.startLaser(o.laser, static_cast<unsigned short>(o.port));
        laserStarted = true;
    } catch (const Failure&) {
        finish();
        throw;
    }

    const Clock::time_point start = Clock::now();
    Clock::time_point nextReport = start;
    for (;;) {
        const Clock::time_point now = Clock::now();
        const double elapsed = std::chrono::duration<double>(now - start).count();
        if (InterruptGuard::interrupted() || (o.seconds && elapsed >= *o.seconds) ||
            recorder->status().failed) {
            break;
        }
        if (line.style() != ProgressStyle::Silent && now >= nextReport) {
            const sentova::pcap::RecorderStatus s = recorder->status();
            const tavrel::stream_statistics_t stream = listener.GetStatistics();
            char text[160];
            std::snprintf(text, sizeof text,
                          "%s, %llu datagrams, %llu points, %.1f s, dropped %llu",
                          megabytes(s.bytes).c_str(), static_cast<unsigned long long>(s.datagrams),
                          static_cast<unsigned long long>(stream.points), elapsed,
                          static_cast<unsigned long long>(stream.kernelDrops));
            line.figure("recording " + o.output + ": " + text);
            nextReport = now + std::chrono::milliseconds(250);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    line.end();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const sentova::pcap::RecorderStatus status = finish();
    if (status.failed) {
        file.discard();
        failed(status.error);
    }
    if (o.mcap) {
        writeRecordingMcap(capturePath, file.writtenPath(), std::nullopt, {});
    }
    if (!file.commit(error)) {
        failed("cannot write '" + o.output + "': " + error);
    }
    if (!o.quiet) {
        std::fprintf(stderr, "%llu datagrams (%s) recorded to %s in %.1f s%s%s\n",
                     static_cast<unsigned long long>(status.datagrams),
                     megabytes(status.bytes).c_str(), o.output.c_str(), seconds,
                     status.notRecorded > 0
                         ? (", " + std::to_string(status.notRecorded) + " not recorded").c_str()
                         : "",
                     InterruptGuard::interrupted() ? " (interrupted)" : "");
    }
    if (!stopFailure.empty()) {
        failed(stopFailure);
    }
    return kSuccess;
}

} // namespace cli
