// A LAS file of arbitrary bytes through the point file reader. Whatever the bytes, it must
// either refuse the file with a reason or give points.
#include "Formats.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = [] {
        char name[] = "/tmp/sentova-fuzz-las-XXXXXX";
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

    const formats::ReadResult result = formats::read(path, formats::Format::Las);
    if (!result.ok && result.error.empty())
        std::abort();
    return 0;
}
