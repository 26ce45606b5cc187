// The live feed's delay: from a scan frame's last datagram, as the listener of `sentova serve`
// hands it over (the time stamp of the frame's message), to the message read by a WebSocket
// client, at 30,000 points per second (a simulated LX20 in its high-speed mode); with one client,
// then with three at once, in the same run.
//
// Usage: feed_bench [seconds per phase, default 10]
#include "SentovaFoxglove/Protocol.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

// Starts the program; with out, its standard output is a pipe read there.
pid_t start(const std::vector<std::string>& argv, int* out = nullptr) {
    int pipeFds[2] = {-1, -1};
    if (out != nullptr && ::pipe(pipeFds) != 0) {
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (out != nullptr) {
            ::dup2(pipeFds[1], 1);
            ::close(pipeFds[0]);
        }
        std::freopen("/dev/null", "w", stderr);
        std::vector<char*> args;
        for (const std::string& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        std::_Exit(127);
    }
    if (out != nullptr) {
        ::close(pipeFds[1]);
        *out = pipeFds[0];
    }
    return pid;
}

int runTool(const std::vector<std::string>& argv) {
    const pid_t pid = start(argv);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::int64_t nowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

struct Sample {
    std::vector<double> delaysMs;
    std::uint64_t points = 0;
};

// One client: subscribes to the point cloud channel and notes each message's delay until stop.
void client(unsigned short port, const std::atomic<bool>& stop, std::atomic<int>& ready,
            Sample& sample) {
    try {
        asio::io_context io;
        websocket::stream<tcp::socket> ws(io);
        ws.next_layer().connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
        const timeval wait{0, 200000};
        ::setsockopt(ws.next_layer().native_handle(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        ws.set_option(websocket::stream_base::decorator([](websocket::request_type& r) {
            r.set(beast::http::field::sec_websocket_protocol, sentova::foxglove::kSubprotocol);
        }));
        ws.handshake("127.0.0.1:" + std::to_string(port), "/");
        beast::flat_buffer buffer;
        ws.read(buffer); // serverInfo
        buffer.clear();
        ws.read(buffer); // advertise: the point cloud channel is 1
        buffer.clear();
        ws.text(true);
        ws.write(asio::buffer(
            std::string(R"({"op":"subscribe","subscriptions":[{"id":0,"channelId":1}]})")));
        ++ready;
        while (!stop) {
            beast::error_code ec;
            ws.read(buffer, ec);
            if (ec) {
                if (ec == beast::error::timeout ||
                    ec == boost::system::errc::resource_unavailable_try_again) {
                    continue;
                }
                break;
            }
            const std::int64_t received = nowNanos();
            if (ws.got_binary() && buffer.size() > sentova::foxglove::kMessageDataHeaderSize) {
                const std::string bytes = beast::buffers_to_string(buffer.data());
                std::uint64_t stamp = 0;
                std::memcpy(&stamp, bytes.data() + 5, sizeof stamp);
                sample.delaysMs.push_back(static_cast<double>(received - std::int64_t(stamp)) /
                                          1e6);
                // The packed points' base64 text, 52 bytes a point.
                const std::size_t data = bytes.find("\"data\":\"");
                if (data != std::string::npos) {
                    const std::size_t end = bytes.find('"', data + 8);
                    sample.points += (end - data - 8) / 4 * 3 / 52;
                }
            }
            buffer.clear();
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "feed_bench client: %s\n", e.what());
        ++ready;
    }
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return 0.0;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

void phase(unsigned short port, int clients, double seconds) {
    std::atomic<bool> stop{false};
    std::atomic<int> ready{0};
    std::vector<Sample> samples(static_cast<std::size_t>(clients));
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back(client, port, std::cref(stop), std::ref(ready),
                             std::ref(samples[static_cast<std::size_t>(i)]));
    }
    while (ready < clients) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    for (std::thread& t : threads) {
        t.join();
    }
    std::vector<double> all;
    for (int i = 0; i < clients; ++i) {
        const Sample& s = samples[static_cast<std::size_t>(i)];
        all.insert(all.end(), s.delaysMs.begin(), s.delaysMs.end());
        std::printf("  %d client%s, #%d: %5zu messages, %7.0f points/s, delay p50 %6.2f ms, "
                    "p99 %6.2f ms, max %6.2f ms\n",
                    clients, clients == 1 ? " " : "s", i + 1, s.delaysMs.size(),
                    static_cast<double>(s.points) / seconds, percentile(s.delaysMs, 0.5),
                    percentile(s.delaysMs, 0.99), percentile(s.delaysMs, 1.0));
    }
    std::printf("  %d client%s, all: delay p50 %6.2f ms, p99 %6.2f ms\n", clients,
                clients == 1 ? " " : "s", percentile(all, 0.5), percentile(all, 0.99));
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const unsigned pid = static_cast<unsigned>(::getpid());
    const std::string address =
        "127.89." + std::to_string(pid / 250 % 250 + 1) + "." + std::to_string(pid % 250 + 1);
    const std::string dataPort = std::to_string(10000 + pid % 20000);

    const pid_t sim = start({SENTOVA_SIM_PROGRAM, "--address", address, "--model", "LX20",
                             "--home-time", "50", "--quiet"});
    bool up = false;
    for (int i = 0; i < 50 && !up; ++i) {
        up = runTool({SENTOVA_CLI_PROGRAM, "home", address}) == 0;
    }
    if (!up) {
        std::fprintf(stderr, "feed_bench: the simulator does not answer\n");
        ::kill(sim, SIGTERM);
        return 1;
    }
    int out = -1;
    const pid_t serve =
        start({SENTOVA_CLI_PROGRAM, "serve", address, "--ws-port", "0", "--port", dataPort,
               "--high-speed", "--scan", "full", "--lines", "2", "--speed", "15"},
              &out);
    std::string first;
    char c = 0;
    while (::read(out, &c, 1) == 1 && c != '\n') {
        first += c;
    }
    const std::size_t colon = first.find(':', first.find("127.0.0.1"));
    if (colon == std::string::npos) {
        std::fprintf(stderr, "feed_bench: serve said '%s'\n", first.c_str());
        ::kill(serve, SIGTERM);
        ::kill(sim, SIGTERM);
        return 1;
    }
    const auto port = static_cast<unsigned short>(std::atoi(first.c_str() + colon + 1));
    std::printf("%s\nLX20 high-speed (30,000 points/s), full-field scan of 2 lines at 15 rev/s, "
                "%.0f s each:\n",
                first.c_str(), seconds);
    phase(port, 1, seconds);
    phase(port, 3, seconds);

    ::kill(serve, SIGINT);
    ::waitpid(serve, nullptr, 0);
    ::kill(sim, SIGTERM);
    ::waitpid(sim, nullptr, 0);
    return 0;
}
