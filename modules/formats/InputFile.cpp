#include "InputFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace formats {

namespace {
constexpr std::size_t kBuffer = 1 << 20;
// Reads of at least this many bytes skip the buffer when it is empty.
constexpr std::size_t kDirect = 1 << 16;
} // namespace

InputFile::~InputFile() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool InputFile::open(const std::string& path, std::string& error) {
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        error = std::strerror(EISDIR);
        return false;
    }
    m_size = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
    m_buffer.resize(kBuffer);
    return true;
}

const unsigned char* InputFile::view(std::size_t n) {
    if (m_end - m_at >= n) {
        const char* at = m_buffer.data() + m_at;
        m_at += n;
        return reinterpret_cast<const unsigned char*>(at);
    }
    m_viewed.resize(n);
    return read(m_viewed.data(), n) ? m_viewed.data() : nullptr;
}

bool InputFile::fill() {
    if (m_failed) {
        return false;
    }
    m_bufferStart += m_end;
    m_at = 0;
    m_end = 0;
    for (;;) {
        const ssize_t n = ::read(m_fd, m_buffer.data(), m_buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            m_failed = true;
            return false;
        }
        m_end = static_cast<std::size_t>(n);
        return n > 0;
    }
}

bool InputFile::atEnd() {
    return m_at == m_end && !fill();
}

bool InputFile::read(void* out, std::size_t n) {
    char* to = static_cast<char*>(out);
    while (n > 0) {
        if (m_at == m_end && n >= kDirect) {
            // A block of records: straight from the file into its place, not through the buffer.
            return direct(to, n);
        }
        if (m_at == m_end && !fill()) {
            return false;
        }
        const std::size_t take = std::min(n, m_end - m_at);
        std::memcpy(to, m_buffer.data() + m_at, take);
        m_at += take;
        to += take;
        n -= take;
    }
    return true;
}

bool InputFile::direct(char* to, std::size_t n) {
    m_bufferStart += m_end;
    m_at = 0;
    m_end = 0;
    while (n > 0) {
        const ssize_t got = ::read(m_fd, to, n);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            m_failed = true;
            return false;
        }
        if (got == 0) {
            return false;
        }
        m_bufferStart += static_cast<std::uint64_t>(got);
        to += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

bool InputFile::skip(std::uint64_t n) {
    const std::uint64_t inBuffer = m_end - m_at;
    if (n <= inBuffer) {
        m_at += static_cast<std::size_t>(n);
        return true;
    }
    return seek(position() + n);
}

bool InputFile::seek(std::uint64_t offset) {
    if (offset >= m_bufferStart && offset <= m_bufferStart + m_end) {
        m_at = static_cast<std::size_t>(offset - m_bufferStart);
        return true;
    }
    if (m_size != 0 && offset > m_size) {
        return false;
    }
    if (::lseek(m_fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
        m_failed = true;
        return false;
    }
    m_bufferStart = offset;
    m_at = 0;
    m_end = 0;
    return true;
}

bool InputFile::line(std::string_view& out, std::size_t maxLength) {
    m_long.clear();
    bool any = false;
    for (;;) {
        if (m_at == m_end && !fill()) {
            if (!any) {
                return false;
            }
            break;
        }
        any = true;
        const char* start = m_buffer.data() + m_at;
        const char* end = m_buffer.data() + m_end;
        const char* nl = static_cast<const char*>(std::memchr(start, '\n', end - start));
        if (nl != nullptr) {
            const std::size_t length = static_cast<std::size_t>(nl - start);
            m_at += length + 1;
            if (m_long.empty()) {
                if (length > maxLength) {
                    m_tooLong = true;
                    return false;
                }
                out = std::string_view(start, length);
                if (!out.empty() && out.back() == '\r') {
                    out.remove_suffix(1);
                }
                return true;
            }
            m_long.append(start, length);
            break;
        }
        m_long.append(start, end - start);
        m_at = m_end;
        if (m_long.size() > maxLength) {
            m_tooLong = true;
            return false;
        }
    }
    if (m_long.size() > maxLength) {
        m_tooLong = true;
        return false;
    }
    out = m_long;
    if (!out.empty() && out.back() == '\r') {
        out.remove_suffix(1);
    }
    return true;
}

} // namespace formats
