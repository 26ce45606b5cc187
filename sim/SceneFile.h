// Scenes read from point cloud and mesh files (PCD, PLY) through PCL.
#pragma once

#include "MeshScene.h"

#include <memory>
#include <string>

namespace sentova {
namespace sim {

struct SceneFileOptions {
    std::string file;       // .pcd or .ply: a point cloud, or a mesh with faces (PLY)
    double scale = 1.0;     // metres per unit of the file
    Vec3 origin;            // where the device stands, in the file's units
    double pointSize = 0.0; // disc radius of each point, metres; 0 = from the spacing
};

struct LoadedScene {
    std::shared_ptr<const MeshScene> scene;
    std::string summary; // one line: file, triangles, points, disc radius
};

// Reads the file into a scene in the device's axes (x right, y ahead, z up,
// the device at the origin). Reflectivity comes from an intensity field
// (scaled to the file's largest), else from colours, else 0.5; normals from
// normal_x/y/z or nx/ny/nz when present. Throws std::runtime_error naming the
// file and what is wrong.
LoadedScene loadSceneFile(const SceneFileOptions& options);

} // namespace sim
} // namespace sentova
