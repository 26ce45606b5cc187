// The records of an MCAP file as pure encodings: each function returns the whole record (opcode,
// length, content), little-endian as the format has it. No state; any thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace sentova {
namespace mcap {

// The eight bytes at the start and at the end of every file.
extern const std::string kMagic;

enum class Opcode : std::uint8_t {
    Header = 0x01,
    Footer = 0x02,
    Schema = 0x03,
    Channel = 0x04,
    Message = 0x05,
    Chunk = 0x06,
    MessageIndex = 0x07,
    ChunkIndex = 0x08,
    Statistics = 0x0B,
    SummaryOffset = 0x0E,
    DataEnd = 0x0F,
};

// Opcode and length before every record's content.
constexpr std::size_t kRecordPrefixSize = 9;

// CRC-32 (IEEE 802.3, reflected, as zlib computes it), continued from crc.
std::uint32_t crc32(const void* data, std::size_t size, std::uint32_t crc = 0);

struct ChunkIndexInfo {
    std::uint64_t messageStartTime = 0;
    std::uint64_t messageEndTime = 0;
    std::uint64_t chunkStartOffset = 0;                         // file offset of the chunk record
    std::uint64_t chunkLength = 0;                              // the whole chunk record
    std::map<std::uint16_t, std::uint64_t> messageIndexOffsets; // channel: file offset
    std::uint64_t messageIndexLength = 0; // all the chunk's message index records
    std::string compression;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
};

struct StatisticsInfo {
    std::uint64_t messageCount = 0;
    std::uint16_t schemaCount = 0;
    std::uint32_t channelCount = 0;
    std::uint32_t chunkCount = 0;
    std::uint64_t messageStartTime = 0;
    std::uint64_t messageEndTime = 0;
    std::map<std::uint16_t, std::uint64_t> channelMessageCounts;
};

std::string encodeHeader(const std::string& profile, const std::string& library);
std::string encodeFooter(std::uint64_t summaryStart, std::uint64_t summaryOffsetStart,
                         std::uint32_t summaryCrc);
std::string encodeSchema(std::uint16_t id, const std::string& name, const std::string& encoding,
                         const std::string& data);
std::string encodeChannel(std::uint16_t id, std::uint16_t schemaId, const std::string& topic,
                          const std::string& messageEncoding,
                          const std::map<std::string, std::string>& metadata);
// The message record without its data, which follows it: large messages are not copied.
std::string encodeMessageHead(std::uint16_t channelId, std::uint32_t sequence,
                              std::uint64_t logTime, std::uint64_t publishTime,
                              std::size_t dataSize);
std::string encodeChunkHead(std::uint64_t messageStartTime, std::uint64_t messageEndTime,
                            std::uint64_t uncompressedSize, std::uint32_t uncompressedCrc,
                            const std::string& compression, std::size_t recordsSize);
// (log time, offset of the message record inside the chunk's uncompressed records)
std::string encodeMessageIndex(std::uint16_t channelId,
                               const std::vector<std::pair<std::uint64_t, std::uint64_t>>& entries);
std::string encodeChunkIndex(const ChunkIndexInfo& chunk);
std::string encodeStatistics(const StatisticsInfo& statistics);
std::string encodeSummaryOffset(Opcode group, std::uint64_t groupStart, std::uint64_t groupLength);
std::string encodeDataEnd(std::uint32_t dataSectionCrc);

} // namespace mcap
} // namespace sentova
