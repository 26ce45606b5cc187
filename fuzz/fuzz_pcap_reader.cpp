// Arbitrary bytes as a capture file through the reader (libpcap's pcap and
// pcapng parsing, then our frame parsing and laser selection), and as a single
// frame of each link type.
#include "SentovaPcap/Capture.h"
#include "SentovaPcap/LaserCapture.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace sentova::pcap;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (LinkType type :
         {LinkType::Raw, LinkType::Ethernet, LinkType::LinuxCooked, LinkType::LinuxCooked2}) {
        const ParsedFrame frame = parseFrame(type, data, size, size);
        if (frame.problem == FrameProblem::None && frame.datagram.bytes.size() > size)
            std::abort();
        if (frame.problem != FrameProblem::None && frame.detail.empty())
            std::abort();
    }

    std::string copy(reinterpret_cast<const char*>(data), size);
    std::FILE* stream = fmemopen(copy.empty() ? nullptr : &copy[0], copy.size(), "rb");
    if (!stream)
        return 0;
    try {
        Reader reader(stream, "input");
        LaserSurvey survey;
        Datagram d;
        std::uint64_t datagrams = 0;
        while (reader.next(d)) {
            survey.add(d);
            if (d.bytes.size() > kMaximumUdpPayload)
                std::abort();
            ++datagrams;
        }
        if (datagrams != reader.datagramsRead() ||
            reader.packetsRead() != datagrams + reader.skipped().total())
            std::abort();
        if (reader.next(d))
            std::abort(); // stays ended
        survey.filter();
        (void)reader.report();
    } catch (const CaptureError&) {
        // Refused files are an expected outcome.
    }
    return 0;
}
