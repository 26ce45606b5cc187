#include "Options.h"

#include "Sentova/SentovaLogger.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <strings.h>

namespace sentova {
namespace sim {

namespace {

bool parseUnsigned(const std::string& text, unsigned long long max, unsigned long long& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v > max)
        return false;
    value = v;
    return true;
}

bool parseNumber(const std::string& text, double min, double max, double& value) {
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < min || v > max)
        return false;
    value = v;
    return true;
}

bool isCommandCode(const std::string& code) {
    if (code.size() != 6)
        return false;
    for (char c : code)
        if (c < 'A' || c > 'Z')
            return false;
    return true;
}

// What the options build up while they are read.
struct Parsing {
    SimulatorConfig& config;
    unsigned& statsSeconds;
    ReplayOptions& replay;
    SceneFileOptions& scene;
    bool modelGiven = false;
    bool serialGiven = false;
    bool speedGiven = false;
    unsigned firmware = 31;
};

// Applies an option's value; returns what is wrong with it, or nothing.
using Apply = std::function<std::string(const std::string& value, Parsing& p)>;

struct OptionSpec {
    const char* name;
    bool takesValue;
    Apply apply;
};

Apply noiseShare(double NoiseSettings::*share, double max) {
    return [share, max](const std::string& v, Parsing& p) -> std::string {
        if (!parseNumber(v, 0.0, max, p.config.device.scanner.noise.*share))
            return "must be a number from 0 to " + std::to_string(max).substr(0, 4) + ", not '" +
                   v + "'";
        return {};
    };
}

Apply onOff(bool NoiseSettings::*flag) {
    return [flag](const std::string& v, Parsing& p) -> std::string {
        if (v == "on")
            p.config.device.scanner.noise.*flag = true;
        else if (v == "off")
            p.config.device.scanner.noise.*flag = false;
        else
            return "must be on or off, not '" + v + "'";
        return {};
    };
}

Apply fraction(double FaultOptions::*share) {
    return [share](const std::string& v, Parsing& p) -> std::string {
        if (!parseNumber(v, 0.0, 1.0, p.config.faults.*share))
            return "must be a fraction from 0 to 1, not '" + v + "'";
        return {};
    };
}

Apply packetFraction(double PacketFaultOptions::*share) {
    return [share](const std::string& v, Parsing& p) -> std::string {
        if (!parseNumber(v, 0.0, 1.0, p.config.faults.packets.*share))
            return "must be a fraction from 0 to 1, not '" + v + "'";
        return {};
    };
}

template <typename T> Apply whole(T& (*field)(Parsing&), unsigned long long max, const char* unit) {
    return [field, max, unit](const std::string& v, Parsing& p) -> std::string {
        unsigned long long n = 0;
        if (!parseUnsigned(v, max, n))
            return std::string("must be ") + unit + " from 0 to " + std::to_string(max) +
                   ", not '" + v + "'";
        field(p) = static_cast<T>(n);
        return {};
    };
}

const std::vector<OptionSpec>& optionTable() {
    static const std::vector<OptionSpec> table = {
        {"--address", true,
         [](const std::string& v, Parsing& p) -> std::string {
             std::uint32_t address = 0;
             if (!parseLoopbackAddress(v, address))
                 return "must be a loopback address 127.x.y.z, not '" + v + "'";
             p.config.address = v;
             return {};
         }},
        {"--port", true,
         whole<unsigned short>([](Parsing& p) -> unsigned short& { return p.config.port; }, 65535,
                               "a number")},
        {"--model", true,
         [](const std::string& v, Parsing& p) -> std::string {
             if (strcasecmp(v.c_str(), "LX30") == 0)
                 p.config.device.model = LIDAR_LX30;
             else if (strcasecmp(v.c_str(), "LX20") == 0)
                 p.config.device.model = LIDAR_LX20;
             else if (strcasecmp(v.c_str(), "generic") == 0)
                 p.config.device.model = LIDAR_GENERIC;
             else
                 return "must be LX30, LX20 or generic, not '" + v + "'";
             p.modelGiven = true;
             return {};
         }},
        {"--serial", true,
         [](const std::string& v, Parsing& p) -> std::string {
             if (v.empty())
                 return "must not be empty";
             p.config.device.serial = v;
             p.serialGiven = true;
             return {};
         }},
        {"--firmware", true,
         whole<unsigned>([](Parsing& p) -> unsigned& { return p.firmware; }, 99, "a number")},
        {"--home-time", true,
         whole<unsigned>([](Parsing& p) -> unsigned& { return p.config.device.homeTimeMs; }, 60000,
                         "milliseconds")},
        {"--motion-reply-within", true,
         whole<unsigned>(
             [](Parsing& p) -> unsigned& { return p.config.device.motionReplyWithinMs; }, 60000,
             "milliseconds")},
        {"--lines-from", true,
         [](const std::string& v, Parsing& p) -> std::string {
             if (v == "bottom")
                 p.config.device.scanLineOrder = LineOrder::BottomFirst;
             else if (v == "top")
                 p.config.device.scanLineOrder = LineOrder::TopFirst;
             else
                 return "must be bottom or top, not '" + v + "'";
             return {};
         }},
        {"--answer-on-arrival", false,
         [](const std::string&, Parsing& p) -> std::string {
             p.config.device.answerMotionsOnArrival = true;
             return {};
         }},
        {"--scene", true,
         [](const std::string& v, Parsing& p) -> std::string {
             if (v.empty())
                 return "needs a .pcd or .ply file";
             p.scene.file = v;
             return {};
         }},
        {"--scene-scale", true,
         [](const std::string& v, Parsing& p) -> std::string {
             if (!parseNumber(v, 1e-9, 1e9, p.scene.scale))
                 return "must be a positive number of metres per unit, not '" + v + "'";
             return {};
         }},
        {"--scene-origin", true,
         [](const std::string& v, Parsing& p) -> std::string {
             double xyz[3] = {0.0, 0.0, 0.0};
             std::size_t start = 0;
             for (int i = 0; i < 3; ++i) {
                 const auto comma = v.find(',', start);
                 const bool last = i == 2;
                 if ((comma == std::string::npos) != last ||
                     !parseNumber(v.substr(start, last ? std::string::npos : comma - start), -1e12,
                                  1e12, xyz[i]))
                     return "must be three numbers X,Y,Z, not '" + v + "'";
                 start = comma + 1;
             }
             p.scene.origin = Vec3{xyz[0], xyz[1], xyz[2]};
             return {};
         }},
        {"--point-size", true,
         [](const std::string& v, Parsing& p) -> std::string {
             if (!parseNumber(v, 1e-6, 100.0, p.scene.pointSize))
                 return "must be a radius in metres from 0.000001 to 100, not '" + v + "'";
             return {};
         }},
        {"--noise", true, onOff(&NoiseSettings::enabled)},
        {"--range-noise", true, noiseShare(&NoiseSettings::rangeNoise, 0.1)},
        {"--amplitude-noise", true, noiseShare(&NoiseSettings::amplitudeNoise, 1.0)},
        {"--dropouts", true, noiseShare(&NoiseSettings::dropouts, 1.0)},
        {"--multiple-returns", true, onOff(&NoiseSettings::multipleReturns)},
        {"--beam-divergence", true, noiseShare(&NoiseSettings::beamDivergenceMrad, 50.0)},
        {"--quiet", false,
         [](const std::string&, Parsing& p) -> std::string {
             p.config.echo = false;
             return {};
         }},
        {"--log", true,
         [](const std::string& v, Parsing& p) -> std::string {
             if (v.empty())
                 return "needs a file name";
             p.config.logFile = v;
             return {};
         }},
        {"--stats", true,
         [](const std::string& v, Parsing& p) -> std::string {
             unsigned long long n = 0;
             if (!parseUnsigned(v, 86400, n) || n == 0)
                 return "must be seconds from 1 to 86400, not '" + v + "'";
             p.statsSeconds = static_cast<unsigned>(n);
             return {};
         }},
        {"--drop-replies", true, fraction(&FaultOptions::dropReplies)},
        {"--delay-replies", true,
         whole<unsigned>([](Parsing& p) -> unsigned& { return p.config.faults.delayRepliesMs; },
                         60000, "milliseconds")},
        {"--reply-jitter", true,
         whole<unsigned>([](Parsing& p) -> unsigned& { return p.config.faults.replyJitterMs; },
                         60000, "milliseconds")},
        {"--late-replies", true, fraction(&FaultOptions::lateReplies)},
        {"--error", true,
         [](const std::string& v, Parsing& p) -> std::string {
             const auto sep = v.find('=');
             const std::string code = v.substr(0, sep);
             unsigned long long number = 0;
             if (sep == std::string::npos || !isCommandCode(code) ||
                 !parseUnsigned(v.substr(sep + 1), 255, number))
                 return "must look like SVHOME=4 (a six-letter command code and an error code "
                        "from 0 to 255), not '" +
                        v + "'";
             p.config.faults.errors[code] = static_cast<int>(number);
             return {};
         }},
        {"--wrong-stem", true,
         [](const std::string& v, Parsing& p) -> std::string {
             if (!isCommandCode(v))
                 return "needs a six-letter command code such as SVCQRE, not '" + v + "'";
             p.config.faults.wrongStem.insert(v);
             return {};
         }},
        {"--duplicate-replies", false,
         [](const std::string&, Parsing& p) -> std::string {
             p.config.faults.duplicateReplies = true;
             return {};
         }},
        {"--drop-packets", true, packetFraction(&PacketFaultOptions::drop)},
        {"--truncate-packets", true, packetFraction(&PacketFaultOptions::truncate)},
        {"--bad-header", true, packetFraction(&PacketFaultOptions::badHeader)},
        {"--duplicate-packets", true, packetFraction(&PacketFaultOptions::duplicate)},
        {"--reorder-packets", true, packetFraction(&PacketFaultOptions::reorder)},
        {"--burst", true,
         whole<unsigned>([](Parsing& p) -> unsigned& { return p.config.faults.packets.burst; },
                         1000, "a number of datagrams")},
        {"--burst-interval", true,
         [](const std::string& v, Parsing& p) -> std::string {
             unsigned long long n = 0;
             if (!parseUnsigned(v, 600000, n) || n == 0)
                 return "must be milliseconds from 1 to 600000, not '" + v + "'";
             p.config.faults.packets.burstIntervalMs = static_cast<unsigned>(n);
             return {};
         }},
        {"--seed", true,
         [](const std::string& v, Parsing& p) -> std::string {
             unsigned long long n = 0;
             if (!parseUnsigned(v, ~0ull, n))
                 return "must be a non-negative whole number, not '" + v + "'";
             p.config.faults.seed = n;
             p.config.device.scanner.seed = n;
             return {};
         }},
        {"--replay", true,
         [](const std::string& v, Parsing& p) -> std::string {
             if (v.empty())
                 return "needs a capture file";
             p.replay.file = v;
             return {};
         }},
        {"--speed", true,
         [](const std::string& v, Parsing& p) -> std::string {
             if (!parseNumber(v, 1e-3, 1e6, p.replay.speed))
                 return "must be a factor from 0.001 to 1000000, not '" + v + "'";
             p.speedGiven = true;
             return {};
         }},
        {"--as-fast-as-possible", false,
         [](const std::string&, Parsing& p) -> std::string {
             p.replay.asFastAsPossible = true;
             return {};
         }},
        {"--loop", false,
         [](const std::string&, Parsing& p) -> std::string {
             p.replay.loop = true;
             return {};
         }},
    };
    return table;
}

} // namespace

