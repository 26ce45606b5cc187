#include "SentovaPcap/Capture.h"

#include <pcap/pcap.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sentova {
namespace pcap {

namespace {

// Room for the largest IPv4 packet behind the longest link header.
constexpr int kSnapLength = 262144;
constexpr std::size_t kFileHeaderSize = 24;
constexpr std::size_t kRecordHeaderSize = 16;
constexpr std::size_t kFileBufferSize = 1 << 20;

std::string errorText(int error) {
    return error != 0 ? std::strerror(error) : "write error";
}

std::string packetsText(std::uint64_t n) {
    return std::to_string(n) + (n == 1 ? " packet" : " packets");
}

} // namespace

// ---------------------------------------------------------------- Writer

struct Writer::Handles {
    pcap_t* dead = nullptr;
    pcap_dumper_t* dumper = nullptr;
    std::FILE* file = nullptr;
};

Writer::Writer(const std::string& path, LinkType type)
    : m_path(path), m_linkHeader(linkHeader(type)), m_fileBuffer(kFileBufferSize),
      m_handles(new Handles) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        throw CaptureError(path + ": cannot create: " + std::strerror(errno));
    std::setvbuf(file, m_fileBuffer.data(), _IOFBF, m_fileBuffer.size());
    pcap_t* dead = pcap_open_dead_with_tstamp_precision(datalinkOf(type), kSnapLength,
                                                        PCAP_TSTAMP_PRECISION_MICRO);
    if (!dead) {
        std::fclose(file);
        throw CaptureError(path + ": cannot start a capture file");
    }
    pcap_dumper_t* dumper = pcap_dump_fopen(dead, file);
    if (!dumper) {
        const std::string why = pcap_geterr(dead);
        std::fclose(file);
        pcap_close(dead);
        throw CaptureError(path + ": cannot write: " + why);
    }
    m_handles->dead = dead;
    m_handles->dumper = dumper;
    m_handles->file = file;
    m_bytes = kFileHeaderSize;
}

Writer::~Writer() {
    if (m_handles->dumper)
        pcap_dump_close(m_handles->dumper);
    if (m_handles->dead)
        pcap_close(m_handles->dead);
}

void Writer::fail(const std::string& what, int error) {
    m_failed = true;
    throw CaptureError(m_path + ": " + what + ": " + errorText(error));
}

void Writer::write(const Datagram& d) {
    write(d.timeMicros, d.sourceAddress, d.sourcePort, d.destinationAddress, d.destinationPort,
          d.bytes.data(), d.bytes.size());
}

void Writer::write(std::uint64_t timeMicros, std::uint32_t sourceAddress, std::uint16_t sourcePort,
                   std::uint32_t destinationAddress, std::uint16_t destinationPort,
                   const char* data, std::size_t size) {
    if (m_failed || !m_handles->dumper)
        throw CaptureError(m_path + ": not writing after an earlier error or close");
    m_frame = m_linkHeader;
    appendIpv4Udp(m_frame, sourceAddress, sourcePort, destinationAddress, destinationPort, data,
                  size, m_identification++);
    pcap_pkthdr header{};
    header.ts.tv_sec = static_cast<time_t>(timeMicros / 1000000);
    header.ts.tv_usec = static_cast<suseconds_t>(timeMicros % 1000000);
    header.caplen = header.len = static_cast<bpf_u_int32>(m_frame.size());
    errno = 0;
    pcap_dump(reinterpret_cast<u_char*>(m_handles->dumper), &header,
              reinterpret_cast<const u_char*>(m_frame.data()));
    if (std::ferror(m_handles->file))
        fail("cannot write", errno);
    m_bytes += kRecordHeaderSize + m_frame.size();
    ++m_packets;
}

void Writer::flush() {
    if (m_failed || !m_handles->dumper)
        throw CaptureError(m_path + ": not writing after an earlier error or close");
    errno = 0;
    if (pcap_dump_flush(m_handles->dumper) != 0 || std::ferror(m_handles->file))
        fail("cannot write", errno);
}

void Writer::close() {
    if (!m_handles->dumper)
        return;
    std::string problem;
    if (!m_failed) {
        errno = 0;
        if (pcap_dump_flush(m_handles->dumper) != 0 || std::ferror(m_handles->file))
            problem = "cannot write: " + errorText(errno);
        // Devices and some file systems cannot sync; that is no failure of the data.
        else if (::fsync(fileno(m_handles->file)) != 0 && errno != EINVAL && errno != EROFS)
            problem = "cannot write: " + errorText(errno);
    }
    pcap_dump_close(m_handles->dumper);
    pcap_close(m_handles->dead);
    m_handles->dumper = nullptr;
    m_handles->dead = nullptr;
    m_handles->file = nullptr;
    if (!problem.empty()) {
        m_failed = true;
        throw CaptureError(m_path + ": " + problem);
    }
}

// ---------------------------------------------------------------- Reader

std::uint64_t SkippedPackets::total() const {
    std::uint64_t n = 0;
    for (const Kind& k : byProblem)
        n += k.count;
    return n;
}

