#include "AddressDialog.h"

#include "Sentova/DeviceAddress.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

namespace viewer {

AddressDialog::AddressDialog(const QString& offered, QWidget* parent)
    : QDialog(parent), edit(new QLineEdit(offered, this)),
      buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this)) {
    setWindowTitle(tr("Sentova Viewer"));
    edit->setObjectName("addressLineEdit");
    edit->setPlaceholderText("192.168.0.10");
    edit->selectAll();
    buttons->setObjectName("addressButtonBox");

    auto* form = new QFormLayout;
    form->addRow(tr("Device IPv4 address:"), edit);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    connect(edit, &QLineEdit::textChanged, this, &AddressDialog::updateAcceptable);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    updateAcceptable();
}

QString AddressDialog::address() const {
    return edit->text().trimmed();
}

void AddressDialog::updateAcceptable() {
    buttons->button(QDialogButtonBox::Ok)
        ->setEnabled(tavrel::IsIPv4Address(address().toStdString()));
}

std::optional<std::string> askDeviceAddress(QSettings& settings) {
    AddressDialog dialog(settings.value(kLastAddressKey).toString());
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    const QString address = dialog.address();
    settings.setValue(kLastAddressKey, address);
    return address.toStdString();
}

} // namespace viewer
