// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/WindowSettings.h"

#include "app/Notices.h"
#include "app/ZUB3Check.h"
#include "core/Protocol.h"
#include "platform/PortAccess.h"
#include "platform/SerialRegistry.h"
#include "serial/CommX.h"
#include "toolkit/SpinEdit.h"
#include "widgets/ComComboBox.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QWidget>

#include <algorithm>
#include <filesystem>
#include <utility>

namespace fs = std::filesystem;
namespace registry = platform::registry;

namespace {

const QString kPortName = QStringLiteral("port/name");
const QString kPortDevice = QStringLiteral("port/device");
const QString kPortById = QStringLiteral("port/by_id");
const QString kBitRate = QStringLiteral("line/speed");
const QString kInterval = QStringLiteral("line/interval");
const QString kID = QStringLiteral("receiver/id");
const QString kWindowLeft = QStringLiteral("window/left");
const QString kWindowTop = QStringLiteral("window/top");
const QString kChartGeometry = QStringLiteral("chart/geometry");
const QString kCheckEnd = QStringLiteral("check/end_tolerance");
const QString kCheckCentre = QStringLiteral("check/centre_tolerance");
const QString kCheckSd = QStringLiteral("check/noise_sd");
const QString kCheckPeakToPeak = QStringLiteral("check/noise_peak_to_peak");

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

// The first line of an INI file that a save would drop or change, and why; "" when every
// line is a section, a key with "=" or blank. Comments go too: QSettings writes none back.
QString notUnderstood(const QByteArray& content)
{
    const QList<QByteArray> lines = content.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const auto say = [&](const char* why) {
            return QCoreApplication::translate("SettingsKeeper", why).arg(i + 1);
        };
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = utf8(line);
        if (utf8.hasError())
            return say(QT_TRANSLATE_NOOP("SettingsKeeper", "%1 行目が UTF-8 の文字ではありません"));
        if (std::any_of(text.begin(), text.end(), [](QChar c) { return c < u' ' && c != u'\t'; }))
            return say(QT_TRANSLATE_NOOP("SettingsKeeper", "%1 行目に制御文字があります"));
        if (line.startsWith(';') || line.startsWith('#'))
            return say(QT_TRANSLATE_NOOP("SettingsKeeper", "%1 行目のコメントは保存すると消えます"));
        if (!line.isEmpty() && !(line.startsWith('[') && line.endsWith(']')) && !line.contains('='))
            return say(QT_TRANSLATE_NOOP("SettingsKeeper", "%1 行目に「=」がありません"));
    }
    return {};
}

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
    if (const QString odd = notUnderstood(probe.readAll()); !odd.isEmpty()) {
        *fault = odd;
        return std::nullopt;
    }
    probe.close();
    QSettings ini(file, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError) {
        *fault = QStringLiteral("not a settings file");
        return std::nullopt;
    }
    StoredSettings s;
    QStringList bad;
    auto number = [&](const QString& key, int min, int max) -> std::optional<int> {
        if (!ini.contains(key))
            return std::nullopt;
        bool ok = false;
        const int v = ini.value(key).toString().toInt(&ok, 10);
        if (!ok || v < min || v > max) {
            bad << key;
            return std::nullopt;
        }
        return v;
    };
    s.bitRate = number(kBitRate, 0, 2'000'000);
    if (s.bitRate && !std::any_of(zub3::kLineSpeeds.begin(), zub3::kLineSpeeds.end(),
                                  [&](const auto& l) { return l.bitRate == *s.bitRate; })) {
        bad << kBitRate;
        s.bitRate.reset();
    }
    s.intervalMs = number(kInterval, 5, 500);
    s.id = number(kID, 0, zub3::kMaxID);
    // Far beyond any desktop, yet clear of overflow when a frame is added.
    constexpr int kFar = 1'000'000;
    const auto left = number(kWindowLeft, -kFar, kFar);
    const auto top = number(kWindowTop, -kFar, kFar);
    if (left && top)
        s.windowPos = QPoint(*left, *top);
    s.chartGeometry = ini.value(kChartGeometry).toByteArray();
    if (ini.contains(kPortName)) {
        PortIdentity port{ini.value(kPortName).toString(), ini.value(kPortDevice).toString(),
                          ini.value(kPortById).toString()};
        const std::string name = port.name.toStdString();
        if ((registry::PortNumber(name) > 0 || name.starts_with('/')) && !port.device.isEmpty())
            s.port = port;
        else
            bad << kPortName;
    }
    if (!bad.isEmpty())
        *fault = bad.join(QStringLiteral(", "));
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
    put(kWindowLeft, s.windowPos ? std::optional<QVariant>(s.windowPos->x()) : std::nullopt);
    put(kWindowTop, s.windowPos ? std::optional<QVariant>(s.windowPos->y()) : std::nullopt);
    put(kChartGeometry, s.chartGeometry.isEmpty() ? std::nullopt
                                                  : std::optional<QVariant>(s.chartGeometry));
    ini.sync();
    return ini.status() == QSettings::NoError;
}

