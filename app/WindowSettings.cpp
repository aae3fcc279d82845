// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/WindowSettings.h"

#include "app/ZUB3Check.h"
#include "core/Protocol.h"
#include "platform/PortAccess.h"
#include "platform/SerialRegistry.h"
#include "serial/CommX.h"
#include "toolkit/Dialogs.h"
#include "toolkit/SpinEdit.h"
#include "widgets/ComComboBox.h"

#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;
namespace registry = platform::registry;

namespace {

const QString kPortName = QStringLiteral("port/name");
const QString kPortDevice = QStringLiteral("port/device");
const QString kPortById = QStringLiteral("port/by_id");
const QString kBitRate = QStringLiteral("line/speed");
const QString kInterval = QStringLiteral("line/interval");
const QString kID = QStringLiteral("receiver/id");

bool isPseudoTerminal(const std::string& device) { return device.starts_with("/dev/pts/"); }

// Two device paths name one device when they resolve to the same file; addresses compare
// as text.
bool sameDevice(const std::string& a, const std::string& b)
{
    if (a == b)
        return true;
    std::error_code ec1, ec2;
    const fs::path ca = fs::canonical(a, ec1), cb = fs::canonical(b, ec2);
    return !ec1 && !ec2 && ca == cb;
}

int portNumber(const std::string& name) { return std::stoi(name.substr(3)); }

}  // namespace

QString DefaultSettingsFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/zub3/ZUB3Manager.conf");
}

std::optional<StoredSettings> LoadSettings(const QString& file, QString* fault)
{
    if (!QFileInfo::exists(file))
        return StoredSettings{};
    QFile probe(file);
    if (!probe.open(QIODevice::ReadOnly)) {
        *fault = probe.errorString();
        return std::nullopt;
    }
    probe.close();
    QSettings ini(file, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError) {
        *fault = QStringLiteral("not a settings file");
        return std::nullopt;
    }
    StoredSettings s;
    QString bad;
    auto number = [&](const QString& key, int min, int max) -> std::optional<int> {
        if (!ini.contains(key))
            return std::nullopt;
        bool ok = false;
        const int v = ini.value(key).toString().toInt(&ok, 10);
        if (!ok || v < min || v > max) {
            bad = key;
            return std::nullopt;
        }
        return v;
    };
    s.bitRate = number(kBitRate, 0, 2'000'000);
    if (s.bitRate && !std::any_of(zub3::kLineSpeeds.begin(), zub3::kLineSpeeds.end(),
                                  [&](const auto& l) { return l.bitRate == *s.bitRate; }))
        bad = kBitRate;
    s.intervalMs = number(kInterval, 5, 500);
    s.id = number(kID, 0, zub3::kMaxID);
    if (ini.contains(kPortName)) {
        PortIdentity port{ini.value(kPortName).toString(), ini.value(kPortDevice).toString(),
                          ini.value(kPortById).toString()};
        if (registry::PortNumber(port.name.toStdString()) <= 0 || port.device.isEmpty())
            bad = kPortName;
        s.port = port;
    }
    if (!bad.isEmpty()) {
        *fault = bad + QStringLiteral(" holds no value the window can take");
        return std::nullopt;
    }
    return s;
}

bool SaveSettings(const QString& file, const StoredSettings& s)
{
    QDir().mkpath(QFileInfo(file).absolutePath());
    QSettings ini(file, QSettings::IniFormat);
    // Keys are set one by one, so that keys this version does not know survive.
    auto put = [&](const QString& key, const std::optional<QVariant>& value) {
        if (value)
            ini.setValue(key, *value);
        else
            ini.remove(key);
    };
    auto opt = [](const std::optional<int>& v) {
        return v ? std::optional<QVariant>(*v) : std::nullopt;
    };
    put(kPortName, s.port ? std::optional<QVariant>(s.port->name) : std::nullopt);
    put(kPortDevice, s.port ? std::optional<QVariant>(s.port->device) : std::nullopt);
    put(kPortById, s.port && !s.port->byId.isEmpty() ? std::optional<QVariant>(s.port->byId)
                                                      : std::nullopt);
    put(kBitRate, opt(s.bitRate));
    put(kInterval, opt(s.intervalMs));
    put(kID, opt(s.id));
    ini.sync();
    return ini.status() == QSettings::NoError;
}

