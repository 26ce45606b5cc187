// sentova-sim: a simulated Sentova device on a loopback address.
#include "Options.h"

#include "Sentova/Sentova.h"
#include "Sentova/SentovaLogger.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <exception>
#include <pthread.h>
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    using sentova::sim::ParsedOptions;
    const std::string program = argc > 0 ? argv[0] : "sentova-sim";
    const ParsedOptions parsed = sentova::sim::parseOptions(
        std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    if (parsed.outcome == ParsedOptions::Outcome::Help) {
        std::fputs(sentova::sim::usageText(program).c_str(), stdout);
        return 0;
    }
    if (parsed.outcome == ParsedOptions::Outcome::Version) {
        std::printf("sentova-sim %s (library %s)\n", SENTOVA_PROJECT_VERSION,
                    tavrel::SENTOVA_VERSION.c_str());
        return 0;
    }
    if (parsed.outcome == ParsedOptions::Outcome::Error) {
        std::fprintf(stderr, "%s: %s\n", program.c_str(), parsed.error.c_str());
        return 2;
    }
    if (!parsed.logLevel.empty())
        tavrel::SetLogLevel(parsed.logLevel);

    // A reader that goes away must not end the simulator in the middle of a line.
    std::signal(SIGPIPE, SIG_IGN);
    // The signals are taken synchronously below; the network thread inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    if (parsed.exitWithParent) {
        // The parent's death arrives as SIGTERM and stops the simulator as SIGTERM
        // does. A parent that died before the request took effect sends nothing.
        const pid_t parent = getppid();
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            return 0;
    }

    sentova::sim::SimulatorConfig config = parsed.config;
    if (!parsed.replay.file.empty()) {
        try {
            std::string problems;
            const std::string about =
                sentova::sim::useReplay(parsed.replay, parsed.deviceGiven, config.device, problems);
            if (!problems.empty())
                std::fprintf(stderr, "%s: warning: %s\n", program.c_str(), problems.c_str());
            if (config.echo)
                std::fprintf(stderr, "%s: %s\n", program.c_str(), about.c_str());
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: cannot replay: %s\n", program.c_str(), e.what());
            return 1;
        }
    }

    if (!parsed.scene.file.empty()) {
        try {
            const sentova::sim::LoadedScene scene = sentova::sim::loadSceneFile(parsed.scene);
            config.device.scanner.scene = scene.scene;
            if (config.echo)
                std::fprintf(stderr, "%s: %s\n", program.c_str(), scene.summary.c_str());
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: %s\n", program.c_str(), e.what());
            return 1;
        }
    }

    sentova::sim::Simulator simulator(config);
    try {
        simulator.start();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: cannot start: %s\n", program.c_str(), e.what());
        return 1;
    }
    if (config.echo)
        std::fprintf(stderr, "%s: %s device, serial %s, listening on %s\n", program.c_str(),
                     tavrel::ModelLabel(config.device.model), config.device.serial.c_str(),
                     sentova::sim::toString(simulator.endpoint()).c_str());

    const auto printCounters = [&] {
        std::fprintf(
            stderr, "%s: %s\n", program.c_str(),
            sentova::sim::formatCounters(simulator.counters(), simulator.status()).c_str());
        std::fflush(stderr);
    };
    for (;;) {
        int received = 0;
        if (parsed.statsSeconds > 0) {
            const timespec period{static_cast<time_t>(parsed.statsSeconds), 0};
            received = sigtimedwait(&signals, nullptr, &period);
            if (received < 0) {
                if (errno == EAGAIN) // the period passed
                    printCounters();
                continue;
            }
        } else if (sigwait(&signals, &received) != 0) {
            continue;
        }
        if (received == SIGUSR1) {
            printCounters();
            continue;
        }
        break;
    }
    simulator.stop();
    printCounters();
    return 0;
}
