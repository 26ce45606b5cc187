// Command line of sentova-sim.
#pragma once

#include "Replay.h"
#include "SceneFile.h"
#include "Simulator.h"

#include <string>
#include <vector>

namespace sentova {
namespace sim {

struct ParsedOptions {
    enum class Outcome { Run, Help, Version, Error } outcome = Outcome::Run;
    std::string error; // for Error: what was wrong, one line
    SimulatorConfig config;
    ReplayOptions replay;
    SceneFileOptions scene;      // file empty: the built-in room
    unsigned statsSeconds = 0;   // a counters line this often; 0 = only on exit and SIGUSR1
    bool deviceGiven = false;    // --model or --serial: not taken from a replayed recording
    std::string logLevel;        // --log-level: empty keeps the library's own filter
    bool exitWithParent = false; // --exit-with-parent
};

// Parses the arguments after the program name.
ParsedOptions parseOptions(const std::vector<std::string>& args);

// Every option the parser knows, for checking the --help text against.
std::vector<std::string> optionNames();

// The --help text.
std::string usageText(const std::string& program);

} // namespace sim
} // namespace sentova
