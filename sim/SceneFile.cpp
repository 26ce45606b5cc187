#include "SceneFile.h"

#include <pcl/PCLPointCloud2.h>
#include <pcl/PolygonMesh.h>
#include <pcl/console/print.h>
#include <pcl/io/pcd_io.h>
#include <pcl/io/ply_io.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <stdexcept>

namespace sentova {
namespace sim {

namespace {

// Reads one field of every point as doubles.
class FieldReader {
public:
    // The first of the names that the cloud has.
    FieldReader(const pcl::PCLPointCloud2& cloud, std::initializer_list<const char*> names)
        : m_cloud(cloud) {
        for (const char* name : names)
            for (const auto& f : cloud.fields)
                if (!m_field && f.name == name)
                    m_field = &f;
    }
    explicit operator bool() const { return m_field != nullptr; }

    double at(std::size_t point) const {
        const std::uint8_t* p = &m_cloud.data[point * m_cloud.point_step + m_field->offset];
        switch (m_field->datatype) {
        case pcl::PCLPointField::INT8:
            return *reinterpret_cast<const std::int8_t*>(p);
        case pcl::PCLPointField::UINT8:
            return *p;
        case pcl::PCLPointField::INT16:
            return read<std::int16_t>(p);
        case pcl::PCLPointField::UINT16:
            return read<std::uint16_t>(p);
        case pcl::PCLPointField::INT32:
            return read<std::int32_t>(p);
        case pcl::PCLPointField::UINT32:
            return read<std::uint32_t>(p);
        case pcl::PCLPointField::FLOAT32:
            return read<float>(p);
        case pcl::PCLPointField::FLOAT64:
            return read<double>(p);
        default:
            return 0.0;
        }
    }
    // The field's four bytes as they are (packed colours).
    std::uint32_t bits(std::size_t point) const {
        return read<std::uint32_t>(&m_cloud.data[point * m_cloud.point_step + m_field->offset]);
    }
    bool fourBytes() const {
        return m_field->datatype == pcl::PCLPointField::FLOAT32 ||
               m_field->datatype == pcl::PCLPointField::UINT32 ||
               m_field->datatype == pcl::PCLPointField::INT32;
    }

private:
    template <typename T> static T read(const std::uint8_t* p) {
        T v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    const pcl::PCLPointCloud2& m_cloud;
    const pcl::PCLPointField* m_field = nullptr;
};

std::string extensionOf(const std::string& file) {
    const auto dot = file.rfind('.');
    std::string ext = dot == std::string::npos ? std::string() : file.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

// Reflectivity of every point, 0..1.
std::vector<double> reflectivities(const pcl::PCLPointCloud2& cloud, std::size_t n) {
    std::vector<double> r(n, 0.5);
    const FieldReader intensity(cloud, {"intensity"});
    if (intensity) {
        double top = 0.0;
        for (std::size_t i = 0; i < n; ++i)
            top = std::max(top, intensity.at(i));
        if (top > 0.0)
            for (std::size_t i = 0; i < n; ++i)
                r[i] = 0.05 + 0.95 * std::clamp(intensity.at(i) / top, 0.0, 1.0);
        return r;
    }
    const FieldReader red(cloud, {"red"}), green(cloud, {"green"}), blue(cloud, {"blue"});
    const FieldReader packed(cloud, {"rgb", "rgba"});
    for (std::size_t i = 0; i < n; ++i) {
        double rr = 0.0, gg = 0.0, bb = 0.0;
        if (red && green && blue) {
            rr = red.at(i);
            gg = green.at(i);
            bb = blue.at(i);
        } else if (packed && packed.fourBytes()) {
            const std::uint32_t c = packed.bits(i);
            rr = (c >> 16) & 0xFF;
            gg = (c >> 8) & 0xFF;
            bb = c & 0xFF;
        } else {
            return r;
        }
        r[i] = std::clamp((0.2126 * rr + 0.7152 * gg + 0.0722 * bb) / 255.0, 0.02, 1.0);
    }
    return r;
}

} // namespace

LoadedScene loadSceneFile(const SceneFileOptions& options) {
    const std::string& file = options.file;
    if (!std::ifstream(file))
        throw std::runtime_error("scene " + file + ": cannot be opened");
    const std::string ext = extensionOf(file);
    if (ext != "pcd" && ext != "ply")
        throw std::runtime_error("scene " + file + ": not a .pcd or .ply file");

    // PCL's readers report on the console; the message below says it all.
    const auto verbosity = pcl::console::getVerbosityLevel();
    pcl::console::setVerbosityLevel(pcl::console::L_ALWAYS);
    pcl::PolygonMesh mesh;
    int status = -1;
    try {
        status = ext == "pcd" ? pcl::io::loadPCDFile(file, mesh.cloud)
                              : pcl::io::loadPLYFile(file, mesh);
    } catch (const std::exception& e) {
        pcl::console::setVerbosityLevel(verbosity);
        throw std::runtime_error("scene " + file + ": cannot be read (" + e.what() + ")");
    }
    pcl::console::setVerbosityLevel(verbosity);
    if (status < 0)
        throw std::runtime_error("scene " + file + ": cannot be read as " + ext);

    const pcl::PCLPointCloud2& cloud = mesh.cloud;
    const std::size_t n = static_cast<std::size_t>(cloud.width) * cloud.height;
    const FieldReader x(cloud, {"x"}), y(cloud, {"y"}), z(cloud, {"z"});
    if (!x || !y || !z)
        throw std::runtime_error("scene " + file + ": has no x, y and z fields");
    if (cloud.data.size() < n * cloud.point_step)
        throw std::runtime_error("scene " + file + ": holds fewer points than it declares");
    const FieldReader nx(cloud, {"normal_x", "nx"}), ny(cloud, {"normal_y", "ny"}),
        nz(cloud, {"normal_z", "nz"});
    const bool normals = nx && ny && nz;

    std::vector<Vec3> positions(n);
    std::vector<bool> valid(n, true);
    for (std::size_t i = 0; i < n; ++i) {
        positions[i] = Vec3{(x.at(i) - options.origin.x) * options.scale,
                            (y.at(i) - options.origin.y) * options.scale,
                            (z.at(i) - options.origin.z) * options.scale};
        valid[i] = std::isfinite(positions[i].x) && std::isfinite(positions[i].y) &&
                   std::isfinite(positions[i].z);
    }
    const std::vector<double> reflectivity = reflectivities(cloud, n);

    std::vector<SceneTriangle> triangles;
    for (const auto& polygon : mesh.polygons) {
        const auto& v = polygon.vertices;
        for (std::size_t k = 2; k < v.size(); ++k) {
            const std::uint32_t i0 = v[0], i1 = v[k - 1], i2 = v[k];
            if (i0 >= n || i1 >= n || i2 >= n)
                throw std::runtime_error("scene " + file +
                                         ": a face names a vertex that is not there");
            if (!valid[i0] || !valid[i1] || !valid[i2])
                continue;
            triangles.push_back(
                SceneTriangle{positions[i0], positions[i1], positions[i2],
                              (reflectivity[i0] + reflectivity[i1] + reflectivity[i2]) / 3.0});
        }
    }

    // A file without faces is a point cloud; a mesh's vertices are not points.
    std::vector<ScenePoint> points;
    double radius = 0.0;
    if (mesh.polygons.empty()) {
        std::vector<Vec3> kept;
        for (std::size_t i = 0; i < n; ++i)
            if (valid[i])
                kept.push_back(positions[i]);
        radius = options.pointSize > 0.0 ? options.pointSize : 0.75 * typicalSpacing(kept);
        radius = std::max(radius, 1e-4);
        for (std::size_t i = 0; i < n; ++i) {
            if (!valid[i])
                continue;
            ScenePoint p;
            p.position = positions[i];
            if (normals)
                p.normal = Vec3{nx.at(i), ny.at(i), nz.at(i)};
            if (!(std::isfinite(p.normal.x) && std::isfinite(p.normal.y) &&
                  std::isfinite(p.normal.z)))
                p.normal = Vec3{};
            p.radius = radius;
            p.reflectivity = reflectivity[i];
            points.push_back(p);
        }
    }
    if (triangles.empty() && points.empty())
        throw std::runtime_error("scene " + file + ": holds no points or faces");

    LoadedScene loaded;
    loaded.summary = "scene " + file + ": " + std::to_string(triangles.size()) + " triangles, " +
                     std::to_string(points.size()) + " points";
    if (!points.empty()) {
        char text[64];
        std::snprintf(text, sizeof text, ", discs of %.1f mm radius", radius * 1000.0);
        loaded.summary += text;
    }
    loaded.scene = std::make_shared<MeshScene>(std::move(triangles), std::move(points));
    return loaded;
}

} // namespace sim
} // namespace sentova
