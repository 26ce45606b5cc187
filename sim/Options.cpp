#include "Options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
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

bool parseFraction(const std::string& text, double& value) {
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < 0.0 || v > 1.0)
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

} // namespace

std::string usageText(const std::string& program) {
    return "Usage: " + program + R"USAGE( [options]

Simulates a Sentova device on a loopback address: answers commands on UDP,
scans, streams laser data from a synthetic room, runs command buffers on
events and sends trigger records.

Device:
  --address A           listen on address A, any 127.x.y.z (default 127.0.0.1)
  --port P              command port (default 4365; 0 picks a free one)
  --model M             LX30, LX20 or generic (default LX30); sets the point rate
  --serial TEXT         serial number reported (default: model-firmware-SIM0001)
  --firmware NN         firmware number in the default serial, 0..99 (default 31)
  --home-time MS        how long homing takes, milliseconds (default 400)

Output:
  --quiet               do not print one line per command on standard output
  --log FILE            write the per-command lines to FILE (also with --quiet)
  --help                show this text

Faults (for testing clients):
  --drop-replies F      never send a share F (0..1) of the replies
  --delay-replies MS    send every reply MS milliseconds late
  --error CODE6=N       answer command CODE6 with "EE" and error code N (0..255)
                        without running it; repeatable
  --wrong-stem CODE6    answer command CODE6 with a wrong stem; repeatable
  --duplicate-replies   send every reply twice
  --drop-packets F      never send a share F (0..1) of the laser data packets
  --seed N              seed for the shares above (default 1)

Per-command line: "<sender ip>:<port> <code> <argument hex> -> <reply code>
<payload hex>", or "-> (dropped)". Stops on SIGINT or SIGTERM.
Bad options exit with status 2.
)USAGE";
}

ParsedOptions parseOptions(const std::vector<std::string>& args) {
    ParsedOptions result;
    SimulatorConfig& config = result.config;
    bool serialGiven = false;
    unsigned firmware = 31;

    const auto fail = [&](const std::string& message) {
        result.outcome = ParsedOptions::Outcome::Error;
        result.error = message;
        return result;
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string option = args[i];
        std::string value;
        bool inlineValue = false;
        const auto eq = option.find('=');
        if (option.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            value = option.substr(eq + 1);
            option = option.substr(0, eq);
            inlineValue = true;
        }
        const auto takeValue = [&]() -> bool {
            if (inlineValue)
                return true;
            if (i + 1 >= args.size())
                return false;
            value = args[++i];
            return true;
        };
        const auto flag = [&]() { return !inlineValue; };

        unsigned long long number = 0;
        if (option == "--help" || option == "-h") {
            result.outcome = ParsedOptions::Outcome::Help;
            return result;
        } else if (option == "--quiet") {
            if (!flag())
                return fail("--quiet takes no value");
            config.echo = false;
        } else if (option == "--duplicate-replies") {
            if (!flag())
                return fail("--duplicate-replies takes no value");
            config.faults.duplicateReplies = true;
        } else if (option == "--address" || option == "--port" || option == "--model" ||
                   option == "--serial" || option == "--firmware" || option == "--home-time" ||
                   option == "--log" || option == "--drop-replies" || option == "--delay-replies" ||
                   option == "--error" || option == "--wrong-stem" || option == "--drop-packets" ||
                   option == "--seed") {
            if (!takeValue())
                return fail(option + " needs a value");
            if (option == "--address") {
                std::uint32_t address = 0;
                if (!parseLoopbackAddress(value, address))
                    return fail("--address must be a loopback address 127.x.y.z, not '" + value +
                                "'");
                config.address = value;
            } else if (option == "--port") {
                if (!parseUnsigned(value, 65535, number))
                    return fail("--port must be a number from 0 to 65535, not '" + value + "'");
                config.port = static_cast<unsigned short>(number);
            } else if (option == "--model") {
                if (strcasecmp(value.c_str(), "LX30") == 0)
                    config.device.model = Model::LX30;
                else if (strcasecmp(value.c_str(), "LX20") == 0)
                    config.device.model = Model::LX20;
                else if (strcasecmp(value.c_str(), "generic") == 0)
                    config.device.model = Model::Generic;
                else
                    return fail("--model must be LX30, LX20 or generic, not '" + value + "'");
            } else if (option == "--serial") {
                if (value.empty())
                    return fail("--serial must not be empty");
                config.device.serial = value;
                serialGiven = true;
            } else if (option == "--firmware") {
                if (!parseUnsigned(value, 99, number))
                    return fail("--firmware must be a number from 0 to 99, not '" + value + "'");
                firmware = static_cast<unsigned>(number);
            } else if (option == "--home-time") {
                if (!parseUnsigned(value, 60000, number))
                    return fail("--home-time must be milliseconds from 0 to 60000, not '" + value +
                                "'");
                config.device.homeTimeMs = static_cast<unsigned>(number);
            } else if (option == "--log") {
                if (value.empty())
                    return fail("--log needs a file name");
                config.logFile = value;
            } else if (option == "--drop-replies" || option == "--drop-packets") {
                double share = 0.0;
                if (!parseFraction(value, share))
                    return fail(option + " must be a fraction from 0 to 1, not '" + value + "'");
                (option == "--drop-replies" ? config.faults.dropReplies
                                            : config.faults.dropPackets) = share;
            } else if (option == "--delay-replies") {
                if (!parseUnsigned(value, 60000, number))
                    return fail("--delay-replies must be milliseconds from 0 to 60000, not '" +
                                value + "'");
                config.faults.delayRepliesMs = static_cast<unsigned>(number);
            } else if (option == "--error") {
                const auto sep = value.find('=');
                const std::string code = value.substr(0, sep);
                if (sep == std::string::npos || !isCommandCode(code) ||
                    !parseUnsigned(value.substr(sep + 1), 255, number))
                    return fail("--error must look like SVHOME=4 (a six-letter command code and "
                                "an error code from 0 to 255), not '" +
                                value + "'");
                config.faults.errors[code] = static_cast<int>(number);
            } else if (option == "--wrong-stem") {
                if (!isCommandCode(value))
                    return fail("--wrong-stem needs a six-letter command code such as SVCQRE, "
                                "not '" +
                                value + "'");
                config.faults.wrongStem.insert(value);
            } else {
                if (!parseUnsigned(value, ~0ull, number))
                    return fail("--seed must be a non-negative whole number, not '" + value + "'");
                config.faults.seed = number;
            }
        } else {
            return fail("unknown option '" + args[i] + "' (see --help)");
        }
    }
    if (!serialGiven)
        config.device.serial = defaultSerial(config.device.model, firmware);
    return result;
}

} // namespace sim
} // namespace sentova