zub3::CheckLimits LoadCheckLimits(const QString& file)
{
    const QSettings ini(file, QSettings::IniFormat);
    zub3::CheckLimits limits;
    bool ok = true;
    const auto whole = [&](const QString& key, int fallback) {
        bool read = false;
        const int v = ini.value(key).toString().toInt(&read);
        ok = ok && (read || !ini.contains(key));
        return read ? v : fallback;
    };
    limits.endTolerance = whole(kCheckEnd, limits.endTolerance);
    limits.centreTolerance = whole(kCheckCentre, limits.centreTolerance);
    limits.noisePeakToPeak = whole(kCheckPeakToPeak, limits.noisePeakToPeak);
    if (ini.contains(kCheckSd)) {
        bool read = false;
        // Written with a point whatever the locale; QString reads it so too.
        limits.noiseSd = ini.value(kCheckSd).toString().toDouble(&read);
        ok = ok && read;
    }
    if (!ok || !zub3::CheckLimitsFault(limits).empty())
        return {};
    return limits;
}

bool StoreCheckLimits(const QString& file, const zub3::CheckLimits& limits)
{
    // Written over, a file that cannot be read would lose whatever made it unreadable.
    QString fault;
    if (!LoadSettings(file, &fault))
        return false;
    QDir().mkpath(QFileInfo(file).absolutePath());
    QSettings ini(file, QSettings::IniFormat);
    ini.setValue(kCheckEnd, limits.endTolerance);
    ini.setValue(kCheckCentre, limits.centreTolerance);
    ini.setValue(kCheckSd, QString::number(limits.noiseSd, 'f', 2));
    ini.setValue(kCheckPeakToPeak, limits.noisePeakToPeak);
    ini.sync();
    return ini.status() == QSettings::NoError;
}

PortIdentity IdentifyPort(int portNo)
{
    const std::string com = "COM" + std::to_string(portNo);
    std::string device = registry::ResolvePort(com).value_or(registry::DevicePathOf(com));
    // A port listed by its path (a board's UART) is known by it: its number is this run's.
    const std::string name = portNo >= registry::kFirstProcessPort ? device : com;
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
            return registry::OpenNumber(v.data);
    }
    return std::nullopt;
}

bool ChoosePort(TMainForm& form, int portNo)
{
    form.cbxPort->SetPortNo(portNo);
    if (form.cbxPort->PortNo() != portNo)
        return false;
    emit form.cbxPort->activated(form.cbxPort->currentIndex());
    return true;
}

void ChooseNumber(QComboBox* box, int value)
{
    const int index = box->findText(QString::number(value));
    if (index < 0)
        return;
    box->setCurrentIndex(index);
    emit box->activated(index);
}

