// The command-line tool against the simulator process: the fixture that starts
// the simulator on an address and data port of the test process's own.
#pragma once

#include "Process.h"
#include "ScratchFiles.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <sstream>
#include <string>

using namespace clitest;
using testing_support::readAll;
namespace fs = std::filesystem;
// Named, not anonymous: the tests of one fixture in several files must share one class.
namespace clitest {

inline const std::string kSim = SENTOVA_SIM_PROGRAM;
inline const std::string kTool = SENTOVA_CLI_PROGRAM;

inline std::string processAddress() {
    const unsigned pid = static_cast<unsigned>(::getpid());
    return "127.79." + std::to_string(pid / 250 % 250 + 1) + "." + std::to_string(pid % 250 + 1);
}

// Below the kernel's ephemeral ports, so that no other socket takes it by chance.
inline int processPort() {
    return 10000 + static_cast<int>(::getpid() % 20000);
}

// Whether something answers on port 4365 of the address.
inline bool answers(const std::string& address) {
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(4365);
    ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    timeval wait{0, 200000};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    ::sendto(s, "SVCQRE", 6, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    char buffer[256];
    const bool got = ::recv(s, buffer, sizeof buffer, 0) > 0;
    ::close(s);
    return got;
}

class CliAgainstSim : public ::testing::Test {
protected:
    void SetUp() override {
        address = processAddress();
        port = std::to_string(processPort());
    }
    void TearDown() override {
        if (sim) {
            sim->signal(SIGTERM);
            sim->wait(5000);
        }
    }

    // A simulator of the model, homed unless asked not to.
    void startSim(const std::string& model, std::vector<std::string> extra = {},
                  bool homed = true) {
        std::vector<std::string> argv = {kSim,
                                         "--address",
                                         address,
                                         "--model",
                                         model,
                                         "--home-time",
                                         "50",
                                         "--quiet",
                                         "--log",
                                         (dir / "sim.log").string(),
                                         "--exit-with-parent"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        sim = std::make_unique<Child>(argv);
        for (int i = 0; i < 50 && !answers(address); ++i) {
        }
        ASSERT_TRUE(answers(address));
        if (homed) {
            ASSERT_EQ(tool({"home", address}).status, 0);
        }
    }

    Ran tool(std::vector<std::string> args, int timeoutMs = 20000) {
        args.insert(args.begin(), kTool);
        return run(args, timeoutMs);
    }

    // The argument bytes (hex) of every command with this code, in the simulator's log.
    std::vector<std::string> logged(const std::string& code) {
        std::vector<std::string> found;
        std::istringstream log(readAll(dir / "sim.log"));
        const std::regex line("^\\S+ " + code + " (\\S*) -> ");
        std::string text;
        while (std::getline(log, text)) {
            std::smatch m;
            if (std::regex_search(text, m, line)) {
                found.push_back(m[1]);
            }
        }
        return found;
    }

    std::string portHex() {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%08x", processPort());
        return buf;
    }

    testing_support::ScratchDir scratch{"cli_sim"};
    const fs::path dir = scratch.path();
    std::string address;
    std::string port;
    std::unique_ptr<Child> sim;
};

} // namespace clitest
