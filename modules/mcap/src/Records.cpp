#include "SentovaMcap/Records.h"

#include <array>
#include <cstring>

namespace sentova {
namespace mcap {

const std::string kMagic("\x89MCAP0\r\n", 8);

namespace {

// Slicing by eight: table k gives the CRC of a byte followed by k zero bytes, so that eight
// bytes are folded in per step. Checksums take a good part of writing a file otherwise.
const std::array<std::array<std::uint32_t, 256>, 8> kCrcTables = [] {
    std::array<std::array<std::uint32_t, 256>, 8> tables{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        tables[0][i] = c;
    }
    for (std::uint32_t i = 0; i < 256; ++i)
        for (std::size_t k = 1; k < 8; ++k)
            tables[k][i] = tables[0][tables[k - 1][i] & 0xFF] ^ (tables[k - 1][i] >> 8);
    return tables;
}();

// Content is built first, then the record: the length goes before it.
class Content {
public:
    Content& u8(std::uint8_t v) {
        m_bytes.push_back(static_cast<char>(v));
        return *this;
    }
    Content& u16(std::uint16_t v) { return little(v, 2); }
    Content& u32(std::uint32_t v) { return little(v, 4); }
    Content& u64(std::uint64_t v) { return little(v, 8); }
    Content& string(const std::string& s) {
        u32(static_cast<std::uint32_t>(s.size()));
        m_bytes += s;
        return *this;
    }
    Content& raw(const std::string& s) {
        m_bytes += s;
        return *this;
    }
    const std::string& bytes() const { return m_bytes; }

    std::string record(Opcode op, std::size_t trailing = 0) const {
        Content r;
        r.u8(static_cast<std::uint8_t>(op)).u64(m_bytes.size() + trailing);
        return r.m_bytes + m_bytes;
    }

private:
    Content& little(std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            m_bytes.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        return *this;
    }

    std::string m_bytes;
};

// The entries of a map<uint16, uint64>, as chunk indexes and statistics hold them per channel.
Content byChannel(const std::map<std::uint16_t, std::uint64_t>& values) {
    Content entries;
    for (const auto& [channel, value] : values)
        entries.u16(channel).u64(value);
    return entries;
}

// A map or an array is prefixed by its length in bytes, not in entries.
Content& prefixed(Content& out, const Content& entries) {
    return out.string(entries.bytes());
}

} // namespace

std::uint32_t crc32(const void* data, std::size_t size, std::uint32_t crc) {
    const auto* p = static_cast<const unsigned char*>(data);
    const auto& t = kCrcTables;
    crc = ~crc;
    // Little-endian machines only, as the whole format.
    for (; size >= 8; size -= 8, p += 8) {
        std::uint32_t low = 0;
        std::uint32_t high = 0;
        std::memcpy(&low, p, 4);
        std::memcpy(&high, p + 4, 4);
        low ^= crc;
        crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^
              t[4][low >> 24] ^ t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^
              t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
    }
    for (; size > 0; --size, ++p)
        crc = t[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::string encodeHeader(const std::string& profile, const std::string& library) {
    return Content().string(profile).string(library).record(Opcode::Header);
}

std::string encodeFooter(std::uint64_t summaryStart, std::uint64_t summaryOffsetStart,
                         std::uint32_t summaryCrc) {
    return Content()
        .u64(summaryStart)
        .u64(summaryOffsetStart)
        .u32(summaryCrc)
        .record(Opcode::Footer);
}

std::string encodeSchema(std::uint16_t id, const std::string& name, const std::string& encoding,
                         const std::string& data) {
    return Content().u16(id).string(name).string(encoding).string(data).record(Opcode::Schema);
}

std::string encodeChannel(std::uint16_t id, std::uint16_t schemaId, const std::string& topic,
                          const std::string& messageEncoding,
                          const std::map<std::string, std::string>& metadata) {
    Content entries;
    for (const auto& [key, value] : metadata)
        entries.string(key).string(value);
    Content c;
    c.u16(id).u16(schemaId).string(topic).string(messageEncoding);
    return prefixed(c, entries).record(Opcode::Channel);
}

std::string encodeMessageHead(std::uint16_t channelId, std::uint32_t sequence,
                              std::uint64_t logTime, std::uint64_t publishTime,
                              std::size_t dataSize) {
    return Content()
        .u16(channelId)
        .u32(sequence)
        .u64(logTime)
        .u64(publishTime)
        .record(Opcode::Message, dataSize);
}

std::string encodeChunkHead(std::uint64_t messageStartTime, std::uint64_t messageEndTime,
                            std::uint64_t uncompressedSize, std::uint32_t uncompressedCrc,
                            const std::string& compression, std::size_t recordsSize) {
    return Content()
        .u64(messageStartTime)
        .u64(messageEndTime)
        .u64(uncompressedSize)
        .u32(uncompressedCrc)
        .string(compression)
        .u64(recordsSize)
        .record(Opcode::Chunk, recordsSize);
}

std::string
encodeMessageIndex(std::uint16_t channelId,
                   const std::vector<std::pair<std::uint64_t, std::uint64_t>>& entries) {
    Content list;
    for (const auto& [time, offset] : entries)
        list.u64(time).u64(offset);
    Content c;
    c.u16(channelId);
    return prefixed(c, list).record(Opcode::MessageIndex);
}

std::string encodeChunkIndex(const ChunkIndexInfo& chunk) {
    const Content offsets = byChannel(chunk.messageIndexOffsets);
    Content c;
    c.u64(chunk.messageStartTime)
        .u64(chunk.messageEndTime)
        .u64(chunk.chunkStartOffset)
        .u64(chunk.chunkLength);
    prefixed(c, offsets)
        .u64(chunk.messageIndexLength)
        .string(chunk.compression)
        .u64(chunk.compressedSize)
        .u64(chunk.uncompressedSize);
    return c.record(Opcode::ChunkIndex);
}

std::string encodeStatistics(const StatisticsInfo& s) {
    const Content counts = byChannel(s.channelMessageCounts);
    Content c;
    c.u64(s.messageCount)
        .u16(s.schemaCount)
        .u32(s.channelCount)
        .u32(0) // attachments
        .u32(0) // metadata records
        .u32(s.chunkCount)
        .u64(s.messageStartTime)
        .u64(s.messageEndTime);
    return prefixed(c, counts).record(Opcode::Statistics);
}

std::string encodeSummaryOffset(Opcode group, std::uint64_t groupStart, std::uint64_t groupLength) {
    return Content()
        .u8(static_cast<std::uint8_t>(group))
        .u64(groupStart)
        .u64(groupLength)
        .record(Opcode::SummaryOffset);
}

std::string encodeDataEnd(std::uint32_t dataSectionCrc) {
    return Content().u32(dataSectionCrc).record(Opcode::DataEnd);
}

} // namespace mcap
} // namespace sentova
