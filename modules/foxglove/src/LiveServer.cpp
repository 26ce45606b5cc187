#include "SentovaFoxglove/LiveServer.h"

#include "Hub.h"

#include <chrono>
#include <thread>

namespace sentova {
namespace foxglove {

LiveServer::LiveServer(ServerOptions options)
    : m_impl(std::make_unique<detail::Hub>(std::move(options))) {}

LiveServer::~LiveServer() = default;

unsigned short LiveServer::port() const {
    return m_impl->port();
}

void LiveServer::publish(std::uint32_t channelId, std::uint64_t timeNanos,
                         std::shared_ptr<const std::string> payload) {
    m_impl->publish({channelId, timeNanos, std::move(payload)});
}

bool LiveServer::subscribed(std::uint32_t channelId) const {
    return m_impl->subscribed(channelId);
}

std::vector<ClientCounts> LiveServer::clients() const {
    return m_impl->clients();
}

bool LiveServer::flush(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!m_impl->idle()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::uint64_t LiveServer::publishDrops() const {
    return m_impl->publishDrops();
}

} // namespace foxglove
} // namespace sentova
