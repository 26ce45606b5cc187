#pragma once

// A file written under a temporary name beside its final one and renamed onto it only when
// complete, so that a failed or cancelled write never leaves a partial file under the final name
// and an existing file stays as it was until the new one replaces it. A path that names
// something other than a regular file (a device such as /dev/stdout, a pipe) is written in place.
// One object per file, used by one thread.

#include <cstdint>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace formats {

// A stream's bytes written straight to a file descriptor: blocks of a writer's size in one
// write() each, small pieces gathered first. The first failed write's errno is kept.
class FileBuffer : public std::streambuf {
public:
    void attach(int fd) { m_fd = fd; }
    int error() const { return m_error; }

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

private:
    bool put(const char* s, std::size_t n);
    bool drain();

    int m_fd = -1;
    int m_error = 0;
    std::vector<char> m_small; // the pieces gathered, given room at the first
};

class OutputFile {
public:
    explicit OutputFile(std::string path);
    ~OutputFile(); // removes the temporary file unless committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the temporary file; false with the reason in error.
    bool open(std::string& error);
    std::ostream& stream() { return m_out; }

    // Flushes and closes the stream and renames the file onto its final name; false with the
    // reason (the temporary file is then removed).
    bool commit(std::string& error);

    // Closes and removes the temporary file.
    void discard();

    // Sets disk space aside for a file of this many bytes, its size left as written: the
    // blocks are found in one call rather than write by write. A file written shorter keeps its
    // own size. Ignored where the file system cannot (a device, a pipe) or has not the room:
    // the writes then fail as they would have.
    void reserve(std::uint64_t bytes);

    // The name being written, once open: the temporary one, or the final one when writing in
    // place. For writers that open the file themselves.
    const std::string& writtenPath() const { return m_inPlace ? m_path : m_temp; }

private:
    bool closeFile(); // false when close() failed

    std::string m_path; // final name (a symbolic link's target when it names one)
    std::string m_temp; // name written to; empty when writing in place
    bool m_inPlace = false;
    bool m_open = false;
    // The descriptor the file was created with, written through as it is: opening the file
    // again with O_TRUNC would mark it, on ext4, for a flush of all its data to the disk when
    // closed, a tenth of a second per 280 MB spent waiting in close().
    int m_fd = -1;
    FileBuffer m_buffer;
    std::ostream m_out{&m_buffer};
};

} // namespace formats
