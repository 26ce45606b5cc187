// Choice of the columns written to saved point files.
#pragma once

#include <QDialog>

class Ui_PreferencesDialog;

class PreferencesDialog : public QDialog {
public:
    explicit PreferencesDialog(QWidget* parent = nullptr);
    ~PreferencesDialog() override;
    PreferencesDialog(const PreferencesDialog&) = delete;
    PreferencesDialog& operator=(const PreferencesDialog&) = delete;

    // The window reads and sets the check boxes directly.
    Ui_PreferencesDialog* ui;
};
