// What the window shows of the device and its own state: the model in the Settings menu.
#include "MainWindow.h"

#include "ui_MainWindow.h"

#include <QActionGroup>

void MainWindow::setupModelActions() {
    auto* models = new QActionGroup(this);
    models->setExclusive(true);
    for (QAction* model : {ui->actionGeneric, ui->actionLX30, ui->actionLX20}) {
        model->setCheckable(true);
        models->addAction(model);
    }
    modelChanged();
}

void MainWindow::modelChanged() {
    QAction* const models[] = {ui->actionLX30, ui->actionLX20, ui->actionGeneric};
    const int current = static_cast<int>(mode.load());
    if (current >= 0 && current < 3) {
        models[current]->setChecked(true);
    }
    if (sceneView) {
        sceneView->follow();
    }
}
