#include "ControlsFit.h"

#include "ui_MainWindow.h"

#include <QFrame>
#include <QGridLayout>
#include <QScrollArea>

namespace window {

namespace {

// Replaces content in its cell of grid by a scroll area holding it.
void scrollInPlace(QGridLayout* grid, QWidget* content, const char* name) {
    const int index = grid->indexOf(content);
    if (index < 0) {
        return;
    }
    int row = 0;
    int column = 0;
    int rowSpan = 1;
    int columnSpan = 1;
    grid->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
    delete grid->takeAt(index);
    auto* area = new QScrollArea(grid->parentWidget());
    area->setObjectName(name);
    area->setFrameShape(QFrame::NoFrame);
    // The content takes the area's whole room when it fits, and scrolls only when it does not.
    area->setWidgetResizable(true);
    area->setWidget(content);
    grid->addWidget(area, row, column, rowSpan, columnSpan);
}

} // namespace

void fitControls(Ui_MainWindow& ui) {
    scrollInPlace(ui.gridLayout_15, ui.stackedWidget, "laserPagesScrollArea");
    scrollInPlace(ui.gridLayout_15, ui.device_groupBox, "statsScrollArea");
}

} // namespace window