std::vector<std::string> optionNames() {
    std::vector<std::string> names;
    for (const OptionSpec& entry : optionTable())
        names.push_back(entry.name);
    names.push_back("--log-level");
    names.push_back("--exit-with-parent");
    names.push_back("--help");
    names.push_back("--version");
    return names;
}

std::string usageText(const std::string& program) {
    return "Usage: " + program + R"USAGE( [options]

Simulates a Sentova device on a loopback address: answers commands on UDP,
scans, streams laser data measured in a built-in room or a scene file (or
replays a recording) to every host that asks for it, runs command buffers on
events and sends trigger records. sim/README.md tells the device's rules.

Device:
  --address A           listen on address A, any 127.x.y.z (default 127.0.0.1)
  --port P              command port (default 4365; 0 picks a free one)
  --model M             LX30, LX20 or generic (default LX30): the laser stream's
                        parameters, rates, modes and gain
  --serial TEXT         serial number reported (default: model-firmware-SIM0001)
  --firmware NN         firmware number in the default serial, 0..99 (default 31)
  --home-time MS        how long homing takes, milliseconds (default 400)
  --motion-reply-within MS
                        "SVHOME" and "SVSEAA" are answered when the aperture
                        arrives if that takes at most MS milliseconds (default
                        2000, within the library's 2500 ms motion time-out);
                        longer motions are answered at once and their end
                        shows in the motion state ("SVGMTN")
  --lines-from WHERE    bottom or top: the line that every frame of a scan
                        begins with, the elevation then stepping to the other
                        end (default bottom)

Replay (the laser stream comes from a recording instead of the synthetic room):
  --replay FILE         after "SVRRBE", stream the laser data packets recorded in
                        FILE (pcap or pcapng) to the port it names, from the
                        start of the recording, until "SVSRBE"; the device's
                        model and serial come from the recording unless given
  --speed X             play at X times the recorded pace (default 1)
  --as-fast-as-possible send the recorded packets without pauses
  --loop                start the recording over when it ends

Scene (what the laser sees; the built-in room unless given):
  --scene FILE          cast the beam into the point cloud or mesh in FILE, a
                        .pcd or .ply file read with PCL (sim/scenes/hall.ply
                        is an example): the nearest triangle, or the nearest
                        point's disc, within the beam's footprint. Axes: x
                        right, y ahead (azimuth 0), z up; reflectivity from an
                        intensity field or the colours
  --scene-scale S       metres per unit of the file (default 1; 0.001 for mm)
  --scene-origin X,Y,Z  where the device stands, in the file's units
                        (default 0,0,0)
  --point-size M        radius of the disc each point of a cloud stands for,
                        metres (default: three quarters of the spacing between
                        neighbouring points)

Measurement (deterministic for a given --seed):
  --noise on|off        all of the measurement noise below (default on); off
                        gives the exact range of the beam's centre, always
  --range-noise F       range noise: standard deviation F times the range, cut
                        off at 4 deviations (default 0.001: 8 mm at 8 m)
  --amplitude-noise F   amplitude noise: standard deviation F times the
                        amplitude (default 0.03)
  --dropouts F          a share F of the samples returns nothing (default
                        0.001); the LX30's High Speed mode doubles it, High
                        Penetration quarters it
  --multiple-returns on|off
                        where the beam's footprint crosses an edge, return the
                        near and the far surface (default on); the LX30's
                        target selection keeps one of them or both
  --beam-divergence MRAD
                        full angle of the beam, milliradians (default 0.5)

Output:
  --quiet               do not print one line per command on standard output
  --log FILE            write the per-command lines to FILE (also with --quiet)
  --stats N             print the counters on standard error every N seconds
                        (they are printed on exit and on SIGUSR1 in any case):
                        commands, replies (dropped, delayed, late, duplicated,
                        withheld), injected errors and stems, laser datagrams,
                        hosts and points, every packet fault, notifications,
                        trigger records and failed sends
  --log-level L         show the device library's log from level L up: trace,
                        debug, info, warning, error, fatal or off (default:
                        fatal only)
  --exit-with-parent    stop when the program that started this one ends, even
                        when it was killed (for test harnesses and scripts)
  --help                show this text
  --version             show the program's version

Reply faults (for testing clients; each one is counted):
  --drop-replies F      never send a share F (0..1) of the replies
  --delay-replies MS    send every reply MS milliseconds late
  --reply-jitter MS     delay each reply by a further 0..MS milliseconds, drawn
                        per reply (replies may then overtake each other)
  --late-replies F      send a share F of the replies 100 ms after the library's
                        time-out for that command has passed (500 ms, 2500 ms for
                        motions, 5000 ms for event manager commands)
  --error CODE6=N       answer command CODE6 with "EE" and error code N (0..255)
                        without running it; repeatable
  --wrong-stem CODE6    answer command CODE6 with a wrong stem; repeatable
  --duplicate-replies   send every reply twice
  --answer-on-arrival   answer every motion when the aperture arrives, however
                        long that takes (a slow move then times out)

Laser stream faults (each one is counted):
  --drop-packets F      never send a share F (0..1) of the laser datagrams
  --truncate-packets F  cut a share F of the datagrams off inside a record
  --bad-header F        spoil the header of a share F ("EBRBEX" instead of
                        "EBRBEP"), so that a listener refuses them
  --duplicate-packets F send a share F of the datagrams twice
  --reorder-packets F   hold a share F back and send each after the next one
  --burst N             hold the stream back and let it go all at once every
                        --burst-interval, topped up to at least N datagrams
                        (at most 1000) with large copies of its last one (its
                        records repeated to 63,806 bytes): N = 400 overflows
                        the library's listener here, kernel drops included
  --burst-interval MS   time between bursts, milliseconds (default 1000)
  --seed N              seed for every share and draw above and for the
                        measurement noise (default 1)

Per-command line: "<sender ip>:<port> <code> <argument hex> -> <reply code>
<payload hex>", or "-> (dropped)". Stops on SIGINT or SIGTERM; SIGUSR1
prints the counters.
Bad options exit with status 2.
)USAGE";
}