struct Reader::Handles {
    pcap_t* pcap = nullptr;
};

Reader::Reader(const std::string& path) : m_name(path), m_handles(new Handles) {
    std::FILE* stream = std::fopen(path.c_str(), "rb");
    if (!stream)
        throw CaptureError(path + ": cannot open: " + std::strerror(errno));
    struct stat info {};
    if (::fstat(fileno(stream), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            std::fclose(stream);
            throw CaptureError(path + ": is a folder, not a capture file");
        }
        m_fileSize = static_cast<std::uint64_t>(info.st_size);
    }
    open(stream);
}

Reader::Reader(std::FILE* stream, const std::string& name) : m_name(name), m_handles(new Handles) {
    open(stream);
}

void Reader::open(std::FILE* stream) {
    char error[PCAP_ERRBUF_SIZE] = {0};
    pcap_t* p =
        pcap_fopen_offline_with_tstamp_precision(stream, PCAP_TSTAMP_PRECISION_MICRO, error);
    if (!p) {
        std::fclose(stream);
        throw CaptureError(m_name + ": not a readable pcap or pcapng file (" + error + ")");
    }
    const int datalink = pcap_datalink(p);
    if (!linkTypeFromDatalink(datalink, m_type)) {
        const char* name = pcap_datalink_val_to_name(datalink);
        const char* description = pcap_datalink_val_to_description(datalink);
        std::string what = "link type " + std::to_string(datalink);
        if (name)
            what += std::string(" (") + name +
                    (description ? std::string(", ") + description : "") + ")";
        pcap_close(p);
        throw CaptureError(m_name + ": " + what +
                           " is not read here; captures must be Ethernet, raw IP or Linux "
                           "cooked (v1 or v2)");
    }
    m_handles->pcap = p;
}

Reader::~Reader() {
    if (m_handles->pcap)
        pcap_close(m_handles->pcap);
}

bool Reader::next(Datagram& out) {
    while (!m_ended) {
        pcap_pkthdr* header = nullptr;
        const u_char* data = nullptr;
        const int got = pcap_next_ex(m_handles->pcap, &header, &data);
        if (got == PCAP_ERROR_BREAK) {
            m_ended = true;
            break;
        }
        if (got != 1) {
            m_ended = true;
            m_damage = m_name + ": damaged after " + packetsText(m_packets) + ": " +
                       pcap_geterr(m_handles->pcap);
            break;
        }
        ++m_packets;
        ParsedFrame frame = parseFrame(m_type, data, header->caplen, header->len);
        if (frame.problem != FrameProblem::None) {
            SkippedPackets::Kind& kind =
                m_skipped.byProblem[static_cast<std::size_t>(frame.problem)];
            if (kind.count++ == 0) {
                kind.firstPacket = m_packets;
                kind.firstDetail = std::move(frame.detail);
            }
            continue;
        }
        out = std::move(frame.datagram);
        const auto seconds = header->ts.tv_sec < 0 ? 0 : std::uint64_t(header->ts.tv_sec);
        const auto micros = header->ts.tv_usec < 0 ? 0 : std::uint64_t(header->ts.tv_usec);
        out.timeMicros = seconds * 1000000 + micros;
        ++m_datagrams;
        return true;
    }
    return false;
}

std::string Reader::report() const {
    std::string text;
    if (!m_damage.empty())
        text = m_damage;
    const std::uint64_t skipped = m_skipped.total();
    if (skipped == 0)
        return text;
    text += text.empty() ? m_name + ": " : "; ";
    text += "passed over " + packetsText(skipped) + " that are not IPv4 UDP datagrams:";
    bool first = true;
    for (std::size_t i = 0; i < m_skipped.byProblem.size(); ++i) {
        const SkippedPackets::Kind& kind = m_skipped.byProblem[i];
        if (kind.count == 0)
            continue;
        text += first ? " " : ", ";
        first = false;
        text += std::to_string(kind.count) + " " + problemText(static_cast<FrameProblem>(i)) +
                " (first: packet " + std::to_string(kind.firstPacket) + ", " + kind.firstDetail +
                ")";
    }
    return text;
}

std::uint64_t Reader::position() const {
    std::FILE* file = pcap_file(m_handles->pcap);
    if (!file)
        return 0;
    const off_t at = ftello(file);
    return at < 0 ? 0 : static_cast<std::uint64_t>(at);
}

bool Reader::seek(std::uint64_t position) {
    std::FILE* file = pcap_file(m_handles->pcap);
    if (!file || fseeko(file, static_cast<off_t>(position), SEEK_SET) != 0)
        return false;
    // Damage found further on may not be met again from here.
    m_ended = false;
    m_damage.clear();
    return true;
}

std::vector<Datagram> readDatagrams(const std::string& path, std::string* report) {
    Reader reader(path);
    std::vector<Datagram> datagrams;
    Datagram d;
    while (reader.next(d))
        datagrams.push_back(std::move(d));
    if (report)
        *report = reader.report();
    return datagrams;
}

} // namespace pcap
} // namespace sentova
