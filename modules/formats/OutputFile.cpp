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

} // namespace

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
        m_out.open(m_path, std::ios::out | std::ios::trunc | std::ios::binary);
        if (!m_out) {
            error = reason(errno);
            return false;
        }
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
    ::close(fd);
    m_out.open(m_temp, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!m_out) {
        error = reason(errno);
        ::unlink(m_temp.c_str());
        return false;
    }
    m_open = true;
    return true;
}

bool OutputFile::commit(std::string& error) {
    errno = 0;
    m_out.flush();
    const bool written = static_cast<bool>(m_out);
    const int writeError = errno;
    m_out.close();
    m_open = false;
    if (!written || !m_out) {
        error = writeError != 0 ? reason(writeError) : (errno != 0 ? reason(errno) : "write error");
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
    m_out.close();
    m_open = false;
    if (!m_inPlace && !m_temp.empty()) {
        ::unlink(m_temp.c_str());
    }
}

} // namespace formats
