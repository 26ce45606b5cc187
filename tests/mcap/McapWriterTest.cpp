// Files of the writer taken apart again: the footer leads to the summary, the summary's
// offsets and CRC hold, and every chunk index leads to its chunk and its message indexes.
#include "ScratchFiles.h"
#include "SentovaMcap/ScanFile.h"
#include "SentovaMcap/Writer.h"

#include <gtest/gtest.h>
#include <zstd.h>

#include <algorithm>
#include <map>
#include <unistd.h>

using namespace sentova::mcap;
using testing_support::readAll;
using testing_support::ScratchDir;

namespace {

struct Cursor {
    const std::string& s;
    std::size_t at;
    std::uint64_t u(int bytes) {
        std::uint64_t v = 0;
        for (int i = bytes - 1; i >= 0; --i)
            v = (v << 8) | static_cast<unsigned char>(s.at(at + i));
        at += bytes;
        return v;
    }
    std::string str() {
        const std::size_t n = u(4);
        at += n;
        return s.substr(at - n, n);
    }
};

struct Record {
    int opcode;
    std::size_t start;   // of the record
    std::size_t content; // of its content
    std::size_t end;
};

Record recordAt(const std::string& s, std::size_t at) {
    Cursor c{s, at};
    const int op = static_cast<int>(c.u(1));
    const std::size_t length = c.u(8);
    EXPECT_LE(c.at + length, s.size());
    return {op, at, c.at, c.at + length};
}

struct Summary {
    std::map<int, std::pair<std::uint64_t, std::uint64_t>> groups; // opcode: start, length
    std::vector<Record> records;
};

// The footer, its CRC and the summary offsets; fails the test where they do not hold.
Summary readSummary(const std::string& file) {
    Summary out;
    EXPECT_EQ(file.substr(0, 8), kMagic);
    EXPECT_EQ(file.substr(file.size() - 8), kMagic);
    const Record footer = recordAt(file, file.size() - 8 - 29);
    EXPECT_EQ(footer.opcode, 0x02);
    Cursor f{file, footer.content};
    const std::size_t summaryStart = f.u(8);
    const std::size_t offsetsStart = f.u(8);
    const std::uint32_t crc = static_cast<std::uint32_t>(f.u(4));
    EXPECT_EQ(crc, crc32(file.data() + summaryStart, footer.content + 16 - summaryStart));
    for (std::size_t at = summaryStart; at < offsetsStart;) {
        out.records.push_back(recordAt(file, at));
        at = out.records.back().end;
    }
    for (std::size_t at = offsetsStart; at < footer.start;) {
        const Record r = recordAt(file, at);
        EXPECT_EQ(r.opcode, 0x0E);
        Cursor c{file, r.content};
        const int group = static_cast<int>(c.u(1));
        const std::uint64_t start = c.u(8);
        out.groups[group] = {start, c.u(8)};
        EXPECT_EQ(recordAt(file, start).opcode, group);
        at = r.end;
    }
    // The data section ends with its CRC, just before the summary.
    const Record dataEnd = recordAt(file, summaryStart - 13);
    EXPECT_EQ(dataEnd.opcode, 0x0F);
    Cursor d{file, dataEnd.content};
    EXPECT_EQ(d.u(4), crc32(file.data(), dataEnd.start));
    return out;
}

// Message log times of the chunks, found through the chunk indexes and message indexes.
std::vector<std::uint64_t> indexedTimes(const std::string& file, const Summary& summary,
                                        bool compressed) {
    std::vector<std::uint64_t> times;
    for (const Record& r : summary.records) {
        if (r.opcode != 0x08)
            continue;
        Cursor c{file, r.content};
        c.u(16);
        const std::size_t chunkStart = c.u(8);
        const std::size_t chunkLength = c.u(8);
        const std::size_t offsetsBytes = c.u(4);
        std::vector<std::size_t> indexOffsets;
        for (std::size_t end = c.at + offsetsBytes; c.at < end;) {
            c.u(2);
            indexOffsets.push_back(c.u(8));
        }
        c.u(8);
        EXPECT_EQ(c.str(), compressed ? "zstd" : "");

        const Record chunk = recordAt(file, chunkStart);
        EXPECT_EQ(chunk.opcode, 0x06);
        EXPECT_EQ(chunk.end - chunk.start, chunkLength);
        Cursor h{file, chunk.content + 16};
        const std::size_t size = h.u(8);
        const std::uint32_t crc = static_cast<std::uint32_t>(h.u(4));
        h.str();
        const std::size_t stored = h.u(8);
        std::string records = file.substr(h.at, stored);
        if (compressed) {
            std::string raw(size, '\0');
            EXPECT_EQ(ZSTD_decompress(raw.data(), raw.size(), records.data(), records.size()),
                      size);
            records = raw;
        }
        EXPECT_EQ(records.size(), size);
        EXPECT_EQ(crc32(records.data(), records.size()), crc);

        for (const std::size_t at : indexOffsets) {
            const Record index = recordAt(file, at);
            EXPECT_EQ(index.opcode, 0x07);
            Cursor i{file, index.content + 2};
            for (std::size_t end = i.at + 4 + i.u(4); i.at < end;) {
                const std::uint64_t time = i.u(8);
                const Record message = recordAt(records, i.u(8));
                EXPECT_EQ(message.opcode, 0x05);
                Cursor m{records, message.content + 6};
                EXPECT_EQ(m.u(8), time);
                times.push_back(time);
            }
        }
    }
    return times;
}

} // namespace

