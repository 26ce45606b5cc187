// Files written by tcpdump on the loopback interface, read by our reader: the
// Ethernet framing of lo and the Linux cooked framings of the "any" device.
#include "CaptureTestSupport.h"
#include "SentovaPcap/Capture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

extern char** environ;

using namespace sentova::pcap;
using pcaptest::TempFile;

namespace {

// Runs tcpdump until stopped, writing what it captures to a file.
class Tcpdump {
public:
    Tcpdump(const std::vector<std::string>& args, const std::string& log) {
        std::vector<char*> argv;
        std::vector<std::string> all = {TCPDUMP};
        all.insert(all.end(), args.begin(), args.end());
        for (std::string& a : all)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&m_pid, argv[0], &files, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&files);
    }
    ~Tcpdump() { stop(); }
    bool running() const { return m_pid > 0; }
    // SIGINT makes tcpdump write out what it holds and exit.
    int stop() {
        if (m_pid <= 0)
            return -1;
        ::kill(m_pid, SIGINT);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return status;
    }

private:
    pid_t m_pid = -1;
};

void sendDatagrams(unsigned short port, const std::vector<std::string>& payloads) {
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (const std::string& p : payloads) {
        ::sendto(s, p.data(), p.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::close(s);
}

struct Capture {
    const char* device;
    const char* linkType; // nullptr: the device's own
    LinkType expected;
    unsigned short portOffset; // the captures run in parallel, each on a port of its own
};

void PrintTo(const Capture& c, std::ostream* out) {
    *out << c.device << " " << (c.linkType ? c.linkType : "native");
}

// The datagrams readable from a capture file still being written.
std::size_t countDatagrams(const std::string& path) {
    try {
        Reader reader(path);
        Datagram d;
        std::size_t n = 0;
        while (reader.next(d))
            ++n;
        return n;
    } catch (const CaptureError&) {
        return 0; // the file header is not written yet
    }
}

} // namespace

class TcpdumpTest : public ::testing::TestWithParam<Capture> {};

TEST_P(TcpdumpTest, DatagramsCapturedOnLoopbackAreReadBack) {
    if (std::string(TCPDUMP).empty())
        GTEST_SKIP() << "tcpdump is not installed (tools/setup.sh installs it)";
    if (::geteuid() != 0)
        GTEST_SKIP() << "capturing on the loopback interface needs root";
    const Capture c = GetParam();
    const auto port = static_cast<unsigned short>(PCAP_TEST_PORT + c.portOffset);
    TempFile file("tcpdump.pcap");
    TempFile log("tcpdump.log");
    // In immediate mode the capture ring holds whole snapshot-length frames: at the default
    // buffer only eight, which a loaded machine overruns within a burst of 22.
    std::vector<std::string> args = {
        "-i",   c.device, "--immediate-mode", "-B", "32768", "-U", "-n", "-Z",
        "root", "-w",     file.path()};
    if (c.linkType) {
        args.push_back("-y");
        args.push_back(c.linkType);
    }
    args.push_back("udp and dst port " + std::to_string(port));
    Tcpdump tcpdump(args, log.path());
    ASSERT_TRUE(tcpdump.running());
    // tcpdump says so on standard error once it captures.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (log.read().find("listening on") == std::string::npos) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << log.read();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    std::vector<std::string> payloads;
    for (int i = 0; i < 20; ++i)
        payloads.push_back("datagram " + std::to_string(i) + std::string(std::size_t(i) * 70, 'x'));
    payloads.push_back(std::string("EBRBEP") + std::string(22 * 40, '\x07'));
    payloads.push_back(std::string(3000, '\0')); // more than an Ethernet MTU
    const auto sent = std::chrono::system_clock::now();
    sendDatagrams(port, payloads);
    // tcpdump writes each packet as it captures it (-U): stop once the file holds them all.
    const auto written = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (countDatagrams(file.path()) < payloads.size() &&
           std::chrono::steady_clock::now() < written) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    tcpdump.stop();

    Reader reader(file.path());
    EXPECT_EQ(reader.linkType(), c.expected) << linkTypeName(reader.linkType());
    std::vector<Datagram> got;
    Datagram d;
    while (reader.next(d))
        got.push_back(d);
    EXPECT_EQ(reader.report(), "");
    ASSERT_EQ(got.size(), payloads.size()) << log.read();
    const auto sentMicros =
        std::chrono::duration_cast<std::chrono::microseconds>(sent.time_since_epoch()).count();
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].bytes, payloads[i]) << i;
        EXPECT_EQ(got[i].sourceAddress, 0x7f000001u);
        EXPECT_EQ(got[i].destinationAddress, 0x7f000001u);
        EXPECT_EQ(got[i].destinationPort, port);
        EXPECT_NEAR(double(got[i].timeMicros), double(sentMicros), 5e6);
    }
}

INSTANTIATE_TEST_SUITE_P(LinkTypes, TcpdumpTest,
                         ::testing::Values(Capture{"lo", nullptr, LinkType::Ethernet, 0},
                                           Capture{"any", "LINUX_SLL", LinkType::LinuxCooked, 1},
                                           Capture{"any", "LINUX_SLL2", LinkType::LinuxCooked2, 2}),
                         [](const ::testing::TestParamInfo<Capture>& info) {
                             return std::string(info.param.device) + "_" +
                                    (info.param.linkType ? info.param.linkType : "native");
                         });
