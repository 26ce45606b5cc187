#include "PcdHeader.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace formats {

namespace {

// The reader sizes its buffers from the header before it reads any data, takes a keyword by its
// first letters and a number by its leading digits, and stops at the first line it does not know.
// A corrupt or hostile header must not make it ask for more memory than the file could fill, so
// the header is checked first, strictly enough that it can only be read one way: printable
// words, each keyword once and spelt in full, numbers that are all digits. An ascii row then
// takes at least two bytes per point, binary data exactly its size, and compressed data at most
// about a hundredth of it.
const char* const kHeaderKeywords[] = {"VERSION", "FIELDS", "COLUMNS",   "SIZE",   "TYPE", "COUNT",
                                       "WIDTH",   "HEIGHT", "VIEWPOINT", "POINTS", "DATA"};

std::vector<std::string> headerWords(const std::string& line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        const std::size_t start = line.find_first_not_of(" \t\r", i);
        if (start == std::string::npos) {
            break;
        }
        i = line.find_first_of(" \t\r", start);
        words.push_back(line.substr(start, i == std::string::npos ? i : i - start));
    }
    return words;
}

bool printableHeaderLine(const std::string& line) {
    return std::all_of(line.begin(), line.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return c == '\t' || c == '\r' || (u >= 0x20 && u < 0x7f);
    });
}

// The reader does not stop at the DATA line: it goes on taking lines of the data as header lines
// for as long as they begin with a comment mark or a keyword. Such a file is not one we can
// check, nor one any writer makes.
bool headerGoesOnAfterData(std::istream& in) {
    auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    std::string line;
    while (std::getline(in, line)) {
        const auto first = std::find_if_not(line.begin(), line.end(), space);
        const std::string word(first, std::find_if(first, line.end(), space));
        if (line.empty() || (!word.empty() && word[0] == '#')) {
            continue;
        }
        return std::any_of(std::begin(kHeaderKeywords), std::end(kHeaderKeywords),
                           [&](const char* k) { return word.rfind(k, 0) == 0; });
    }
    return false;
}

} // namespace

bool declaredSizeFits(std::istream& in, std::string& error) {
    // The reader keeps counts and sizes in ints.
    constexpr std::uint64_t kLargest = std::numeric_limits<std::int32_t>::max();
    std::vector<std::uint64_t> sizes;
    std::vector<std::uint64_t> counts;
    std::uint64_t fields = 0;
    std::uint64_t points = 0;
    std::uint64_t width = 0;
    std::uint64_t height = 1;
    std::vector<std::string> seen;
    std::vector<std::string> names;
    std::string kind;
    std::string line;
    const std::string unreadable = "not a readable PCD file";
    for (int lines = 0; lines < 64 && kind.empty() && std::getline(in, line); ++lines) {
        const std::vector<std::string> words = headerWords(line);
        if (line.empty() || (!words.empty() && words[0][0] == '#')) {
            continue;
        }
        if (!printableHeaderLine(line) || words.empty() ||
            std::find(std::begin(kHeaderKeywords), std::end(kHeaderKeywords), words[0]) ==
                std::end(kHeaderKeywords) ||
            std::find(seen.begin(), seen.end(), words[0]) != seen.end()) {
            error = unreadable;
            return false;
        }
        const std::string& key = words[0];
        seen.push_back(key);
        std::vector<std::uint64_t> numbers;
        if (key == "SIZE" || key == "COUNT" || key == "WIDTH" || key == "HEIGHT" ||
            key == "POINTS") {
            for (std::size_t i = 1; i < words.size(); ++i) {
                std::uint64_t v = 0;
                const std::string& w = words[i];
                const auto r = std::from_chars(w.data(), w.data() + w.size(), v);
                if (r.ec != std::errc() || r.ptr != w.data() + w.size() || v > kLargest) {
                    error = "the header declares an impossible size";
                    return false;
                }
                numbers.push_back(v);
            }
            if (numbers.empty()) {
                error = unreadable;
                return false;
            }
        }
        if (key == "FIELDS" || key == "COLUMNS") {
            fields = words.size() - 1;
            names = words;
        } else if (key == "SIZE") {
            if (!std::all_of(numbers.begin(), numbers.end(), [](std::uint64_t n) {
                    return n == 1 || n == 2 || n == 4 || n == 8;
                })) {
                error = unreadable;
                return false;
            }
            sizes = numbers;
        } else if (key == "COUNT") {
            counts = numbers;
        } else if (key == "WIDTH") {
            width = numbers[0];
        } else if (key == "HEIGHT") {
            height = numbers[0];
        } else if (key == "POINTS") {
            points = numbers[0];
        } else if (key == "DATA") {
            kind = words.size() > 1 ? words[1] : "?";
        }
    }
    const std::streampos dataStart = in.tellg();
    if (!kind.empty() && headerGoesOnAfterData(in)) {
        error = unreadable;
        return false;
    }
    // Every number is below 2^31, so single products fit; sums saturate, and the checks
    // below compare products by division.
    auto add = [](std::uint64_t a, std::uint64_t b) {
        return a > std::numeric_limits<std::uint64_t>::max() - b
                   ? std::numeric_limits<std::uint64_t>::max()
                   : a + b;
    };
    // The reader's point size depends on which of FIELDS, SIZE and COUNT it has seen: bound it
    // by the largest.
    std::uint64_t sized = 0;
    std::uint64_t counted = 0;
    std::uint64_t values = 0;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const std::uint64_t count = i < counts.size() ? counts[i] : 1;
        sized = add(sized, sizes[i]);
        counted = add(counted, sizes[i] * count);
        values = add(values, count);
    }
    const std::uint64_t pointStep = std::max({fields * 4, sized, counted});
    if (pointStep > kLargest) {
        error = "the header declares an impossible size";
        return false;
    }
    values = std::max(values, fields);
    const std::uint64_t declared = std::max(points, width * height);
    in.clear();
    in.seekg(0, std::ios::end);
    const std::streampos end = in.tellg();
    const std::uint64_t body =
        dataStart >= 0 && end > dataStart ? static_cast<std::uint64_t>(end - dataStart) : 0;
    auto atMost = [](std::uint64_t a, std::uint64_t b, std::uint64_t limit) {
        return a == 0 || b == 0 || a <= limit / b;
    };
    bool fits = true;
    if (kind == "ascii") {
        // Every value of a row takes at least a digit and a separator, and is stored in at
        // most 8 bytes.
        fits = atMost(declared, std::max<std::uint64_t>(values, 1), body / 2) &&
               atMost(declared, pointStep, body * 4);
    } else if (kind == "binary") {
        fits = atMost(declared, pointStep, body);
    } else if (kind == "binary_compressed") {
        fits = body <= std::numeric_limits<std::uint64_t>::max() / 100 &&
               atMost(declared, pointStep, body * 100);
        // The reader sizes its buffers by the stored sizes and then unpacks every declared
        // point into them without checking: the stored sizes must agree with the header.
        // Padding fields ("_") are not stored.
        std::uint64_t packed = 0;
        for (std::size_t i = 0; i < fields; ++i) {
            if (names[i + 1] != "_") {
                packed = add(packed, (i < sizes.size() ? sizes[i] : 4) *
                                         (i < counts.size() ? counts[i] : 1));
            }
        }
        auto product = [](std::uint64_t a, std::uint64_t b) {
            return a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a
                       ? std::numeric_limits<std::uint64_t>::max()
                       : a * b;
        };
        unsigned char stored[8] = {};
        in.clear();
        in.seekg(dataStart);
        if (body >= 8 && in.read(reinterpret_cast<char*>(stored), 8)) {
            auto le32 = [&stored](int at) {
                return std::uint64_t{stored[at]} | std::uint64_t{stored[at + 1]} << 8 |
                       std::uint64_t{stored[at + 2]} << 16 | std::uint64_t{stored[at + 3]} << 24;
            };
            const std::uint64_t compressedSize = le32(0);
            const std::uint64_t uncompressedSize = le32(4);
            fits = fits && compressedSize <= body - 8 &&
                   product(declared, packed) <= uncompressedSize &&
                   uncompressedSize <= product(declared, pointStep);
        } else {
            fits = fits && declared == 0;
        }
    } else {
        error = unreadable;
        return false;
    }
    if (!fits) {
        error = "the file holds fewer points than its header declares";
    }
    return fits;
}

