// Scenes from files: the ray caster over triangles and point discs, the PCD
// and PLY readers, and a scan that finds a scene's known wall at its distance.
#include "SceneFile.h"
#include "Device.h"
#include "MeshScene.h"

#include "Sentova/CommandSerialiser.h"
#include "Sentova/LaserPacket.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

using namespace sentova::sim;

namespace {

constexpr double kPiRadians = 3.141592653589793;

std::string writeFile(const std::string& name, const std::string& text) {
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path) << text;
    return path;
}

// An ASCII PCD file of a square grid of points in the plane y = distance.
std::string planePcd(double distance, double half, double spacing, bool withNormals) {
    std::string rows;
    std::size_t n = 0;
    for (double x = -half; x <= half + 1e-9; x += spacing)
        for (double z = -half; z <= half + 1e-9; z += spacing) {
            rows += std::to_string(x) + " " + std::to_string(distance) + " " + std::to_string(z);
            rows += withNormals ? " 0 -1 0" : "";
            rows += " " + std::to_string(x > 0 ? 200 : 100) + "\n";
            ++n;
        }
    const std::string fields =
        withNormals ? "x y z normal_x normal_y normal_z intensity" : "x y z intensity";
    const std::string sizes = withNormals ? "4 4 4 4 4 4 4" : "4 4 4 4";
    const std::string types = withNormals ? "F F F F F F F" : "F F F F";
    const std::string counts = withNormals ? "1 1 1 1 1 1 1" : "1 1 1 1";
    return "# .PCD v0.7 - Point Cloud Data file format\nVERSION 0.7\nFIELDS " + fields + "\nSIZE " +
           sizes + "\nTYPE " + types + "\nCOUNT " + counts + "\nWIDTH " + std::to_string(n) +
           "\nHEIGHT 1\nVIEWPOINT 0 0 0 1 0 0 0\nPOINTS " + std::to_string(n) + "\nDATA ascii\n" +
           rows;
}

SceneFileOptions fileOnly(const std::string& path) {
    SceneFileOptions o;
    o.file = path;
    return o;
}

} // namespace

TEST(MeshScene, TrianglesAndDiscsAreHitWhereTheyAre) {
    // A triangle 3 m ahead, one under the device all round, a disc 2 m to the right.
    std::vector<SceneTriangle> triangles = {
        {{-1, 3, -1}, {1, 3, -1}, {0, 3, 1}, 0.8},
        {{-50, -50, -2}, {50, -50, -2}, {0, 80, -2}, 0.3},
    };
    std::vector<ScenePoint> points(1);
    points[0].position = Vec3{2.0, 0.0, 0.0};
    points[0].radius = 0.05;
    const MeshScene scene(triangles, points);

    auto hit = scene.cast(beamDirection(0.0, 0.0));
    ASSERT_TRUE(hit);
    EXPECT_NEAR(hit->range, 3.0, 1e-9);
    EXPECT_NEAR(hit->cosIncidence, 1.0, 1e-9);
    EXPECT_NEAR(hit->surface->reflectivity, 0.8, 1.0 / 32);
    hit = scene.cast(beamDirection(0.0, 10.0)); // up the triangle's face
    ASSERT_TRUE(hit);
    EXPECT_NEAR(hit->range, 3.0 / std::cos(10.0 * kPiRadians / 180.0), 1e-9);
    // Below the horizon in every direction, the floor 2 m down.
    for (double az = -180.0; az < 180.0; az += 7.0) {
        hit = scene.cast(beamDirection(az, -30.0));
        ASSERT_TRUE(hit) << az;
        EXPECT_NEAR(hit->range, 2.0 / std::sin(30.0 * kPiRadians / 180.0), 1e-9) << az;
        EXPECT_NEAR(hit->cosIncidence, 0.5, 1e-9);
    }
    // The disc: hit within its radius, missed beyond it.
    hit = scene.cast(beamDirection(90.0, 0.0));
    ASSERT_TRUE(hit);
    EXPECT_NEAR(hit->range, 2.0, 1e-9);
    EXPECT_TRUE(scene.cast(beamDirection(90.0 + 1.2, 0.0)));  // 42 mm off the centre
    EXPECT_FALSE(scene.cast(beamDirection(90.0 + 1.6, 0.0))); // 56 mm off
    EXPECT_FALSE(scene.cast(beamDirection(180.0, 20.0)));
}

TEST(MeshScene, SpacingOfAGrid) {
    std::vector<Vec3> grid;
    for (int i = 0; i < 50; ++i)
        for (int j = 0; j < 50; ++j)
            grid.push_back(Vec3{i * 0.02, 4.0, j * 0.02});
    EXPECT_NEAR(typicalSpacing(grid), 0.02, 1e-6);
    EXPECT_EQ(typicalSpacing({Vec3{}}), 0.0);
}

