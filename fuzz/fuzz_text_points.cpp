// CSV and PLY files of arbitrary bytes through the point file reader: the first byte picks the
// format, the rest is the file. The reader must refuse the file with a reason or give points.
#include "Formats.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = [] {
        char name[] = "/tmp/sentova-fuzz-text-XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0)
            std::abort();
        close(fd);
        std::atexit([] { std::remove(path.c_str()); });
        return std::string(name);
    }();
    if (size == 0)
        return 0;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    if (size > 1 && std::fwrite(data + 1, 1, size - 1, f) != size - 1)
        std::abort();
    std::fclose(f);

    const formats::Format format = data[0] & 1 ? formats::Format::PlyBinary : formats::Format::Csv;
    const formats::ReadResult result = formats::read(path, format);
    if (!result.ok && result.error.empty())
        std::abort();
    return 0;
}
