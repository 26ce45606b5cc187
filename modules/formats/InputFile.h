#pragma once

// Buffered reading of a point file for the readers of the formats module: exact-size reads,
// lines of bounded length, and the position for progress reports. Internal to the module; one
// object per file, used by one thread.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace formats {

class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // False with the reason in error (a missing file, a folder, no permission).
    bool open(const std::string& path, std::string& error);

    std::uint64_t size() const { return m_size; }
    std::uint64_t position() const { return m_bufferStart + m_at; }
    bool atEnd();
    // Set once a read from the file system failed (not at the end of the file).
    bool failed() const { return m_failed; }

    // Exactly n bytes, or false (then the position is unspecified).
    bool read(void* out, std::size_t n);
    bool skip(std::uint64_t n);
    bool seek(std::uint64_t offset);

    // The next n bytes, where they lie in the buffer, or else read into a block of their own;
    // null when fewer are left. Valid until the next call. (Read rather than mapped: a mapped file
    // cut short by another program would kill this one with SIGBUS, and mapping, with
    // MADV_SEQUENTIAL | MADV_WILLNEED or MAP_POPULATE alike, saved a sixth of a binary read's
    // processor time and no more.)
    const unsigned char* view(std::size_t n);

    // The next line without its line end ("\n" or "\r\n"). False at the end of the file, or
    // when a line runs on beyond maxLength bytes (then tooLong is set). The view stays valid
    // until the next call.
    bool line(std::string_view& out, std::size_t maxLength = 1 << 16);
    bool tooLong() const { return m_tooLong; }

private:
    bool fill();
    bool direct(char* to, std::size_t n);

    int m_fd = -1;
    std::uint64_t m_size = 0;
    std::vector<char> m_buffer;
    std::vector<unsigned char> m_viewed; // a view larger than the buffer's bytes
    std::size_t m_at = 0;                // read position in the buffer
    std::size_t m_end = 0;               // bytes in the buffer
    std::uint64_t m_bufferStart = 0;     // file offset of the buffer's first byte
    std::string m_long;                  // a line that crosses the end of the buffer
    bool m_failed = false;
    bool m_tooLong = false;
};

} // namespace formats