TEST(SceneFile, TheExampleHallIsReadAndItsWallFoundByAScan) {
    const LoadedScene hall = loadSceneFile(fileOnly(SENTOVA_SIM_SCENES "/hall.ply"));
    EXPECT_EQ(hall.scene->triangleCount(), 16u);
    EXPECT_EQ(hall.scene->pointCount(), 0u);
    const auto ahead = hall.scene->cast(beamDirection(0.0, 0.0));
    ASSERT_TRUE(ahead);
    EXPECT_NEAR(ahead->range, 5.0, 1e-9);
    EXPECT_NEAR(ahead->surface->reflectivity, 200.0 / 255.0, 1.0 / 32);
    EXPECT_FALSE(hall.scene->cast(beamDirection(90.0, 20.0))); // open to the right

    // A region scan with the default noise, through the device.
    DeviceSettings s;
    s.model = LIDAR_LX30;
    s.homeTimeMs = 10;
    s.scanner.scene = hall.scene;
    Device d(s);
    const Endpoint host{0x7F000001, 40000};
    std::vector<Outgoing> out;
    d.receive("SVHOME", host, 0.0, out);
    d.advance(0.1, out);
    d.receive(tavrel::CommandSerialiser::SVSRES(2.0, -20.0, 20.0, -10.0, 10.0, 5.0), host, 1.0,
              out);
    d.receive(tavrel::CommandSerialiser::SVRRBE({{1, 1}, {2, 0}, {0, 4366}}), host, 1.0, out);
    out.clear();
    d.advance(3.0, out);
    std::vector<double> distances;
    for (const Outgoing& o : out) {
        if (o.kind != OutKind::LaserData)
            continue;
        const auto layout = tavrel::examineLaserPacket(
            reinterpret_cast<const unsigned char*>(o.bytes.data()), o.bytes.size());
        for (std::size_t i = 0; i < layout.records; ++i) {
            const auto r = tavrel::decodeData(o.bytes.data() + 6 + 22 * i);
            if (std::fabs(r.elevation) > 8.0)
                continue; // the wall, not the floor
            // The wall's distance along y.
            distances.push_back(r.range / 1000.0 * std::cos(r.azimuth * kPiRadians / 180.0) *
                                std::cos(r.elevation * kPiRadians / 180.0));
        }
    }
    ASSERT_GT(distances.size(), 2000u);
    double mean = 0.0;
    for (double v : distances)
        mean += v / distances.size();
    EXPECT_NEAR(mean, 5.0, 0.002);
    for (double v : distances)
        EXPECT_NEAR(v, 5.0, 4 * 0.001 * 5.3 + 0.001);
}

TEST(SceneFile, PointCloudsBecomeDiscsSizedByTheirSpacing) {
    const std::string plain = writeFile("plane.pcd", planePcd(4.0, 1.0, 0.02, false));
    const LoadedScene cloud = loadSceneFile(fileOnly(plain));
    EXPECT_EQ(cloud.scene->pointCount(), 101u * 101u);
    EXPECT_NE(cloud.summary.find("15.0 mm"), std::string::npos) << cloud.summary;
    // No holes between the points: every beam across the plane hits it.
    std::size_t hits = 0, beams = 0;
    for (double az = -12.0; az <= 12.0; az += 0.13)
        for (double el = -12.0; el <= 12.0; el += 0.17, ++beams)
            if (auto hit = cloud.scene->cast(beamDirection(az, el))) {
                ++hits;
                EXPECT_NEAR(hit->range * std::cos(az * kPiRadians / 180) *
                                std::cos(el * kPiRadians / 180),
                            4.0, 0.02);
            }
    EXPECT_EQ(hits, beams);
    // Brighter to the right, from the intensity field.
    EXPECT_GT(cloud.scene->cast(beamDirection(5.0, 0.0))->surface->reflectivity,
              cloud.scene->cast(beamDirection(-5.0, 0.0))->surface->reflectivity);

    // With normals, a scale, an origin and a size of its own.
    SceneFileOptions o =
        fileOnly(writeFile("plane-normals.pcd", planePcd(4000.0, 1000.0, 50.0, true)));
    o.scale = 0.001;
    o.origin = Vec3{0.0, 1000.0, 0.0};
    o.pointSize = 0.04;
    const LoadedScene millimetres = loadSceneFile(o);
    const auto hit = millimetres.scene->cast(beamDirection(0.0, 0.0));
    ASSERT_TRUE(hit);
    EXPECT_NEAR(hit->range, 3.0, 1e-6);
    EXPECT_NEAR(millimetres.scene->cast(beamDirection(10.0, 0.0))->cosIncidence,
                std::cos(10.0 * kPiRadians / 180.0), 1e-6);
}

TEST(SceneFile, BadFilesAreRefusedNamingTheFile) {
    const auto refused = [](const std::string& path, const std::string& why) {
        try {
            loadSceneFile(fileOnly(path));
        } catch (const std::runtime_error& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find(path), std::string::npos) << message;
            EXPECT_NE(message.find(why), std::string::npos) << message;
            return;
        }
        ADD_FAILURE() << path << " was read";
    };
    refused(::testing::TempDir() + "missing.ply", "cannot be opened");
    refused(writeFile("scene.obj", "v 0 0 0\n"), "not a .pcd or .ply");
    refused(writeFile("garbage.ply", "this is not a ply file\n"), "cannot be read");
    refused(writeFile("garbage.pcd", "VERSION 0.7\nFIELDS a b\n"), "no x, y and z");
    refused(writeFile("no-xyz.pcd",
                      "VERSION 0.7\nFIELDS a\nSIZE 4\nTYPE F\nCOUNT 1\nWIDTH 1\nHEIGHT 1\n"
                      "POINTS 1\nDATA ascii\n1\n"),
            "no x, y and z");
    refused(writeFile("bad-face.ply", "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\n"
                                      "property float y\nproperty float z\nelement face 1\n"
                                      "property list uchar int vertex_indices\nend_header\n"
                                      "0 1 0\n1 1 0\n0 1 1\n3 0 1 7\n"),
            "vertex that is not there");
}
