// Round trip of a blocking device transaction (Sentova::Stop) against a
// loopback responder, beside a plain UDP ping-pong with the same responder in
// the same run. Prints median and 99th percentile of both and their ratio.
//
// Usage: roundtrip_bench [iterations]   (default 5000, at most 1000000)
#include "Sentova/Protocol.h"
#include "Sentova/Sentova.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in Endpoint(const std::string& address, unsigned short port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    return a;
}

// Answers every datagram with "EA" and the datagram's stem, like a device
// that accepts every command at once.
class Responder {
public:
    Responder() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        for (int last = 1; last < 255; ++last) {
            address_ = "127.90.0." + std::to_string(last);
            const sockaddr_in local = Endpoint(address_, tavrel::protocol::kCommandPort);
            if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0) {
                thread_ = std::thread([this] { Run(); });
                return;
            }
        }
        std::perror("bind");
        std::exit(1);
    }
    ~Responder() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }
    const std::string& address() const { return address_; }

private:
    void Run() {
        char buffer[2048];
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t n = ::recvfrom(fd_, buffer, sizeof buffer, 0,
                                         reinterpret_cast<sockaddr*>(&from), &length);
            if (n < 6)
                continue;
            buffer[0] = 'E';
            buffer[1] = 'A';
            ::sendto(fd_, buffer, 6, 0, reinterpret_cast<sockaddr*>(&from), length);
        }
    }
    int fd_ = -1;
    std::string address_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct Figures {
    double median, p99;
};

Figures Summarise(std::vector<double> micros) {
    std::sort(micros.begin(), micros.end());
    const auto at = [&](double q) {
        const std::size_t i = static_cast<std::size_t>(q * static_cast<double>(micros.size() - 1));
        return micros[i];
    };
    return {at(0.5), at(0.99)};
}

double Since(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    long iterations = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 5000;
    iterations = std::clamp(iterations, 100L, 1000000L);
    const long warmUp = std::min(iterations / 10, 500L);

    Responder responder;

    // Plain ping-pong: a connected UDP socket, blocking receive with a limit.
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in device = Endpoint(responder.address(), tavrel::protocol::kCommandPort);
    ::connect(fd, reinterpret_cast<const sockaddr*>(&device), sizeof device);
    timeval limit{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::vector<double> plain, library;
    plain.reserve(static_cast<std::size_t>(iterations));
    library.reserve(static_cast<std::size_t>(iterations));
    long plainLost = 0, libraryFailed = 0;
    char reply[64];

    tavrel::Sentova sentova(responder.address());
    // The reply to the opening "SVPPPP" is dropped by the library; let it pass.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    // Alternate blocks of both, so that both see the same machine load.
    const long block = 100;
    for (long done = -warmUp; done < iterations; done += block) {
        for (long i = 0; i < block; ++i) {
            const auto start = Clock::now();
            ::send(fd, "SVSTOP", 6, 0);
            const bool ok = ::recv(fd, reply, sizeof reply, 0) == 6;
            const double t = Since(start);
            if (done < 0)
                continue;
            if (ok)
                plain.push_back(t);
            else
                ++plainLost;
        }
        for (long i = 0; i < block; ++i) {
            const auto start = Clock::now();
            const tavrel::tavrel_error_t result = sentova.Stop();
            const double t = Since(start);
            if (done < 0)
                continue;
            if (result == tavrel::NoError)
                library.push_back(t);
            else
                ++libraryFailed;
        }
    }
    ::close(fd);

    if (plain.empty() || library.empty()) {
        std::printf("no successful round trips (plain lost %ld, library failed %ld)\n", plainLost,
                    libraryFailed);
        return 1;
    }
    const Figures p = Summarise(plain);
    const Figures l = Summarise(library);
    std::printf("round trips on loopback, %zu each (responder %s:4365)\n", library.size(),
                responder.address().c_str());
    std::printf("  plain UDP ping-pong      median %8.1f us   p99 %8.1f us   (lost %ld)\n",
                p.median, p.p99, plainLost);
    std::printf("  blocking transaction     median %8.1f us   p99 %8.1f us   (failed %ld)\n",
                l.median, l.p99, libraryFailed);
    std::printf("  ratio transaction/plain  median %8.2f      p99 %8.2f\n", l.median / p.median,
                l.p99 / p.p99);
    return 0;
}
