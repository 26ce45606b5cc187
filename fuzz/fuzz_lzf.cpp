// Arbitrary bytes through the LZF compressor: what it packs unpacks to the same bytes, within
// the bound, and with one byte less room than it used it refuses rather than writes past the end.
#include "Lzf.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    std::vector<unsigned char> packed(formats::lzf::compressBound(size));
    const std::size_t n = formats::lzf::compress(data, size, packed.data(), packed.size());
    if (n == 0 || n > packed.size())
        std::abort();
    std::vector<unsigned char> plain(size);
    if (formats::lzf::decompress(packed.data(), n, plain.data(), size) != size ||
        std::memcmp(plain.data(), data, size) != 0)
        std::abort();
    // Exactly the room needed, on the heap, so that a write past it is caught.
    std::vector<unsigned char> tight(n - 1); // n is at least 2: a control byte and a literal
    if (formats::lzf::compress(data, size, tight.data(), n - 1) != 0)
        std::abort();
    return 0;
}
