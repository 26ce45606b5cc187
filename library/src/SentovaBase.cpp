#include "SentovaBase.h"

#include "AddressText.h"
#include "ReplySenders.h"

#include "Sentova/CommandSerialiser.h"
#include "Sentova/Protocol.h"
#include "Sentova/SentovaLogger.h"

#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/socket_base.hpp>
#include <boost/system/system_error.hpp>

#include <chrono>
#include <exception>

namespace tavrel {

namespace {

// The local address the system picks for datagrams to remote: a connected UDP
// socket knows it without sending anything. 0 when there is no route.
std::uint32_t LocalAddressToward(const boost::asio::ip::udp::endpoint& remote) {
    boost::asio::io_context io;
    boost::asio::ip::udp::socket probe(io);
    boost::system::error_code ec;
    probe.open(boost::asio::ip::udp::v4(), ec);
    if (!ec)
        probe.set_option(boost::asio::socket_base::broadcast(true), ec);
    if (!ec)
        probe.connect(remote, ec);
    if (ec)
        return 0;
    const boost::asio::ip::udp::endpoint local = probe.local_endpoint(ec);
    return ec ? 0 : local.address().to_v4().to_uint();
}

} // namespace

SentovaBase::SentovaBase(const std::string& address, unsigned short remotePort,
                         unsigned short localPort)
    : m_remote_endpoint(ParseDottedIPv4(address), remotePort),
      m_receiveBuffer(kMaxDatagramSize + 1),
      m_acceptAnySender(AcceptsAnySender(m_remote_endpoint.address().to_v4().to_uint())) {
    // The library log is set up lazily on first use; doing it here, before the
    // socket thread exists, orders that set-up before every use on the thread.
    my_logger::get();
    m_ioService = std::make_shared<boost::asio::io_context>();
    m_work =
        std::make_shared<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>>(
            m_ioService->get_executor());
    m_socket = std::make_shared<boost::asio::ip::udp::socket>(*m_ioService);
    m_retryTimer = std::make_shared<boost::asio::steady_timer>(*m_ioService);
    m_socket->open(boost::asio::ip::udp::v4());
    m_socket->set_option(boost::asio::socket_base::broadcast(true));
    if (localPort != 0)
        m_socket->bind(
            boost::asio::ip::udp::endpoint(boost::asio::ip::address_v4::any(), localPort));
    SendCommand(CommandSerialiser::SVPPPP());
    m_localPort = m_socket->local_endpoint().port();
}

SentovaBase::~SentovaBase() {
    StopSocketThread();
}

void SentovaBase::StartReceiving() {
    AsyncReceive();
    m_socketThread = std::make_shared<boost::thread>([this] { RunSocketThread(); });
}

std::size_t SentovaBase::SendCommand(const std::string& command) {
    return m_socket->send_to(boost::asio::buffer(command), m_remote_endpoint);
}

std::size_t SentovaBase::SendCommand(const char* data, unsigned int length) {
    return m_socket->send_to(boost::asio::buffer(data, length), m_remote_endpoint);
}

unsigned short SentovaBase::GetLocalPort() const {
    return m_socket->local_endpoint().port();
}

void SentovaBase::SetTrafficObserver(std::shared_ptr<SentovaTrafficCallbackClass> observer) {
    if (observer)
        m_localAddress = LocalAddressToward(m_remote_endpoint);
    m_traffic.Set(std::move(observer));
}

void SentovaBase::ObserveOutgoing(const std::string& datagram) const {
    if (!m_traffic.Active())
        return;
    traffic_datagram_t d;
    d.timeMicros = SystemMicrosNow();
    d.sourceAddress = m_localAddress;
    d.sourcePort = m_localPort;
    d.destinationAddress = m_remote_endpoint.address().to_v4().to_uint();
    d.destinationPort = m_remote_endpoint.port();
    d.data = datagram.data();
    d.size = datagram.size();
    m_traffic.Show(d);
}

void SentovaBase::ObserveIncoming(std::size_t bytes) const {
    traffic_datagram_t d;
    d.timeMicros = SystemMicrosNow();
    const boost::asio::ip::address from = m_sender_endpoint.address();
    d.sourceAddress = from.is_v4() ? from.to_v4().to_uint() : 0;
    d.sourcePort = m_sender_endpoint.port();
    d.destinationAddress = m_localAddress;
    d.destinationPort = m_localPort;
    d.data = m_receiveBuffer.data();
    d.size = bytes;
    m_traffic.Show(d);
}

void SentovaBase::RunSocketThread() {
    if (m_stop)
        return;
    // The work guard keeps run() going until stop(); it returns early only when
    // a handler (a timer's, say) throws, which is logged so that the channel
    // keeps serving.
    for (;;) {
        try {
            m_ioService->run();
            return;
        } catch (const std::exception& e) {
            SENTOVA_LOG(fatal) << "SentovaBase: socket thread: " << e.what();
        }
    }
}

void SentovaBase::StopSocketThread() {
    m_stop = true;
    m_ioService->stop();
    if (m_socketThread && m_socketThread->joinable())
        m_socketThread->join();
    boost::system::error_code ec;
    m_socket->close(ec);
    // Called from destructors, so a close failure is recorded, not thrown.
    if (ec)
        SENTOVA_LOG(fatal) << "SentovaBase: close: " << ec.message();
}

void SentovaBase::AsyncReceive() {
    m_socket->async_receive_from(boost::asio::buffer(m_receiveBuffer.data(), kMaxDatagramSize),
                                 m_sender_endpoint,
                                 [this](const boost::system::error_code& error, std::size_t bytes) {
                                     AsyncReceiveCallback(error, bytes);
                                 });
}

bool SentovaBase::FromDevice() const {
    return m_acceptAnySender || m_sender_endpoint.address() == m_remote_endpoint.address();
}

void SentovaBase::AsyncReceiveCallback(const boost::system::error_code& error, std::size_t bytes) {
    if (m_stop)
        return;
    if (error) {
        // Recorded, and receiving goes on: ending the loop would leave every
        // later command to time out. A run of errors is slowed down.
        SENTOVA_LOG(fatal) << "SentovaBase: Socket recieve error. Socket error code "
                           << error.value() << " (" << error.message() << ")";
        if (!m_lastReceiveFailed) {
            m_lastReceiveFailed = true;
            AsyncReceive();
            return;
        }
        m_retryTimer->expires_after(std::chrono::milliseconds(kReceiveRetryMs));
        m_retryTimer->async_wait([this](const boost::system::error_code& cancelled) {
            if (!cancelled && !m_stop)
                AsyncReceive();
        });
        return;
    }
    m_lastReceiveFailed = false;
    if (m_traffic.Active())
        ObserveIncoming(bytes);
    char* const data = m_receiveBuffer.data();
    data[bytes] = '\0';
    if (!FromDevice()) {
        // Anyone who can reach this port could otherwise complete a command,
        // fire events or hand over trigger records.
        ++m_refusedSenders;
        SENTOVA_LOG(trace) << "SentovaBase: refused a datagram from "
                           << m_sender_endpoint.address().to_string();
    } else if (bytes >= protocol::kCodeLength) {
        std::string code(data, protocol::kCodeLength);
        std::string payload(data + protocol::kCodeLength, bytes - protocol::kCodeLength);
        // An exception from the derived class (or application code it calls)
        // is recorded; the receive loop goes on.
        try {
            BaseRXCallback(std::move(code), std::move(payload),
                           m_sender_endpoint.address().to_string());
        } catch (const std::exception& e) {
            SENTOVA_LOG(fatal) << "SentovaBase: BaseRXCallback: " << e.what();
        }
    }
    SENTOVA_LOG(trace) << "SentovaBase::AsyncReceiveCallback :" << bytes;
    AsyncReceive();
}

} // namespace tavrel
