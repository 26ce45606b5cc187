#include "Lzf.h"

#include <cstring>

namespace formats::lzf {

// A control byte below 32 starts a literal run of that many bytes and one; any other holds a
// back reference: its top three bits the length less two (7: a byte follows with more), its low
// five with the next byte the distance less one. Runs and copies are moved in blocks of 8, 16 and
// 32 bytes where both ends have the room, which may write beyond the run into space that the next
// run overwrites.
std::size_t decompress(const unsigned char* in, std::size_t inSize, unsigned char* out,
                       std::size_t outSize) {
    const unsigned char* ip = in;
    const unsigned char* const inEnd = in + inSize;
    unsigned char* op = out;
    unsigned char* const outEnd = out + outSize;
    while (ip < inEnd) {
        const unsigned ctrl = *ip++;
        if (ctrl < 32) {
            const std::size_t length = ctrl + 1;
            if (static_cast<std::size_t>(inEnd - ip) < length ||
                static_cast<std::size_t>(outEnd - op) < length) {
                return 0;
            }
            if (inEnd - ip >= 32 && outEnd - op >= 32) {
                std::memcpy(op, ip, 32);
            } else {
                std::memcpy(op, ip, length);
            }
            ip += length;
            op += length;
            continue;
        }
        std::size_t length = ctrl >> 5;
        if (ip >= inEnd) {
            return 0;
        }
        if (length == 7) {
            length += *ip++;
            if (ip >= inEnd) {
                return 0;
            }
        }
        length += 2;
        const std::size_t distance = ((ctrl & 0x1fu) << 8) + *ip++ + 1;
        if (static_cast<std::size_t>(op - out) < distance ||
            static_cast<std::size_t>(outEnd - op) < length) {
            return 0;
        }
        const unsigned char* from = op - distance;
        if (distance >= 16 && static_cast<std::size_t>(outEnd - op) >= length + 16) {
            // Each block's source lies wholly before it, written already.
            for (std::size_t i = 0; i < length; i += 16) {
                std::memcpy(op + i, from + i, 16);
            }
        } else if (distance >= 8 && static_cast<std::size_t>(outEnd - op) >= length + 8) {
            for (std::size_t i = 0; i < length; i += 8) {
                std::memcpy(op + i, from + i, 8);
            }
        } else {
            for (std::size_t i = 0; i < length; ++i) {
                op[i] = from[i];
            }
        }
        op += length;
    }
    return static_cast<std::size_t>(op - out);
}

} // namespace formats::lzf
