#pragma once

// Point files chunk by chunk: a reader that hands out the points of a file a chunk at a time and
// a writer that takes them so, whatever the file's size, in memory bounded by the chunk. The
// whole-file read and write of Formats.h run through these, so a file written chunk by chunk is
// byte for byte the one written from a whole point set. One object per file, used by one thread.

#include "DataPoint.h"
#include "Fields.h"
#include "Formats.h"
#include "InputFile.h"
#include "PointArray.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif

namespace formats {

class PointWriter;
namespace io {
// The whole of the points through a writer into a stream rather than a file.
void writeStream(PointWriter& writer, std::ostream& out, const std::deque<DataPoint>& points);
} // namespace io

// Points per chunk: enough that the work per chunk vanishes, few enough that a chunk of points
// (450 kB) stays in the processor's cache while it is filled and emptied.
constexpr std::size_t kChunkPoints = 1 << 13;

class PointReader {
public:
    virtual ~PointReader() = default;
    PointReader(const PointReader&) = delete;
    PointReader& operator=(const PointReader&) = delete;

    // PCD and PLY files tell their encoding once open.
    Format format() const { return m_format; }
    // The columns the file holds.
    const FieldSelection& fields() const { return m_fields; }
    // The number of points the header declares; none for CSV.
    std::optional<std::uint64_t> count() const { return m_count; }
    std::uint64_t size() const { return m_in.size(); }
    virtual std::uint64_t position() const { return m_in.position(); }

    // Replaces the chunk's contents with the next points, at most kChunkPoints of them. False
    // when none are left, or when the file is damaged: then error() says why.
    virtual bool next(std::vector<DataPoint>& chunk);
    // Appends the next points, at most kChunkPoints of them, straight to the array, which on the
    // first call is given room for every point the header declares. False as next() is; a
    // damaged chunk leaves the array as it was. Throws std::bad_alloc without the memory.
    bool nextInto(PointArray& points);
    const std::string& error() const { return m_error; }

protected:
    PointReader() = default;
    friend std::unique_ptr<PointReader> openReader(const std::string&, std::optional<Format>,
                                                   const FieldSelection&, std::string&);
    // Reads the header; false with m_error set.
    virtual bool start(const std::string& path) = 0;
    // What next() returns at the end of the points: false, with the error of a failed read.
    bool finished();
    // The size of the next chunk of a file that declares its count; 0 once all are handed out.
    std::size_t nextChunkSize() const;
    // For files that declare their count: the next n points (as nextChunkSize gives) into out,
    // zero points on entry; false, with m_error, when the file is damaged. m_done is counted
    // by the caller.
    virtual bool decode(DataPoint* out, std::size_t n);
    // True when decode writes every byte of the points it is given, zero or not: an array's
    // points are then not cleared for it.
    virtual bool writesWholePoints() const { return false; }

    InputFile m_in;
    Format m_format = Format::PcdAscii;
    FieldSelection m_fields = noFields();
    FieldSelection m_wanted; // the columns to fill; others stay zero
    std::optional<std::uint64_t> m_count;
    std::uint64_t m_done = 0; // points handed out so far
    std::string m_error;
    // Set while decode fills points of an array that are not in the caches (a reused block far
    // larger than them, not read at once): they are best written past the caches.
    bool m_pastCaches = false;

private:
    std::vector<DataPoint> m_chunk; // nextInto's chunk for files without a count
};

// The format of the file's extension, or else the one its first bytes show (PCD when they show
// none: the reader then says what is wrong).
Format guessFormat(const std::string& path);

// Opens a file in the format given, or else in that of its extension or its first bytes (as
// read() does). Of the columns only those wanted are filled (the others are zero); a text file's
// values are checked whether wanted or not. Null with the reason in error.
std::unique_ptr<PointReader> openReader(const std::string& path, std::optional<Format> format,
                                        const FieldSelection& wanted, std::string& error);

// What a writer must know before the first point: the number of points (PCD, PLY and LAS
// headers) and the bounds of the coordinates (LAS's scale and offset).
struct Extent {
    std::uint64_t count = 0;
    double lo[3] = {0, 0, 0};
    double hi[3] = {0, 0, 0};
    std::uint64_t firstNotFinite = 0; // 1-based number of the first point with one; 0: none

