#include "CameraPlacement.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace viewer {

namespace {

// A bookmark line: 13 numbers (position, focal point, view up, view angle, parallel 0 or 1,
// parallel scale), a tab, the name.
constexpr int kNumbers = 13;

void appendNumber(std::string& out, double v) {
    char buffer[32];
    // Shortest text that reads back as the same double, whatever the C locale.
    const std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, v);
    out.append(buffer, r.ptr);
}

std::optional<CameraBookmark> decodeLine(const std::string& line) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos || tab + 1 >= line.size()) {
        return std::nullopt;
    }
    double v[kNumbers];
    const char* p = line.data();
    const char* end = line.data() + tab;
    for (double& value : v) {
        while (p < end && *p == ' ') {
            ++p;
        }
        const std::from_chars_result r = std::from_chars(p, end, value);
        if (r.ec != std::errc() || !std::isfinite(value)) {
            return std::nullopt;
        }
        p = r.ptr;
    }
    while (p < end && *p == ' ') {
        ++p;
    }
    if (p != end) {
        return std::nullopt;
    }
    CameraBookmark b;
    b.name = line.substr(tab + 1);
    b.position = {v[0], v[1], v[2]};
    b.focalPoint = {v[3], v[4], v[5]};
    b.viewUp = {v[6], v[7], v[8]};
    b.viewAngle = v[9];
    b.parallel = v[10] != 0.0;
    b.parallelScale = v[11];
    // A camera whose position is its focal point has no direction of view.
    if (b.position == b.focalPoint || b.name != bookmarkName(b.name)) {
        return std::nullopt;
    }
    // The thirteenth number is a version mark, for bookmarks that may carry more one day.
    if (v[12] != 1.0) {
        return std::nullopt;
    }
    return b;
}

} // namespace

StandardPlacement standardView(StandardView view, const SceneSample& sample, double aspect) {
    StandardPlacement placed;
    const Bounds bounds = sceneBounds(sample);
    switch (view) {
    case StandardView::Top:
        placed.pose = fitCamera(bounds, {0.0, 0.0, -1.0}, kDefaultViewAngle, aspect);
        return placed;
    case StandardView::Front:
        placed.pose = fitCamera(bounds, {0.0, 1.0, 0.0}, kDefaultViewAngle, aspect);
        return placed;
    case StandardView::Side:
        placed.pose = fitCamera(bounds, {-1.0, 0.0, 0.0}, kDefaultViewAngle, aspect);
        return placed;
    case StandardView::FromDevice:
        break;
    }
    Vec3 sum{0.0, 0.0, 0.0};
    for (const Vec3& p : sample.points) {
        const double l = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
        if (l > 0.0) {
            for (int i = 0; i < 3; ++i) {
                sum[i] += p[i] / l;
            }
        }
    }
    const double sumLength = std::sqrt(sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]);
    // Points all round the device have no mean direction worth the name.
    const bool ahead = sumLength > 1e-6 * static_cast<double>(sample.points.size());
    const Vec3 d = ahead ? Vec3{sum[0] / sumLength, sum[1] / sumLength, sum[2] / sumLength}
                         : Vec3{0.0, 1.0, 0.0};
    // The screen's axes for a view along d with z up (y up when looking straight up or down).
    Vec3 right{d[1] * 1.0 - d[2] * 0.0, d[2] * 0.0 - d[0] * 1.0, 0.0};
    if (!(right[0] * right[0] + right[1] * right[1] > 1e-12)) {
        right = {1.0, 0.0, 0.0};
    }
    const double rl = std::sqrt(right[0] * right[0] + right[1] * right[1] + right[2] * right[2]);
    right = {right[0] / rl, right[1] / rl, right[2] / rl};
    const Vec3 up{right[1] * d[2] - right[2] * d[1], right[2] * d[0] - right[0] * d[2],
                  right[0] * d[1] - right[1] * d[0]};
    const double safeAspect = aspect > 0.0 && std::isfinite(aspect) ? aspect : 1.0;
    double tanV = 0.0;
    double reach = 0.0;
    for (const Vec3& p : sample.points) {
        const double along = p[0] * d[0] + p[1] * d[1] + p[2] * d[2];
        if (!(along > 0.0)) {
            continue;
        }
        const double h = std::fabs(p[0] * right[0] + p[1] * right[1] + p[2] * right[2]) / along;
        const double v = std::fabs(p[0] * up[0] + p[1] * up[1] + p[2] * up[2]) / along;
        tanV = std::max({tanV, v, h / safeAspect});
        reach = std::max(reach, along);
    }
    constexpr double kPi = 3.141592653589793;
    constexpr double kMargin = 1.08;
    placed.viewAngle = std::clamp(2.0 * std::atan(tanV * kMargin) * 180.0 / kPi, 5.0, 150.0);
    placed.pose.position = {0.0, 0.0, 0.0};
    const double distance = reach > 0.0 ? reach : std::max(1.0, 0.5 * bounds.diagonal());
    placed.pose.focalPoint = {d[0] * distance, d[1] * distance, d[2] * distance};
    placed.pose.viewUp = up;
    placed.pose.parallelScale = std::max(1e-9, tanV * kMargin * distance);
    return placed;
}

