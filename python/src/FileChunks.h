// Point files chunk by chunk from Python: read(path, chunk_points=N) hands out the points N at a
// time, and write() takes any iterable of chunks, so that a script converts a file of any size in
// memory bounded by a chunk. The file written is byte for byte the one the whole-file write makes
// of the same points.
#pragma once

#include "Formats.h"

#include <pybind11/pybind11.h>

#include <optional>
#include <string>

namespace sentova::python {

// The PointChunks class (what read(path, chunk_points=N) returns), added to the module.
void addFileChunks(pybind11::module_& module);

// An iterable over the file's points, chunk_points at a time; the file is opened (and its header
// checked) here and again by each iteration.
pybind11::object readChunks(const std::string& path, std::optional<formats::Format> format,
                            long long chunkPoints);

// Writes every chunk of the iterable (structured arrays, as write() takes) after one another.
// When the format needs the count (or, LAS, the bounds) before the points and neither count nor
// the chunks' source gives it, the chunks are gone through twice: they must then be iterable
// again (a list, or what readChunks returns), not a one-time iterator.
void writeChunks(const std::string& path, const pybind11::handle& chunks, formats::Format format,
                 std::optional<unsigned long long> count);

} // namespace sentova::python