    void add(const DataPoint& p) {
        const double v[3] = {p.x, p.y, p.z};
        for (int k = 0; k < 3; ++k) {
            if (!std::isfinite(v[k])) {
                if (firstNotFinite == 0) {
                    firstNotFinite = count + 1;
                }
            } else if (count == 0) {
                lo[k] = hi[k] = v[k];
            } else {
                lo[k] = v[k] < lo[k] ? v[k] : lo[k];
                hi[k] = v[k] > hi[k] ? v[k] : hi[k];
            }
        }
        ++count;
    }

    // The points one after the other as add() takes them: a block of them at a time in a loop
    // without branches, its bounds in registers (held in arrays indexed by axis they went
    // through memory, a chain of stores and loads per point that cost twice the reading), and
    // add() for a block only where one of them is not finite.
    void add(const DataPoint* points, std::size_t n) {
        constexpr std::size_t kBlock = 1024;
        for (std::size_t from = 0; from < n; from += kBlock) {
            const std::size_t size = n - from < kBlock ? n - from : kBlock;
            const DataPoint* p = points + from;
            double blockLo[3];
            double blockHi[3];
            if (!finiteBounds(p, size, blockLo, blockHi)) {
                for (std::size_t i = 0; i < size; ++i) {
                    add(p[i]);
                }
                continue;
            }
            for (int k = 0; k < 3; ++k) {
                lo[k] = count == 0 || blockLo[k] < lo[k] ? blockLo[k] : lo[k];
                hi[k] = count == 0 || blockHi[k] > hi[k] ? blockHi[k] : hi[k];
            }
            count += size;
        }
    }

private:
    // The bounds of n > 0 points, each axis taken in order as add() takes it (the first of equal
    // values kept, so that -0 and 0 come out as they would one by one); false when a coordinate
    // is not finite, the bounds then unset. v - v is 0 but for infinities and NaN, which stay
    // NaN through the sums. With SSE2 a point's x and y go as one pair: half the instructions of
    // the scalar loop.
    static bool finiteBounds(const DataPoint* p, std::size_t n, double lo[3], double hi[3]) {
#if defined(__SSE2__)
        static_assert(offsetof(DataPoint, y) == offsetof(DataPoint, x) + sizeof(double),
                      "x and y are loaded as one pair");
        constexpr std::uintptr_t kAheadBytes = 128 * sizeof(DataPoint);
        __m128d loXY = _mm_loadu_pd(&p[0].x);
        __m128d hiXY = loXY;
        __m128d z = _mm_load_sd(&p[0].z);
        __m128d loZ = z;
        __m128d hiZ = z;
        __m128d notFiniteXY = _mm_setzero_pd();
        __m128d notFiniteZ = _mm_setzero_pd();
        for (std::size_t i = 0; i < n; ++i) {
            // Well ahead of the loop: the processor's own prefetch left it waiting on memory
            // for a third of its time. An address past the points is only a hint, never read.
            _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(p + i) +
                                                       kAheadBytes),
                         _MM_HINT_T0);
            const __m128d xy = _mm_loadu_pd(&p[i].x);
            z = _mm_load_sd(&p[i].z);
            // minpd a, b is a < b ? a : b, lane by lane: the new value wins only when below.
            loXY = _mm_min_pd(xy, loXY);
            hiXY = _mm_max_pd(xy, hiXY);
            loZ = _mm_min_sd(z, loZ);
            hiZ = _mm_max_sd(z, hiZ);
            notFiniteXY = _mm_add_pd(notFiniteXY, _mm_sub_pd(xy, xy));
            notFiniteZ = _mm_add_sd(notFiniteZ, _mm_sub_sd(z, z));
        }
        double notFinite[2];
        _mm_storeu_pd(notFinite, _mm_add_pd(notFiniteXY, notFiniteZ));
        if (notFinite[0] != 0.0 || notFinite[1] != 0.0) {
            return false;
        }
        _mm_storeu_pd(lo, loXY);
        _mm_storeu_pd(hi, hiXY);
        _mm_store_sd(lo + 2, loZ);
        _mm_store_sd(hi + 2, hiZ);
        return true;
#else
        double loX = p[0].x, hiX = p[0].x, loY = p[0].y, hiY = p[0].y, loZ = p[0].z, hiZ = p[0].z;
        double notFinite = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const double x = p[i].x;
            const double y = p[i].y;
            const double z = p[i].z;
            loX = x < loX ? x : loX;
            hiX = x > hiX ? x : hiX;
            loY = y < loY ? y : loY;
            hiY = y > hiY ? y : hiY;
            loZ = z < loZ ? z : loZ;
            hiZ = z > hiZ ? z : hiZ;
            notFinite += (x - x) + (y - y) + (z - z);
        }
        if (notFinite != 0.0) {
            return false;
        }
        lo[0] = loX, lo[1] = loY, lo[2] = loZ;
        hi[0] = hiX, hi[1] = hiY, hi[2] = hiZ;
        return true;