SettingsKeeper::SettingsKeeper(TMainForm& form, QString file, QWidget* chart)
    : QObject(&form), form_(form), file_(std::move(file)), chart_(chart)
{
    // Connected after the port selector's own handler: the port is open (or not) by then.
    connect(form_.cbxPort, &QComboBox::activated, this, &SettingsKeeper::portChosen);
    connect(form_.cbxBaudRate, &QComboBox::currentIndexChanged, this, &SettingsKeeper::store);
    connect(form_.cbxInterval, &QComboBox::currentIndexChanged, this, &SettingsKeeper::store);
    connect(form_.speID, &TSpinEdit::Change, this, &SettingsKeeper::store);
    form_.installEventFilter(this);
}

std::optional<StoredSettings> SettingsKeeper::Load()
{
    QString fault;
    const auto stored = LoadSettings(file_, &fault);
    if (!stored) {
        // Written over, the file would lose whatever made it unreadable for good.
        readOnly_ = true;
        tell(tr("設定ファイル %1 を読めません（%2）。この実行の設定は保存しません。")
                 .arg(file_, fault));
        return std::nullopt;
    }
    written_ = *stored;
    badValues_ = fault;
    // Only onto a screen that is still there: a window off every screen cannot be moved
    // back by the user.
    if (stored->windowPos && QGuiApplication::screenAt(*stored->windowPos + QPoint(40, 10)))
        form_.move(*stored->windowPos);
    chartGeometry_ = stored->chartGeometry;
    if (chart_ && !chartGeometry_.isEmpty())
        chart_->restoreGeometry(chartGeometry_);
    return stored;
}

void SettingsKeeper::Apply(const StoredSettings& stored, bool portGiven)
{
    applying_ = true;
    port_ = stored.port;
    QStringList notices;
    if (stored.port && !portGiven) {
        if (const auto portNo = FindPort(*stored.port)) {
            ChoosePort(form_, *portNo);
        } else {
            // Not a box: it would come back at every start until the port is back.
            const QString where = stored.port->byId.isEmpty() ? stored.port->device
                                                              : stored.port->byId;
            notices << tr("前回使ったポート %1（%2）が見つかりません。").arg(stored.port->name, where);
        }
    }
    if (stored.id)
        form_.speID->SetValue(*stored.id);
    if (stored.bitRate)
        ChooseNumber(form_.cbxBaudRate, *stored.bitRate);
    if (stored.intervalMs)
        ChooseNumber(form_.cbxInterval, *stored.intervalMs);
    applying_ = false;
    if (!badValues_.isEmpty())
        notices << tr("設定ファイル %1 の %2 は使えない値なので、既定の値にしました。")
                       .arg(file_, std::exchange(badValues_, {}));
    if (!notices.isEmpty())
        tell(notices.join(QLatin1Char(' ')));
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
        port_ = IdentifyPort(form_.ComPort->PortNo());
    else
        port_.reset();
    store();
}

void SettingsKeeper::store()
{
    if (applying_ || readOnly_)
        return;
    StoredSettings s;
    s.port = port_;
    if (const auto speed = zub3::LineSpeedByIndex(form_.cbxBaudRate->currentIndex()))
        s.bitRate = speed->bitRate;
    if (form_.cbxInterval->currentIndex() >= 0)
        s.intervalMs = form_.cbxInterval->currentText().toInt();
    if (const int id = form_.speID->Value(); id >= 0 && id <= zub3::kMaxID)
        s.id = id;
    s.windowPos = form_.pos();
    // A chart never shown this run keeps the place it had.
    s.chartGeometry = chart_ && chart_->windowHandle() ? chart_->saveGeometry() : chartGeometry_;
    if (s == written_)
        return;
    if (!SaveSettings(file_, s)) {
        if (!writeFailed_)
            tell(tr("設定を %1 に保存できません。").arg(file_));
        writeFailed_ = true;
        return;
    }
    written_ = s;
}

void SettingsKeeper::tell(const QString& text)
{
    // Queued: the handler that made the change reports it too, and would hide this.
    QMetaObject::invokeMethod(
        this, [this, text] { ShowNotice(form_, text); }, Qt::QueuedConnection);
}
