#pragma once

// The PCD files of the viewer: the ASCII writer with the preferences' column selection (and its
// LX20 variant with number formats in the header), and a reader for ascii, binary and
// binary_compressed PCD files. Pure functions on their arguments: any thread may call them, for
// different files at the same time. Formats.h offers these with progress and cancellation, and
// the other formats.

#include "DataPoint.h"
#include "Fields.h"

#include <deque>
#include <ostream>
#include <string>

namespace formats {

// Number formats of the LX20 writer ("save/..._format" keys, default 0): 0 gives SIZE 4 TYPE F,
// 1 gives SIZE 2 TYPE I, 2 gives SIZE 1 TYPE U. They change only the header.
struct Lx20Formats {
    int x = 0;
    int y = 0;
    int z = 0;
    int az = 0;
    int el = 0;
    int range = 0;
    int intensity = 0;
};

// Writes the points as an ASCII PCD 0.7 file: eleven header lines, then one row per point with
// every selected value in fixed notation with six decimals, each followed by a space. The
// timestamp column is TYPE U SIZE 4: a timestamp beyond its range is written as its largest
// value, 4294967295.
void writePcd(std::ostream& out, const std::deque<DataPoint>& points,
              const FieldSelection& selection, LIDAR_TYPE mode);

// The LX20 variant: fields x, y, z, az, el, range, intensity; SIZE and TYPE from the formats;
// the intensity written as an integer (truncated toward zero).
void writeLx20Pcd(std::ostream& out, const std::deque<DataPoint>& points,
                  const FieldSelection& selection, const Lx20Formats& formats);

// The name with ".pcd" appended unless it already ends in ".pcd" in any case.
std::string withPcdExtension(const std::string& name);

// Writes a file through writePcd / writeLx20Pcd; returns an empty string on success, else the
// reason of the failure. path is passed to the file system as is (bytes, e.g. UTF-8). The file
// appears under its name only once complete.
std::string savePcdFile(const std::string& path, const std::deque<DataPoint>& points,
                        const FieldSelection& selection, LIDAR_TYPE mode);
std::string saveLx20PcdFile(const std::string& path, const std::deque<DataPoint>& points,
                            const FieldSelection& selection, const Lx20Formats& formats);

struct PcdLoadResult {
    bool ok = false;
    std::string error;            // why the file could not be read, when !ok
    std::deque<DataPoint> points; // the file's columns of the names in Fields.h; others zero
};

// Reads a PCD file (ascii, binary or binary_compressed). Every column named as in Fields.h is
// read into its field; x, y and z missing read as 0, but a file with none of them is refused; the
// intensity comes from the field "amplitude" or "intensity", else from the fourth value of the
// point, else 0.
PcdLoadResult readPcdFile(const std::string& path);

} // namespace formats
