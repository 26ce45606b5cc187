#pragma once

// Standard views of the cloud and named camera bookmarks: where the camera goes for each, and the
// bookmarks as the settings store keeps them (one line of text each). Pure; any thread.

#include "SceneGeometry.h"

#include <optional>
#include <string>
#include <vector>

namespace viewer {

enum class StandardView {
    FromDevice, // at the device, looking at the cloud's centre
    Top,        // from above, +y up the screen
    Front,      // looking ahead along azimuth 0 (+y), z up
    Side,       // from the +x side (azimuth 90), looking along -x, z up
};

// VTK's default vertical view angle, which the views from outside the cloud use.
constexpr double kDefaultViewAngle = 30.0;

struct StandardPlacement {
    CameraPose pose;
    double viewAngle = kDefaultViewAngle; // vertical, degrees
};

// The camera of a standard view of the sampled cloud, for a view of the given aspect (width /
// height). Top, Front and Side frame the cloud's bounds (sceneBounds) at the default view angle.
// FromDevice stands at the origin and looks along the points' mean direction, along +y when
// they have none, with the view angle widened or narrowed to hold every point in front of the
// device (a point behind it cannot be seen from there).
StandardPlacement standardView(StandardView view, const SceneSample& sample, double aspect);

// A camera as the operator left it.
struct CameraBookmark {
    std::string name;
    Vec3 position{0.0, 0.0, 0.0};
    Vec3 focalPoint{0.0, 0.0, 1.0};
    Vec3 viewUp{0.0, 0.0, 1.0};
    double viewAngle = 30.0;
    bool parallel = false;
    double parallelScale = 1.0;

    bool operator==(const CameraBookmark& o) const;
};

// The name as a bookmark takes it: line breaks and tabs become spaces, and blanks at either end
// go. Empty when nothing is left.
std::string bookmarkName(const std::string& typed);

// The bookmarks, one line each, every number written so that it reads back exactly.
std::string encodeBookmarks(const std::vector<CameraBookmark>& bookmarks);
// Lines that do not read as a bookmark are skipped.
std::vector<CameraBookmark> decodeBookmarks(const std::string& text);

// Adds b, replacing a bookmark of the same name where it stood; new names go last.
void storeBookmark(std::vector<CameraBookmark>& bookmarks, const CameraBookmark& b);
// False when there is none of that name.
bool removeBookmark(std::vector<CameraBookmark>& bookmarks, const std::string& name);
const CameraBookmark* findBookmark(const std::vector<CameraBookmark>& bookmarks,
                                   const std::string& name);

} // namespace viewer
