#pragma once

// How a subcommand ends when it cannot do what was asked: the exit status and the one-line
// message for standard error.

#include <stdexcept>
#include <string>

namespace cli {

enum ExitStatus { kSuccess = 0, kFailed = 1, kUsage = 2 };

// Thrown by the subcommands; main prints the message and exits with the status.
struct Failure : std::runtime_error {
    Failure(ExitStatus s, const std::string& message) : std::runtime_error(message), status(s) {}
    ExitStatus status;
};

[[noreturn]] inline void usageError(const std::string& message) {
    throw Failure(kUsage, message);
}
[[noreturn]] inline void failed(const std::string& message) {
    throw Failure(kFailed, message);
}

} // namespace cli
