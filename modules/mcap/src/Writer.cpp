#include "SentovaMcap/Writer.h"

#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sentova {
namespace mcap {

bool compressionFromName(const std::string& name, Compression& out) {
    if (name == "none") {
        out = Compression::None;
        return true;
    }
    if (name == "zstd") {
        out = Compression::Zstd;
        return true;
    }
    return false;
}

Writer::Writer(const std::string& path, WriterOptions options)
    : m_path(path), m_options(std::move(options)) {
    m_file = std::fopen(path.c_str(), "wb");
    if (m_file == nullptr)
        throw McapError(path + ": cannot create: " + std::strerror(errno));
    put(kMagic);
    put(encodeHeader(m_options.profile, m_options.library));
}

Writer::~Writer() {
    if (m_file != nullptr) {
        try {
            close();
        } catch (const McapError&) {
        }
    }
}

void Writer::fail(const std::string& what) {
    m_failed = true;
    throw McapError(m_path + ": " + what);
}

void Writer::put(const std::string& bytes) {
    put(bytes.data(), bytes.size());
}

void Writer::put(const char* data, std::size_t size) {
    if (m_failed || m_file == nullptr)
        fail("the file is closed after an error");
    if (size > 0 && std::fwrite(data, 1, size, m_file) != size)
        fail(std::string("cannot write: ") + std::strerror(errno));
    m_sectionCrc = crc32(data, size, m_sectionCrc);
    m_offset += size;
}

std::uint16_t Writer::addSchema(const std::string& name, const std::string& encoding,
                                const std::string& data) {
    const auto id = static_cast<std::uint16_t>(m_schemas.size() + 1);
    m_schemas.push_back(encodeSchema(id, name, encoding, data));
    // Outside any chunk, before the messages that need it: a streaming reader meets it first.
    put(m_schemas.back());
    m_statistics.schemaCount = static_cast<std::uint16_t>(m_schemas.size());
    return id;
}

std::uint16_t Writer::addChannel(std::uint16_t schemaId, const std::string& topic,
                                 const std::string& messageEncoding,
                                 const std::map<std::string, std::string>& metadata) {
    const auto id = static_cast<std::uint16_t>(m_channels.size() + 1);
    m_channels.push_back(encodeChannel(id, schemaId, topic, messageEncoding, metadata));
    put(m_channels.back());
    m_channelState[id];
    m_statistics.channelCount = static_cast<std::uint32_t>(m_channels.size());
    m_statistics.channelMessageCounts[id] = 0;
    return id;
}

void Writer::write(std::uint16_t channelId, std::uint64_t logTime, std::uint64_t publishTime,
                   const std::string& data) {
    const auto channel = m_channelState.find(channelId);
    if (channel == m_channelState.end())
        throw std::invalid_argument("MCAP message for an unknown channel");
    if (m_file == nullptr)
        fail("the file is closed");
    const std::size_t size = kRecordPrefixSize + 22 + data.size();
    if (!m_chunk.empty() && m_chunk.size() + size > m_options.chunkSize)
        flushChunk();
    if (m_chunk.empty()) {
        m_chunkStart = logTime;
        m_chunkEnd = logTime;
    }
    m_chunkStart = std::min(m_chunkStart, logTime);
    m_chunkEnd = std::max(m_chunkEnd, logTime);
    channel->second.index.emplace_back(logTime, m_chunk.size());
    m_chunk +=
        encodeMessageHead(channelId, channel->second.sequence++, logTime, publishTime, data.size());
    m_chunk += data;

    StatisticsInfo& s = m_statistics;
    if (s.messageCount == 0) {
        s.messageStartTime = logTime;
        s.messageEndTime = logTime;
    }
    s.messageStartTime = std::min(s.messageStartTime, logTime);
    s.messageEndTime = std::max(s.messageEndTime, logTime);
    ++s.messageCount;
    ++s.channelMessageCounts[channelId];
    if (m_chunk.size() >= m_options.chunkSize)
        flushChunk();
}

void Writer::flushChunk() {
    if (m_chunk.empty())
        return;
    const std::uint32_t crc = crc32(m_chunk.data(), m_chunk.size());
    std::string compressed;
    const std::string* records = &m_chunk;
    std::string compression;
    if (m_options.compression == Compression::Zstd) {
        compressed.resize(ZSTD_compressBound(m_chunk.size()));
        const std::size_t n = ZSTD_compress(compressed.data(), compressed.size(), m_chunk.data(),
                                            m_chunk.size(), m_options.zstdLevel);
        if (ZSTD_isError(n))
            fail(std::string("zstd: ") + ZSTD_getErrorName(n));
        compressed.resize(n);
        records = &compressed;
        compression = "zstd";
    }
    ChunkIndexInfo index;
    index.messageStartTime = m_chunkStart;
    index.messageEndTime = m_chunkEnd;
    index.chunkStartOffset = m_offset;
    index.compression = compression;
    index.compressedSize = records->size();
    index.uncompressedSize = m_chunk.size();
    put(encodeChunkHead(m_chunkStart, m_chunkEnd, m_chunk.size(), crc, compression,
                        records->size()));
    put(*records);
    index.chunkLength = m_offset - index.chunkStartOffset;

    const std::uint64_t indexesStart = m_offset;
    for (auto& [id, channel] : m_channelState) {
        if (channel.index.empty())
            continue;
        // Readers expect each channel's entries in time order; messages need not be.
        std::stable_sort(channel.index.begin(), channel.index.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        index.messageIndexOffsets[id] = m_offset;
        put(encodeMessageIndex(id, channel.index));
        channel.index.clear();
    }
    index.messageIndexLength = m_offset - indexesStart;
    m_chunkIndexes.push_back(std::move(index));
    m_statistics.chunkCount = static_cast<std::uint32_t>(m_chunkIndexes.size());
    m_chunk.clear();
}

void Writer::close() {
    if (m_file == nullptr)
        return;
    try {
        if (m_failed)
            fail("not finished after an error");
        flushChunk();
        put(encodeDataEnd(m_sectionCrc));

        // The summary's CRC runs from its start through the footer's offsets.
        const std::uint64_t summaryStart = m_offset;
        m_sectionCrc = 0;
        std::vector<std::string> offsets;
        const auto group = [&](Opcode op, const std::vector<std::string>& records) {
            if (records.empty())
                return;
            const std::uint64_t start = m_offset;
            for (const std::string& r : records)
                put(r);
            offsets.push_back(encodeSummaryOffset(op, start, m_offset - start));
        };
        group(Opcode::Schema, m_schemas);
        group(Opcode::Channel, m_channels);
        std::vector<std::string> chunkIndexes;
        for (const ChunkIndexInfo& c : m_chunkIndexes)
            chunkIndexes.push_back(encodeChunkIndex(c));
        group(Opcode::ChunkIndex, chunkIndexes);
        group(Opcode::Statistics, {encodeStatistics(m_statistics)});
        const std::uint64_t summaryOffsetStart = m_offset;
        for (const std::string& o : offsets)
            put(o);
        // The footer's CRC field and the magic are outside the CRC.
        const std::string footer = encodeFooter(summaryStart, summaryOffsetStart, 0);
        const std::string covered = footer.substr(0, footer.size() - 4);
        const std::uint32_t crc = crc32(covered.data(), covered.size(), m_sectionCrc);
        put(encodeFooter(summaryStart, summaryOffsetStart, crc));
        put(kMagic);
    } catch (const McapError&) {
        std::fclose(m_file);
        m_file = nullptr;
        throw;
    }
    const bool flushed = std::fflush(m_file) == 0;
    const int error = errno;
    const bool closed = std::fclose(m_file) == 0;
    m_file = nullptr;
    if (!flushed || !closed)
        throw McapError(m_path + ": cannot write: " + std::strerror(flushed ? errno : error));
}

} // namespace mcap
} // namespace sentova
