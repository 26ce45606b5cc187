#pragma once

// Point cloud files: every format the viewer and the command-line tool write and read, behind
// one pair of functions (PointStream.h has them chunk by chunk, and conversions). A format is
// named explicitly or taken from the file's extension.
//
//   PCD ascii             .pcd   the viewer's file: fixed notation with six decimals
//   PCD binary            .pcd   as PCL writes it
//   PCD binary_compressed .pcd   as PCL writes it (LZF)
//   PLY binary            .ply   little-endian
//   PLY ascii             .ply
//   LAS 1.4               .las   point data format 1, with extra bytes
//   CSV                   .csv   a header row of field names, then one row per point
//
// write, read and readArray are reentrant: any thread may call them, for different files at the
// same time. readArray and the write taking an array are the fast way for millions of points:
// one block of memory, sized once, filled and emptied a chunk at a time in place.
// They call the progress and cancel callbacks on the calling thread. They neither lock nor
// modify the points they are given; a caller that shares its points with another thread holds
// its own lock for the duration or hands over a copy.

#include "DataPoint.h"
#include "Fields.h"
#include "PcdFile.h"
#include "PointArray.h"
#include "Progress.h"

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace formats {

enum class Format { PcdAscii, PcdBinary, PcdBinaryCompressed, PlyBinary, PlyAscii, Las, Csv };

struct FormatInfo {
    Format format;
    const char* name;        // as the tool's --format takes it: "pcd", "pcd-binary", ...
    const char* extension;   // with its dot: ".pcd"
    const char* description; // for a file dialog: "PCD ascii"
};

// Every format, the default (PCD ascii) first.
const std::vector<FormatInfo>& allFormats();
const FormatInfo& formatInfo(Format format);
std::optional<Format> formatFromName(std::string_view name);

// The format a file name's extension stands for, compared without regard to case: .pcd is PCD
// ascii, .ply PLY binary, .las LAS, .csv CSV. Empty for anything else.
std::optional<Format> formatFromExtension(const std::string& path);

struct WriteOptions {
    // The columns to write, in file order (see forModel for the viewer's rule). LAS always
    // holds x, y, z, the intensity and the GPS time (the timestamp); of the others it keeps
    // reflectance and pulse shape deviation, as extra bytes, when selected.
    FieldSelection fields;
    // PCD ascii only: write the LX20 variant (fields x to intensity, the intensity named
    // "intensity" and written as an integer, SIZE and TYPE from these formats).
    std::optional<Lx20Formats> lx20;
};

struct Outcome {
    bool ok = false;
    bool cancelled = false; // cancel returned true: no file was written, no points read
    std::string error;      // why it failed, when !ok and !cancelled; without the file name
};

// Writes the points to path in the format, replacing any file there only once the new one is
// complete.
Outcome write(const std::string& path, Format format, const std::deque<DataPoint>& points,
              const WriteOptions& options = {}, const Progress& progress = {},
              const Cancel& cancel = {});

// The same from points in one block (a PointArray's, or any array of them): each chunk goes to
// the writer in place.
Outcome write(const std::string& path, Format format, const DataPoint* points, std::size_t n,
              const WriteOptions& options = {}, const Progress& progress = {},
              const Cancel& cancel = {});

struct ReadResult : Outcome {
    Format format = Format::PcdAscii;
    FieldSelection fields = noFields(); // the columns the file holds
    std::deque<DataPoint> points;       // the file's columns; every other field zero
};

// Reads a file in the format of its extension, or, with another extension, in the format its
// first bytes show. A damaged file gives an error, never a partial set of points.
ReadResult read(const std::string& path, const Progress& progress = {}, const Cancel& cancel = {});
ReadResult read(const std::string& path, Format format, const Progress& progress = {},
                const Cancel& cancel = {});

// As read, into one block of memory sized once from the header's count: the fast way to hold a
// large file. Without the memory for the points the read fails with an error.
struct ArrayReadResult : Outcome {
    Format format = Format::PcdAscii;
    FieldSelection fields = noFields();
    PointArray points;
};

ArrayReadResult readArray(const std::string& path, const Progress& progress = {},
                          const Cancel& cancel = {});
ArrayReadResult readArray(const std::string& path, Format format, const Progress& progress = {},
                          const Cancel& cancel = {});

// The same into the block of an array given (the points of an earlier read, moved in), whose
// pages are already in memory: a block large enough is filled in place, sparing the system's
// clearing of fresh memory, the larger part of a read into a new block. The result's points are
// that array; on failure they are none, the block kept for the next read (but when a larger
// one could not be had: then neither is kept).
ArrayReadResult readArray(const std::string& path, PointArray storage,
                          const Progress& progress = {}, const Cancel& cancel = {});
ArrayReadResult readArray(const std::string& path, Format format, PointArray storage,
                          const Progress& progress = {}, const Cancel& cancel = {});

} // namespace formats
