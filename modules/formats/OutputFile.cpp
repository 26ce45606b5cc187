#include "OutputFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace formats {

namespace {

std::string reason(int error) {
    return std::strerror(error);
}

// The folder part of a path and its last element.
void splitPath(const std::string& path, std::string& folder, std::string& name) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        folder = "";
        name = path;
    } else {
        folder = path.substr(0, slash + 1);
        name = path.substr(slash + 1);
    }
}

constexpr std::size_t kSmall = 1 << 16; // pieces below this are gathered

} // namespace

bool FileBuffer::put(const char* s, std::size_t n) {
    while (n > 0 && m_error == 0) {
        const ssize_t done = ::write(m_fd, s, n);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            m_error = done < 0 ? errno : EIO;
            break;
        }
        s += done;
        n -= static_cast<std::size_t>(done);
    }
    return m_error == 0;
}

bool FileBuffer::drain() {
    const std::size_t n = static_cast<std::size_t>(pptr() - pbase());
    setp(m_small.data(), m_small.data() + m_small.size());
    return put(m_small.data(), n);
}

FileBuffer::int_type FileBuffer::overflow(int_type c) {
    if (m_small.empty()) {
        m_small.resize(kSmall);
        setp(m_small.data(), m_small.data() + m_small.size());
    } else if (!drain()) {
        return traits_type::eof();
    }
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
    }
    return traits_type::not_eof(c);
}

std::streamsize FileBuffer::xsputn(const char* s, std::streamsize n) {
    const std::size_t size = static_cast<std::size_t>(n);
    if (size < kSmall) {
        return std::streambuf::xsputn(s, n);
    }
    // A writer's block: after what was gathered before it, in one call of its own.
    if (pbase() != pptr() && !drain()) {
        return 0;
    }
    return put(s, size) ? n : 0;
}

int FileBuffer::sync() {
    return pbase() == pptr() || drain() ? 0 : -1;
}

OutputFile::OutputFile(std::string path) : m_path(std::move(path)) {}

OutputFile::~OutputFile() {
    if (m_open) {
        discard();
    }
}

bool OutputFile::open(std::string& error) {
    struct stat st {};
    if (::stat(m_path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            error = reason(EISDIR);
            return false;
        }
        if (!S_ISREG(st.st_mode)) {
            m_inPlace = true;
        } else {
            // Replace a link's target, not the link.
            char resolved[PATH_MAX];
            if (::realpath(m_path.c_str(), resolved) != nullptr) {
                m_path = resolved;
            }
        }
    }
    if (m_inPlace) {
        m_fd = ::open(m_path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (m_fd < 0) {
            error = reason(errno);
            return false;
        }
        m_buffer.attach(m_fd);
        m_open = true;
        return true;
    }

    std::string folder;
    std::string name;
    splitPath(m_path, folder, name);
    if (name.empty()) {
        error = reason(EISDIR);
        return false;
    }
    std::random_device seed;
    std::mt19937 random(seed());
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
        m_temp = folder + "." + name + "." + suffix + ".part";
        // 0666 less the umask, as the final file would get if created directly.
        fd = ::open(m_temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            error = reason(errno);
            return false;
        }
    }
    if (fd < 0) {
        error = reason(EEXIST);
        return false;
    }
    if (::stat(m_path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        (void)::fchmod(fd, st.st_mode & 07777);
    }
    m_fd = fd;
    m_buffer.attach(m_fd);
    m_open = true;
    return true;
}

void OutputFile::reserve(std::uint64_t bytes) {
    if (m_fd >= 0 && !m_inPlace && bytes > 0) {
        (void)::fallocate(m_fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes));
    }
}

bool OutputFile::closeFile() {
    const int fd = m_fd;
    m_fd = -1;
    m_buffer.attach(-1);
    m_open = false;
    return fd < 0 || ::close(fd) == 0;
}

bool OutputFile::commit(std::string& error) {
    m_out.flush();
    int writeError = m_buffer.error();
    if (writeError == 0 && !m_out) {
        writeError = EIO;
    }
    // close() tells of a delayed write that failed (on a network file system).
    if (!closeFile() && writeError == 0) {
        writeError = errno;
    }
    if (writeError != 0) {
        error = reason(writeError);
        if (!m_inPlace) {
            ::unlink(m_temp.c_str());
        }
        return false;
    }
    if (!m_inPlace && ::rename(m_temp.c_str(), m_path.c_str()) != 0) {
        error = reason(errno);
        ::unlink(m_temp.c_str());
        return false;
    }
    return true;
}

void OutputFile::discard() {
    closeFile();
    if (!m_inPlace && !m_temp.empty()) {
        ::unlink(m_temp.c_str());
    }
}

} // namespace formats
