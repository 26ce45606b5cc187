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

    std::size_t size() const { return m_ids.size(); }
    std::size_t cellCount() const { return m_cells.size(); }

    struct Hit {
        std::uint64_t id = 0;
        float x = 0.0f, y = 0.0f, z = 0.0f;
        double pixels = 0.0; // from the click, in pixels
        double depth = 0.0;  // normalised depth, -1 at the near plane to 1 at the far one
    };

    // The point nearest the camera among those drawn within tolerance pixels of (x, y) (display
    // coordinates, origin bottom left), nearer to the click when two lie at the same depth.
    // Points behind the camera or outside its clipping range are never picked.
    std::optional<Hit> pick(const PickCamera& camera, double x, double y, double tolerance) const;

    // Every point drawn inside rect, with its id and position.
    void select(const PickCamera& camera, const ScreenRect& rect,
                const std::function<void(std::uint64_t id, const float* xyz)>& each) const;

private:
    struct Cell {
        std::uint32_t begin = 0; // into m_xyz / m_ids
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

    std::vector<Cell> m_cells;        // the cells that hold points
    std::vector<float> m_xyz;         // 3 per point, cell by cell
    std::vector<std::uint32_t> m_ids; // id - m_firstId, cell by cell
    std::uint64_t m_firstId = 0;
};

} // namespace viewer
