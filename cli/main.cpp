// sentova: the device from the command line. One program with a subcommand per task; see
// `sentova --help` and `sentova SUBCOMMAND --help`.
//
// Exit status: 0 on success; 1 when the device reports an error or does not answer, or a file
// cannot be read or written; 2 for usage errors (options, addresses, formats, an existing file
// without --force, a model the device is not).
#include "Capture.h"
#include "Commands.h"
#include "Failure.h"
#include "Record.h"
#include "Recording.h"
#include "Serve.h"

#include "Sentova/DeviceAddress.h"
#include "Sentova/DeviceModel.h"
#include "Sentova/Protocol.h"
#include "Sentova/Sentova.h"
#include "Sentova/SentovaLogger.h"

#include <CLI/CLI.hpp>
#include <boost/log/core.hpp>
#include <pcl/console/print.h>

#include <cstdio>
#include <exception>

namespace {

using namespace cli;

// The laser options shared by `laser start` and `capture`.
struct LaserOptions {
    std::string model;
    std::string measurement;
    std::string target;
    int sampleRate = 10000;
    int average = 1;
    int gain = 0;
    bool highSpeed = false;
    int port = tavrel::protocol::kDefaultDataPort;
    std::vector<CLI::Option*> lx30;
    std::vector<CLI::Option*> lx20;

    void add(CLI::App* app) {
        app->add_option("--model", model,
                        "Device model: lx30, lx20 or generic (default: from the serial number)")
            ->check(CLI::IsMember({"lx30", "lx20", "generic"}));
        lx30.push_back(app->add_option("--measurement", measurement,
                                       "LX30 measurement mode: high-speed (default), fast, "
                                       "penetration")
                           ->check(CLI::IsMember(tavrel::LX30MeasurementNames())));
        lx30.push_back(app->add_option("--target", target,
                                       "LX30 target mode: all (default), first, last, "
                                       "highest-amplitude, highest-reflectance")
                           ->check(CLI::IsMember(tavrel::LX30TargetNames())));
        lx20.push_back(app->add_option("--sample-rate", sampleRate,
                                       "LX20 sample rate in Hz, 100 to 10000 (default 10000)")
                           ->check(CLI::Range(100, 10000)));
        lx20.push_back(
            app->add_option("--average", average, "LX20 averaged samples, 1 to 10 (default 1)")
                ->check(CLI::Range(1, 10)));
        lx20.push_back(app->add_option("--gain", gain, "LX20 gain, 0 to 3 (default 0)")
                           ->check(CLI::Range(0, 3)));
        lx20.push_back(app->add_flag("--high-speed", highSpeed,
                                     "LX20 high-speed mode: 30000 Hz, points of intensity 0"));
        app->add_option("--port", port, "Local UDP port for the laser data")
            ->capture_default_str()
            ->check(CLI::Range(1, 65535));
    }

    std::optional<LIDAR_TYPE> askedModel() const {
        return model.empty() ? std::nullopt : tavrel::ModelFromName(model);
    }

    LaserSettings settings() const {
        LaserSettings s;
        auto index = [](const std::vector<std::string>& names, const std::string& name) {
            for (std::size_t i = 0; i < names.size(); ++i) {
                if (names[i] == name) {
                    return static_cast<int>(i);
                }
            }
            return 0;
        };
        s.measurement = index(tavrel::LX30MeasurementNames(), measurement);
        s.target = index(tavrel::LX30TargetNames(), target);
        s.sampleRate = sampleRate;
        s.average = average;
        s.gain = gain;
        s.highSpeed = highSpeed;
        for (const CLI::Option* o : lx30) {
            if (o->count() > 0 && s.lx30Option.empty()) {
                s.lx30Option = o->get_name();
            }
        }
        for (const CLI::Option* o : lx20) {
            if (o->count() > 0 && s.lx20Option.empty()) {
                s.lx20Option = o->get_name();
            }
        }
        // Checked before the device is asked when the model is given.
        if (const std::optional<LIDAR_TYPE> m = askedModel()) {
            checkOptionsFor(s, *m);
        }
        return s;
    }
};

// The scan options shared by `scan` and `capture`.
struct ScanOptions {
    ScanSettings settings;
    int lines = 100;

