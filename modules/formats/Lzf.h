#pragma once

// LZF, the compression of PCD binary_compressed bodies: literal runs and back references into
// the last 8 kB of output. Pure functions: any thread may call them. Internal to the formats
// module.

#include <cstddef>

namespace formats::lzf {

// Decompresses in[0 .. inSize - 1] into out, which has room for outSize bytes. Returns the number
// of bytes written, or 0 when the data is damaged or would not fit.
std::size_t decompress(const unsigned char* in, std::size_t inSize, unsigned char* out,
                       std::size_t outSize);

// The same for data that comes a piece at a time: the whole tokens of in[0 .. inSize - 1] into
// out from out[at] on, where out[0 .. at - 1] holds the data before, which they may refer to.
// A token cut short by the end of in is left: used is the number of bytes of in taken, and the
// rest (fewer than kLongestToken) starts the next piece. at moves to the end of the data. False
// when the data is damaged or would not fit.
constexpr std::size_t kLongestToken = 33;
bool decompressPart(const unsigned char* in, std::size_t inSize, unsigned char* out,
                    std::size_t outSize, std::size_t& at, std::size_t& used);

// The most bytes compress writes for inSize bytes: a control byte for every 32 that find no
// earlier copy of themselves, and one more.
constexpr std::size_t compressBound(std::size_t inSize) {
    return inSize + inSize / 32 + 1;
}

// Compresses in[0 .. inSize - 1] into out, which has room for outSize bytes (compressBound
// always suffices). Returns the number of bytes written, or 0 when they would not fit, when
// there are none, or beyond 4 GB of input.
std::size_t compress(const unsigned char* in, std::size_t inSize, unsigned char* out,
                     std::size_t outSize);

} // namespace formats::lzf
