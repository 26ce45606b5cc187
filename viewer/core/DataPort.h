// The local port on which laser data is received: what the settings may hold, and where the
// viewer looks when that port is taken.
#pragma once

#include "Sentova/Protocol.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

constexpr std::uint32_t kDefaultDataPort = tavrel::protocol::kDefaultDataPort;
// Ports an operator may choose: above the privileged range, within UDP's.
constexpr std::uint32_t kLowestDataPort = 1024;
constexpr std::uint32_t kHighestDataPort = 65535;

constexpr bool isDataPort(long long port) {
    return port >= kLowestDataPort && port <= kHighestDataPort;
}

// The port the next run listens on: successive runs walk 4366, 4367 ... 5001
// and start again at 4366, so a port still held by an earlier run is not
// asked for again. A port outside that walk starts it afresh.
constexpr std::uint32_t nextDataPort(std::uint32_t port) {
    return (port >= kDefaultDataPort && port <= 5000) ? port + 1 : kDefaultDataPort;
}

namespace viewer {

// A stored port as text (as the settings store gives it back): the port when the text is a
// whole number from 1024 to 65535, surrounding blanks allowed; nothing otherwise.
std::optional<std::uint32_t> parseDataPort(const std::string& text);

// The ports to try, in order, when first is taken: first and the ones after it, going on from
// 1024 after 65535, count in all.
std::vector<std::uint32_t> portsToTry(std::uint32_t first, int count);

} // namespace viewer
