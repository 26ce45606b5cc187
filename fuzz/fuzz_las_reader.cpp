// A LAS file of arbitrary bytes through the point file reader. Whatever the bytes, it must
// either refuse the file with a reason or give points.
#include "Formats.h"
#include "ScratchFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const formats::ReadResult result =
        formats::read(scratchFileWith(data, size), formats::Format::Las);
    if (!result.ok && result.error.empty())
        std::abort();
    return 0;
}
