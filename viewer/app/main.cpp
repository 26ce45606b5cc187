// sentova-viewer <device IPv4 address>
#include "MainWindow.h"

#include <QApplication>
#include <QSurfaceFormat>
#include <QVTKOpenGLNativeWidget.h>

#include <cstdio>
#include <exception>
#include <memory>

int main(int argc, char* argv[]) {
    // The VTK widget needs its surface format before the application exists.
    QSurfaceFormat::setDefaultFormat(QVTKOpenGLNativeWidget::defaultFormat());
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName("Tavrel Dynamics");
    QCoreApplication::setOrganizationDomain("tavrel-dynamics.example");
    QCoreApplication::setApplicationName("LX30Tools");

    std::unique_ptr<MainWindow> window;
    try {
        window = std::make_unique<MainWindow>();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "sentova-viewer: cannot reach the device at '%s': %s\n",
                     argc > 1 ? argv[1] : "", error.what());
        return 1;
    }
    window->show();
    const int code = application.exec();
    window.reset();
    return code;
}
