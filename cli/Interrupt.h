#pragma once

// Ctrl-C (SIGINT) and SIGTERM during a long subcommand: the first one asks the subcommand to
// wrap up (stop the device, write what it has), a second one ends the program at once.

namespace cli {

// Installs the handlers for its lifetime and clears the flag.
class InterruptGuard {
public:
    InterruptGuard();
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    // True once an interrupt arrived while installed.
    static bool interrupted();

private:
    struct Saved;
    Saved* m_saved;
};

} // namespace cli
