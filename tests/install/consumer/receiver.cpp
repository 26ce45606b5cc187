// A program outside the project that receives a few laser data packets over
// loopback through the installed listener, and nothing else of the package.
#include <Sentova/SentovaGrabber.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

namespace {

class Receiver : public tavrel::SentovaLaserDataCallbackClass {
public:
    void LaserDataCallback(std::vector<tavrel::tavrel_rbe_obs_t> observations,
                           unsigned int) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& o : observations)
            m_timestamps.push_back(o.timestamp);
        m_changed.notify_all();
    }
    std::vector<std::uint64_t> WaitFor(std::size_t count) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(10),
                           [&] { return m_timestamps.size() >= count; });
        return m_timestamps;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::uint64_t> m_timestamps;
};

// "EBRBEP" and two 22-byte records with the given timestamps, the rest zero.
std::string Packet(std::uint32_t first) {
    std::string packet = "EBRBEP";
    for (std::uint32_t t : {first, first + 1}) {
        std::string record(22, '\0');
        for (int i = 0; i < 4; ++i)
            record[i] = static_cast<char>(t >> (24 - 8 * i));
        packet += record;
    }
    return packet;
}

sockaddr_in Loopback(unsigned short port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A port that was free a moment ago.
unsigned short FreePort() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = Loopback(0);
    socklen_t length = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    close(fd);
    return ntohs(a.sin_port);
}

} // namespace

int main() {
    Receiver receiver;
    tavrel::SentovaGrabber listener;
    unsigned short port = 0;
    for (int attempt = 0; attempt < 5 && port == 0; ++attempt) {
        const unsigned short candidate = FreePort();
        if (listener.StartListening("127.0.0.1", candidate, &receiver))
            port = candidate;
    }
    if (port == 0) {
        std::cerr << "receiver: cannot listen\n";
        return 1;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = Loopback(port);
    for (std::uint32_t first : {10u, 20u, 30u}) {
        const std::string packet = Packet(first);
        sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to);
    }
    close(fd);
    const std::vector<std::uint64_t> got = receiver.WaitFor(6);
    listener.StopListening();
    const std::vector<std::uint64_t> expected = {10, 11, 20, 21, 30, 31};
    if (got != expected) {
        std::cerr << "receiver: got " << got.size() << " observations, expected 6\n";
        return 1;
    }
    std::cout << "receiver: 3 laser packets, 6 observations on port " << port << "\n";
    return 0;
}
