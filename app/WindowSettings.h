// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the window keeps between runs: the port (by what identifies it lastingly), the line
// speed, the reading interval, the ID and where the windows were, in an INI file under
// $XDG_CONFIG_HOME/zub3.

#include "core/ControllerCheck.h"

#include <QByteArray>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <optional>

class QComboBox;
class TMainForm;

// A port as it can be found again: its by-id name (USB adapters), else its device path or
// network address; a virtual port, whose pseudo-terminal changes with each run of the
// program behind it, by its COM name.
struct PortIdentity {
    QString name;    // "COM11"
    QString device;  // "/dev/ttyUSB0", "rfc2217://host:4001", "/dev/pts/3"
    QString byId;    // "/dev/serial/by-id/usb-FTDI_..."; "" when there is none
    bool operator==(const PortIdentity&) const = default;
};

struct StoredSettings {
    std::optional<PortIdentity> port;
    std::optional<int> bitRate;
    std::optional<int> intervalMs;
    std::optional<int> id;
    std::optional<QPoint> windowPos;  // the main window's top left
    QByteArray chartGeometry;         // as QWidget::saveGeometry gives it; empty for none
    bool operator==(const StoredSettings&) const = default;
};

// $XDG_CONFIG_HOME/zub3/ZUB3Manager.conf (~/.config when the variable is unset).
QString DefaultSettingsFile();

// The settings in file; none stored when it does not exist. A file that cannot be read, or
// that holds a line a save would drop or change (its number is said), gives nullopt and the
// reason in fault: such a file is not to be written over. Values the window cannot take are left out and
// named in fault; the others are kept.
std::optional<StoredSettings> LoadSettings(const QString& file, QString* fault);
// False when the file could not be written.
bool SaveSettings(const QString& file, const StoredSettings& settings);

// The controller check's tolerances kept in file; the defaults when they are not stored or
// not usable. Storing them leaves a file that cannot be read alone and gives false.
zub3::CheckLimits LoadCheckLimits(const QString& file);
bool StoreCheckLimits(const QString& file, const zub3::CheckLimits& limits);

// The identity of the port with this number, as the registry lists it now.
PortIdentity IdentifyPort(int portNo);
// The number of the listed port that identity names; nullopt when it is no longer there.
std::optional<int> FindPort(const PortIdentity& identity);

// As if the user chose them, through the window's own handlers: the port with this number
// (so opening it; false when the port list has none) and the entry of a list of numbers
// that reads value (none when the list has no such entry).
bool ChoosePort(TMainForm& form, int portNo);
void ChooseNumber(QComboBox* box, int value);

// Keeps a window's settings in file: reads them and applies them as if the user chose them,
// and writes them again whenever one changes and when the window closes. What goes wrong
// with the file is said in the window's status line.
class SettingsKeeper : public QObject {
    Q_OBJECT

public:
    // chart: the window whose geometry is kept beside the main window's position.
    SettingsKeeper(TMainForm& form, QString file, QWidget* chart = nullptr);

    // Reads the file and puts the windows where they were (on a screen that is still
    // there); the rest is for Apply. A file that cannot be read is said, gives nullopt and
    // is never written over in this run; values it holds that the window cannot take are
    // said by Apply.
    std::optional<StoredSettings> Load();
    // Chooses the port (so opening it), the line speed, the interval and the ID, each
    // through the window's own handlers. A port no longer listed is told in the status
    // line and left unchosen, yet kept for the next run. With portGiven (a port chosen for
    // this run) the kept port is neither opened nor looked for.
    void Apply(const StoredSettings& stored, bool portGiven = false);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void portChosen();
    void store();
    void tell(const QString& text);

    TMainForm& form_;
    const QString file_;
    QWidget* const chart_;
    std::optional<PortIdentity> port_;  // the port to keep, open or not
    QByteArray chartGeometry_;          // kept until the chart has been shown
    QString badValues_;                 // keys of the file that held no usable value
    StoredSettings written_;            // what the file holds now
    bool applying_ = false;
    bool readOnly_ = false;
    bool writeFailed_ = false;
};