ParsedOptions parseOptions(const std::vector<std::string>& args) {
    ParsedOptions result;
    Parsing parsing{result.config, result.statsSeconds, result.replay, result.scene};

    const auto fail = [&](const std::string& message) {
        result.outcome = ParsedOptions::Outcome::Error;
        result.error = message;
        return result;
    };

    // The help text is the hand-written one above; CLI11 only reads the options.
    CLI::App app;
    app.set_help_flag();
    bool help = false, version = false;
    app.add_flag("-h,--help", help)->disable_flag_override();
    app.add_flag("--version", version)->disable_flag_override();
    app.add_option("--log-level", result.logLevel)
        ->check(CLI::IsMember(tavrel::LogLevelNames()))
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_flag("--exit-with-parent", result.exitWithParent)->disable_flag_override();
    for (const OptionSpec& entry : optionTable()) {
        const std::string name = entry.name;
        const Apply apply = entry.apply;
        if (!entry.takesValue) {
            app.add_flag_callback(name, [apply, &parsing] { apply(std::string(), parsing); })
                ->disable_flag_override();
            continue;
        }
        // Each occurrence takes one value; they are applied in the order given, so the last
        // wins, and the repeatable ones (--error, --wrong-stem) add up.
        app.add_option_function<std::vector<std::string>>(
               name,
               [name, apply, &parsing](const std::vector<std::string>& values) {
                   for (const std::string& value : values) {
                       const std::string problem = apply(value, parsing);
                       if (!problem.empty())
                           throw CLI::ValidationError(name + " " + problem);
                   }
               })
            ->allow_extra_args(false);
    }

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ExtrasError&) {
        return fail("unknown option '" + app.remaining().front() + "' (see --help)");
    } catch (const CLI::ValidationError& e) {
        return fail(e.what());
    } catch (const CLI::ParseError& e) {
        return fail(std::string(e.what()) + " (see --help)");
    }
    if (help) {
        result.outcome = ParsedOptions::Outcome::Help;
        return result;
    }
    if (version) {
        result.outcome = ParsedOptions::Outcome::Version;
        return result;
    }
    if (result.replay.file.empty() &&
        (parsing.speedGiven || result.replay.asFastAsPossible || result.replay.loop))
        return fail("--speed, --as-fast-as-possible and --loop go with --replay FILE");
    if (!result.scene.file.empty() && !result.replay.file.empty())
        return fail("--scene and --replay exclude each other: a replay plays recorded data");
    if (result.scene.file.empty() && (result.scene.scale != 1.0 || result.scene.pointSize != 0.0 ||
                                      result.scene.origin.x != 0.0 ||
                                      result.scene.origin.y != 0.0 || result.scene.origin.z != 0.0))
        return fail("--scene-scale, --scene-origin and --point-size go with --scene FILE");
    if (parsing.speedGiven && result.replay.asFastAsPossible)
        return fail("--speed and --as-fast-as-possible exclude each other");
    result.deviceGiven = parsing.modelGiven || parsing.serialGiven;
    if (!parsing.serialGiven)
        result.config.device.serial = defaultSerial(result.config.device.model, parsing.firmware);
    return result;
}

} // namespace sim
} // namespace sentova
