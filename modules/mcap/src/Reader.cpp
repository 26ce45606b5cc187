#include "SentovaMcap/Reader.h"

#include "SentovaMcap/Records.h"

#include "Fields.h"

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

namespace sentova {
namespace mcap {

namespace {

// A chunk may claim any size; more than this is taken for damage (ours hold at most one
// message of a million points, about 70 MB).
constexpr std::uint64_t kMaxChunkBytes = 1ull << 30;

struct Bad {
    std::string what;
};

class Bytes {
public:
    Bytes(const char* data, std::size_t size) : m_data(data), m_size(size) {}
    std::size_t left() const { return m_size - m_at; }
    std::size_t at() const { return m_at; }
    std::uint64_t u(int bytes) {
        need(static_cast<std::size_t>(bytes));
        std::uint64_t v = 0;
        for (int i = bytes - 1; i >= 0; --i)
            v = (v << 8) | static_cast<unsigned char>(m_data[m_at + i]);
        m_at += bytes;
        return v;
    }
    std::string take(std::uint64_t n) {
        need(n);
        m_at += n;
        return std::string(m_data + m_at - n, n);
    }
    std::string str() { return take(u(4)); }
    void skip(std::uint64_t n) {
        need(n);
        m_at += n;
    }

private:
    void need(std::uint64_t n) const {
        if (n > left())
            throw Bad{"a record runs past its end"};
    }
    const char* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

struct Channel {
    bool pointCloud = false;
};

struct Field {
    std::uint32_t offset = 0;
    int type = 0;
};

// The field of the point at offset at; none when the type is unknown or the field does not lie
// within its point.
std::optional<double> valueAt(const std::string& data, std::size_t at, std::uint32_t stride,
                              const Field& f) {
    static const std::uint32_t kSizes[] = {0, 1, 1, 2, 2, 4, 4, 4, 8};
    if (f.type < 1 || f.type > 8 || std::uint64_t(f.offset) + kSizes[f.type] > stride ||
        at + stride > data.size())
        return std::nullopt;
    const char* p = data.data() + at + f.offset;
    switch (f.type) {
    case 1:
        return static_cast<double>(static_cast<std::uint8_t>(*p));
    case 2:
        return static_cast<double>(static_cast<std::int8_t>(*p));
    case 3: {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    case 4: {
        std::int16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    case 5: {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    case 6: {
        std::int32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    case 7: {
        float v;
        std::memcpy(&v, p, 4);
        return v;
    }
    default: {
        double v;
        std::memcpy(&v, p, 8);
        return v;
    }
    }
}

void readCloud(const std::string& json, PointCloudRead& out) {
    boost::property_tree::ptree tree;
    std::istringstream in(json);
    try {
        boost::property_tree::read_json(in, tree);
    } catch (const boost::property_tree::json_parser_error& e) {
        throw Bad{"a point cloud message is not JSON: " + e.message()};
    }
    const auto stride = tree.get_optional<std::uint32_t>("point_stride");
    const auto text = tree.get_optional<std::string>("data");
    const auto fields = tree.get_child_optional("fields");
    if (!stride || !text || !fields || *stride == 0)
        throw Bad{"a point cloud message without point_stride, fields or data"};
    std::map<std::string, Field> byName;
    for (const auto& entry : *fields) {
        const auto name = entry.second.get_optional<std::string>("name");
        const auto offset = entry.second.get_optional<std::uint32_t>("offset");
        const auto type = entry.second.get_optional<int>("type");
        if (!name || !offset || !type)
            throw Bad{"a point cloud field without name, offset or type"};
        byName[*name] = Field{*offset, *type};
    }
    std::string data;
    if (!decodeBase64(*text, data))
        throw Bad{"point cloud data that is not base64"};
    if (data.size() % *stride != 0)
        throw Bad{"point cloud data that is not a whole number of points"};
    const auto field = [&](const char* name) -> const Field* {
        const auto f = byName.find(name);
        return f == byName.end() ? nullptr : &f->second;
    };
    const Field* x = field("x");
    const Field* y = field("y");
    const Field* z = field("z");
    const Field* intensity = field("intensity");
    const Field* range = field("range");
    const Field* azimuth = field("azimuth");
    const Field* elevation = field("elevation");
    const Field* reflectance = field("reflectance");
    const Field* deviation = field("pulse_shape_deviation");
    const Field* time = field("time");
    for (std::size_t at = 0; at < data.size(); at += *stride) {
        DataPoint p;
        const auto get = [&](const Field* f) -> double {
            if (f == nullptr)
                return 0.0;
            const std::optional<double> v = valueAt(data, at, *stride, *f);
            if (!v)
                throw Bad{"a point cloud field outside its point"};
            return *v;
        };
        p.x = get(x);
        p.y = get(y);
        p.z = get(z);
        p.intensity = static_cast<float>(get(intensity));
        p.range = static_cast<float>(get(range));
        p.azimuth = static_cast<float>(get(azimuth));
        p.elevation = static_cast<float>(get(elevation));
        p.reflectance = static_cast<float>(get(reflectance));
        p.pulseShapeDeviation = static_cast<float>(get(deviation));
        const double t = get(time);
        p.timestamp = formats::timestampFromReal(t);
        out.points.push_back(p);
    }
    ++out.messages;
}

// What the records read so far have declared, and where the points go.
struct Context {
    std::map<std::uint16_t, Channel> channels;
    std::map<std::uint16_t, std::string> schemas;
    PointCloudRead& out;
    const formats::Cancel& cancel;
};

struct Cancelled {};

void readChunkRecords(const char* data, std::size_t size, Context& c);

// One record of the data section or of a chunk, its content at data.
void readRecord(Opcode op, const char* data, std::size_t length, Context& c, bool inChunk) {
    Bytes r(data, length);
    switch (op) {
    case Opcode::Schema: {
        const auto id = static_cast<std::uint16_t>(r.u(2));
        c.schemas[id] = r.str();
        break;
    }
    case Opcode::Channel: {
        const auto id = static_cast<std::uint16_t>(r.u(2));
        const auto schema = static_cast<std::uint16_t>(r.u(2));
        r.str();
        const std::string encoding = r.str();
        c.channels[id].pointCloud =
            encoding == "json" && c.schemas[schema] == "foxglove.PointCloud";
        break;
    }
    case Opcode::Message: {
        const auto id = static_cast<std::uint16_t>(r.u(2));
        r.skip(20);
        const auto channel = c.channels.find(id);
        if (channel != c.channels.end() && channel->second.pointCloud) {
            // A chunk may hold many clouds: a cancel is not kept waiting for the chunk's end.
            if (c.cancel && c.cancel())
                throw Cancelled{};
            readCloud(r.take(r.left()), c.out);
        }
        break;
    }
    case Opcode::Chunk: {
        if (inChunk)
            throw Bad{"a chunk inside a chunk"};
        r.skip(16);
        const std::uint64_t size = r.u(8);
        const auto crc = static_cast<std::uint32_t>(r.u(4));
        const std::string compression = r.str();
        const std::uint64_t stored = r.u(8);
        if (stored > r.left() || size > kMaxChunkBytes)
            throw Bad{"a chunk larger than the file holds"};
        const char* records = data + r.at();
        std::string raw;
        if (compression == "zstd") {
            const unsigned long long frame = ZSTD_getFrameContentSize(records, stored);
            if (frame != size)
                throw Bad{"a zstd chunk whose size does not match its header"};
            raw.resize(size);
            const std::size_t n = ZSTD_decompress(raw.data(), raw.size(), records, stored);
            if (ZSTD_isError(n) || n != size)
                throw Bad{"a zstd chunk that does not decompress"};
        } else if (compression.empty()) {
            if (stored != size)
                throw Bad{"an uncompressed chunk whose size does not match"};
            raw.assign(records, stored);
        } else {
            throw Bad{"chunks compressed with " + compression + ", which is not read here"};
        }
        if (crc != 0 && crc32(raw.data(), raw.size()) != crc)
            throw Bad{"a chunk whose CRC does not match: the file is damaged"};
        readChunkRecords(raw.data(), raw.size(), c);
        break;
    }
    default:
        break;
    }
}

void readChunkRecords(const char* data, std::size_t size, Context& c) {
    Bytes b(data, size);
    while (b.left() > 0) {
        const auto op = static_cast<Opcode>(b.u(1));
        const std::uint64_t length = b.u(8);
        if (length > b.left())
            throw Bad{"a record runs past the end of the file"};
        const char* content = data + b.at();
        b.skip(length);
        readRecord(op, content, length, c, true);
    }
}

constexpr std::size_t kRecordHeader = 9; // opcode, then the content's length

// The file's bytes after the magic, in memory.
class MemorySource {
public:
    MemorySource(const char* data, std::size_t size) : m_data(data), m_size(size) {}
    std::uint64_t left() const { return m_size - m_at; }
    std::uint64_t at() const { return m_at; }
    const char* take(std::size_t n) {
        m_at += n;
        return m_data + m_at - n;
    }

private:
    const char* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

// The file's bytes after the magic, a record at a time: what is held is one record, not the
// file.
class FileSource {
public:
    FileSource(std::ifstream& in, std::uint64_t size) : m_in(in), m_size(size) {}
    std::uint64_t left() const { return m_size - m_at; }
    std::uint64_t at() const { return m_at; }
    const char* take(std::size_t n) {
        m_buffer.resize(n);
        if (!m_in.read(m_buffer.data(), static_cast<std::streamsize>(n)))
            throw Bad{"a record runs past the end of the file"}; // it shrank while read
        m_at += n;
        return m_buffer.data();
    }

private:
    std::ifstream& m_in;
    std::uint64_t m_size;
    std::uint64_t m_at = 0;
    std::string m_buffer;
};

// The data section's records up to its end; the summary after it repeats what came before.
// position: where the source begins in the file, for the progress.
template <class Source>
void readDataSection(Source& source, Context& c, formats::Ticker& ticker, std::uint64_t position) {
    for (;;) {
        if (source.left() == 0)
            throw Bad{"the file ends before its data section does"};
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(kRecordHeader, source.left()));
        Bytes header(source.take(n), n);
        const auto op = static_cast<Opcode>(header.u(1));
        const std::uint64_t length = header.u(8);
        if (length > source.left())
            throw Bad{"a record runs past the end of the file"};
        const char* content = source.take(static_cast<std::size_t>(length));
        if (op == Opcode::DataEnd)
            return;
        readRecord(op, content, static_cast<std::size_t>(length), c, false);
        if (!ticker.at(position + source.at()))
            throw Cancelled{};
    }
}

template <class Source>
PointCloudRead readSource(Source& source, std::uint64_t total, const formats::Progress& progress,
                          const formats::Cancel& cancel) {
    PointCloudRead out;
    Context c{{}, {}, out, cancel};
    formats::Ticker ticker(total, progress, cancel);
    try {
        readDataSection(source, c, ticker, kMagic.size());
    } catch (const Bad& b) {
        out.error = b.what;
        out.points.clear();
        return out;
    } catch (const Cancelled&) {
        out.cancelled = true;
        out.points.clear();
        return out;
    }
    if (out.messages == 0) {
        out.error = "it holds no foxglove.PointCloud messages in JSON";
        return out;
    }
    ticker.finish();
    out.ok = true;
    return out;
}

} // namespace

bool decodeBase64(const std::string& text, std::string& out) {
    const auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z')
            return c - 'A';
        if (c >= 'a' && c <= 'z')
            return c - 'a' + 26;
        if (c >= '0' && c <= '9')
            return c - '0' + 52;
        return c == '+' ? 62 : c == '/' ? 63 : -1;
    };
    if (text.size() % 4 != 0)
        return false;
    out.clear();
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const int pad = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
        std::uint32_t v = 0;
        for (int k = 0; k < 4; ++k) {
            const int d = k >= 4 - pad ? 0 : value(text[i + k]);
            if (d < 0)
                return false;
            v = (v << 6) | static_cast<std::uint32_t>(d);
        }
        out += static_cast<char>(v >> 16);
        if (pad < 2)
            out += static_cast<char>((v >> 8) & 0xFF);
        if (pad < 1)
            out += static_cast<char>(v & 0xFF);
    }
    return true;
}

PointCloudRead readPointCloudBytes(const std::string& bytes, const formats::Progress& progress,
                                   const formats::Cancel& cancel) {
    if (bytes.compare(0, kMagic.size(), kMagic) != 0) {
        PointCloudRead out;
        out.error = "not an MCAP file";
        return out;
    }
    MemorySource source(bytes.data() + kMagic.size(), bytes.size() - kMagic.size());
    return readSource(source, bytes.size(), progress, cancel);
}

PointCloudRead readPointClouds(const std::string& path, const formats::Progress& progress,
                               const formats::Cancel& cancel) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        PointCloudRead out;
        out.error = "cannot open it";
        return out;
    }
    const std::streamoff end = in.tellg();
    in.seekg(0);
    std::string magic(kMagic.size(), '\0');
    if (end < 0 || !in.read(magic.data(), static_cast<std::streamsize>(magic.size())) ||
        magic != kMagic) {
        PointCloudRead out;
        out.error = "not an MCAP file";
        return out;
    }
    FileSource source(in, static_cast<std::uint64_t>(end) - kMagic.size());
    return readSource(source, static_cast<std::uint64_t>(end), progress, cancel);
}

} // namespace mcap
} // namespace sentova
