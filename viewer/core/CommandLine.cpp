#include "CommandLine.h"

#include "Sentova/DeviceAddress.h"

#include <algorithm>
#include <array>

namespace viewer {

namespace {

// Qt's own options that take a value, and those that do not; either spelled with one dash or two.
constexpr std::array<const char*, 15> kQtOptionsWithValue = {
    "-platform",        "-platformpluginpath", "-platformtheme", "-plugin",  "-qmljsdebugger",
    "-qwindowgeometry", "-qwindowicon",        "-qwindowtitle",  "-display", "-geometry",
    "-style",           "-stylesheet",         "-session",       "-title",   "-name"};
constexpr std::array<const char*, 6> kQtFlags = {"-reverse", "-nograb",      "-dograb",
                                                 "-sync",    "-widgetcount", "-testability"};

template <std::size_t N> bool among(const std::array<const char*, N>& names, const std::string& s) {
    return std::any_of(names.begin(), names.end(), [&](const char* name) { return s == name; });
}

CommandLine failure(std::string message) {
    CommandLine result;
    result.action = CommandLine::Action::Error;
    result.error = std::move(message);
    return result;
}

} // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine result;
    bool haveAddress = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            result.action = CommandLine::Action::Help;
            return result;
        }
        if (argument == "--version") {
            result.action = CommandLine::Action::Version;
            return result;
        }
        if (argument == "--ask-address") {
            result.askAddress = true;
            continue;
        }
        if (argument.size() > 1 && argument[0] == '-') {
            const std::string option =
                argument.compare(0, 2, "--") == 0 ? argument.substr(1) : argument;
            if (among(kQtOptionsWithValue, option)) {
                if (i + 1 >= arguments.size()) {
                    return failure("option " + argument + " needs a value");
                }
                ++i;
                continue;
            }
            if (among(kQtFlags, option)) {
                continue;
            }
            return failure("unknown option '" + argument + "'");
        }
        if (haveAddress) {
            return failure("unexpected argument '" + argument + "' after the device address");
        }
        if (!tavrel::IsIPv4Address(argument)) {
            return failure("'" + argument +
                           "' is not an IPv4 address (four numbers from 0 to 255 separated by "
                           "dots, such as 192.168.0.10)");
        }
        result.address = argument;
        haveAddress = true;
    }
    if (!haveAddress && !result.askAddress) {
        return failure("no device address given");
    }
    result.action = CommandLine::Action::Run;
    return result;
}

std::string usageText(const std::string& program) {
    return "Usage: " + program +
           " <device IPv4 address>\n"
           "  or:  " +
           program + " --ask-address\n" + "  or:  " + program +
           " --help | --version\n"
           "\n"
           "Opens the control station window for the Sentova device at the address: the 3D\n"
           "view of its laser data, scan and laser controls, and the device and stream status.\n"
           "\n"
           "  --ask-address  without an address, ask for it in a dialog (the last one\n"
           "                 given is offered)\n"
           "  -h, --help     show this text and exit\n"
           "  --version      show the program and library versions and exit\n"
           "\n"
           "Qt's own options (such as -platform offscreen) are accepted as well.\n";
}

} // namespace viewer
