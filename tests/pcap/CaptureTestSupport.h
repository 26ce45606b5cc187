// Capture files built byte by byte for the reader's tests, and temporary files.
#pragma once

#include "SentovaPcap/Frames.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <unistd.h>

namespace pcaptest {

inline void putLe(std::string& out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>(v >> (8 * i)));
}

// A classic little-endian pcap file, one record at a time.
class PcapBytes {
public:
    explicit PcapBytes(std::uint32_t linkType = 101, std::uint32_t snapLength = 262144) {
        putLe(m_bytes, 0xa1b2c3d4, 4);
        putLe(m_bytes, 2, 2);
        putLe(m_bytes, 4, 2);
        putLe(m_bytes, 0, 8);
        putLe(m_bytes, snapLength, 4);
        putLe(m_bytes, linkType, 4);
    }
    // originalLength 0 means the frame's own length.
    PcapBytes& frame(const std::string& frame, std::uint64_t timeMicros = 0,
                     std::uint32_t originalLength = 0) {
        putLe(m_bytes, timeMicros / 1000000, 4);
        putLe(m_bytes, timeMicros % 1000000, 4);
        putLe(m_bytes, frame.size(), 4);
        putLe(m_bytes, originalLength ? originalLength : frame.size(), 4);
        m_bytes += frame;
        return *this;
    }
    const std::string& bytes() const { return m_bytes; }

private:
    std::string m_bytes;
};

// A minimal pcapng file: section header, one interface, enhanced packets.
class PcapngBytes {
public:
    explicit PcapngBytes(std::uint32_t linkType = 101) {
        std::string shb;
        putLe(shb, 0x1a2b3c4d, 4); // byte-order magic
        putLe(shb, 1, 2);
        putLe(shb, 0, 2);
        putLe(shb, ~std::uint64_t(0), 8); // section length unknown
        block(0x0a0d0d0a, shb);
        std::string idb;
        putLe(idb, linkType, 2);
        putLe(idb, 0, 2);
        putLe(idb, 262144, 4);
        block(1, idb);
    }
    PcapngBytes& packet(const std::string& frame, std::uint64_t timeMicros) {
        std::string epb;
        putLe(epb, 0, 4); // interface 0
        putLe(epb, timeMicros >> 32, 4);
        putLe(epb, timeMicros & 0xffffffff, 4);
        putLe(epb, frame.size(), 4);
        putLe(epb, frame.size(), 4);
        epb += frame;
        while (epb.size() % 4)
            epb.push_back('\0');
        block(6, epb);
        return *this;
    }
    const std::string& bytes() const { return m_bytes; }

private:
    void block(std::uint32_t type, const std::string& body) {
        const std::size_t length = 12 + body.size();
        putLe(m_bytes, type, 4);
        putLe(m_bytes, length, 4);
        m_bytes += body;
        putLe(m_bytes, length, 4);
    }
    std::string m_bytes;
};

inline sentova::pcap::Datagram datagram(std::string bytes, std::uint64_t timeMicros = 0,
                                        std::uint16_t sourcePort = 4366,
                                        std::uint16_t destinationPort = 50000) {
    sentova::pcap::Datagram d;
    d.timeMicros = timeMicros;
    d.sourceAddress = 0x7f000002; // 127.0.0.2
    d.sourcePort = sourcePort;
    d.destinationAddress = 0x7f000001;
    d.destinationPort = destinationPort;
    d.bytes = std::move(bytes);
    return d;
}

// A raw-IP frame carrying the datagram.
inline std::string rawFrame(const sentova::pcap::Datagram& d) {
    return sentova::pcap::encodeIpv4Udp(d);
}

// A file in a private temporary folder, removed with the object.
class TempFile {
public:
    explicit TempFile(const std::string& name) {
        char folder[] = "/tmp/pcap-test-XXXXXX";
        m_folder = ::mkdtemp(folder);
        m_path = m_folder + "/" + name;
    }
    ~TempFile() {
        std::remove(m_path.c_str());
        ::rmdir(m_folder.c_str());
    }
    const std::string& path() const { return m_path; }
    void write(const std::string& bytes) const {
        std::ofstream(m_path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    }
    std::string read() const {
        std::ifstream in(m_path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string m_folder;
    std::string m_path;
};

} // namespace pcaptest
