#include "Interrupt.h"

#include <csignal>

namespace cli {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void onInterrupt(int signal) {
    g_interrupted = 1;
    // A second interrupt ends the program at once.
    std::signal(signal, SIG_DFL);
}

} // namespace

struct InterruptGuard::Saved {
    struct sigaction interrupt {};
    struct sigaction terminate {};
};

InterruptGuard::InterruptGuard() : m_saved(new Saved) {
    g_interrupted = 0;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &m_saved->interrupt);
    sigaction(SIGTERM, &action, &m_saved->terminate);
}

InterruptGuard::~InterruptGuard() {
    sigaction(SIGINT, &m_saved->interrupt, nullptr);
    sigaction(SIGTERM, &m_saved->terminate, nullptr);
    delete m_saved;
}

bool InterruptGuard::interrupted() {
    return g_interrupted != 0;
}

} // namespace cli