TEST(McapWriter, TheSummaryAndTheIndexesLeadToEveryMessage) {
    for (const bool compressed : {true, false}) {
        ScratchDir dir("mcap");
        const std::string path = (dir / "a.mcap").string();
        WriterOptions options;
        options.compression = compressed ? Compression::Zstd : Compression::None;
        options.chunkSize = 1000; // several chunks
        Writer w(path, options);
        const std::uint16_t schema = w.addSchema("s", "jsonschema", "{}");
        const std::uint16_t a = w.addChannel(schema, "/a", "json");
        const std::uint16_t b = w.addChannel(schema, "/b", "json");
        std::vector<std::uint64_t> written;
        for (std::uint64_t i = 0; i < 40; ++i) {
            // Out of time order across channels, and one message larger than a chunk.
            const std::uint64_t time = 1000 * i + (i % 2 ? 500 : 0);
            w.write(i % 3 ? a : b, time, time, std::string(i == 20 ? 5000 : 90, 'x'));
            written.push_back(time);
        }
        w.close();
        const std::string file = readAll(path);
        const Summary summary = readSummary(file);
        for (const int group : {0x03, 0x04, 0x08, 0x0B})
            EXPECT_EQ(summary.groups.count(group), 1u) << group;
        std::vector<std::uint64_t> times = indexedTimes(file, summary, compressed);
        std::sort(times.begin(), times.end());
        std::sort(written.begin(), written.end());
        EXPECT_EQ(times, written);

        const Record stats = recordAt(file, summary.groups.at(0x0B).first);
        Cursor s{file, stats.content};
        EXPECT_EQ(s.u(8), 40u);
        EXPECT_EQ(s.u(2), 1u);
        EXPECT_EQ(s.u(4), 2u);
        s.u(8);
        EXPECT_GT(s.u(4), 2u); // chunks
        EXPECT_EQ(s.u(8), 0u);
        EXPECT_EQ(s.u(8), 39500u);
    }
}

TEST(McapWriter, AFileWithoutMessagesIsStillComplete) {
    ScratchDir dir("mcap");
    const std::string path = (dir / "empty.mcap").string();
    Writer(path).close();
    const std::string file = readAll(path);
    const Summary summary = readSummary(file);
    EXPECT_EQ(summary.groups.count(0x08), 0u);
    EXPECT_EQ(summary.groups.count(0x0B), 1u);
}

TEST(McapWriter, FailuresNameTheFileAndUnknownChannelsAreRefused) {
    EXPECT_THROW(Writer("/nonexistent-folder/x.mcap"), McapError);
    try {
        Writer("/nonexistent-folder/x.mcap");
    } catch (const McapError& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent-folder/x.mcap"), std::string::npos);
    }
    ScratchDir dir("mcap");
    Writer w((dir / "c.mcap").string());
    EXPECT_THROW(w.write(1, 0, 0, "{}"), std::invalid_argument);
    const std::uint16_t channel = w.addChannel(0, "/t", "json");
    w.close();
    EXPECT_THROW(w.write(channel, 0, 0, "{}"), McapError);
    if (access("/dev/full", W_OK) == 0) {
        Writer full("/dev/full", {Compression::None, 1, 3, "", "sentova"});
        const std::uint16_t c = full.addChannel(0, "/t", "json");
        EXPECT_THROW(
            {
                for (int i = 0; i < 10000; ++i)
                    full.write(c, 0, 0, std::string(1000, 'x'));
                full.close();
            },
            McapError);
    }
}

TEST(ScanFile, AMillionPointsAMessageAtMost) {
    ScratchDir dir("mcap");
    const std::string path = (dir / "big.mcap").string();
    std::deque<DataPoint> points(kMaxPointsPerMessage + 1);
    WriterOptions options;
    options.compression = Compression::None;
    ScanFile file(path, options);
    file.addPoints(points, 0, points.size(), 5);
    file.addPoints(points, 0, 0, 6); // an empty frame is still a message
    file.addPoints(points, 3, 3 + kMaxPointsPerMessage, 7);
    file.close();
    EXPECT_EQ(file.pointMessages(), 4u);
}
