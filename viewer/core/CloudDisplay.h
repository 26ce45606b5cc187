#pragma once

#include "DataPoint.h"
#include "IntensityScale.h"
#include "PointBuffer.h"

#include <vtkCellArray.h>
#include <vtkIdTypeArray.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>
#include <vtkUnsignedCharArray.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace viewer {

// The displayed point cloud: VTK points, one vertex cell per point and a 3-byte colour per point
// ("Colors"), kept up to date from the point buffer without rebuilding them on every refresh.
//
// The arrays are reused for the life of the object. Points sit in the arrays as a ring: when the
// full buffer drops its oldest points and appends new ones, the new points overwrite the slots of
// the dropped ones, so a streaming refresh costs only the new points. Drawing does not depend on
// the order of the points, so the scene shows exactly the buffer's first n points with the
// colours of the current table.
//
// A refresh on the GUI thread:
//     {   lock pointsMutex
//         numberOfPoints = points.size();
//         display.capture(points, numberOfPoints, pointsLog);   // copies only what changed
//     }
//     if (autoIntensity) display.automaticRange(lo, hi), then store lo, hi in the members
//         (automaticRange needs no lock and may recount all points after a full capture, so it
//         is best called outside it)
//     if (numberOfPoints == display.displayedCount() && !cloudChanged) -> re-arm, return
//     const ColourTable& table = scale.update(minimumIntensity, maximumIntensity, minC, maxC);
//     display.apply(table);      // no lock: works on the captured copy
//     cloudPolyData->Modified(); label = display.displayedCount(); camera; render
//
// Not thread-safe: every member runs on the GUI thread; capture() needs the caller to hold the
// lock that guards the buffer and its BufferLog.
class CloudDisplay {
public:
    CloudDisplay();

    vtkPoints* points() const { return m_points; }
    vtkCellArray* vertices() const { return m_vertices; }
    vtkUnsignedCharArray* colors() const { return m_colors; }

    // Sets the arrays as points, vertices and point-data scalars of polyData.
    void attachTo(vtkPolyData* polyData) const;

    // Takes note of the changes among the first n points of the buffer since the last capture,
    // copying only the points that are new to the display (all n after a clear or replace, or
    // when the changes are not a plain append or a drop-and-append).
    void capture(const std::deque<DataPoint>& buffer, std::size_t n, const BufferLog& log);

    // The range the refresh's scan of the captured points gives: minimum 65535 and maximum 0 to
    // start with, then widened by every point (truncated intensities, NaN ignored). Kept up to
    // date incrementally, so it costs little on a large buffer.
    void automaticRange(std::uint32_t& minimum, std::uint32_t& maximum) const;

    // Points the captured state holds; displayedCount() after the next apply().
    std::size_t capturedCount() const { return m_intensity.size(); }

    // Points the VTK arrays hold now.
    std::size_t displayedCount() const { return static_cast<std::size_t>(m_displayed); }

    // Brings the VTK arrays up to the captured points, every colour from table (only the new
    // points' colours when the table is the one used last time). Marks changed arrays modified.
    void apply(const ColourTable& table);

private:
    struct NewPoint {
        std::size_t slot;
        float xyz[3];
    };

    void captureAll(const std::deque<DataPoint>& buffer, std::size_t n);
    void countIn(double intensity) const;
    void countOut(double intensity) const;
    void resizeCells(std::size_t n);

    vtkSmartPointer<vtkPoints> m_points;
    vtkSmartPointer<vtkCellArray> m_vertices;
    vtkSmartPointer<vtkIdTypeArray> m_offsets;
    vtkSmartPointer<vtkIdTypeArray> m_connectivity;
    vtkSmartPointer<vtkUnsignedCharArray> m_colors;

    // Captured state, in slot order: the intensity of every point, the ring's first slot, and
    // the buffer log at the last capture.
    std::vector<double> m_intensity;
    std::size_t m_head = 0;
    BufferLog m_seen;
    bool m_everCaptured = false;

    // Work for the next apply(): either every slot (m_allPending, coordinates in m_allXyz) or
    // the listed new points.
    bool m_allPending = false;
    std::vector<float> m_allXyz;
    std::vector<NewPoint> m_newPoints;

    // Histogram of truncated intensities 0..65535 of the captured points, and the count of those
    // above 65535 (only from files), for the automatic range. After a full capture it is
    // recounted on the next automaticRange(), outside the caller's lock.
    mutable std::vector<std::uint32_t> m_histogram;
    mutable std::size_t m_aboveHistogram = 0;
    mutable bool m_histogramStale = false;

    long long m_displayed = 0;
    bool m_coloured = false;
    ScaleSettings m_lastSettings;
};

} // namespace viewer
