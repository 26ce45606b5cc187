// The MCAP record encodings and the JSON messages, byte by byte.
#include "SentovaMcap/Foxglove.h"
#include "SentovaMcap/Records.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace sentova::mcap;

namespace {

std::uint64_t u64At(const std::string& s, std::size_t at) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(s[at + i]);
    return v;
}

std::uint32_t u32At(const std::string& s, std::size_t at) {
    return static_cast<std::uint32_t>(u64At(s + std::string(4, '\0'), at) & 0xFFFFFFFFu);
}

} // namespace

TEST(McapRecords, Crc32IsZlibsAndContinues) {
    EXPECT_EQ(crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(crc32("", 0), 0u);
    EXPECT_EQ(crc32("6789", 4, crc32("12345", 5)), 0xCBF43926u);
    // Eight bytes a step and the rest one by one: every split of a longer text agrees.
    const std::string fox = "The quick brown fox jumps over the lazy dog";
    EXPECT_EQ(crc32(fox.data(), fox.size()), 0x414FA339u);
    for (std::size_t cut = 0; cut <= fox.size(); ++cut) {
        EXPECT_EQ(crc32(fox.data() + cut, fox.size() - cut, crc32(fox.data(), cut)), 0x414FA339u)
            << cut;
    }
}

TEST(McapRecords, EveryRecordIsOpcodeLengthContent) {
    const std::string header = encodeHeader("", "sentova");
    ASSERT_EQ(header.size(), kRecordPrefixSize + 4 + 4 + 7);
    EXPECT_EQ(header[0], 0x01);
    EXPECT_EQ(u64At(header, 1), header.size() - kRecordPrefixSize);
    EXPECT_EQ(u32At(header, 9), 0u);
    EXPECT_EQ(u32At(header, 13), 7u);
    EXPECT_EQ(header.substr(17), "sentova");

    EXPECT_EQ(kMagic, std::string("\x89MCAP0\r\n", 8));
    const std::string end = encodeDataEnd(0xA1B2C3D4u);
    EXPECT_EQ(end, std::string("\x0F\x04\0\0\0\0\0\0\0\xD4\xC3\xB2\xA1", 13));
}

TEST(McapRecords, AMessageHeadCountsTheDataThatFollowsIt) {
    const std::string head = encodeMessageHead(3, 7, 0x0102030405060708u, 9, 1000);
    ASSERT_EQ(head.size(), kRecordPrefixSize + 22);
    EXPECT_EQ(head[0], 0x05);
    EXPECT_EQ(u64At(head, 1), 22u + 1000u);
    EXPECT_EQ(head[9], 3);
    EXPECT_EQ(u32At(head, 11), 7u);
    EXPECT_EQ(u64At(head, 15), 0x0102030405060708u);
    EXPECT_EQ(u64At(head, 23), 9u);

    const std::string chunk = encodeChunkHead(1, 2, 300, 0xDEADBEEF, "zstd", 120);
    EXPECT_EQ(u64At(chunk, 1), chunk.size() - kRecordPrefixSize + 120);
    EXPECT_EQ(u64At(chunk, chunk.size() - 8), 120u);
}

TEST(McapRecords, MapsAndArraysArePrefixedByTheirLengthInBytes) {
    const std::string channel = encodeChannel(1, 2, "/t", "json", {{"a", "bc"}});
    // id, schema id, topic, encoding, then the map: (4 + 1) + (4 + 2) bytes of entries.
    const std::size_t map = kRecordPrefixSize + 2 + 2 + 4 + 2 + 4 + 4;
    EXPECT_EQ(u32At(channel, map), 11u);
    EXPECT_EQ(channel.size(), map + 4 + 11);

    const std::string index = encodeMessageIndex(4, {{10, 0}, {20, 31}});
    EXPECT_EQ(u32At(index, kRecordPrefixSize + 2), 32u);
    EXPECT_EQ(u64At(index, kRecordPrefixSize + 6 + 16), 20u);
    EXPECT_EQ(u64At(index, kRecordPrefixSize + 6 + 24), 31u);

    StatisticsInfo s;
    s.messageCount = 5;
    s.channelMessageCounts = {{1, 2}, {2, 3}};
    const std::string stats = encodeStatistics(s);
    // count, schemas, channels, attachments, metadata, chunks, start, end, then the map.
    const std::size_t counts = kRecordPrefixSize + 8 + 2 + 4 * 4 + 8 + 8;
    EXPECT_EQ(u32At(stats, counts), 20u);
    EXPECT_EQ(stats.size(), counts + 4 + 20);
}

TEST(McapRecords, ChunkIndexFieldsInTheirOrder) {
    ChunkIndexInfo c;
    c.messageStartTime = 1;
    c.messageEndTime = 2;
    c.chunkStartOffset = 3;
    c.chunkLength = 4;
    c.messageIndexOffsets = {{1, 5}};
    c.messageIndexLength = 6;
    c.compression = "zstd";
    c.compressedSize = 7;
    c.uncompressedSize = 8;
    const std::string r = encodeChunkIndex(c);
    std::size_t at = kRecordPrefixSize;
    for (std::uint64_t v = 1; v <= 4; ++v, at += 8)
        EXPECT_EQ(u64At(r, at), v);
    EXPECT_EQ(u32At(r, at), 10u);
    EXPECT_EQ(u64At(r, at + 6), 5u);
    at += 14;
    EXPECT_EQ(u64At(r, at), 6u);
    EXPECT_EQ(r.substr(at + 12, 4), "zstd");
    EXPECT_EQ(u64At(r, at + 16), 7u);
    EXPECT_EQ(u64At(r, at + 24), 8u);
    EXPECT_EQ(r.size(), at + 32);
}

TEST(FoxgloveMessages, Base64PadsTheLastGroup) {
    EXPECT_EQ(base64(""), "");
    EXPECT_EQ(base64("f"), "Zg==");
    EXPECT_EQ(base64("fo"), "Zm8=");
    EXPECT_EQ(base64("foo"), "Zm9v");
    EXPECT_EQ(base64("foobar"), "Zm9vYmFy");
    EXPECT_EQ(base64(std::string("\xff\xfe\0", 3)), "//4A");
}

TEST(FoxgloveMessages, AnyByteStringGivesAValidJsonString) {
    EXPECT_EQ(jsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(jsonString(std::string("\0\n\x7f\xe9", 4)), "\"\\u0000\\u000a\\u007f\\u00e9\"");
}

TEST(FoxgloveMessages, PointsArePackedAtTheirOffsetsWithTheDevicesTime) {
    std::deque<DataPoint> points(2);
    DataPoint& p = points[1];
    p.x = 1.0 / 3.0;
    p.y = -2.5;
    p.z = 1e-9;
    p.intensity = 65535.0f;
    p.range = 12.25f;
    p.azimuth = -179.5f;
    p.elevation = 35.0f;
    p.reflectance = -32768.0f;
    p.pulseShapeDeviation = 7.0f;
    p.timestamp = 0xFFFFFFFFu;
    const std::string data = packPoints(points, 1, 2);
    ASSERT_EQ(data.size(), kPointStride);
    double d = 0;
    std::memcpy(&d, data.data(), 8);
    EXPECT_EQ(d, p.x);
    std::memcpy(&d, data.data() + 16, 8);
    EXPECT_EQ(d, p.z);
    float f = 0;
    std::memcpy(&f, data.data() + 24, 4);
    EXPECT_EQ(f, p.intensity);
    std::memcpy(&f, data.data() + 40, 4);
    EXPECT_EQ(f, p.reflectance);
    std::memcpy(&f, data.data() + 44, 4);
    EXPECT_EQ(f, p.pulseShapeDeviation);
    EXPECT_EQ(u32At(data, 48), 0xFFFFFFFFu);
}

TEST(FoxgloveMessages, TimeStampsSplitIntoSecondsAndNanoseconds) {
    const std::deque<DataPoint> none;
    const std::string cloud = pointCloudMessage(none, 0, 0, 1700000000123456789u, "f");
    EXPECT_NE(cloud.find("\"timestamp\":{\"sec\":1700000000,\"nsec\":123456789}"),
              std::string::npos);
    EXPECT_NE(cloud.find("\"data\":\"\""), std::string::npos);
    const std::string log = logMessage(999999999u, LogLevel::Warning, "EE\x01", "sentova");
    EXPECT_EQ(log, "{\"timestamp\":{\"sec\":0,\"nsec\":999999999},\"level\":3,"
                   "\"message\":\"EE\\u0001\",\"name\":\"sentova\",\"file\":\"\",\"line\":0}");
}
