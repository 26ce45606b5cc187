// The UDP command channel to one device: a socket aimed at the device's command
// port, a socket thread running its asynchronous I/O, and a receive loop that
// hands every datagram of six bytes or more from the device, split into code
// and payload, to the derived class.
#pragma once

#include "TrafficObserverSlot.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/thread/thread.hpp>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tavrel {

class SentovaBase {
public:
    SentovaBase(const SentovaBase&) = delete;
    SentovaBase& operator=(const SentovaBase&) = delete;

    // Sends the whole buffer as one datagram to the device; returns the bytes
    // sent. Throws boost::system::system_error ("send_to") on failure.
    std::size_t SendCommand(const std::string& command);
    std::size_t SendCommand(const char* data, unsigned int length);

    // The local UDP port; throws boost::system::system_error ("local_endpoint")
    // once the socket is closed.
    unsigned short GetLocalPort() const;

    // The observer sees every datagram sent through a transaction and every
    // datagram received; nullptr removes it. Any thread.
    void SetTrafficObserver(std::shared_ptr<SentovaTrafficCallbackClass> observer);
    bool TrafficObserved() const { return m_traffic.Active(); }
    // Shows a datagram about to be sent to the device to the observer. The
    // transactions call it before sending, with no lock held, so that a
    // recording sees every command before its reply.
    void ObserveOutgoing(const std::string& datagram) const;

    // Datagrams received from a sender other than the device and not
    // dispatched (see ReplySenders.h). Any thread.
    std::uint64_t GetRefusedSenderCount() const { return m_refusedSenders; }

protected:
    // Opens the socket (bound to localPort unless it is 0) and sends "SVPPPP".
    // Throws boost::system::system_error for an address that is not dotted IPv4
    // (nothing is opened then) and for open, option, bind and send failures.
    // Nothing is received until the derived constructor calls StartReceiving.
    SentovaBase(const std::string& address, unsigned short remotePort, unsigned short localPort);
    // Not virtual: objects are destroyed through their most-derived type, whose
    // destructor must call StopSocketThread before its own members go.
    ~SentovaBase();

    // Arms the first receive and starts the socket thread; the derived
    // constructor calls it last, so no datagram reaches a half-built object.
    void StartReceiving();

    // Sets the stop flag, stops the I/O service, joins the socket thread and
    // closes the socket. Idempotent. Must not be called on the socket thread.
    void StopSocketThread();

    // For timers of the derived class; their handlers run on the socket thread.
    boost::asio::io_context& IOService() { return *m_ioService; }

    // Runs on the socket thread, one datagram at a time.
    virtual void BaseRXCallback(std::string code, std::string payload, std::string sender) = 0;

private:
    void RunSocketThread();
    void AsyncReceive();
    void AsyncReceiveCallback(const boost::system::error_code& error, std::size_t bytes);
    bool FromDevice() const;

    void ObserveIncoming(std::size_t bytes) const;

    // The largest UDP payload over IPv4, and a byte for the terminating zero:
    // no reply is ever cut.
    static constexpr std::size_t kMaxDatagramSize = 65507;
    // After a receive error that follows another, the next receive waits this
    // long, so that a lasting fault neither spins the thread nor floods the log.
    static constexpr unsigned int kReceiveRetryMs = 50;

    std::shared_ptr<boost::asio::io_context> m_ioService;
    // Keeps the I/O service running while no receive is armed (a retry after
    // receive errors waits), so that run() returns only on stop().
    std::shared_ptr<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>>
        m_work;
    // Sends (application threads) and the receive loop (socket thread) share it
    // without a lock: the socket's mode is fixed before the thread starts, after
    // which both sides only read the socket object.
    std::shared_ptr<boost::asio::ip::udp::socket> m_socket;
    std::shared_ptr<boost::thread> m_socketThread;
    boost::asio::ip::udp::endpoint m_remote_endpoint;
    // Written by each receive; used on the socket thread only.
    boost::asio::ip::udp::endpoint m_sender_endpoint;
    // Used on the socket thread only: the buffer (allocated once), the retry
    // timer and whether the last receive failed.
    std::vector<char> m_receiveBuffer;
    std::shared_ptr<boost::asio::steady_timer> m_retryTimer;
    bool m_lastReceiveFailed = false;
    std::atomic<bool> m_stop{false};

    // Fixed at construction: the device's address is a broadcast address.
    bool m_acceptAnySender = false;
    std::atomic<std::uint64_t> m_refusedSenders{0};

    TrafficObserverSlot m_traffic;
    // Where this channel's datagrams come from as the system sends them: found
    // when an observer is set. The port is fixed by the first send.
    std::atomic<std::uint32_t> m_localAddress{0};
    unsigned short m_localPort = 0;
};

} // namespace tavrel
