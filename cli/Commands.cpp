#include "Commands.h"
#include "McapOutput.h"
#include "Recording.h"

#include "Failure.h"
#include "ProgressLine.h"
#include "Report.h"
#include "SentovaMcap/Reader.h"

#include "PointStream.h"

#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

namespace cli {

int runInfo(const std::string& address, bool json) {
    Device device(address);
    DeviceInfo info;
    info.address = address;
    info.serial = device.serial();
    info.model = tavrel::ModelLabel(tavrel::ModelFromSerial(info.serial));
    info.firmware = tavrel::FirmwareFromSerial(info.serial);
    info.library = tavrel::SENTOVA_VERSION;
    const tavrel::tavrel_error_t verified = device.control().VerifyLibVersion();
    if (verified != tavrel::NoError && verified != 251) {
        device.check(verified, "VerifyLibVersion");
    }
    info.compatible = verified == tavrel::NoError;
    device.check(device.control().GetApertureAngles(info.azimuth, info.elevation),
                 "GetApertureAngles");
    device.check(device.control().GetState(info.state), "GetState");
    std::fputs((json ? infoJson(info) : infoText(info)).c_str(), stdout);
    return kSuccess;
}

int runHome(const std::string& address) {
    Device device(address);
    device.home();
    return kSuccess;
}

int runStop(const std::string& address) {
    Device device(address);
    device.stop();
    return kSuccess;
}

int runScan(const std::string& address, const ScanSettings& scan) {
    Device device(address);
    device.events().ResetEvents();
    device.startScan(scan);
    return kSuccess;
}

int runAngles(const std::string& address, std::optional<std::pair<double, double>> set,
              double speed) {
    Device device(address);
    if (set) {
        device.check(device.control().SetApertureAngles(set->first, set->second, speed),
                     "SetApertureAngles");
        return kSuccess;
    }
    double azimuth = 0.0;
    double elevation = 0.0;
    device.check(device.control().GetApertureAngles(azimuth, elevation), "GetApertureAngles");
    std::printf("%.4f %.4f\n", azimuth, elevation);
    return kSuccess;
}

int runLaser(const std::string& address, bool start, std::optional<LIDAR_TYPE> model,
             LaserSettings settings, int port) {
    Device device(address);
    if (!start) {
        device.stopLaser();
        return kSuccess;
    }
    settings.model = device.model(model);
    checkOptionsFor(settings, settings.model);
    device.startLaser(settings, static_cast<unsigned short>(port));
    return kSuccess;
}

int runConvert(const ConvertOptions& o) {
    ProgressLine line(errorOutputStyle(o.quiet));
    checkWritable(o.output);
    const std::string what = "converting " + o.input;
    const formats::Progress progress = [&line, &what](std::uint64_t done, std::uint64_t total) {
        line.share(what, done, total);
    };
    const auto endProgress = [&line] { line.end(); };
    if (o.inputFormat == "mcap" || (o.inputFormat.empty() && isMcap(o.input))) {
        const sentova::mcap::PointCloudRead in = sentova::mcap::readPointClouds(o.input, progress);
        endProgress();
        if (!in.ok) {
            failed("cannot read '" + o.input + "': " + in.error);
        }
        // The point clouds carry every field.
        formats::FieldSelection every = formats::noFields();
        for (int f = 0; f < formats::kFieldCount; ++f) {
            formats::setSelected(every, static_cast<formats::Field>(f), true);
        }
        writePoints(o.output, in.points, o.fields.value_or(every), line);
        return kSuccess;
    }
    if (o.frame && !isRecording(o.input)) {
        usageError("--frame reads a recording (.pcap, .pcapng), not '" + o.input + "'");
    }
    if (o.inputFormat.empty() && isRecording(o.input)) {
        if (o.output.mcap) {
            writeRecordingMcap(o.input, o.output.path, o.frame, o.output.mcapOptions, progress);
            endProgress();
            return kSuccess;
        }
        const std::deque<DataPoint> points = readRecordingPoints(o.input, o.frame, progress);
        endProgress();
        writePoints(o.output, points,
                    o.fields.value_or(formats::forModel(formats::FieldSelection{}, LIDAR_GENERIC)),
                    line);
        return kSuccess;
    }
    std::optional<formats::Format> from;
    if (!o.inputFormat.empty()) {
        from = formats::formatFromName(o.inputFormat);
        if (!from) {
            usageError("unknown format '" + o.inputFormat + "' (formats: " + formatNames() + ")");
        }
    }
    const auto readFailed = [&o](formats::Format guessed, const std::string& error) {
        std::error_code ignored;
        if (o.inputFormat.empty() && !formats::formatFromExtension(o.input) &&
            std::filesystem::is_regular_file(o.input, ignored)) {
            // The format was a guess from the first bytes: say so, and how to name it.
            failed("cannot read '" + o.input + "' as " + formats::formatInfo(guessed).name +
                   ", the format its content suggests (its extension names none; --from "
                   "chooses one): " +
                   error);
        }
        failed("cannot read '" + o.input + "': " + error);
    };
    if (o.output.mcap) {
        const formats::Format guessed = from ? *from : formats::guessFormat(o.input);
        std::string error;
        const std::unique_ptr<formats::PointReader> reader =
            formats::openReader(o.input, guessed, formats::everyField(), error);
        if (!reader) {
            readFailed(guessed, error);
        }
        // A point file holds no capture time: the file's own time stands for it.
        struct stat st {};
        const std::uint64_t modified =
            ::stat(o.input.c_str(), &st) == 0 && st.st_mtim.tv_sec >= 0
                ? static_cast<std::uint64_t>(st.st_mtim.tv_sec) * 1000000000u +
                      static_cast<std::uint64_t>(st.st_mtim.tv_nsec)
                : 0;
        streamPointsMcap(o.output.path, *reader, modified, o.output.mcapOptions, progress,
                         [&](formats::Format format, const std::string& why) {
                             endProgress();
                             readFailed(format, why);
                         });
        endProgress();
        return kSuccess;
    }
    // Chunk by chunk: the memory needed does not grow with the file.
    const formats::ConvertResult r =
        formats::convert(o.input, from, o.output.path, o.output.format, o.fields, progress);
    endProgress();
    if (!r.readError.empty()) {
        readFailed(r.inputFormat, r.readError);
    }
    if (!r.ok) {
        failed("cannot write '" + o.output.path + "': " + r.writeError);
    }
    return kSuccess;
}

} // namespace cli
