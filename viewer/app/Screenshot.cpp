#include "Screenshot.h"

#include <QAction>
#include <QFileDialog>
#include <QImage>
#include <QInputDialog>
#include <QMainWindow>
#include <QMenu>
#include <QStandardPaths>
#include <QStatusBar>
#include <QVTKOpenGLNativeWidget.h>

#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkImageData.h>
#include <vtkPointData.h>
#include <vtkSmartPointer.h>
#include <vtkUnsignedCharArray.h>
#include <vtkWindowToImageFilter.h>

#include <cstring>

namespace window {

namespace {
constexpr int kScreenshotReportMs = 5000;
}

Screenshot::Screenshot(QMainWindow* window, QVTKOpenGLNativeWidget* view, QMenu* fileMenu,
                       QAction* after)
    : m_window(window), m_view(view) {
    auto* action = new QAction("Save screenshot…", fileMenu);
    action->setObjectName("actionSaveScreenshot");
    connect(action, &QAction::triggered, this, &Screenshot::saveScreenshot);
    const QList<QAction*> actions = fileMenu->actions();
    const int at = actions.indexOf(after);
    fileMenu->insertAction(at >= 0 ? actions.value(at + 1) : nullptr, action);
}

void Screenshot::saveScreenshot() {
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    QString name =
        QFileDialog::getSaveFileName(m_window, "Save screenshot", desktop, "PNG image (*.png)");
    if (name.isEmpty()) {
        return;
    }
    if (!name.endsWith(".png", Qt::CaseInsensitive)) {
        name += ".png";
    }
    const QSize size = m_view->size() * m_view->devicePixelRatioF();
    bool ok = false;
    const int scale =
        QInputDialog::getInt(m_window, "Save screenshot",
                             QString("Size, in multiples of the view's %1 × %2 pixels:")
                                 .arg(size.width())
                                 .arg(size.height()),
                             1, 1, kLargestScale, 1, &ok);
    if (!ok) {
        return;
    }
    const QString error = save(name, scale);
    if (error.isEmpty()) {
        m_window->statusBar()->showMessage(QString("Screenshot %1 × %2 saved to %3.")
                                               .arg(size.width() * scale)
                                               .arg(size.height() * scale)
                                               .arg(name),
                                           kScreenshotReportMs);
    } else {
        m_window->statusBar()->showMessage("Could not save screenshot " + name + ": " + error, 0);
    }
}

QString Screenshot::save(const QString& path, int scale) {
    if (scale < 1 || scale > kLargestScale) {
        return QString("the size must be 1 to %1 times the view's").arg(kLargestScale);
    }
    auto grab = vtkSmartPointer<vtkWindowToImageFilter>::New();
    grab->SetInput(m_view->renderWindow());
    grab->SetScale(scale, scale);
    grab->SetInputBufferTypeToRGB();
    // The back buffer, rendered anew for the grab: the front one may be behind, or covered.
    grab->ReadFrontBufferOff();
    grab->ShouldRerenderOn();
    grab->Update();
    vtkImageData* image = grab->GetOutput();
    int dims[3] = {0, 0, 0};
    image->GetDimensions(dims);
    auto* pixels = vtkUnsignedCharArray::SafeDownCast(image->GetPointData()->GetScalars());
    if (dims[0] <= 0 || dims[1] <= 0 || !pixels || pixels->GetNumberOfComponents() != 3 ||
        pixels->GetNumberOfTuples() != static_cast<vtkIdType>(dims[0]) * dims[1]) {
        return "the view could not be read";
    }
    QImage picture(dims[0], dims[1], QImage::Format_RGB888);
    if (picture.isNull()) {
        return "not enough memory for an image of that size";
    }
    const unsigned char* data = pixels->GetPointer(0);
    const std::size_t row = static_cast<std::size_t>(dims[0]) * 3;
    // VTK's rows run from the bottom up, an image's from the top down.
    for (int y = 0; y < dims[1]; ++y) {
        std::memcpy(picture.scanLine(dims[1] - 1 - y), data + row * y, row);
    }
    if (!picture.save(path, "PNG")) {
        return "the file could not be written";
    }
    return {};
}

} // namespace window
