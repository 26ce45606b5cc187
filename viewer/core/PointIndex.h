#pragma once

// A spatial index of the points in memory, for picking a point under the mouse and selecting
// the points inside a rectangle of the view without touching the rendered frame. A uniform grid
// over x, y, z: each cell keeps its points together and the tight box around them, so a pick
// tests the boxes against the small frustum under the cursor and only the points of the boxes
// it meets. Built once off the GUI thread from a copy of the positions; immutable afterwards, so
// any number of threads may query it.

#include "PickCamera.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace viewer {

class PointIndex {
public:
    PointIndex() = default;

    // Indexes the first n points of a buffer whose elements have x, y and z. Point i gets the id
    // firstId + i (the caller's arrival number of the buffer's first point, so that a pick can
    // be found in the buffer again after points have left its front). Points with a coordinate
    // that is not finite are left out.
    template <class Buffer>
    static PointIndex build(const Buffer& buffer, std::size_t n, std::uint64_t firstId) {
        std::vector<float> xyz;
        xyz.reserve(n * 3);
        for (std::size_t i = 0; i < n; ++i) {
            const auto& p = buffer[i];
            xyz.push_back(static_cast<float>(p.x));
            xyz.push_back(static_cast<float>(p.y));
            xyz.push_back(static_cast<float>(p.z));
        }
        return fromPositions(std::move(xyz), firstId);
    }

    // From positions, three floats per point; at most 2^32 - 1 points (ids are kept as offsets
    // in 32 bits, as the buffer holds at most ten million).
    static PointIndex fromPositions(std::vector<float> xyz, std::uint64_t firstId);

    std::size_t size() const { return m_xyz.size() / 3; }
    std::size_t cellCount() const { return m_cells.size(); }

    struct Hit {
        std::uint64_t id = 0;
        float x = 0.0f, y = 0.0f, z = 0.0f;
        double pixels = 0.0; // from the click, in pixels
        double depth = 0.0;  // normalised depth, -1 at the near plane to 1 at the far one
    };

    // The point nearest the camera among those drawn within tolerance pixels of (x, y) (display
    // coordinates, origin bottom left), nearer to the click when two lie at the same depth, the
    // earlier arrival when they lie there alike (so that indexes over parts of a buffer agree
    // with one over the whole). Points behind the camera or outside its clipping range are never
    // picked, nor points whose id lies outside from to before to.
    std::optional<Hit> pick(const PickCamera& camera, double x, double y, double tolerance,
                            std::uint64_t from = 0, std::uint64_t to = ~std::uint64_t{0}) const;

    // Which of two hits a pick prefers.
    static bool better(const Hit& a, const Hit& b) {
        if (a.depth != b.depth) {
            return a.depth < b.depth;
        }
        if (a.pixels != b.pixels) {
            return a.pixels < b.pixels;
        }
        return a.id < b.id;
    }

    // Every point drawn inside rect, with its id and position.
    void select(const PickCamera& camera, const ScreenRect& rect,
                const std::function<void(std::uint64_t id, const float* xyz)>& each) const;

private:
    struct Cell {
        std::uint32_t begin = 0; // into m_xyz and the ids
        std::uint32_t end = 0;
        float low[3] = {0, 0, 0};
        float high[3] = {0, 0, 0};
    };
    // Planes a x + b y + c z + d >= 0 bounding the frustum over a rectangle of the viewport.
    struct Frustum {
        ClipPlanes plane;
    };
    static Frustum frustum(const PickCamera& camera, const ScreenRect& rect);
    static bool meets(const Frustum& f, const Cell& cell);
    template <class Visit> void visit(const Frustum& f, Visit&& visit) const;

    std::vector<Cell> m_cells; // the cells that hold points
    std::vector<float> m_xyz;  // 3 per point, cell by cell
    std::uint64_t idAt(std::uint32_t k) const {
        return m_firstId + (m_shortIds.empty() ? m_ids[k] : m_shortIds[k]);
    }

    // id - m_firstId, cell by cell: in 16 bits when from at most 65,536 positions (a block of
    // arrivals), two bytes a point less.
    std::vector<std::uint32_t> m_ids;
    std::vector<std::uint16_t> m_shortIds;
    std::uint64_t m_firstId = 0;
    Cell m_bounds; // around every cell: a query that misses it visits none
};

} // namespace viewer
