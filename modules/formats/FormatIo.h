#pragma once

// The writers and readers of each format behind Formats.h. Internal to the formats module.
// Writers return an empty string, or why they could not write; a cancelled ticker stops them
// early (what they wrote is then discarded by the caller).

#include "DataPoint.h"
#include "Formats.h"
#include "InputFile.h"
#include "Progress.h"

#include <deque>
#include <ostream>
#include <string>
#include <vector>

namespace formats::io {

enum class PcdData { Ascii, Binary, BinaryCompressed };

// Calls write(point) for each point in order, and stops early once the ticker is cancelled.
template <class Write>
void forEachPoint(const std::deque<DataPoint>& points, Ticker& ticker, Write&& write) {
    std::uint64_t i = 0;
    for (const DataPoint& p : points) {
        if (!ticker.at(i++)) {
            return;
        }
        write(p);
    }
}

std::string writePcd(std::ostream& out, const std::deque<DataPoint>& points,
                     const std::vector<Field>& fields, PcdData data, Ticker& ticker);
std::string writePcdLx20(std::ostream& out, const std::deque<DataPoint>& points,
                         const FieldSelection& selection, const Lx20Formats& formats,
                         Ticker& ticker);
std::string writePly(std::ostream& out, const std::deque<DataPoint>& points,
                     const std::vector<Field>& fields, bool binary, Ticker& ticker);
std::string writeLas(std::ostream& out, const std::deque<DataPoint>& points,
                     const FieldSelection& selection, Ticker& ticker);
std::string writeCsv(std::ostream& out, const std::deque<DataPoint>& points,
                     const std::vector<Field>& fields, Ticker& ticker);

// Readers fill result (points, fields, format) or set result.error; the ticker counts bytes.
void readPcd(const std::string& path, ReadResult& result, Ticker& ticker);
void readPly(InputFile& in, ReadResult& result, Ticker& ticker);
void readLas(InputFile& in, ReadResult& result, Ticker& ticker);
void readCsv(InputFile& in, ReadResult& result, Ticker& ticker);

} // namespace formats::io
