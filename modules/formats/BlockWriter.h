#pragma once

// Output of the writers: collects text and bytes in a block and hands it to the stream in large
// writes, which gives the same output as writing value by value at a fraction of the cost.
// Internal to the formats module.

#include <charconv>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>

namespace formats {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the binary formats are written in the machine's byte order");

class BlockWriter {
public:
    explicit BlockWriter(std::ostream& out) : m_out(out) { m_block.reserve(kBlock + 4096); }
    ~BlockWriter() { flush(); }
    BlockWriter(const BlockWriter&) = delete;
    BlockWriter& operator=(const BlockWriter&) = delete;

    void text(const char* s) { m_block.append(s); }
    void text(const std::string& s) { m_block.append(s); }
    void character(char c) { m_block.push_back(c); }

    // Fixed notation with six decimals (printf's "%.6f").
    void fixed(double v) {
        char buf[400];
        const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 6);
        m_block.append(buf, r.ptr);
    }

    // The shortest text that reads back as the same float.
    void shortest(float v) {
        char buf[64];
        const auto r = std::to_chars(buf, buf + sizeof buf, v);
        m_block.append(buf, r.ptr);
    }

    void unsignedInt(std::uint64_t v) {
        char buf[24];
        const auto r = std::to_chars(buf, buf + sizeof buf, v);
        m_block.append(buf, r.ptr);
    }

    void signedInt(std::int64_t v) {
        char buf[24];
        const auto r = std::to_chars(buf, buf + sizeof buf, v);
        m_block.append(buf, r.ptr);
    }

    // A value in the machine's byte order (little-endian on every platform this builds for).
    template <class T> void raw(const T& v) {
        char bytes[sizeof(T)];
        std::memcpy(bytes, &v, sizeof(T));
        m_block.append(bytes, sizeof(T));
    }

    void bytes(const void* data, std::size_t size) {
        m_block.append(static_cast<const char*>(data), size);
    }

    // Ends a line or a record: hands the block over when it is large.
    void endLine() {
        m_block.push_back('\n');
        endRecord();
    }
    void endRecord() {
        if (m_block.size() >= kBlock) {
            flush();
        }
    }

    void flush() {
        if (!m_block.empty()) {
            m_out.write(m_block.data(), static_cast<std::streamsize>(m_block.size()));
            m_block.clear();
        }
    }

private:
    static constexpr std::size_t kBlock = 1 << 20;
    std::ostream& m_out;
    std::string m_block;
};

} // namespace formats
