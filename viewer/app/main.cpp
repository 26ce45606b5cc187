// sentova-viewer <device IPv4 address> | --ask-address
#include "AddressDialog.h"
#include "CommandLine.h"
#include "MainWindow.h"

#include "Sentova/Sentova.h"

#include <QApplication>
#include <QSettings>
#include <QSurfaceFormat>
#include <QVTKOpenGLNativeWidget.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    // Checked before the application object exists, so that --help, --version and mistakes
    // are answered without a display.
    const std::string program = "sentova-viewer";
    const viewer::CommandLine commandLine =
        viewer::parseCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    switch (commandLine.action) {
    case viewer::CommandLine::Action::Help:
        std::fputs(viewer::usageText(program).c_str(), stdout);
        return 0;
    case viewer::CommandLine::Action::Version:
        std::printf("%s %s (Sentova library %s)\n", program.c_str(), SENTOVA_VIEWER_VERSION,
                    tavrel::SENTOVA_VERSION.c_str());
        return 0;
    case viewer::CommandLine::Action::Error:
        std::fprintf(stderr, "%s: %s\n%s", program.c_str(), commandLine.error.c_str(),
                     viewer::usageText(program).c_str());
        return 1;
    case viewer::CommandLine::Action::Run:
        break;
    }

    // The VTK widget needs its surface format before the application exists.
    QSurfaceFormat::setDefaultFormat(QVTKOpenGLNativeWidget::defaultFormat());
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName("Tavrel Dynamics");
    QCoreApplication::setOrganizationDomain("tavrel-dynamics.example");
    QCoreApplication::setApplicationName("LX30Tools");

    std::string address = commandLine.address;
    if (address.empty()) {
        QSettings settings;
        const std::optional<std::string> asked = viewer::askDeviceAddress(settings);
        if (!asked) {
            return 1;
        }
        address = *asked;
    }

    std::unique_ptr<MainWindow> window;
    try {
        window = std::make_unique<MainWindow>(QString::fromStdString(address));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: cannot open the command channels to the device at %s: %s\n",
                     program.c_str(), address.c_str(), error.what());
        return 1;
    }
    window->show();
    const int code = application.exec();
    window.reset();
    return code;
}