namespace {

std::optional<Scalar> pcdType(const std::string& type, std::uint64_t size) {
    if (type == "F") {
        return size == 4   ? std::optional(Scalar::Float32)
               : size == 8 ? std::optional(Scalar::Float64)
                           : std::nullopt;
    }
    if (type == "I" || type == "U") {
        const bool u = type == "U";
        switch (size) {
        case 1:
            return u ? Scalar::Uint8 : Scalar::Int8;
        case 2:
            return u ? Scalar::Uint16 : Scalar::Int16;
        case 4:
            return u ? Scalar::Uint32 : Scalar::Int32;
        default:
            break;
        }
    }
    return std::nullopt;
}

} // namespace

bool readLayout(std::istream& in, PcdLayout& layout, std::string& error) {
    std::vector<std::string> names;
    std::vector<std::string> sizes;
    std::vector<std::string> types;
    std::vector<std::string> counts;
    std::optional<std::uint64_t> width;
    std::uint64_t height = 1;
    std::optional<std::uint64_t> points;
    auto number = [](const std::string& w) {
        std::uint64_t v = 0;
        std::from_chars(w.data(), w.data() + w.size(), v);
        return v;
    };
    std::string line;
    while (layout.data.empty() && std::getline(in, line)) {
        std::vector<std::string> words = headerWords(line);
        if (words.empty() || words[0][0] == '#') {
            continue;
        }
        const std::string key = words[0];
        words.erase(words.begin());
        if (key == "FIELDS" || key == "COLUMNS") {
            names = words;
        } else if (key == "SIZE") {
            sizes = words;
        } else if (key == "TYPE") {
            types = words;
        } else if (key == "COUNT") {
            counts = words;
        } else if (key == "WIDTH") {
            width = number(words[0]);
        } else if (key == "HEIGHT") {
            height = number(words[0]);
        } else if (key == "POINTS") {
            points = number(words[0]);
        } else if (key == "DATA") {
            layout.data = words.empty() ? "?" : words[0];
        }
    }
    layout.dataStart = static_cast<std::uint64_t>(in.tellg());
    const std::size_t n = names.size();
    if (n == 0 || sizes.size() != n || types.size() != n ||
        (!counts.empty() && counts.size() != n)) {
        error = "not a readable PCD file";
        return false;
    }
    const std::uint64_t declared = width ? *width * height : points.value_or(0);
    if (points && *points != declared) {
        error = "not a readable PCD file";
        return false;
    }
    layout.points = declared;
    for (std::size_t i = 0; i < n; ++i) {
        PcdField f;
        f.name = names[i];
        f.size = number(sizes[i]);
        f.count = counts.empty() ? 1 : number(counts[i]);
        const std::optional<Scalar> type = pcdType(types[i], f.size);
        if (!type) {
            error = "not a readable PCD file";
            return false;
        }
        f.type = *type;
        f.offset = layout.pointStep;
        layout.pointStep += f.size * f.count;
        layout.fields.push_back(f);
    }
    return true;
}

} // namespace formats
