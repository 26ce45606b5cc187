#include "FileChoice.h"

#include "SentovaMcap/Records.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>

namespace viewer {

namespace {

bool endsWithNoCase(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() &&
           std::equal(tail.begin(), tail.end(), s.end() - static_cast<long>(tail.size()),
                      [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) ==
                                 std::tolower(static_cast<unsigned char>(b));
                      });
}

} // namespace

const std::vector<SaveFilter>& saveFilters() {
    static const std::vector<SaveFilter> filters = [] {
        std::vector<SaveFilter> out;
        for (const formats::FormatInfo& info : formats::allFormats()) {
            const std::string pattern = std::string(" (*") + info.extension + ")";
            // The ASCII PCD keeps the name the viewer has always given it.
            const std::string name =
                info.format == formats::Format::PcdAscii ? "Point cloud data" : info.description;
            out.push_back({info.format, name + pattern});
        }
        return out;
    }();
    return filters;
}

std::string saveFilterList() {
    std::string list;
    for (const SaveFilter& filter : saveFilters()) {
        list += (list.empty() ? "" : ";;") + filter.text;
    }
    return list;
}

SaveTarget saveTarget(const std::string& name, const std::string& filter) {
    formats::Format format = saveFilters().front().format;
    for (const SaveFilter& f : saveFilters()) {
        if (f.text == filter) {
            format = f.format;
        }
    }
    const std::string extension = formats::formatInfo(format).extension;
    return {endsWithNoCase(name, extension) ? name : name + extension, format};
}

std::string loadFilterList() {
    return "Point clouds and captures (*.pcd *.ply *.las *.csv *.mcap *.pcap *.pcapng)"
           ";;Point cloud data (*.pcd);;PLY (*.ply);;LAS (*.las);;CSV (*.csv);;MCAP (*.mcap)"
           ";;Packet captures (*.pcap *.pcapng);;All files (*)";
}

LoadKind loadKind(const std::string& path) {
    for (const char* extension : {".pcap", ".pcapng", ".cap"}) {
        if (endsWithNoCase(path, extension)) {
            return LoadKind::Capture;
        }
    }
    if (endsWithNoCase(path, ".mcap")) {
        return LoadKind::Mcap;
    }
    // Enough for MCAP's magic; a file shorter than a pcap magic is a point file.
    unsigned char magic[8] = {};
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(magic), sizeof magic);
    const auto got = static_cast<std::size_t>(in.gcount());
    if (got < 4) {
        return LoadKind::PointFile;
    }
    const std::string& mcapMagic = sentova::mcap::kMagic;
    if (got == mcapMagic.size() && std::memcmp(magic, mcapMagic.data(), got) == 0) {
        return LoadKind::Mcap;
    }
    static const unsigned char kMagics[][4] = {
        {0xa1, 0xb2, 0xc3, 0xd4},                           // pcap, microseconds, either byte order
        {0xd4, 0xc3, 0xb2, 0xa1}, {0xa1, 0xb2, 0x3c, 0x4d}, // pcap, nanoseconds
        {0x4d, 0x3c, 0xb2, 0xa1}, {0x0a, 0x0d, 0x0d, 0x0a}, // pcapng section header block
    };
    for (const auto& m : kMagics) {
        if (std::memcmp(magic, m, sizeof m) == 0) {
            return LoadKind::Capture;
        }
    }
    return LoadKind::PointFile;
}

} // namespace viewer
