#include "PointIndex.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace viewer {

namespace {

// Points per cell the grid aims at, and the most cells it takes.
constexpr double kPointsPerCell = 16.0;
constexpr double kMaximumCells = 4194304.0;
constexpr int kMaximumCellsPerAxis = 1024;
// Positions judged for the grid's extent, and the share at each end left out of it (points
// beyond go into the border cells, whose boxes grow to hold them).
constexpr std::size_t kExtentSamples = 20000;
constexpr double kExtentTrim = 0.005;

bool finite(const float* p) {
    return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

} // namespace

PointIndex PointIndex::fromPositions(std::vector<float> xyz, std::uint64_t firstId) {
    PointIndex index;
    index.m_firstId = firstId;
    const std::size_t n = xyz.size() / 3;
    if (n == 0) {
        return index;
    }

    // Extent from an even sample, trimmed per axis.
    const std::size_t stride = n > kExtentSamples ? n / kExtentSamples : 1;
    double low[3];
    double high[3];
    std::vector<float> axis;
    for (int a = 0; a < 3; ++a) {
        axis.clear();
        for (std::size_t i = 0; i < n; i += stride) {
            if (finite(&xyz[i * 3])) {
                axis.push_back(xyz[i * 3 + a]);
            }
        }
        if (axis.empty()) {
            return index;
        }
        const auto at = [&](double q) {
            const auto k = static_cast<std::size_t>(q * static_cast<double>(axis.size() - 1));
            std::nth_element(axis.begin(), axis.begin() + static_cast<std::ptrdiff_t>(k),
                             axis.end());
            return static_cast<double>(axis[k]);
        };
        low[a] = at(kExtentTrim);
        high[a] = at(1.0 - kExtentTrim);
    }

    // Cells about cubic, about kPointsPerCell points each.
    const double cells = std::min(kMaximumCells, std::max(1.0, n / kPointsPerCell));
    double extent[3];
    double volume = 1.0;
    int thin = 0;
    for (int a = 0; a < 3; ++a) {
        extent[a] = high[a] - low[a];
        if (extent[a] > 0.0) {
            volume *= extent[a];
        } else {
            ++thin;
        }
    }
    const int thick = 3 - thin;
    const double side = thick == 0 ? 1.0 : std::pow(volume / cells, 1.0 / thick);
    int dims[3];
    double perUnit[3];
    for (int a = 0; a < 3; ++a) {
        dims[a] = extent[a] > 0.0 ? static_cast<int>(std::ceil(extent[a] / side)) : 1;
        dims[a] = std::clamp(dims[a], 1, kMaximumCellsPerAxis);
        perUnit[a] = extent[a] > 0.0 ? dims[a] / extent[a] : 0.0;
    }
    const auto cellOf = [&](const float* p) {
        std::size_t c = 0;
        for (int a = 2; a >= 0; --a) {
            double k = (p[a] - low[a]) * perUnit[a];
            k = k > 0.0 ? k : 0.0;
            k = k < dims[a] - 1 ? k : dims[a] - 1;
            c = c * static_cast<std::size_t>(dims[a]) + static_cast<std::size_t>(k);
        }
        return c;
    };

    // Counting sort of the points by cell.
    const std::size_t cellTotal = static_cast<std::size_t>(dims[0]) * dims[1] * dims[2];
    std::vector<std::uint32_t> start(cellTotal + 1, 0);
    std::vector<std::uint32_t> cellOfPoint(n);
    constexpr std::uint32_t kLeftOut = std::numeric_limits<std::uint32_t>::max();
    for (std::size_t i = 0; i < n; ++i) {
        const float* p = &xyz[i * 3];
        if (!finite(p)) {
            cellOfPoint[i] = kLeftOut;
            continue;
        }
        const auto c = static_cast<std::uint32_t>(cellOf(p));
        cellOfPoint[i] = c;
        ++start[c + 1];
    }
    for (std::size_t c = 0; c < cellTotal; ++c) {
        start[c + 1] += start[c];
    }
    const std::size_t kept = start[cellTotal];
    index.m_xyz.resize(kept * 3);
    const bool shortIds = n <= std::size_t{std::numeric_limits<std::uint16_t>::max()} + 1;
    if (shortIds) {
        index.m_shortIds.resize(kept);
    } else {
        index.m_ids.resize(kept);
    }
    std::vector<std::uint32_t> next(start.begin(), start.end() - 1);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t c = cellOfPoint[i];
        if (c == kLeftOut) {
            continue;
        }
        const std::uint32_t slot = next[c]++;
        std::copy_n(&xyz[i * 3], 3, &index.m_xyz[std::size_t{slot} * 3]);
        if (shortIds) {
            index.m_shortIds[slot] = static_cast<std::uint16_t>(i);
        } else {
            index.m_ids[slot] = static_cast<std::uint32_t>(i);
        }
    }
    cellOfPoint = {};
    xyz = {};

