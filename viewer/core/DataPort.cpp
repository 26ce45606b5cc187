#include "DataPort.h"

namespace viewer {

std::optional<std::uint32_t> parseDataPort(const std::string& text) {
    const std::size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t end = text.find_last_not_of(" \t") + 1;
    long long value = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9' || value > kHighestDataPort) {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    if (!isDataPort(value)) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::vector<std::uint32_t> portsToTry(std::uint32_t first, int count) {
    std::vector<std::uint32_t> ports;
    std::uint32_t port = isDataPort(first) ? first : kDefaultDataPort;
    for (int i = 0; i < count; ++i) {
        ports.push_back(port);
        port = port == kHighestDataPort ? kLowestDataPort : port + 1;
    }
    return ports;
}

} // namespace viewer
