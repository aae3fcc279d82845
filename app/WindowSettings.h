// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the window keeps between runs: the port (by what identifies it lastingly), the line
// speed, the reading interval and the ID, in an INI file under $XDG_CONFIG_HOME/zub3.

#include <QObject>
#include <QString>

#include <optional>

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
    bool operator==(const StoredSettings&) const = default;
};

// $XDG_CONFIG_HOME/zub3/ZUB3Manager.conf (~/.config when the variable is unset).
QString DefaultSettingsFile();

// The settings in file; none stored when it does not exist. A file that cannot be read or
// holds values the window cannot take gives nullopt and the reason in fault.
std::optional<StoredSettings> LoadSettings(const QString& file, QString* fault);
// False when the file could not be written.
bool SaveSettings(const QString& file, const StoredSettings& settings);

// The identity of the port with this number, as the registry lists it now.
PortIdentity IdentifyPort(int portNo);
// The number of the listed port that identity names; nullopt when it is no longer there.
std::optional<int> FindPort(const PortIdentity& identity);

// Keeps a window's settings in file: applies stored ones as if the user chose them, and
// writes them again whenever one changes and when the window closes.
class SettingsKeeper : public QObject {
public:
    SettingsKeeper(TMainForm& form, QString file);

    // Chooses the port (so opening it), the line speed, the interval and the ID, each
    // through the window's own handlers. A port no longer listed is reported and left
    // unchosen, yet kept for the next run.
    void Apply(const StoredSettings& stored);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void portChosen();
    void store();

    TMainForm& form_;
    const QString file_;
    StoredSettings current_;
    bool applying_ = false;
    bool writeFailed_ = false;
};
