// Capture files through libpcap: a writer of IPv4/UDP datagrams and a reader
// that yields the IPv4/UDP datagrams of pcap and pcapng files (link types
// Ethernet, raw IP, Linux cooked v1 and v2). One object is used by one thread
// at a time; distinct objects are independent.
#pragma once

#include "SentovaPcap/Frames.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace sentova {
namespace pcap {

// A file that cannot be opened, read or written; what() names the file and
// says what is wrong.
class CaptureError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Writer {
public:
    // Creates (or replaces) the file and writes its header. Throws CaptureError.
    explicit Writer(const std::string& path, LinkType type = LinkType::Raw);
    // Closes the file; an error at this point is lost, so call close() first.
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // Appends one packet, stamped with the datagram's time, carrying it with
    // synthetic IPv4/UDP headers. Buffered; throws CaptureError when the system
    // refuses the bytes (a full disk), after which the writer takes no more.
    void write(const Datagram& datagram);
    void write(std::uint64_t timeMicros, std::uint32_t sourceAddress, std::uint16_t sourcePort,
               std::uint32_t destinationAddress, std::uint16_t destinationPort, const char* data,
               std::size_t size);
    // Hands everything buffered to the system. Throws CaptureError.
    void flush();
    // Flushes, syncs to the disk and closes. Throws CaptureError; the file is
    // closed either way. Harmless when closed already.
    void close();

    // The file's size including what is still buffered.
    std::uint64_t bytesWritten() const { return m_bytes; }
    std::uint64_t packetsWritten() const { return m_packets; }
    const std::string& path() const { return m_path; }

private:
    [[noreturn]] void fail(const std::string& what, int error);

    std::string m_path;
    std::string m_linkHeader;
    std::vector<char> m_fileBuffer; // stdio's buffer for the file; outlives it
    struct Handles;
    std::unique_ptr<Handles> m_handles;
    std::string m_frame; // reused for every packet
    std::uint16_t m_identification = 0;
    std::uint64_t m_bytes = 0;
    std::uint64_t m_packets = 0;
    bool m_failed = false;
};

// The packets a reader passed over, by reason.
struct SkippedPackets {
    struct Kind {
        std::uint64_t count = 0;
        std::uint64_t firstPacket = 0; // 1-based packet number in the file
        std::string firstDetail;
    };
    std::array<Kind, 7> byProblem; // indexed by FrameProblem
    std::uint64_t total() const;
};

class Reader {
public:
    // Opens a pcap or pcapng file. Throws CaptureError when it cannot be read,
    // is not a capture, or is of a link type not read here.
    explicit Reader(const std::string& path);
    // Reads from an open stream, which the reader then owns; name is used in
    // messages.
    Reader(std::FILE* stream, const std::string& name);
    ~Reader();
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // The next IPv4 UDP datagram. Packets that are not (other protocols,
    // fragments, short packets) are passed over and counted. False at the end
    // of the file, or where the file is damaged: then damage() says how.
    bool next(Datagram& out);

    LinkType linkType() const { return m_type; }
    const std::string& name() const { return m_name; }
    std::uint64_t packetsRead() const { return m_packets; }
    std::uint64_t datagramsRead() const { return m_datagrams; }
    const SkippedPackets& skipped() const { return m_skipped; }
    // Empty when the file ended cleanly; otherwise "<name>: damaged after
    // packet N: ...".
    const std::string& damage() const { return m_damage; }
    // One line on everything wrong so far (damage and packets passed over),
    // naming the file; empty when nothing was.
    std::string report() const;
    // How far into the file reading has come, and its size, for progress (0
    // when unknown).
    std::uint64_t position() const;
    std::uint64_t fileSize() const { return m_fileSize; }
    // Goes back (or on) to a position that position() gave before a call of
    // next(), so that next() reads again from there. False when the stream
    // cannot seek; the reader is then where it was.
    bool seek(std::uint64_t position);

private:
    void open(std::FILE* stream);

    std::string m_name;
    struct Handles;
    std::unique_ptr<Handles> m_handles;
    LinkType m_type = LinkType::Raw;
    std::uint64_t m_packets = 0;
    std::uint64_t m_datagrams = 0;
    std::uint64_t m_fileSize = 0;
    SkippedPackets m_skipped;
    std::string m_damage;
    bool m_ended = false;
};

// Every IPv4 UDP datagram of a file, in file order; what was wrong goes to
// *report (see Reader::report). Throws CaptureError as Reader does.
std::vector<Datagram> readDatagrams(const std::string& path, std::string* report = nullptr);

} // namespace pcap
} // namespace sentova