#endif
    }
};

// True when a file of the format needs the bounds before its points (LAS), or the count (every
// format but CSV).
bool needsBounds(Format format);
bool needsCount(Format format);

// The columns a file of the format written with these options holds (LAS adds its own).
FieldSelection writtenFields(Format format, const WriteOptions& options);

class PointWriter {
public:
    virtual ~PointWriter();
    PointWriter(const PointWriter&) = delete;
    PointWriter& operator=(const PointWriter&) = delete;

    // Writes the points after those written before. False once writing failed (error()).
    bool write(const DataPoint* points, std::size_t n);
    // Completes the file and puts it under its name; the points written must be as many as the
    // extent declared. A writer not finished leaves no file.
    Outcome finish();
    const std::string& error() const { return m_error; }

protected:
    PointWriter();
    friend std::unique_ptr<PointWriter>
    createWriter(const std::string&, Format, const WriteOptions&, const Extent&, std::string&);
    friend void io::writeStream(PointWriter&, std::ostream&, const std::deque<DataPoint>&);
    // The header, the points and the end of the file; each returns why it could not write.
    virtual std::string begin(std::ostream& out) = 0;
    virtual std::string put(const DataPoint* points, std::size_t n) = 0;
    virtual std::string end() = 0;
    // For begin(): the whole file will take this many bytes, so that the file system sets its
    // blocks aside at once.
    void reserveFile(std::uint64_t bytes);

    Extent m_extent;

private:
    std::unique_ptr<class OutputFile> m_file;
    Format m_format = Format::PcdAscii;
    std::uint64_t m_written = 0;
    std::string m_error;
};

// Creates the file (under a temporary name until finished) and writes its header. For formats
// that need them the extent gives the count and the bounds; a LAS file of coordinates that are
// not numbers is refused here. Null with the reason in error. PCD binary_compressed is the one
// format whose writer holds every point's values (4 bytes a column), as its columns follow one
// another and are compressed as one block; the format allows no more than 2 GB of them.
std::unique_ptr<PointWriter> createWriter(const std::string& path, Format format,
                                          const WriteOptions& options, const Extent& extent,
                                          std::string& error);

struct ConvertResult {
    bool ok = false;
    bool cancelled = false;
    Format inputFormat = Format::PcdAscii;
    std::string readError;  // the input could not be read
    std::string writeError; // the output could not be written
};

// Reads the input and writes the output chunk by chunk, in bounded memory: the output's columns
// (default: the input's), and only those, are carried. When the output needs the count or the
// bounds before its points and the input's header does not give them, the input is read twice.
// The output is byte for byte what write() makes of read()'s points. Progress is in bytes of the
// input.
ConvertResult convert(const std::string& input, std::optional<Format> inputFormat,
                      const std::string& output, Format outputFormat,
                      std::optional<FieldSelection> fields, const Progress& progress = {},
                      const Cancel& cancel = {});

} // namespace formats
