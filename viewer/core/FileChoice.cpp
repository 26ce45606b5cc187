#include "FileChoice.h"

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
    return "Point clouds and captures (*.pcd *.ply *.las *.csv *.pcap *.pcapng)"
           ";;Point cloud data (*.pcd);;PLY (*.ply);;LAS (*.las);;CSV (*.csv)"
           ";;Packet captures (*.pcap *.pcapng);;All files (*)";
}

LoadKind loadKind(const std::string& path) {
    for (const char* extension : {".pcap", ".pcapng", ".cap"}) {
        if (endsWithNoCase(path, extension)) {
            return LoadKind::Capture;
        }
    }
    unsigned char magic[4] = {};
    std::ifstream in(path, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(magic), sizeof magic)) {
        return LoadKind::PointFile;
    }
    static const unsigned char kMagics[][4] = {
        {0xa1, 0xb2, 0xc3, 0xd4},                           // pcap, microseconds, either byte order
        {0xd4, 0xc3, 0xb2, 0xa1}, {0xa1, 0xb2, 0x3c, 0x4d}, // pcap, nanoseconds
        {0x4d, 0x3c, 0xb2, 0xa1}, {0x0a, 0x0d, 0x0d, 0x0a}, // pcapng section header block
    };
    for (const auto& m : kMagics) {
        if (std::memcmp(magic, m, sizeof magic) == 0) {
            return LoadKind::Capture;
        }
    }
    return LoadKind::PointFile;
}

} // namespace viewer
