// Binary point files of arbitrary bytes through both whole-file reads: the first byte picks PCD
// (binary or compressed, as its header says), PLY or LAS, the rest is the file. Read into a deque
// and into one block, fresh or that of the input before, the file must give the same verdict and
// the same points.
#include "Formats.h"
#include "ScratchFile.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    static const formats::Format formats[] = {formats::Format::PcdBinary,
                                              formats::Format::PlyBinary, formats::Format::Las};
    const formats::Format format = formats[data[0] % 3];
    const std::string& path = scratchFileWith(data + 1, size - 1);
    const formats::ReadResult deque = formats::read(path, format);
    const formats::ArrayReadResult array = formats::readArray(path, format);
    static formats::PointArray earlier;
    formats::ArrayReadResult reused = formats::readArray(path, format, std::move(earlier));
    if (reused.ok != array.ok || reused.error != array.error ||
        reused.points.size() != array.points.size() ||
        (array.points.size() > 0 && std::memcmp(reused.points.data(), array.points.data(),
                                                array.points.size() * sizeof(DataPoint)) != 0))
        std::abort();
    earlier = std::move(reused.points);
    if (!deque.ok && deque.error.empty())
        std::abort();
    if (deque.ok != array.ok || deque.error != array.error ||
        deque.points.size() != array.points.size())
        std::abort();
    for (std::size_t i = 0; i < array.points.size(); ++i) {
        if (std::memcmp(&deque.points[i], &array.points[i], sizeof(DataPoint)) != 0)
            std::abort();
    }
    return 0;
}
