#include "DatagramBatch.h"

#include "Sentova/SentovaLogger.h"
#include "TrafficObserverSlot.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>

namespace tavrel {

DatagramBatch::DatagramBatch()
    : m_buffers(new unsigned char[kMaxDatagrams * kDatagramBytes]), m_messages(kMaxDatagrams),
      m_vectors(kMaxDatagrams), m_sources(kMaxDatagrams), m_controls(kMaxDatagrams),
      m_arrivals(kMaxDatagrams) {
    for (std::size_t i = 0; i < kMaxDatagrams; ++i) {
        m_vectors[i] = iovec{&m_buffers[i * kDatagramBytes], kDatagramBytes};
        msghdr& m = m_messages[i].msg_hdr;
        m = msghdr{};
        m.msg_name = &m_sources[i];
        m.msg_namelen = sizeof(sockaddr_in);
        m.msg_iov = &m_vectors[i];
        m.msg_iovlen = 1;
        m.msg_control = m_controls[i].bytes;
        m.msg_controllen = kControlBytes;
    }
}

void DatagramBatch::requestArrivalDetails(int fd) {
    const int on = 1;
    const std::pair<int, int> options[] = {
        {SOL_SOCKET, SO_RXQ_OVFL}, {SOL_SOCKET, SO_TIMESTAMPNS}, {IPPROTO_IP, IP_PKTINFO}};
    for (const auto& option : options) {
        if (setsockopt(fd, option.first, option.second, &on, sizeof on) != 0)
            SENTOVA_LOG(warning) << "laser data socket option " << option.second << ": "
                                 << std::strerror(errno);
    }
}

std::size_t DatagramBatch::receive(int fd) {
    // The system overwrites the lengths of the headers it filled: only those
    // are set afresh.
    for (std::size_t i = 0; i < m_filled; ++i) {
        msghdr& m = m_messages[i].msg_hdr;
        m.msg_namelen = sizeof(sockaddr_in);
        m.msg_controllen = kControlBytes;
        m.msg_flags = 0;
        m_messages[i].msg_len = 0;
    }
    m_filled = 0;
    const int received = recvmmsg(fd, m_messages.data(), static_cast<unsigned>(kMaxDatagrams),
                                  MSG_WAITFORONE, nullptr);
    if (received <= 0)
        return 0;
    const auto count = static_cast<std::size_t>(received);
    m_filled = count;
    std::uint64_t now = 0;
    for (std::size_t i = 0; i < count; ++i) {
        msghdr& message = m_messages[i].msg_hdr;
        DatagramArrival& arrival = m_arrivals[i];
        arrival = DatagramArrival();
        arrival.sourceAddress = ntohl(m_sources[i].sin_addr.s_addr);
        arrival.sourcePort = ntohs(m_sources[i].sin_port);
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
                std::memcpy(&arrival.dropCounter, CMSG_DATA(c), sizeof arrival.dropCounter);
                arrival.dropCounterSeen = true;
            } else if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                timespec t;
                std::memcpy(&t, CMSG_DATA(c), sizeof t);
                arrival.micros = static_cast<std::uint64_t>(t.tv_sec) * 1000000u +
                                 static_cast<std::uint64_t>(t.tv_nsec) / 1000u;
            } else if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info;
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                arrival.destinationAddress = ntohl(info.ipi_addr.s_addr);
            }
        }
        if (arrival.micros == 0) {
            if (now == 0)
                now = SystemMicrosNow();
            arrival.micros = now;
        }
    }
    return count;
}

} // namespace tavrel
