// The local port on which laser data is received.
#pragma once

#include <cstdint>

constexpr std::uint32_t kDefaultDataPort = 4366;

// The port the next run listens on: successive runs walk 4366, 4367 ... 5001
// and start again at 4366, so a port still held by an earlier run is not
// asked for again. A port outside that walk starts it afresh.
constexpr std::uint32_t nextDataPort(std::uint32_t port) {
    return (port >= kDefaultDataPort && port <= 5000) ? port + 1 : kDefaultDataPort;
}
