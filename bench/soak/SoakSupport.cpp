#include "SoakSupport.h"

#include <fstream>
#include <sstream>

namespace soak {

namespace {

bool toNumber(const std::string& text, double& value) {
    try {
        std::size_t used = 0;
        value = std::stod(text, &used);
        return used == text.size() && value > 0.0;
    } catch (const std::exception&) {
        return false;
    }
}

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& name = arguments[i];
        if (name == "--help" || name == "-h") {
            options.help = true;
            return options;
        }
        if (i + 1 >= arguments.size()) {
            options.error = "missing value after " + name;
            return options;
        }
        const std::string& value = arguments[++i];
        double number = 0.0;
        if (name == "--address") {
            if (value.rfind("127.", 0) != 0) {
                options.error = "the address must be in 127.0.0.0/8";
                return options;
            }
            options.address = value;
            continue;
        }
        if (!toNumber(value, number)) {
            options.error = "not a positive number: " + name + " " + value;
            return options;
        }
        if (name == "--minutes") {
            options.seconds = number * 60.0;
        } else if (name == "--seconds") {
            options.seconds = number;
        } else if (name == "--mode-seconds") {
            options.modeSeconds = number;
        } else if (name == "--fill-factor" && number <= 100) {
            options.fillFactor = static_cast<unsigned>(number);
        } else if (name == "--data-port" && number < 65536) {
            options.dataPort = static_cast<unsigned>(number);
        } else if (name == "--max-points" && number >= 1000 && number <= 10000000) {
            options.maximumPoints = static_cast<unsigned>(number);
        } else {
            options.error = "unknown option or value out of range: " + name + " " + value;
            return options;
        }
    }
    return options;
}

std::string usageText(const std::string& program) {
    return "usage: " + program +
           " [--minutes M | --seconds S] [--address 127.x.y.z] [--data-port P]"
           " [--max-points N] [--mode-seconds S] [--fill-factor K]\n"
           "Streams a simulated LX20 at 30000 points/s (high-speed) into the viewer's window\n"
           "during a full-field scan and reports points sent and received, resident memory\n"
           "and the longest GUI-thread stall. Defaults: 10 minutes, 127.91.0.1, data port\n"
           "45400, buffer maximum 10000000 points (the window's largest). Then each display\n"
           "mode in turn for S seconds (default 30; 0 leaves them out), the stream going on.\n"
           "--fill-factor K hands each batch to the window K times until the buffer is full\n"
           "(a quick way to a full buffer when iterating; figures come from K = 1).\n"
           "Run under a display, e.g. xvfb-run -a -s \"-screen 0 1280x1024x24\".\n";
}

long residentKb(const std::string& statusText) {
    std::istringstream in(statusText);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            std::istringstream fields(line.substr(6));
            long kb = -1;
            fields >> kb;
            return fields ? kb : -1;
        }
    }
    return -1;
}

long residentKbOf(int pid) {
    return residentKb(
        readAll(pid == 0 ? "/proc/self/status" : "/proc/" + std::to_string(pid) + "/status"));
}

long udpDrops(const std::string& procNetUdp, unsigned port) {
    std::istringstream in(procNetUdp);
    std::string line;
    std::getline(in, line); // the column headings
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local;
        fields >> slot >> local;
        const std::size_t colon = local.find(':');
        if (colon == std::string::npos)
            continue;
        unsigned long localPort = 0;
        try {
            localPort = std::stoul(local.substr(colon + 1), nullptr, 16);
        } catch (const std::exception&) {
            continue;
        }
        if (localPort != port)
            continue;
        std::string field, last;
        while (fields >> field)
            last = field;
        try {
            return std::stol(last);
        } catch (const std::exception&) {
            return -1;
        }
    }
    return -1;
}

long udpDropsNow(unsigned port) {
    return udpDrops(readAll("/proc/net/udp"), port);
}

long long drawnPoints(const std::string& drawnLabel, bool shown, long long buffered) {
    if (!shown) {
        return buffered;
    }
    std::istringstream words(drawnLabel);
    std::string showing;
    long long drawn = -1;
    words >> showing >> drawn;
    return showing == "showing" && words ? drawn : -1;
}

double bytesPerPoint(long residentKb, long emptyBufferKb, long long buffered) {
    if (buffered <= 0) {
        return 0.0;
    }
    return static_cast<double>(residentKb - emptyBufferKb) * 1024.0 / static_cast<double>(buffered);
}

void StallTracker::tick(Clock::time_point now) {
    ++m_ticks;
    if (!m_started) {
        m_started = true;
        m_first = m_last = now;
        return;
    }
    const auto gap = std::chrono::duration_cast<std::chrono::microseconds>(now - m_last);
    m_last = now;
    if (gap > m_threshold)
        ++m_over;
    if (gap > m_longest) {
        m_longest = gap;
        m_longestAt = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_first);
    }
}

} // namespace soak