    for (std::size_t c = 0; c < cellTotal; ++c) {
        if (start[c] == start[c + 1]) {
            continue;
        }
        Cell cell;
        cell.begin = start[c];
        cell.end = start[c + 1];
        for (int a = 0; a < 3; ++a) {
            cell.low[a] = std::numeric_limits<float>::infinity();
            cell.high[a] = -std::numeric_limits<float>::infinity();
        }
        for (std::uint32_t k = cell.begin; k < cell.end; ++k) {
            for (int a = 0; a < 3; ++a) {
                const float v = index.m_xyz[std::size_t{k} * 3 + a];
                cell.low[a] = std::min(cell.low[a], v);
                cell.high[a] = std::max(cell.high[a], v);
            }
        }
        for (int a = 0; a < 3; ++a) {
            index.m_bounds.low[a] =
                index.m_cells.empty() ? cell.low[a] : std::min(index.m_bounds.low[a], cell.low[a]);
            index.m_bounds.high[a] = index.m_cells.empty()
                                         ? cell.high[a]
                                         : std::max(index.m_bounds.high[a], cell.high[a]);
        }
        index.m_cells.push_back(cell);
    }
    return index;
}

PointIndex::Frustum PointIndex::frustum(const PickCamera& camera, const ScreenRect& rect) {
    Frustum f;
    rectClipPlanes(camera, rect, f.plane);
    return f;
}

bool PointIndex::meets(const Frustum& f, const Cell& cell) {
    for (const auto& plane : f.plane) {
        // The box's corner furthest inside this plane.
        double v = plane[3];
        for (int a = 0; a < 3; ++a) {
            v += plane[a] * (plane[a] > 0.0 ? cell.high[a] : cell.low[a]);
        }
        if (v < 0.0) {
            return false;
        }
    }
    return true;
}

template <class Visit> void PointIndex::visit(const Frustum& f, Visit&& visit) const {
    if (m_cells.empty() || !meets(f, m_bounds)) {
        return;
    }
    for (const Cell& cell : m_cells) {
        if (!meets(f, cell)) {
            continue;
        }
        for (std::uint32_t k = cell.begin; k < cell.end; ++k) {
            const float* p = &m_xyz[std::size_t{k} * 3];
            bool inside = true;
            for (const auto& plane : f.plane) {
                if (plane[0] * p[0] + plane[1] * p[1] + plane[2] * p[2] + plane[3] < 0.0) {
                    inside = false;
                    break;
                }
            }
            if (inside) {
                visit(k, p);
            }
        }
    }
}

std::optional<PointIndex::Hit> PointIndex::pick(const PickCamera& camera, double x, double y,
                                                double tolerance, std::uint64_t from,
                                                std::uint64_t to) const {
    const ScreenRect rect{x - tolerance, y - tolerance, x + tolerance, y + tolerance};
    const Frustum f = frustum(camera, rect);
    const Matrix4 m = multiply(camera.projection, camera.view);
    std::optional<Hit> best;
    visit(f, [&](std::uint32_t k, const float* p) {
        const std::uint64_t id = idAt(k);
        if (id < from || id >= to) {
            return;
        }
        double clip[4];
        for (int r = 0; r < 4; ++r) {
            clip[r] = m[r * 4] * p[0] + m[r * 4 + 1] * p[1] + m[r * 4 + 2] * p[2] + m[r * 4 + 3];
        }
        const double px = (clip[0] / clip[3] + 1.0) * 0.5 * camera.width;
        const double py = (clip[1] / clip[3] + 1.0) * 0.5 * camera.height;
        const double pixels = std::hypot(px - x, py - y);
        if (pixels > tolerance) {
            return;
        }
        const Hit hit{id, p[0], p[1], p[2], pixels, clip[2] / clip[3]};
        if (!best || better(hit, *best)) {
            best = hit;
        }
    });
    return best;
}

void PointIndex::select(const PickCamera& camera, const ScreenRect& rect,
                        const std::function<void(std::uint64_t, const float*)>& each) const {
    visit(frustum(camera, rect), [&](std::uint32_t k, const float* p) { each(idAt(k), p); });
}

} // namespace viewer
