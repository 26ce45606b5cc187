#pragma once

// The point file a subcommand writes: its format (given, or from the extension), the columns,
// and the checks made before any work starts, so that a capture does not end in a file that
// cannot be written.

#include "Formats.h"
#include "ProgressLine.h"
#include "SentovaMcap/Writer.h"

#include <optional>
#include <string>

namespace cli {

struct Destination {
    std::string path;
    formats::Format format = formats::Format::PcdAscii;
    // An MCAP file (named "mcap" or by the extension .mcap) instead of a point format.
    bool mcap = false;
    sentova::mcap::WriterOptions mcapOptions{};
};

// The format named by --format (empty: from the path's extension; "mcap" or .mcap for MCAP). Usage
// errors for an unknown name or extension, and for an existing file without force.
Destination chooseOutput(const std::string& path, const std::string& formatName, bool force);

// Throws Failure(1) when no file can be created beside path (a missing folder, no permission).
void checkWritable(const Destination& output);

// The columns of --fields ("x,y,z,amplitude"; empty: nothing chosen).
std::optional<formats::FieldSelection> parseFields(const std::string& list);

// "pcd, pcd-binary, ..." for messages and help.
std::string formatNames();
std::string fieldNames();

// Writes the points (as one MCAP message logged now, for an MCAP file), showing its progress on
// line. Throws Failure(1).
void writePoints(const Destination& output, const std::deque<DataPoint>& points,
                 const formats::FieldSelection& fields, ProgressLine& line);

} // namespace cli
