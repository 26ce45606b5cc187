#include "SceneView.h"

#include <vtkActor.h>
#include <vtkAxesActor.h>
#include <vtkCamera.h>
#include <vtkCaptionActor2D.h>
#include <vtkCellArray.h>
#include <vtkLookupTable.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkPolyDataMapper.h>
#include <vtkProperty.h>
#include <vtkRenderer.h>
#include <vtkScalarBarActor.h>
#include <vtkTextActor.h>
#include <vtkTextProperty.h>

namespace window {

namespace {

// Entries of the legend's own table: enough for a smooth bar, sampled from the scale itself so
// that the legend and the points can not disagree.
constexpr int kLegendEntries = 256;

void styleAxisLabel(vtkCaptionActor2D* caption) {
    caption->GetTextActor()->SetTextScaleModeToNone();
    vtkTextProperty* text = caption->GetCaptionTextProperty();
    text->SetFontSize(14);
    text->SetBold(false);
    text->SetItalic(false);
    text->SetShadow(false);
}

} // namespace

SceneView::SceneView(vtkRenderer* renderer, double helperLength)
    : m_renderer(renderer), m_axes(vtkSmartPointer<vtkAxesActor>::New()),
      m_grid(vtkSmartPointer<vtkActor>::New()), m_scale(vtkSmartPointer<vtkTextActor>::New()),
      m_legend(vtkSmartPointer<vtkScalarBarActor>::New()), m_helperLength(helperLength) {
    m_axes->SetShaftTypeToLine();
    m_axes->SetPickable(false);
    styleAxisLabel(m_axes->GetXAxisCaptionActor2D());
    styleAxisLabel(m_axes->GetYAxisCaptionActor2D());
    styleAxisLabel(m_axes->GetZAxisCaptionActor2D());
    m_renderer->AddActor(m_axes);

    m_grid->GetProperty()->SetColor(0.35, 0.35, 0.35);
    m_grid->GetProperty()->LightingOff();
    m_grid->SetPickable(false);
    m_renderer->AddActor(m_grid);

    vtkTextProperty* scaleText = m_scale->GetTextProperty();
    scaleText->SetFontSize(14);
    scaleText->SetColor(0.8, 0.8, 0.8);
    m_scale->SetDisplayPosition(10, 10);
    m_renderer->AddActor2D(m_scale);

    m_legend->SetTitle("Intensity");
    m_legend->SetNumberOfLabels(5);
    m_legend->SetLabelFormat("%.0f");
    m_legend->SetOrientationToVertical();
    m_legend->SetPosition(0.91, 0.1);
    m_legend->SetWidth(0.07);
    m_legend->SetHeight(0.8);
    m_legend->UnconstrainedFontSizeOn();
    m_legend->GetTitleTextProperty()->SetFontSize(14);
    m_legend->GetLabelTextProperty()->SetFontSize(12);
    m_renderer->AddActor2D(m_legend);

    fit({}, 1.0);
}

void SceneView::fit(const viewer::SceneSample& sample, double aspect) {
    m_helperLength = viewer::helperLength(sample, m_helperLength);
    m_framedData = !sample.points.empty();
    const viewer::Bounds bounds =
        m_framedData ? viewer::sceneBounds(sample) : viewer::defaultBounds(m_helperLength);
    frame(bounds, aspect);
}

bool SceneView::followData(const viewer::SceneSample& sample, double aspect) {
    if (!m_following || sample.points.empty()) {
        return false;
    }
    const viewer::Bounds bounds = viewer::sceneBounds(sample);
    if (m_framedData && !viewer::needsRefit(m_framed, bounds)) {
        return false;
    }
    m_helperLength = viewer::helperLength(sample, m_helperLength);
    m_framedData = true;
    frame(bounds, aspect);
    return true;
}

void SceneView::frame(const viewer::Bounds& bounds, double aspect) {
    m_framed = bounds;
    vtkCamera* camera = m_renderer->GetActiveCamera();
    const viewer::CameraPose pose =
        viewer::fitCamera(bounds, viewer::defaultViewDirection(), camera->GetViewAngle(), aspect);
    camera->SetFocalPoint(pose.focalPoint.data());
    camera->SetPosition(pose.position.data());
    camera->SetViewUp(pose.viewUp.data());
    camera->SetParallelScale(pose.parallelScale);

    const double axisLength = 0.1 * m_helperLength;
    m_axes->SetTotalLength(axisLength, axisLength, axisLength);
    updateGrid(bounds);
    m_renderer->ResetCameraClippingRange();
}

void SceneView::updateGrid(const viewer::Bounds& bounds) {
    const viewer::GroundGrid grid = viewer::groundGrid(bounds);
    auto points = vtkSmartPointer<vtkPoints>::New();
    auto lines = vtkSmartPointer<vtkCellArray>::New();
    const auto segment = [&](double x0, double y0, double x1, double y1) {
        const vtkIdType a = points->InsertNextPoint(x0, y0, grid.z);
        const vtkIdType b = points->InsertNextPoint(x1, y1, grid.z);
        const vtkIdType ids[2] = {a, b};
        lines->InsertNextCell(2, ids);
    };
    for (int i = 0; i < grid.xLines(); ++i) {
        const double x = grid.xMin + i * grid.step;
        segment(x, grid.yMin, x, grid.yMax);
    }
    for (int i = 0; i < grid.yLines(); ++i) {
        const double y = grid.yMin + i * grid.step;
        segment(grid.xMin, y, grid.xMax, y);
    }
    auto polyData = vtkSmartPointer<vtkPolyData>::New();
    polyData->SetPoints(points);
    polyData->SetLines(lines);
    auto mapper = vtkSmartPointer<vtkPolyDataMapper>::New();
    mapper->SetInputData(polyData);
    m_grid->SetMapper(mapper);
    m_scale->SetInput(("Grid: " + viewer::lengthLabel(grid.step)).c_str());
}

void SceneView::updateLegend(const viewer::ColourTable& table) {
    const viewer::ScaleSettings& settings = table.settings();
    if (m_fieldLegend || (m_legendShown && settings == m_legendSettings)) {
        return;
    }
    m_legendSettings = settings;
    m_legendShown = true;
    const double low = settings.minimum;
    const double high = settings.maximum;
    auto lookup = vtkSmartPointer<vtkLookupTable>::New();
    lookup->SetNumberOfTableValues(kLegendEntries);
    lookup->SetRange(low, high);
    for (int i = 0; i < kLegendEntries; ++i) {
        const double intensity = low + (high - low) * i / (kLegendEntries - 1);
        const std::uint8_t* rgb = table.colour(intensity);
        lookup->SetTableValue(i, rgb[0] / 255.0, rgb[1] / 255.0, rgb[2] / 255.0, 1.0);
    }
    m_legend->SetLookupTable(lookup);
}

void SceneView::showFieldLegend(const std::string& title, double low, double high,
                                const std::vector<std::uint8_t>& rgb) {
    if (m_fieldLegend && title == m_fieldTitle && low == m_fieldLow && high == m_fieldHigh &&
        rgb == m_fieldColours) {
        return;
    }
    m_fieldLegend = true;
    m_fieldTitle = title;
    m_fieldLow = low;
    m_fieldHigh = high;
    m_fieldColours = rgb;
    const auto entries = static_cast<vtkIdType>(rgb.size() / 3);
    auto lookup = vtkSmartPointer<vtkLookupTable>::New();
    lookup->SetNumberOfTableValues(entries);
    lookup->SetRange(low, high > low ? high : low + 1.0);
    for (vtkIdType i = 0; i < entries; ++i) {
        lookup->SetTableValue(i, rgb[i * 3] / 255.0, rgb[i * 3 + 1] / 255.0, rgb[i * 3 + 2] / 255.0,
                              1.0);
    }
    m_legend->SetLookupTable(lookup);
    m_legend->SetTitle(title.c_str());
}

void SceneView::showIntensityLegend(const viewer::ColourTable& table) {
    if (!m_fieldLegend) {
        return;
    }
    m_fieldLegend = false;
    m_legendShown = false;
    m_legend->SetTitle("Intensity");
    updateLegend(table);
}

void SceneView::setLegendVisible(bool visible) {
    m_legend->SetVisibility(visible);
}

void SceneView::setGridVisible(bool visible) {
    m_grid->SetVisibility(visible);
    m_scale->SetVisibility(visible);
}

bool SceneView::legendVisible() const {
    return m_legend->GetVisibility() != 0;
}

vtkScalarBarActor* SceneView::legend() const {
    return m_legend;
}

bool SceneView::gridVisible() const {
    return m_grid->GetVisibility() != 0;
}

} // namespace window
