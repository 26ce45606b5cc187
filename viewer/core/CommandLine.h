// The viewer's command line, read before any window or display exists.
#pragma once

#include <string>
#include <vector>

namespace viewer {

struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Error;
    std::string address;     // Run: the device's address as typed; empty when it is to be asked
    bool askAddress = false; // --ask-address: ask in a dialog when no address is given
    std::string error;       // Error: what is wrong, for the operator
};

// Reads the arguments after the program name: the device's IPv4 address, --ask-address (the
// address is asked for when none is given; for menu entries, which have none), or --help (-h) or
// --version. Qt's own options (-platform xcb, -style fusion, ...) pass through untouched. An
// address that is not dotted-decimal IPv4 is an error that says so.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

std::string usageText(const std::string& program);

} // namespace viewer
