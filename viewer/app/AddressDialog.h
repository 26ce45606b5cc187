// The device address asked for at start-up when the viewer is started without one (from the
// desktop menu, with --ask-address).
#pragma once

#include <QDialog>
#include <QString>

#include <optional>
#include <string>

class QDialogButtonBox;
class QLineEdit;
class QSettings;

namespace viewer {

// One line for a dotted-decimal IPv4 address; OK only once the text is one.
class AddressDialog : public QDialog {
    Q_OBJECT
public:
    explicit AddressDialog(const QString& offered, QWidget* parent = nullptr);

    // The text without surrounding blanks.
    QString address() const;

private:
    void updateAcceptable();

    QLineEdit* edit;
    QDialogButtonBox* buttons;
};

// The settings key of the last address accepted.
inline constexpr const char* kLastAddressKey = "network/address";

// Asks for the address, offering the last one accepted; remembers the one accepted now. Nothing
// on Cancel.
std::optional<std::string> askDeviceAddress(QSettings& settings);

} // namespace viewer
