#include "ColourControls.h"

#include "CloudDisplay.h"
#include "DeferredSettings.h"
#include "SceneView.h"
#include "ViewControls.h"
#include "ui_MainWindow.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>

#include <cstdint>
#include <vector>

namespace window {

namespace {

constexpr int kColourLegendEntries = 256;

} // namespace

ColourControls::ColourControls(Ui_MainWindow& ui, DeferredSettings& settings, CloudDisplay& display,
                               ViewControls& view)
    : ui(ui), settings(settings), display(display), view(view) {
    auto* bar = ui.centralWidget->findChild<QWidget*>("displayBar");
    auto* layout = bar ? qobject_cast<QHBoxLayout*>(bar->layout()) : nullptr;
    QWidget* parent = bar ? bar : ui.centralWidget;
    fieldCombo = new QComboBox(parent);
    fieldCombo->setObjectName("colourFieldComboBox");
    for (int i = 0; i < viewer::kColourFieldCount; ++i) {
        fieldCombo->addItem(viewer::fieldText(static_cast<viewer::ColourField>(i)));
    }
    mapCombo = new QComboBox(parent);
    mapCombo->setObjectName("colourMapComboBox");
    for (int i = 0; i < viewer::kColourMapCount; ++i) {
        mapCombo->addItem(viewer::mapText(static_cast<viewer::ColourMap>(i)));
    }
    const auto field =
        viewer::fieldFromText(settings.value("view/colourField").toString().toStdString());
    const auto map = viewer::mapFromText(settings.value("view/colourMap").toString().toStdString());
    fieldCombo->setCurrentIndex(static_cast<int>(field.value_or(viewer::ColourField::Intensity)));
    mapCombo->setCurrentIndex(static_cast<int>(map.value_or(viewer::ColourMap::MinMaxColours)));
    if (layout) {
        // Before the stretch that ends the bar.
        const int at = layout->count() > 0 ? layout->count() - 1 : 0;
        layout->insertWidget(at, new QLabel("Colour by:", bar));
        layout->insertWidget(at + 1, fieldCombo);
        layout->insertWidget(at + 2, mapCombo);
    }
    connect(fieldCombo, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &ColourControls::chosen);
    connect(mapCombo, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &ColourControls::chosen);
    chosen();
}

void ColourControls::setModel(LIDAR_TYPE shownModel) {
    model = shownModel;
    chosen();
}

void ColourControls::chosen() {
    const auto field = static_cast<viewer::ColourField>(fieldCombo->currentIndex());
    const auto map = static_cast<viewer::ColourMap>(mapCombo->currentIndex());
    settings.setValue("view/colourField", viewer::fieldText(field));
    settings.setValue("view/colourMap", viewer::mapText(map));
    const bool measured = viewer::measuredBy(field, model);
    display.setColouring(field, map, measured);
    if (!measured) {
        ui.statusBar->showMessage(QString::fromStdString(viewer::notMeasuredText(field, model)));
    }
    afterRebuild();
}

void ColourControls::afterRebuild() {
    const auto field = static_cast<viewer::ColourField>(fieldCombo->currentIndex());
    SceneView& scene = view.scene();
    if (!viewer::measuredBy(field, model)) {
        scene.showFieldLegend(viewer::notMeasuredText(field, model), 0.0, 1.0,
                              std::vector<std::uint8_t>(3, 0));
        return;
    }
    const viewer::PointColourer* colourer = display.colourer();
    if (!colourer) {
        scene.showIntensityLegend(display.colourTable());
        return;
    }
    std::vector<std::uint8_t> rgb(kColourLegendEntries * 3);
    if (const std::uint8_t* table = viewer::mapTable(colourer->map())) {
        rgb.assign(table, table + kColourLegendEntries * 3);
    } else {
        // The same ramp as the intensity scale, spread over the field's range.
        const viewer::ScaleSettings& s = display.colourTable().settings();
        for (int i = 0; i < kColourLegendEntries; ++i) {
            const double v =
                s.minimum + double(s.maximum - s.minimum) * i / (kColourLegendEntries - 1);
            const std::uint8_t* c = display.colourTable().colour(v);
            rgb[i * 3] = c[0];
            rgb[i * 3 + 1] = c[1];
            rgb[i * 3 + 2] = c[2];
        }
    }
    const viewer::FieldRange& range = display.colourRange();
    double low = range.minimum;
    double high = range.maximum;
    if (field == viewer::ColourField::Time) {
        low = static_cast<double>(range.firstTime);
        high = static_cast<double>(range.lastTime);
        if (high < low) {
            high += 4294967296.0; // across the device counter's wrap
        }
    } else if (field == viewer::ColourField::Azimuth && high < low) {
        high += 360.0;
    }
    scene.showFieldLegend(viewer::legendTitle(field), low, high, rgb);
}

} // namespace window
