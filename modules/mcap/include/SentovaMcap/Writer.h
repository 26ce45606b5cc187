// Writes an MCAP file: schemas and channels, then messages gathered into chunks (each followed by
// its message indexes), and at the end a summary (schemas, channels, chunk indexes, statistics)
// with its offsets and the footer, so that readers can seek by time. One thread at a time.
#pragma once

#include "SentovaMcap/Records.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace sentova {
namespace mcap {

// A file that cannot be created or written; what() names the file.
class McapError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Compression { None, Zstd };

// "none", "zstd"; false for any other name.
bool compressionFromName(const std::string& name, Compression& out);

struct WriterOptions {
    Compression compression = Compression::Zstd;
    // A chunk is closed once its records reach this size; a larger message has a chunk alone.
    std::size_t chunkSize = 4 << 20;
    int zstdLevel = 3;
    std::string profile;
    std::string library = "sentova";
};

class Writer {
public:
    // Creates (or replaces) the file and writes the magic and the header. Throws McapError.
    Writer(const std::string& path, WriterOptions options = {});
    // Closes the file if close() was not called; an error then is lost.
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // Ids count from 1 (0 is "no schema").
    std::uint16_t addSchema(const std::string& name, const std::string& encoding,
                            const std::string& data);
    std::uint16_t addChannel(std::uint16_t schemaId, const std::string& topic,
                             const std::string& messageEncoding,
                             const std::map<std::string, std::string>& metadata = {});
    // Times in nanoseconds since the Unix epoch. Messages of a channel get its next sequence
    // number. Throws McapError.
    void write(std::uint16_t channelId, std::uint64_t logTime, std::uint64_t publishTime,
               const std::string& data);
    // Writes the last chunk, the summary and the footer, and closes. Throws McapError; the file
    // is closed either way. Harmless when closed already.
    void close();

    std::uint64_t messagesWritten() const { return m_statistics.messageCount; }
    const std::string& path() const { return m_path; }

private:
    struct Channel {
        std::uint32_t sequence = 0;
        // This chunk's (log time, offset in its records).
        std::vector<std::pair<std::uint64_t, std::uint64_t>> index;
    };

    void put(const std::string& bytes);
    void put(const char* data, std::size_t size);
    void flushChunk();
    [[noreturn]] void fail(const std::string& what);

    std::string m_path;
    WriterOptions m_options;
    std::FILE* m_file = nullptr;
    bool m_failed = false;
    std::uint64_t m_offset = 0;
    std::uint32_t m_sectionCrc = 0;      // of the section being written: data, then summary
    std::vector<std::string> m_schemas;  // records, for the summary
    std::vector<std::string> m_channels; // records, for the summary
    std::map<std::uint16_t, Channel> m_channelState;
    std::string m_chunk; // uncompressed records of the open chunk
    std::uint64_t m_chunkStart = 0;
    std::uint64_t m_chunkEnd = 0;
    std::vector<ChunkIndexInfo> m_chunkIndexes;
    StatisticsInfo m_statistics;
};

} // namespace mcap
} // namespace sentova