    void add(CLI::App* app, bool required) {
        auto* speed = app->add_option("--speed", settings.speed,
                                      "Azimuth speed in revolutions per second, 0.01 to 15")
                          ->check(CLI::Range(0.01, 15.0));
        auto* count = app->add_option("--lines", lines, "Number of lines, 1 to 9999")
                          ->check(CLI::Range(1, 9999));
        if (required) {
            speed->required();
            count->required();
        } else {
            speed->default_str("5");
            count->default_str("100");
        }
        app->add_option("--el-min", settings.elevationMin,
                        "Lowest elevation in degrees, -35 to 35 (default -35)")
            ->check(CLI::Range(-35.0, 35.0));
        app->add_option("--el-max", settings.elevationMax,
                        "Highest elevation in degrees, -35 to 35 (default 35)")
            ->check(CLI::Range(-35.0, 35.0));
        app->add_option("--az-min", settings.azimuthMin,
                        "Region start azimuth in degrees, 0 to 360 (default 15)")
            ->check(CLI::Range(0.0, 360.0));
        app->add_option("--az-max", settings.azimuthMax,
                        "Region end azimuth in degrees, 0 to 360 (default 345)")
            ->check(CLI::Range(0.0, 360.0));
    }

    ScanSettings resolved(const std::string& pattern) {
        settings.lines = lines;
        settings.type = pattern == "bounded"  ? ScanType::BoundedElevation
                        : pattern == "region" ? ScanType::Region
                                              : ScanType::FullField;
        if (settings.type != ScanType::FullField && settings.elevationMin > settings.elevationMax) {
            usageError("--el-min must not be above --el-max");
        }
        return settings;
    }
};

void addAddress(CLI::App* app, std::string& address) {
    app->add_option("address", address, "The device's IPv4 address")->required();
}

void checkAddress(const std::string& address) {
    if (!tavrel::IsIPv4Address(address)) {
        usageError("'" + address + "' is not an IPv4 address");
    }
}

int run(int argc, char** argv) {
    CLI::App app{
        "Drives a Sentova scanning laser device: device queries, motion, scans, the "
        "laser stream, captures to point cloud files, conversions between them, and a live feed "
        "for Foxglove.",
        "sentova"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("sentova ") + SENTOVA_PROJECT_VERSION +
                                          " (library " + tavrel::SENTOVA_VERSION + ")");
    std::string logLevel;
    app.add_option("--log-level", logLevel,
                   "Show the device library's log on standard output from this level up: trace "
                   "(every datagram), debug, info, warning, error, fatal or off (default: none)")
        ->check(CLI::IsMember(tavrel::LogLevelNames()));
    app.footer("Exit status: 0 success, 1 device error or no answer, or a file that cannot be "
               "read or written, 2 usage error.");

    std::string address;
    bool json = false;
    auto* info = app.add_subcommand(
        "info", "Serial number, model, firmware, library compatibility, aperture angles and "
                "motion state");
    addAddress(info, address);
    info->add_flag("--json", json, "Machine-readable output");

    auto* home = app.add_subcommand("home", "Home the aperture");
    addAddress(home, address);
    auto* stop = app.add_subcommand("stop", "Stop the aperture");
    addAddress(stop, address);

    std::string pattern;
    ScanOptions scanOptions;
    auto* scan =
        app.add_subcommand("scan", "Start a scan: full field, bounded elevation or region");
    scan->add_option("pattern", pattern, "full, bounded or region")
        ->required()
        ->check(CLI::IsMember({"full", "bounded", "region"}));
    addAddress(scan, address);
    scanOptions.add(scan, true);

    std::vector<double> target;
    double moveSpeed = tavrel::kDefaultMoveSpeed;
    auto* angles = app.add_subcommand("angles", "Print the aperture angles, or move the aperture");
    addAddress(angles, address);
    auto* set = angles->add_option("--set", target, "Move to azimuth and elevation (degrees)")
                    ->expected(2)
                    ->allow_extra_args(false);
    angles
        ->add_option("--speed", moveSpeed,
                     "Speed of the move in degrees per second (default " +
                         std::to_string(static_cast<int>(tavrel::kDefaultMoveSpeed)) + ")")
        ->check(CLI::Range(0.001, 3600.0))
        ->needs(set);

    std::string action;
    LaserOptions laserOptions;
    auto* laser = app.add_subcommand("laser", "Start or stop the laser data stream");
    laser->add_option("action", action, "start or stop")
        ->required()
        ->check(CLI::IsMember({"start", "stop"}));
    addAddress(laser, address);
    laserOptions.add(laser);

    std::string output;
    std::string formatName;
    std::string fields;
    bool force = false;
    bool quiet = false;
    std::string capturePattern;
    bool frame = false;
    std::uint64_t points = 0;
    double seconds = 0;
    LaserOptions captureLaser;
    ScanOptions captureScan;
    auto* capture = app.add_subcommand(
        "capture", "Receive the laser stream into a point cloud file; Ctrl-C stops the capture "
                   "and still writes what arrived");
    addAddress(capture, address);
    capture->add_option("-o,--output", output, "The point cloud file to write")->required();
    captureLaser.add(capture);
    capture->add_option("--scan", capturePattern, "Also run a scan: full, bounded or region")
        ->check(CLI::IsMember({"full", "bounded", "region"}));
    captureScan.add(capture, false);
    capture->add_flag("--frame", frame,
                      "Capture one scan frame: the device starts the stream with the frame and "
                      "stops it and the aperture when the frame ends (scan pattern from --scan, "
                      "default full)");
    std::uint64_t captureFrames = 0;
    capture
        ->add_option("--frames", captureFrames,
                     "Stop after this many whole scan frames and write only their points")
        ->check(CLI::PositiveNumber);
    auto* pointsOption = capture->add_option("--points", points, "Stop after this many points")
                             ->check(CLI::PositiveNumber);
    capture->add_option("--seconds", seconds, "Stop after this many seconds")
        ->check(CLI::PositiveNumber)
        ->excludes(pointsOption);
    capture->add_option("--format", formatName,
                        "File format (default: from the extension): " + formatNames() +
                            ", mcap (a message per scan frame)");
    capture->add_option("--fields", fields,
                        "Columns to write, comma-separated (default as the viewer saves): " +
                            fieldNames());
    capture->add_flag("--force", force, "Replace an existing file");
    capture->add_flag("-q,--quiet", quiet, "No progress line and no summary");

    std::string recordOutput;
    std::string recordPattern;
    double recordSeconds = 0;
    LaserOptions recordLaser;
    ScanOptions recordScan;
    auto* record = app.add_subcommand(
        "record", "Record the device's raw traffic (commands, replies, notifications and the "
                  "laser stream) to a pcap file for Wireshark or a replay; starts the laser "
                  "stream and stops it at the end; Ctrl-C stops and keeps the file");
    addAddress(record, address);
    record->add_option("-o,--output", recordOutput, "The file to write (.pcap, or .mcap)")
        ->required();
    std::string recordFormat;
    record
        ->add_option("--format", recordFormat,
                     "pcap (default), or mcap: point clouds per scan frame and the traffic as "
                     "log (default: mcap for a .mcap name)")
        ->check(CLI::IsMember({"pcap", "mcap"}));
    record->add_option("--seconds", recordSeconds, "Stop after this many seconds")
        ->check(CLI::PositiveNumber);
    recordLaser.add(record);
    record->add_option("--scan", recordPattern, "Also run a scan: full, bounded or region")
        ->check(CLI::IsMember({"full", "bounded", "region"}));
    recordScan.add(record, false);
    record->add_flag("--force", force, "Replace an existing file");
    record->add_flag("-q,--quiet", quiet, "No progress line and no summary");

    LaserOptions serveLaser;
    ScanOptions serveScan;
    std::string servePattern;
    std::string listenAddress = "127.0.0.1";
    int wsPort = 8765;
    bool serveStats = false;
    auto* serve = app.add_subcommand(
        "serve", "Start the laser stream and serve it live to Foxglove over its WebSocket "
                 "protocol (foxglove.websocket.v1): a point cloud per scan frame (every 100 ms "
                 "without --scan) and the device traffic as log; Ctrl-C stops");
    addAddress(serve, address);
    serve->add_option("--ws-port", wsPort, "TCP port of the WebSocket server (0: any free one)")
        ->capture_default_str()
        ->check(CLI::Range(0, 65535));
    serve
        ->add_option("--listen", listenAddress,
                     "Local IPv4 address to serve on (0.0.0.0: every interface)")
        ->capture_default_str();
    serve->add_flag("--stats", serveStats,
                    "Every second on standard error: points, messages, and each client's "
                    "messages sent and dropped");
    serveLaser.add(serve);
    serve->add_option("--scan", servePattern, "Also run a scan: full, bounded or region")
        ->check(CLI::IsMember({"full", "bounded", "region"}));
    serveScan.add(serve, false);

    std::string input;
    std::string inputFormat;
    auto* convert = app.add_subcommand("convert", "Convert a point cloud file to another format");
    convert->add_option("input", input, "The file to read")->required();
    convert->add_option("output", output, "The file to write")->required();
    convert->add_option("--format", formatName,
                        "Output format (default: from the extension): " + formatNames() + ", mcap");
    convert->add_option("--from", inputFormat,
                        "Input format (default: from the extension or the content; mcap reads "
                        "the point clouds of an MCAP file)");
    convert->add_option("--fields", fields,
                        "Columns to write (default: the input's): " + fieldNames());
    std::optional<std::uint64_t> convertFrame;
    convert->add_option("--frame", convertFrame,
                        "Of a recording (.pcap, .pcapng): only this scan frame (0-based)");
    std::string compression = "zstd";
    convert->add_option("--compression", compression, "MCAP chunk compression: zstd or none")
        ->capture_default_str()
        ->check(CLI::IsMember({"zstd", "none"}));
    convert->add_flag("--force", force, "Replace an existing file");
    convert->add_flag("-q,--quiet", quiet, "No progress line");

    std::string framesInput;
    bool framesJson = false;
    auto* frames = app.add_subcommand("frames", "List the scan frames of a recording (.pcap, "
                                                ".pcapng): points, time stamps, duration, whole");
    frames->add_option("file", framesInput, "The recording to read")->required();
    frames->add_flag("--json", framesJson, "Machine-readable output");

    if (argc > 1 && argv[1][0] != '-') {
        bool known = false;
        for (const CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
            known = known || sub->get_name() == argv[1];
        }
        if (!known) {
            std::fprintf(stderr, "sentova: unknown subcommand '%s' (see sentova --help)\n",
                         argv[1]);
            return kUsage;
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        // With no subcommand given CLI11 complains of that first, even when the real mistake is
        // an option it does not know ("sentova --verbose").
        const std::vector<std::string> unknown = app.remaining();
        if (app.get_subcommands().empty() && !unknown.empty()) {
            std::fprintf(stderr, "sentova: unknown option '%s' (see sentova --help)\n",
                         unknown.front().c_str());
            return kUsage;
        }
        std::fprintf(stderr, "sentova: %s (see sentova --help)\n", e.what());
        return kUsage;
    }

    if (!logLevel.empty()) {
        boost::log::core::get()->set_logging_enabled(true);
        tavrel::SetLogLevel(logLevel);
    }

    if (*info) {
        checkAddress(address);
        return runInfo(address, json);
    }
    if (*home) {
        checkAddress(address);
        return runHome(address);
    }
    if (*stop) {
        checkAddress(address);
        return runStop(address);
    }
    if (*scan) {
        checkAddress(address);
        return runScan(address, scanOptions.resolved(pattern));
    }
    if (*angles) {
        checkAddress(address);
        std::optional<std::pair<double, double>> to;
        if (!target.empty()) {
            to = std::pair{target[0], target[1]};
        }
        return runAngles(address, to, moveSpeed);
    }
    if (*laser) {
        checkAddress(address);
        return runLaser(address, action == "start", laserOptions.askedModel(),
                        laserOptions.settings(), laserOptions.port);
    }
    if (*capture) {
        checkAddress(address);
        CaptureOptions o;
        o.address = address;
        o.port = captureLaser.port;
        o.model = captureLaser.askedModel();
        o.laser = captureLaser.settings();
        if (!capturePattern.empty()) {
            o.scan = captureScan.resolved(capturePattern);
        } else if (frame) {
            o.scan = captureScan.resolved("full");
        }
        o.frame = frame;
        if (captureFrames > 0) {
            o.frames = captureFrames;
        }
        if (points > 0) {
            o.points = points;
        }
        if (seconds > 0) {
            o.seconds = seconds;
        }
        o.fields = parseFields(fields);
        o.output = chooseOutput(output, formatName, force);
        if (o.output.mcap && o.fields) {
            usageError("--fields does not apply to MCAP: its point clouds carry every field");
        }
        o.quiet = quiet;
        return runCapture(std::move(o));
    }
    if (*record) {
        checkAddress(address);
        const bool recordMcap = checkRecordOutput(recordOutput, recordFormat, force);
        RecordOptions o;
        o.address = address;
        o.output = recordOutput;
        o.mcap = recordMcap;
        o.port = recordLaser.port;
        o.model = recordLaser.askedModel();
        o.laser = recordLaser.settings();
        if (!recordPattern.empty()) {
            o.scan = recordScan.resolved(recordPattern);
        }
        if (recordSeconds > 0) {
            o.seconds = recordSeconds;
        }
        o.quiet = quiet;
        return runRecord(std::move(o));
    }
    if (*serve) {
        checkAddress(address);
        if (!tavrel::IsIPv4Address(listenAddress)) {
            usageError("--listen: '" + listenAddress + "' is not an IPv4 address");
        }
        ServeOptions o;
        o.address = address;
        o.port = serveLaser.port;
        o.model = serveLaser.askedModel();
        o.laser = serveLaser.settings();
        if (!servePattern.empty()) {
            o.scan = serveScan.resolved(servePattern);
        }
        o.listen = listenAddress;
        o.wsPort = wsPort;
        o.stats = serveStats;
        return runServe(std::move(o));
    }
    if (*convert) {
        ConvertOptions o;
        o.input = input;
        o.inputFormat = inputFormat;
        o.fields = parseFields(fields);
        o.frame = convertFrame;
        o.output = chooseOutput(output, formatName, force);
        if (o.output.mcap && o.fields) {
            usageError("--fields does not apply to MCAP: its point clouds carry every field");
        }
        sentova::mcap::compressionFromName(compression, o.output.mcapOptions.compression);
        o.quiet = quiet;
        return runConvert(o);
    }
    if (*frames) {
        return runFrames(framesInput, framesJson);
    }
    return kUsage;
}

} // namespace

int main(int argc, char** argv) {
    // The library's log and the listener's console messages would mix with the tool's own
    // output; the tool reports every failure itself. --log-level turns the log back on.
    boost::log::core::get()->set_logging_enabled(false);
    pcl::console::setVerbosityLevel(pcl::console::L_ALWAYS);
    try {
        return run(argc, argv);
    } catch (const Failure& f) {
        std::fprintf(stderr, "sentova: %s\n", f.what());
        return f.status;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sentova: %s\n", e.what());
        return kFailed;
    }
}