PortIdentity IdentifyPort(int portNo)
{
    const std::string name = "COM" + std::to_string(portNo);
    std::string device = registry::ResolvePort(name).value_or(registry::DevicePathOf(name));
    PortIdentity id{QString::fromStdString(name), QString::fromStdString(device), {}};
    if (device.starts_with("/dev/"))
        id.byId = QString::fromStdString(platform::ports::DescribePort(device).byId);
    return id;
}

std::optional<int> FindPort(const PortIdentity& identity)
{
    const auto values = registry::ReadSerialComm();
    if (!values)
        return std::nullopt;
    const std::string name = identity.name.toStdString();
    const std::string device = identity.device.toStdString();
    const std::string byId = identity.byId.toStdString();
    for (const auto& v : *values) {
        if (v.type != registry::ValueType::String)
            continue;
        // The adapter itself, wherever it is plugged in now; gone when its link is.
        const bool same = !byId.empty() ? sameDevice(v.devicePath, byId)
                                        : sameDevice(v.devicePath, device) ||
                                              (isPseudoTerminal(device) && v.data == name &&
                                               isPseudoTerminal(v.devicePath));
        if (same)
            return portNumber(v.data);
    }
    return std::nullopt;
}

SettingsKeeper::SettingsKeeper(TMainForm& form, QString file)
    : QObject(&form), form_(form), file_(std::move(file))
{
    // Connected after the port selector's own handler: the port is open (or not) by then.
    connect(form_.cbxPort, &QComboBox::activated, this, &SettingsKeeper::portChosen);
    connect(form_.cbxBaudRate, &QComboBox::currentIndexChanged, this, &SettingsKeeper::store);
    connect(form_.cbxInterval, &QComboBox::currentIndexChanged, this, &SettingsKeeper::store);
    connect(form_.speID, &TSpinEdit::Change, this, &SettingsKeeper::store);
    form_.installEventFilter(this);
}

void SettingsKeeper::Apply(const StoredSettings& stored)
{
    applying_ = true;
    current_.port = stored.port;
    if (stored.port) {
        if (const auto portNo = FindPort(*stored.port)) {
            form_.cbxPort->SetPortNo(*portNo);
            if (form_.cbxPort->currentIndex() > 0)
                emit form_.cbxPort->activated(form_.cbxPort->currentIndex());
        } else {
            // Said as a refused open of a device that is gone says it, in the port's language.
            platform::ports::PortAccess gone;
            gone.state = platform::ports::Access::Gone;
            gone.device = (stored.port->byId.isEmpty() ? stored.port->device : stored.port->byId)
                              .toStdString();
            ShowException(std::runtime_error(platform::ports::Explain(
                gone, form_.ComPort->Language == clEnglish ? platform::ports::Language::English
                                                           : platform::ports::Language::Japanese)));
        }
    }
    if (stored.id)
        form_.speID->SetValue(*stored.id);
    auto choose = [](QComboBox* box, int value) {
        const int index = box->findText(QString::number(value));
        if (index < 0)
            return;
        box->setCurrentIndex(index);
        emit box->activated(index);
    };
    if (stored.bitRate)
        choose(form_.cbxBaudRate, *stored.bitRate);
    if (stored.intervalMs)
        choose(form_.cbxInterval, *stored.intervalMs);
    applying_ = false;
    store();
}

bool SettingsKeeper::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &form_ && event->type() == QEvent::Close)
        store();
    return false;
}

void SettingsKeeper::portChosen()
{
    // A stored port that refused to open at the start is kept for the next run.
    if (applying_)
        return;
    if (form_.ComPort->Handle() != INVALID_HANDLE_VALUE)
        current_.port = IdentifyPort(form_.ComPort->PortNo());
    else
        current_.port.reset();
    store();
}

void SettingsKeeper::store()
{
    if (applying_)
        return;
    StoredSettings s;
    s.port = current_.port;
    if (const auto speed = zub3::LineSpeedByIndex(form_.cbxBaudRate->currentIndex()))
        s.bitRate = speed->bitRate;
    if (form_.cbxInterval->currentIndex() >= 0)
        s.intervalMs = form_.cbxInterval->currentText().toInt();
    if (const int id = form_.speID->Value(); id >= 0 && id <= zub3::kMaxID)
        s.id = id;
    if (s == current_)
        return;
    if (!SaveSettings(file_, s)) {
        if (!writeFailed_)
            std::fprintf(stderr, "ZUB3Manager: cannot write the settings to %s\n",
                         qPrintable(file_));
        writeFailed_ = true;
        return;
    }
    current_ = s;
}
