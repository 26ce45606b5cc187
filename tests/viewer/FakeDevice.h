// A stand-in for the device on a loopback address: answers every command on
// port 4365 the way the device does, records what it received and from which
// local port, and can stream laser data packets from its own address.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace viewer_test {

struct ReceivedCommand {
    std::uint16_t senderPort;
    std::string bytes;
    std::string code() const { return bytes.substr(0, 6); }
};

class FakeDevice {
public:
    // Binds address:4365; throws std::runtime_error when it cannot.
    explicit FakeDevice(const std::string& address);
    ~FakeDevice();
    FakeDevice(const FakeDevice&) = delete;
    FakeDevice& operator=(const FakeDevice&) = delete;

    // The serial number sent for "SVCQRE"; silent = no answer at all.
    void setSerial(const std::string& serial);
    void setSilentSerial();
    // No answer to anything, as with no device at the address.
    void setSilent();
    // Answers to this command code (every code when empty) leave this long after the command
    // arrived; the device answers nothing else meanwhile.
    void setReplyDelay(std::chrono::milliseconds delay, const std::string& code = "");
    // Answer the given command code with "EE" and this error byte.
    void failCommand(const std::string& code, unsigned char error);

    std::vector<ReceivedCommand> received() const;
    // The codes received, serial queries left out: the window asks for the serial by itself
    // whenever the device has been quiet for a while.
    std::vector<std::string> codes() const;
    void clearReceived();
    // Waits (bounded) until a command with this code has arrived.
    bool waitFor(const std::string& code, std::chrono::milliseconds timeout) const;

    // Sends one datagram from the device's address to 127.0.0.1:port.
    void sendData(std::uint16_t port, const std::string& datagram);

private:
    void run();

    int m_socket = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;

    // Guards every member below; held only for copying, never across I/O.
    mutable std::mutex m_mutex;
    std::vector<ReceivedCommand> m_received;
    std::string m_serial = "SN-GENERIC-31";
    bool m_silentSerial = false;
    bool m_silent = false;
    std::map<std::string, std::chrono::milliseconds> m_delays;
    std::map<std::string, unsigned char> m_failures;
};

// A loopback address of its own for this test process (127.76.1.x, from its slot), so that
// test processes run in parallel do not meet on port 4365: in a net no other suite uses (the
// simulator's tests take 127.77 to 127.79, the tool's 127.79).
std::string processDeviceAddress();

} // namespace viewer_test