bool CameraBookmark::operator==(const CameraBookmark& o) const {
    return name == o.name && position == o.position && focalPoint == o.focalPoint &&
           viewUp == o.viewUp && viewAngle == o.viewAngle && parallel == o.parallel &&
           parallelScale == o.parallelScale;
}

std::string bookmarkName(const std::string& typed) {
    std::string name = typed;
    std::replace_if(
        name.begin(), name.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; }, ' ');
    const std::size_t first = name.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    const std::size_t last = name.find_last_not_of(' ');
    return name.substr(first, last - first + 1);
}

std::string encodeBookmarks(const std::vector<CameraBookmark>& bookmarks) {
    std::string out;
    for (const CameraBookmark& b : bookmarks) {
        const double v[kNumbers] = {b.position[0],
                                    b.position[1],
                                    b.position[2],
                                    b.focalPoint[0],
                                    b.focalPoint[1],
                                    b.focalPoint[2],
                                    b.viewUp[0],
                                    b.viewUp[1],
                                    b.viewUp[2],
                                    b.viewAngle,
                                    b.parallel ? 1.0 : 0.0,
                                    b.parallelScale,
                                    1.0};
        for (int i = 0; i < kNumbers; ++i) {
            if (i > 0) {
                out += ' ';
            }
            appendNumber(out, v[i]);
        }
        out += '\t';
        out += bookmarkName(b.name);
        out += '\n';
    }
    return out;
}

std::vector<CameraBookmark> decodeBookmarks(const std::string& text) {
    std::vector<CameraBookmark> bookmarks;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (std::optional<CameraBookmark> b = decodeLine(text.substr(at, end - at))) {
            storeBookmark(bookmarks, *b);
        }
        at = end + 1;
    }
    return bookmarks;
}

void storeBookmark(std::vector<CameraBookmark>& bookmarks, const CameraBookmark& b) {
    for (CameraBookmark& existing : bookmarks) {
        if (existing.name == b.name) {
            existing = b;
            return;
        }
    }
    bookmarks.push_back(b);
}

bool removeBookmark(std::vector<CameraBookmark>& bookmarks, const std::string& name) {
    const auto it = std::find_if(bookmarks.begin(), bookmarks.end(),
                                 [&](const CameraBookmark& b) { return b.name == name; });
    if (it == bookmarks.end()) {
        return false;
    }
    bookmarks.erase(it);
    return true;
}

const CameraBookmark* findBookmark(const std::vector<CameraBookmark>& bookmarks,
                                   const std::string& name) {
    for (const CameraBookmark& b : bookmarks) {
        if (b.name == name) {
            return &b;
        }
    }
    return nullptr;
}

} // namespace viewer
