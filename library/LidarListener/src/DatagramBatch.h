// Takes the datagrams waiting on a UDP socket with one recvmmsg call into
// buffers allocated once, each with what the system tells about it besides its
// bytes.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tavrel {

struct DatagramArrival {
    std::uint32_t sourceAddress = 0; // host byte order
    std::uint16_t sourcePort = 0;
    std::uint32_t destinationAddress = 0;
    std::uint64_t micros = 0; // system clock
    bool dropCounterSeen = false;
    std::uint32_t dropCounter = 0; // the socket's drops so far, modulo 2^32
};

class DatagramBatch {
public:
    static constexpr std::size_t kMaxDatagrams = 64;
    static constexpr std::size_t kDatagramBytes = 65535;

    DatagramBatch();
    DatagramBatch(const DatagramBatch&) = delete;
    DatagramBatch& operator=(const DatagramBatch&) = delete;

    // Asks the system to attach the drop counter, arrival time and destination
    // address that receive reports.
    static void requestArrivalDetails(int fd);

    // Waits for a datagram on the socket fd and receives it with those waiting
    // behind it, at most kMaxDatagrams; returns how many (0 when the receive
    // timed out, was interrupted or failed).
    std::size_t receive(int fd);

    const unsigned char* data(std::size_t i) const { return &m_buffers[i * kDatagramBytes]; }
    std::size_t length(std::size_t i) const { return m_messages[i].msg_len; }
    const DatagramArrival& arrival(std::size_t i) const { return m_arrivals[i]; }

private:
    static constexpr std::size_t kControlBytes = CMSG_SPACE(sizeof(std::uint32_t)) +
                                                 CMSG_SPACE(sizeof(timespec)) +
                                                 CMSG_SPACE(sizeof(in_pktinfo));
    struct alignas(cmsghdr) Control {
        unsigned char bytes[kControlBytes];
    };

    std::unique_ptr<unsigned char[]> m_buffers;
    std::vector<mmsghdr> m_messages;
    std::vector<iovec> m_vectors;
    std::vector<sockaddr_in> m_sources;
    std::vector<Control> m_controls;
    std::vector<DatagramArrival> m_arrivals;
    // Headers the last receive filled.
    std::size_t m_filled = 0;
};

} // namespace tavrel
