// CSV and PLY files of arbitrary bytes through the point file reader: the first byte picks the
// format, the rest is the file. The reader must refuse the file with a reason or give points.
#include "Formats.h"
#include "ScratchFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const formats::Format format = data[0] & 1 ? formats::Format::PlyBinary : formats::Format::Csv;
    const formats::ReadResult result = formats::read(scratchFileWith(data + 1, size - 1), format);
    if (!result.ok && result.error.empty())
        std::abort();
    return 0;
}
