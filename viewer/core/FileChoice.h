#pragma once

// What the window's file dialogs offer and what follows from the answer: the save dialog's
// filters (one per point format, the viewer's ASCII PCD first), the file name and format a save
// writes, and whether a file chosen for loading is a capture of the device's traffic or a point
// file. Pure but for loadKind, which looks at the file's first bytes; any thread.

#include "Formats.h"

#include <string>
#include <vector>

namespace viewer {

struct SaveFilter {
    formats::Format format;
    std::string text; // as the dialog shows it: "PLY binary (*.ply)"
};

// Every format, the default first: "Point cloud data (*.pcd)" for the ASCII PCD.
const std::vector<SaveFilter>& saveFilters();
// The filters as one QFileDialog filter string (";;" between them).
std::string saveFilterList();

struct SaveTarget {
    std::string path;
    formats::Format format;
};

// The file a save writes for the name typed and the filter chosen: the filter's format, the name
// with the format's extension appended unless it already ends in it (in any case). A filter text
// that is none of saveFilters() stands for the default.
SaveTarget saveTarget(const std::string& name, const std::string& filter);

// The load dialog's filters: every readable file first, then each kind alone.
std::string loadFilterList();

enum class LoadKind { PointFile, Capture, Mcap };

// A capture when the name ends in .pcap, .pcapng or .cap (any case) or the file begins with the
// magic number of a pcap or pcapng file; an MCAP file when the name ends in .mcap or the file
// begins with MCAP's magic; a point file otherwise (its reader says what is wrong).
LoadKind loadKind(const std::string& path);

} // namespace viewer
