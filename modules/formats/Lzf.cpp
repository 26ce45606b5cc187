#include "Lzf.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace formats::lzf {

namespace {

// A control byte below 32 starts a literal run of that many bytes and one; any other holds a
// back reference: its top three bits the length less two (7: a byte follows with more), its low
// five with the next byte the distance less one. Runs and copies are moved in blocks of 8, 16 and
// 32 bytes where both ends have the room, which may write beyond the run into space that the next
// run overwrites. The tokens of in are written from out + at on; a token cut short by the end of
// in is damage unless partial, when the work ends before it. False on damage; at and used say
// how far the output and the input got.
bool expand(const unsigned char* in, std::size_t inSize, unsigned char* out, std::size_t outSize,
            std::size_t& at, std::size_t& used, bool partial) {
    const unsigned char* ip = in;
    const unsigned char* const inEnd = in + inSize;
    unsigned char* op = out + at;
    unsigned char* const outEnd = out + outSize;
    const unsigned char* token = ip;
    auto cut = [&] {
        at = static_cast<std::size_t>(op - out);
        used = static_cast<std::size_t>(token - in);
        return partial;
    };
    while (ip < inEnd) {
        token = ip;
        const unsigned ctrl = *ip++;
        if (ctrl < 32) {
            const std::size_t length = ctrl + 1;
            if (static_cast<std::size_t>(inEnd - ip) < length) {
                return cut();
            }
            if (static_cast<std::size_t>(outEnd - op) < length) {
                return false;
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
            return cut();
        }
        if (length == 7) {
            length += *ip++;
            if (ip >= inEnd) {
                return cut();
            }
        }
        length += 2;
        const std::size_t distance = ((ctrl & 0x1fu) << 8) + *ip++ + 1;
        if (static_cast<std::size_t>(op - out) < distance ||
            static_cast<std::size_t>(outEnd - op) < length) {
            return false;
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
    at = static_cast<std::size_t>(op - out);
    used = inSize;
    return true;
}

} // namespace

std::size_t decompress(const unsigned char* in, std::size_t inSize, unsigned char* out,
                       std::size_t outSize) {
    std::size_t at = 0;
    std::size_t used = 0;
    return expand(in, inSize, out, outSize, at, used, false) ? at : 0;
}

bool decompressPart(const unsigned char* in, std::size_t inSize, unsigned char* out,
                    std::size_t outSize, std::size_t& at, std::size_t& used) {
    return expand(in, inSize, out, outSize, at, used, true);
}

namespace {

constexpr std::size_t kMaxLiterals = 32;
constexpr std::size_t kMaxDistance = 8192;
constexpr std::size_t kMinMatch = 3;
constexpr std::size_t kMaxMatch = 2 + 7 + 255;
constexpr int kHashBits = 14;
// After 2^kSkip positions without a match the search steps over two bytes, then three...: data
// that does not compress (noise in the low bits of coordinates) costs a fraction of a hash
// lookup per byte, and the first match found resets the step.
constexpr int kSkip = 5;

std::uint32_t load24(const unsigned char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v & 0xffffffu;
}

std::uint32_t hash24(std::uint32_t v) {
    return (v * 2654435761u) >> (32 - kHashBits);
}

// Literal runs of at most 32 bytes, each after its control byte; false when out has no room.
bool literals(const unsigned char* from, std::size_t n, unsigned char*& op,
              const unsigned char* outEnd) {
    while (n > 0) {
        const std::size_t run = n < kMaxLiterals ? n : kMaxLiterals;
        if (static_cast<std::size_t>(outEnd - op) < run + 1) {
            return false;
        }
        *op++ = static_cast<unsigned char>(run - 1);
        std::memcpy(op, from, run);
        op += run;
        from += run;
        n -= run;
    }
    return true;
}

} // namespace

// Greedy: at each position the last one seen with the same three bytes, within reach, is taken
// as far as it matches; everything else goes out as literal runs.
std::size_t compress(const unsigned char* in, std::size_t inSize, unsigned char* out,
                     std::size_t outSize) {
    if (inSize == 0 || inSize > UINT32_MAX) {
        return 0;
    }
    std::vector<std::uint32_t> table(std::size_t{1} << kHashBits, 0);
    unsigned char* op = out;
    const unsigned char* const outEnd = out + outSize;
    std::size_t pos = 0;
    std::size_t pending = 0; // the first literal not yet written
    std::size_t misses = 0;
    while (pos + 4 <= inSize) {
        const std::uint32_t v = load24(in + pos);
        std::uint32_t& slot = table[hash24(v)];
        const std::size_t ref = slot;
        slot = static_cast<std::uint32_t>(pos);
        const std::size_t distance = pos - ref;
        if (distance == 0 || distance > kMaxDistance || load24(in + ref) != v) {
            ++misses;
            pos += 1 + (misses >> kSkip);
            continue;
        }
        const std::size_t room = inSize - pos < kMaxMatch ? inSize - pos : kMaxMatch;
        std::size_t length = kMinMatch;
        while (length + 8 <= room) {
            std::uint64_t a;
            std::uint64_t b;
            std::memcpy(&a, in + pos + length, 8);
            std::memcpy(&b, in + ref + length, 8);
            if (a != b) {
                length += static_cast<std::size_t>(__builtin_ctzll(a ^ b)) >> 3;
                break;
            }
            length += 8;
        }
        while (length < room && in[pos + length] == in[ref + length]) {
            ++length;
        }
        if (!literals(in + pending, pos - pending, op, outEnd) || outEnd - op < 3) {
            return 0;
        }
        const std::size_t offset = distance - 1;
        const std::size_t code = length - 2;
        if (code < 7) {
            *op++ = static_cast<unsigned char>(code << 5 | offset >> 8);
        } else {
            *op++ = static_cast<unsigned char>(7 << 5 | offset >> 8);
            *op++ = static_cast<unsigned char>(code - 7);
        }
        *op++ = static_cast<unsigned char>(offset & 0xff);
        pos += length;
        pending = pos;
        misses = 0;
    }
    if (pending < inSize && !literals(in + pending, inSize - pending, op, outEnd)) {
        return 0;
    }
    return static_cast<std::size_t>(op - out);
}

} // namespace formats::lzf
