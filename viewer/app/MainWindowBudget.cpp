// The frame budget: every render is timed, the cloud draws as many points as the machine
// renders in about one frame's time (fewer while the camera moves), and the Stats box says
// when points are left out.
#include "MainWindow.h"

#include "ui_MainWindow.h"

#include <QGridLayout>
#include <QLabel>

#include <vtkCallbackCommand.h>
#include <vtkCommand.h>
#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkInteractorObserver.h>
#include <vtkRenderWindowInteractor.h>

void MainWindow::setupFrameBudget() {
    vtkRenderWindow* renderWindow = ui->lidarQvtkWidget->renderWindow();
    // Points of one pixel gain nothing from multisampling, and a software rasteriser pays for
    // every sample of every pixel in every frame (a window's empty frame: about 90 ms with the
    // 8 samples VTK asks for, 1 ms without).
    renderWindow->SetMultiSamples(0);
    auto events = vtkSmartPointer<vtkCallbackCommand>::New();
    events->SetClientData(this);
    events->SetCallback([](vtkObject*, unsigned long event, void* client, void*) {
        auto* window = static_cast<MainWindow*>(client);
        switch (event) {
        case vtkCommand::StartEvent:
            window->renderStarting();
            break;
        case vtkCommand::EndEvent:
            window->renderFinished();
            break;
        case vtkCommand::StartInteractionEvent:
            window->cameraMoving(true);
            break;
        case vtkCommand::EndInteractionEvent:
            window->cameraMoving(false);
            break;
        default:
            break;
        }
    });
    renderWindow->AddObserver(vtkCommand::StartEvent, events);
    renderWindow->AddObserver(vtkCommand::EndEvent, events);
    if (vtkRenderWindowInteractor* interactor = renderWindow->GetInteractor()) {
        if (vtkInteractorObserver* style = interactor->GetInteractorStyle()) {
            style->AddObserver(vtkCommand::StartInteractionEvent, events);
            style->AddObserver(vtkCommand::EndInteractionEvent, events);
        }
    }

    auto* stats = qobject_cast<QGridLayout*>(ui->device_groupBox->layout());
    drawnPoints_label = new QLabel(ui->device_groupBox);
    drawnPoints_label->setObjectName("drawnPoints_label");
    drawnPoints_label->hide();
    if (stats) {
        stats->addWidget(drawnPoints_label, stats->rowCount(), 1);
    }
}

void MainWindow::renderStarting() {
    renderStarted = std::chrono::steady_clock::now();
}

void MainWindow::renderFinished() {
    // The rasteriser may still be working when VTK is done: the frame is timed to its end.
    ui->lidarQvtkWidget->renderWindow()->WaitForCompletion();
    if (!renderOnScreen) {
        // Two renders before one update of the window: the first is counted as it stands.
        frameBudget.frameRendered(renderDrawn, renderMs);
    }
    renderDrawn = cloud->drawnCount();
    renderMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - renderStarted)
            .count();
    renderOnScreen = false;
}

bool MainWindow::event(QEvent* event) {
    if (event->type() != QEvent::UpdateRequest) {
        return QMainWindow::event(event);
    }
    // The window's update puts the rendered view on screen together with the widgets around it;
    // in software that costs about as much as a frame of 50,000 points, and the frame is not
    // done before it.
    const auto start = std::chrono::steady_clock::now();
    const bool handled = QMainWindow::event(event);
    if (!renderOnScreen) {
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        frameBudget.frameRendered(renderDrawn, renderMs + ms);
        renderOnScreen = true;
    }
    return handled;
}

void MainWindow::cameraMoving(bool moving) {
    frameBudget.setMoving(moving);
    // The frames of the motion itself are drawn with the budget in force; the refresh would
    // come too late for them.
    cloud->apply(intensityScale.table(), frameBudget.budget());
    showDrawnPoints();
    if (!moving) {
        render();
    }
}

void MainWindow::showDrawnPoints() {
    const std::size_t drawn = cloud->drawnCount();
    const std::size_t held = cloud->heldCount();
    if (drawn < held) {
        drawnPoints_label->setText("showing " + QString::number(drawn) + " of " +
                                   QString::number(held));
        drawnPoints_label->show();
    } else {
        drawnPoints_label->hide();
    }
}
