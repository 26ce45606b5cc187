// tshark with the project's dissector loaded, over a capture file: the chosen fields of
// every frame.
#pragma once

#include "CaptureTestSupport.h"

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace pcaptest {

struct Tshark {
    std::vector<std::map<std::string, std::string>> frames;
    std::string errors;
};

// The fields of every frame, as tshark prints them with the dissector loaded.
inline Tshark runTshark(const std::string& file, const std::vector<std::string>& fields,
                        const std::string& options = "") {
    TempFile errors("tshark.err");
    std::string command = std::string(TSHARK) + " -X lua_script:" + SENTOVA_DISSECTOR + " -n " +
                          options + " -r " + file +
                          " -T fields -E separator=/t -E occurrence=a -E aggregator=,";
    for (const std::string& f : fields)
        command += " -e " + f;
    command += " 2>" + errors.path();
    Tshark result;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return result;
    std::string output;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    ::pclose(pipe);
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        std::map<std::string, std::string> frame;
        std::size_t at = 0;
        for (const std::string& f : fields) {
            const std::size_t tab = line.find('\t', at);
            frame[f] = line.substr(at, tab == std::string::npos ? std::string::npos : tab - at);
            at = tab == std::string::npos ? line.size() : tab + 1;
        }
        result.frames.push_back(frame);
    }
    // Everything but tshark's note about running as root.
    std::istringstream err(errors.read());
    while (std::getline(err, line))
        if (line.find("Running as user") == std::string::npos)
            result.errors += line + "\n";
    return result;
}

} // namespace pcaptest
