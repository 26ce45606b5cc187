#pragma once

// Output of the writers: collects text and bytes in a block and hands it to the stream in large
// writes, which gives the same output as writing value by value at a fraction of the cost.
// Internal to the formats module.

#include <charconv>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace formats {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the binary formats are written in the machine's byte order");

class BlockWriter {
public:
    explicit BlockWriter(std::ostream& out) : m_out(out), m_buffer(kBlock + kSlack) {}
    ~BlockWriter() { flush(); }
    BlockWriter(const BlockWriter&) = delete;
    BlockWriter& operator=(const BlockWriter&) = delete;

    void text(const char* s) { bytes(s, std::strlen(s)); }
    void text(const std::string& s) { bytes(s.data(), s.size()); }
    void character(char c) {
        room(1);
        m_buffer[m_used++] = c;
    }

    // Fixed notation with six decimals (printf's "%.6f").
    void fixed(double v) {
        room(400);
        const auto r = std::to_chars(at(), at() + 400, v, std::chars_format::fixed, 6);
        m_used = static_cast<std::size_t>(r.ptr - m_buffer.data());
    }

    // The shortest text that reads back as the same value.
    template <class T> void shortest(T v) {
        room(64);
        const auto r = std::to_chars(at(), at() + 64, v);
        m_used = static_cast<std::size_t>(r.ptr - m_buffer.data());
    }

    void unsignedInt(std::uint64_t v) { shortest(v); }

    // A value in the machine's byte order (little-endian on every platform this builds for).
    template <class T> void raw(const T& v) {
        room(sizeof(T));
        std::memcpy(at(), &v, sizeof(T));
        m_used += sizeof(T);
    }

    // Room for n bytes that the caller fills at once: a record, or a chunk's records.
    char* reserve(std::size_t n) {
        room(n);
        char* to = at();
        m_used += n;
        return to;
    }

    void bytes(const void* data, std::size_t size) {
        if (size > kSlack) {
            flush();
            m_out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
            m_handed += size;
            return;
        }
        room(size);
        std::memcpy(at(), data, size);
        m_used += size;
    }

    // Ends a line or a record: hands the block over when it is large.
    void endLine() {
        character('\n');
        endRecord();
    }
    void endRecord() {
        if (m_used >= kBlock) {
            flush();
        }
    }

    // Bytes taken so far, in the block or handed over.
    std::uint64_t total() const { return m_handed + m_used; }

    void flush() {
        if (m_used > 0) {
            m_out.write(m_buffer.data(), static_cast<std::streamsize>(m_used));
            m_handed += m_used;
            m_used = 0;
        }
    }

private:
    static constexpr std::size_t kBlock = 1 << 20;
    static constexpr std::size_t kSlack = 1 << 16; // more than any one value or record

    char* at() { return m_buffer.data() + m_used; }
    void room(std::size_t n) {
        if (m_used + n > m_buffer.size()) {
            flush();
            if (n > m_buffer.size()) {
                m_buffer.resize(n);
            }
        }
    }

    std::ostream& m_out;
    std::vector<char> m_buffer;
    std::size_t m_used = 0;
    std::uint64_t m_handed = 0; // to the stream
};

} // namespace formats
