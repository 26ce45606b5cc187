// The fuzz targets' one scratch file: the readers under test take a path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

// A file of this process, created on first use and removed at exit, holding the bytes.
inline const std::string& scratchFileWith(const std::uint8_t* data, std::size_t size) {
    static const std::string path = [] {
        char name[] = "/tmp/sentova-fuzz-XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0)
            std::abort();
        close(fd);
        std::atexit([] { std::remove(path.c_str()); });
        return std::string(name);
    }();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size)
        std::abort();
    std::fclose(f);
    return path;
}
