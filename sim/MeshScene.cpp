#include "MeshScene.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>

namespace sentova {
namespace sim {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kDegrees = 180.0 / kPi;
constexpr int kReflectivitySteps = 32;

Vec3 minus(const Vec3& a, const Vec3& b) {
    return Vec3{a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec3 cross(const Vec3& a, const Vec3& b) {
    return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
double length(const Vec3& a) {
    return std::sqrt(dot(a, a));
}

double azimuthOf(double x, double y) {
    return std::atan2(x, y) * kDegrees; // 0 along +y, 90 along +x
}
double elevationOf(const Vec3& p) {
    return std::atan2(p.z, std::hypot(p.x, p.y)) * kDegrees;
}

// The elevation range along the segment from p to q: its ends and the one
// point between where the elevation can turn.
void edgeElevations(const Vec3& p, const Vec3& q, double& lo, double& hi) {
    const auto take = [&](const Vec3& v) {
        if (std::hypot(v.x, v.y) == 0.0) {
            lo = std::min(lo, v.z < 0 ? -90.0 : 90.0);
            hi = std::max(hi, v.z < 0 ? -90.0 : 90.0);
            return;
        }
        const double e = elevationOf(v);
        lo = std::min(lo, e);
        hi = std::max(hi, e);
    };
    take(p);
    take(q);
    // elevation = atan(z / h); with z = z0 + t dz and h² = a t² + b t + c the
    // derivative vanishes where (dz b / 2 - z0 a) t = z0 b / 2 - dz c.
    const double dx = q.x - p.x, dy = q.y - p.y, dz = q.z - p.z;
    const double a = dx * dx + dy * dy, b = 2.0 * (p.x * dx + p.y * dy), c = p.x * p.x + p.y * p.y;
    const double denominator = dz * b / 2.0 - p.z * a;
    if (denominator != 0.0) {
        const double t = (p.z * b / 2.0 - dz * c) / denominator;
        if (t > 0.0 && t < 1.0)
            take(Vec3{p.x + t * dx, p.y + t * dy, p.z + t * dz});
    }
}

// Whether the triangle's shadow on the ground plane covers the point below
// the device: then it surrounds the device in azimuth.
bool surroundsAxis(const SceneTriangle& t) {
    const auto side = [](const Vec3& u, const Vec3& v) { return u.x * v.y - u.y * v.x; };
    const double s1 = side(t.a, t.b), s2 = side(t.b, t.c), s3 = side(t.c, t.a);
    const bool hasNegative = s1 < 0 || s2 < 0 || s3 < 0;
    const bool hasPositive = s1 > 0 || s2 > 0 || s3 > 0;
    return !(hasNegative && hasPositive);
}

} // namespace

double typicalSpacing(const std::vector<Vec3>& points) {
    if (points.size() < 2)
        return 0.0;
    Vec3 lo = points[0], hi = points[0];
    for (const Vec3& p : points) {
        lo = Vec3{std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = Vec3{std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
    // Cells about the size of the spacing of points spread over a surface.
    const double diagonal = length(minus(hi, lo));
    const double cell = std::max(diagonal / std::sqrt(static_cast<double>(points.size())), 1e-6);
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> grid;
    const auto keyOf = [&](long long i, long long j, long long k) {
        return (static_cast<std::uint64_t>(i & 0x1FFFFF) << 42) |
               (static_cast<std::uint64_t>(j & 0x1FFFFF) << 21) |
               static_cast<std::uint64_t>(k & 0x1FFFFF);
    };
    const auto cellOf = [&](const Vec3& p, long long& i, long long& j, long long& k) {
        i = static_cast<long long>(std::floor((p.x - lo.x) / cell));
        j = static_cast<long long>(std::floor((p.y - lo.y) / cell));
        k = static_cast<long long>(std::floor((p.z - lo.z) / cell));
    };
    for (std::uint32_t n = 0; n < points.size(); ++n) {
        long long i, j, k;
        cellOf(points[n], i, j, k);
        grid[keyOf(i, j, k)].push_back(n);
    }
    const std::size_t step = std::max<std::size_t>(1, points.size() / 1000);
    double sum = 0.0;
    std::size_t counted = 0;
    for (std::size_t n = 0; n < points.size(); n += step) {
        long long i, j, k;
        cellOf(points[n], i, j, k);
        double best = std::numeric_limits<double>::infinity();
        for (long long di = -1; di <= 1; ++di)
            for (long long dj = -1; dj <= 1; ++dj)
                for (long long dk = -1; dk <= 1; ++dk) {
                    const auto it = grid.find(keyOf(i + di, j + dj, k + dk));
                    if (it == grid.end())
                        continue;
                    for (std::uint32_t m : it->second) {
                        const double d = length(minus(points[m], points[n]));
                        if (m != n && d > 0.0)
                            best = std::min(best, d);
                    }
                }
        if (std::isfinite(best)) {
            sum += best;
            ++counted;
        }
    }
    return counted > 0 ? sum / counted : cell;
}

MeshScene::MeshScene(std::vector<SceneTriangle> triangles, std::vector<ScenePoint> points)
    : m_triangles(std::move(triangles)), m_points(std::move(points)) {
    m_columns = static_cast<int>(std::lround(360.0 / kCellDegrees));
    m_rows = static_cast<int>(std::lround(2.0 * kElevationReach / kCellDegrees));
    m_cells.resize(static_cast<std::size_t>(m_columns) * m_rows);
    for (int i = 0; i < kReflectivitySteps; ++i) {
        const double r = (i + 0.5) / kReflectivitySteps;
        m_surfaces.push_back(
            Surface{"scene", r, static_cast<std::int16_t>(200 + 1000 * r), 5, 1.0});
    }

    for (std::uint32_t i = 0; i < m_triangles.size(); ++i) {
        const SceneTriangle& t = m_triangles[i];
        double elMin = 90.0, elMax = -90.0;
        edgeElevations(t.a, t.b, elMin, elMax);
        edgeElevations(t.b, t.c, elMin, elMax);
        edgeElevations(t.c, t.a, elMin, elMax);
        if (surroundsAxis(t)) {
            // Above or below the device, it reaches to the zenith or nadir.
            const Vec3 n = cross(minus(t.b, t.a), minus(t.c, t.a));
            if (n.z != 0.0) {
                const double zAtAxis = dot(n, t.a) / n.z;
                (zAtAxis < 0.0 ? elMin : elMax) = zAtAxis < 0.0 ? -90.0 : 90.0;
            }
            bin(i, -180.0, 180.0, elMin, elMax);
            continue;
        }
        // Seen from the axis, the triangle spans less than half a turn, and
        // its vertices bound it.
        const double base = azimuthOf(t.a.x, t.a.y);
        double lo = 0.0, hi = 0.0;
        for (const Vec3* v : {&t.b, &t.c}) {
            double rel = azimuthOf(v->x, v->y) - base;
            rel = std::remainder(rel, 360.0);
            lo = std::min(lo, rel);
            hi = std::max(hi, rel);
        }
        bin(i, base + lo, base + hi, elMin, elMax);
    }
    const auto offset = static_cast<std::uint32_t>(m_triangles.size());
    for (std::uint32_t i = 0; i < m_points.size(); ++i) {
        const ScenePoint& p = m_points[i];
        const double r = length(p.position);
        if (!(r > 0.0))
            continue;
        const double spread = r <= p.radius ? 90.0 : std::asin(p.radius / r) * kDegrees;
        const double el = elevationOf(p.position);
        const double steepest = std::min(89.0, std::fabs(el) + spread);
        const double azSpread =
            spread >= 90.0 ? 180.0 : std::min(180.0, spread / std::cos(steepest / kDegrees));
        const double az = azimuthOf(p.position.x, p.position.y);
        bin(offset + i, az - azSpread, az + azSpread, el - spread, el + spread);
    }
}

void MeshScene::bin(std::uint32_t index, double azMin, double azMax, double elMin, double elMax) {
    // One cell of margin all round for rounding.
    const int rowLo =
        std::max(0, static_cast<int>(std::floor((elMin + kElevationReach) / kCellDegrees)) - 1);
    const int rowHi = std::min(
        m_rows - 1, static_cast<int>(std::floor((elMax + kElevationReach) / kCellDegrees)) + 1);
    if (rowLo > rowHi)
        return;
    int colLo = static_cast<int>(std::floor((azMin + 180.0) / kCellDegrees)) - 1;
    int colHi = static_cast<int>(std::floor((azMax + 180.0) / kCellDegrees)) + 1;
    if (colHi - colLo + 1 >= m_columns) {
        colLo = 0;
        colHi = m_columns - 1;
    }
    for (int row = rowLo; row <= rowHi; ++row)
        for (int col = colLo; col <= colHi; ++col) {
            const int wrapped = ((col % m_columns) + m_columns) % m_columns;
            m_cells[static_cast<std::size_t>(row) * m_columns + wrapped].push_back(index);
        }
}

const Surface* MeshScene::surfaceFor(double reflectivity) const {
    const int step =
        std::clamp(static_cast<int>(reflectivity * kReflectivitySteps), 0, kReflectivitySteps - 1);
    return &m_surfaces[static_cast<std::size_t>(step)];
}

std::optional<BeamHit> MeshScene::cast(const Vec3& d) const {
    const double el = elevationOf(d);
    const int row = static_cast<int>(std::floor((el + kElevationReach) / kCellDegrees));
    if (row < 0 || row >= m_rows || !std::isfinite(el))
        return std::nullopt;
    const int col =
        std::clamp(static_cast<int>(std::floor((azimuthOf(d.x, d.y) + 180.0) / kCellDegrees)), 0,
                   m_columns - 1);
    double best = kMaximumRange;
    double bestCos = 1.0;
    double bestReflectivity = 0.0;
    bool found = false;
    const auto offset = static_cast<std::uint32_t>(m_triangles.size());
    for (std::uint32_t index : m_cells[static_cast<std::size_t>(row) * m_columns + col]) {
        if (index < offset) {
            // Möller-Trumbore from the origin.
            const SceneTriangle& t = m_triangles[index];
            const Vec3 e1 = minus(t.b, t.a), e2 = minus(t.c, t.a);
            const Vec3 p = cross(d, e2);
            const double det = dot(e1, p);
            if (std::fabs(det) < 1e-12)
                continue;
            const Vec3 s{-t.a.x, -t.a.y, -t.a.z};
            const double u = dot(s, p) / det;
            if (u < 0.0 || u > 1.0)
                continue;
            const Vec3 q = cross(s, e1);
            const double v = dot(d, q) / det;
            if (v < 0.0 || u + v > 1.0)
                continue;
            const double range = dot(e2, q) / det;
            if (range > 0.0 && range < best) {
                const Vec3 n = cross(e1, e2);
                best = range;
                bestCos = std::fabs(dot(n, d)) / length(n);
                bestReflectivity = t.reflectivity;
                found = true;
            }
            continue;
        }
        const ScenePoint& point = m_points[index - offset];
        const double nLength = length(point.normal);
        double range = 0.0, cosIncidence = 1.0;
        if (nLength > 0.0) {
            // A disc facing its normal.
            const double facing = dot(d, point.normal) / nLength;
            if (std::fabs(facing) < 1e-9)
                continue;
            range = dot(point.position, point.normal) / nLength / facing;
            const Vec3 at{d.x * range, d.y * range, d.z * range};
            if (length(minus(at, point.position)) > point.radius)
                continue;
            cosIncidence = std::fabs(facing);
        } else {
            // A disc facing the beam.
            range = dot(point.position, d);
            const Vec3 at{d.x * range, d.y * range, d.z * range};
            if (length(minus(at, point.position)) > point.radius)
                continue;
        }
        if (range > 0.0 && range < best) {
            best = range;
            bestCos = cosIncidence;
            bestReflectivity = point.reflectivity;
            found = true;
        }
    }
    if (!found)
        return std::nullopt;
    return BeamHit{best, std::min(1.0, bestCos), surfaceFor(bestReflectivity)};
}

} // namespace sim
} // namespace sentova
