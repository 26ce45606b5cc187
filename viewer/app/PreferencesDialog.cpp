#include "PreferencesDialog.h"

#include "ui_PreferencesDialog.h"

PreferencesDialog::PreferencesDialog(QWidget* parent)
    : QDialog(parent), ui(new Ui_PreferencesDialog) {
    ui->setupUi(this);
}

PreferencesDialog::~PreferencesDialog() {
    delete ui;
}
