// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ZUB3Check.h"

#include "app/FormData.h"
#include "app/Translation.h"
#include "core/ReceiverLink.h"
#include "toolkit/DesktopMetrics.h"
#include "serial/CommX.h"
#include "toolkit/Dialogs.h"
#include "toolkit/FramePacer.h"
#include "toolkit/Memo.h"
#include "toolkit/Shape.h"
#include "toolkit/SpinEdit.h"
#include "toolkit/Timer.h"
#include "widgets/ColorProgressBar.h"
#include "widgets/ComComboBox.h"
#include "widgets/PngSpeedButton.h"
#include "widgets/icons/ButtonIcons.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QStatusBar>
#include <QTimer>

#include <xcb/xcb.h>

#include <exception>

using namespace zub3;

namespace {

const char* const kPortNotOpen = QT_TRANSLATE_NOOP("TMainForm", "ポートが接続されていません。");

// The drain on closing stops after this long or this many bytes, whichever comes first, so
// that a line that never falls silent cannot keep the window from closing.
constexpr qint64 kDrainLimitMs = 2000;
constexpr int kDrainLimitBytes = 4096;

constexpr int kKnobLeftOff = 205;
constexpr int kKnobLeftOn = 224;
constexpr int kFailureLimit = 10;

// An indicator after a reply: lit in its colour while all of its buttons are down; lit
// in that colour before and no longer down, white; any other colour stays.
TColor indicatorColor(const TIndicatorEntry& entry, TColor now, std::uint32_t buttons, TColor lit)
{
    if ((buttons & entry.Mask) == entry.Mask)
        return lit;
    return now == lit ? clWhite : now;
}

// The longest dump, a poll's reply, made of the byte that is widest in this font.
QString widestDump(const QFont& font)
{
    const QFontMetrics metrics(font);
    std::array<Byte, kPollReplySize> bytes{};
    int widest = 0;
    for (int b = 0; b < 256; ++b) {
        const Byte byte[] = {static_cast<Byte>(b)};
        if (const int width = metrics.horizontalAdvance(HexDump(byte, 0)); width > widest) {
            widest = width;
            bytes.fill(byte[0]);
        }
    }
    return HexDump(bytes, kPollReplySize - 1).trimmed();
}

}  // namespace

class TMainForm::ExchangeGuard {
public:
    ExchangeGuard(TMainForm& form, Exchange kind) : form_(form), kind_(kind)
    {
        form_.exchange_ = kind;
    }
    ~ExchangeGuard()
    {
        form_.exchange_ = Exchange::None;
        // What the user did while the receiver was being waited for happens now, in order;
        // a window that is closing takes no more clicks.
        TMainForm* form = &form_;
        if (kind_ == Exchange::Drain || form_.closeRequested_)
            form_.switchClicksPending_ = 0;
        for (; form_.switchClicksPending_ > 0; --form_.switchClicksPending_)
            QTimer::singleShot(0, form, [form] {
                RunGuarded(
                    [&] { form->shpPowerMouseDown(form->shpPower, Qt::LeftButton, {}, 0, 0); });
            });
        if (form_.closeRequested_)
            QTimer::singleShot(0, form, &QWidget::close);
    }
    ExchangeGuard(const ExchangeGuard&) = delete;
    ExchangeGuard& operator=(const ExchangeGuard&) = delete;

private:
    TMainForm& form_;
    Exchange kind_;
};

TMainForm::TMainForm(QWidget* parent, TCommX* comPort) : QWidget(parent), ComPort(comPort)
{
    createControls();
    FormCreate(this);
}

TMainForm::~TMainForm() = default;

void TMainForm::createControls()
{
    const FormScale s(platform::GetLogPixelsY());

    setWindowTitle(QStringLiteral("ZUB-3 Manager Ver.1.1.0 Rev.20101007"));
    // The program's one window: an ordinary top-level window, so that task bars and window
    // switchers list it (a dialog-type window would hang off Qt's hidden leader window), of
    // fixed size without a maximise box. Its task-bar entry carries the application title.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setWindowIconText(ApplicationTitle());
    setFixedSize(s.size(458, 476));
    move(s.point(228, 122));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, ToQColor(clBtnFace));
    setPalette(pal);

    auto shape = [&](TShape*& field, TShapeType type, QRect r, TColor brush = clWhite) {
        field = new TShape(this);
        field->SetShape(type);
        field->SetBrushColor(brush);
        field->setGeometry(s.rect(r));
    };
    shape(Shape1, stCircle, {291, 364, 26, 25});
    shape(btnL, stRoundRect, {32, 136, 185, 185});
    shape(btnR, stRoundRect, {240, 136, 185, 185});
    shape(btnS34, stRectangle, {368, 16, 57, 113});
    shape(btnS4, stCircle, {377, 24, 41, 41});
    shape(btnS3, stCircle, {376, 80, 41, 41});
    shape(Shape2, stRectangle, {168, 356, 113, 41});
    shape(shpLED, stCircle, {295, 368, 18, 17});
    shape(btnRU, stRectangle, {320, 144, 25, 65});
    shape(btnRR, stRectangle, {352, 216, 65, 25});
    shape(btnRD, stRectangle, {320, 248, 25, 65});
    shape(btnRL, stRectangle, {248, 216, 65, 25});
    shape(btnLL, stRectangle, {40, 216, 65, 25});
    shape(btnLU, stRectangle, {112, 144, 25, 65});
    shape(btnLR, stRectangle, {144, 216, 65, 25});
    shape(btnLD, stRectangle, {112, 248, 25, 65});
    shape(btnS12, stRectangle, {32, 16, 57, 113});
    shape(btnS2, stCircle, {40, 24, 41, 41});
    shape(btnS1, stCircle, {40, 80, 41, 41});
    shape(btnRRU, stCircle, {368, 152, 41, 41});
    shape(btnRLU, stCircle, {256, 152, 41, 41});
    shape(btnRLD, stCircle, {256, 264, 41, 41});
    shape(btnRRD, stCircle, {368, 264, 41, 41});
    shape(btnLRU, stCircle, {160, 152, 41, 41});
    shape(btnLLU, stCircle, {48, 152, 41, 41});
    shape(btnLLD, stCircle, {48, 264, 41, 41});
    shape(btnLRD, stCircle, {160, 264, 41, 41});
    shape(Shape27, stRectangle, {200, 364, 49, 25}, clAppWorkSpace);
    shape(shpPower, stRectangle, {kKnobLeftOff, 367, 20, 19});
    shpPower->setToolTip(tr("ZPTからのデータ受信を開始・停止する"));

    auto label = [&](TLabel*& field, QWidget* parent, const QString& caption, QRect r,
                     bool transparent) {
        field = new TLabel(caption, parent);
        field->SetTransparent(transparent);
        field->setGeometry(s.rect(r));  // the window's font then sizes it to its caption
    };
    label(Label1, this, QStringLiteral("OFF"), {174, 369, 22, 12}, false);
    Label1->SetColor(clWhite);
    label(Label2, this, QStringLiteral("ON"), {256, 369, 16, 12}, false);
    Label2->SetColor(clWhite);
    label(Label7, this, QStringLiteral("Send"), {8, 412, 25, 12}, false);
    label(Label8, this, QStringLiteral("Recv"), {8, 436, 26, 12}, false);
    label(Label9, this, QStringLiteral("S4"), {391, 38, 13, 12}, true);
    label(Label10, this, QStringLiteral("S3"), {390, 94, 13, 12}, true);
    label(Label11, this, QStringLiteral("S1"), {54, 94, 13, 12}, true);
    label(Label12, this, QStringLiteral("S2"), {54, 38, 13, 12}, true);
    label(Label13, this, QStringLiteral("×"), {326, 274, 12, 12}, true);
    label(Label14, this, QStringLiteral("△"), {326, 170, 12, 12}, true);
    label(Label15, this, QStringLiteral("↓"), {118, 274, 12, 12}, true);
    label(Label16, this, QStringLiteral("↑"), {118, 170, 12, 12}, true);
    label(Label17, this, QStringLiteral("←"), {66, 222, 12, 12}, true);
    label(Label18, this, QStringLiteral("→"), {170, 222, 12, 12}, true);
    label(Label19, this, QStringLiteral("□"), {274, 222, 12, 12}, true);
    label(Label20, this, QStringLiteral("○"), {378, 222, 12, 12}, true);

    GroupBox1 = new QGroupBox(tr("　設定　"), this);
    GroupBox1->setGeometry(s.rect({112, 8, 233, 121}));
    // Every control inside shows this hint unless it has its own.
    GroupBox1->setToolTip(QStringLiteral("8bit, 1stopbit, Even"));
    label(Label3, GroupBox1, tr("ポート"), {16, 22, 28, 12}, false);
    label(Label4, GroupBox1, tr("ボーレート"), {16, 70, 47, 12}, false);
    label(Label5, GroupBox1, tr("読込間隔"), {16, 94, 48, 12}, false);
    label(Label6, GroupBox1, QStringLiteral("ID"), {16, 46, 11, 12}, false);

    auto iconButton = [&](TPngSpeedButton*& field, QRect r, const QByteArray& png,
                          const QByteArray& png2x, const QString& hint) {
        field = new TPngSpeedButton(GroupBox1);
        field->setGeometry(s.rect(r));
        field->SetFlat(true);
        field->SetHint(hint);
        // The stored file fills the image directly, as reading a form does.
        field->PngImage().loadFromData(png);
        field->loaded();
        TPngImage large;
        large.loadFromData(png2x);
        field->SetPngImage2x(large);
    };
    iconButton(btnRead, {174, 16, 25, 25}, ReadIconPng(), ReadIconPng2x(),
               tr("ZUB-3から設定値を読み込みます。"));
    iconButton(btnWrite, {200, 16, 25, 25}, WriteIconPng(), WriteIconPng2x(),
               tr("ZUB-3へ設定値を書き出します。"));

    // The serial component exists before the port selector that is bound to it.
    if (ComPort)
        ComPort->setParent(this);
    else
        ComPort = new TCommX(this);
    SetReceiverLine(*ComPort);
    // The component's own messages reach the user too, in the window's language.
    ComPort->Language = CurrentLanguage() == QStringLiteral("en") ? clEnglish : clJapanese;

    cbxPort = new TComComboBox(GroupBox1);
    cbxPort->setGeometry(s.rect({84, 18, 80, 20}));
    cbxPort->setToolTip(tr("COMポート選択"));
    // The items stored at design time never show: PortNo rebuilds the list from the registry.
    cbxPort->addItems({QStringLiteral("COM1"), QStringLiteral("COM3"), QStringLiteral("COM4")});
    cbxPort->SetPortNo(-1);
    cbxPort->SetOffText(QStringLiteral("OFF"));
    cbxPort->SetComPort(ComPort);
    cbxPort->SetAutoConnect(true);

    auto dropDown = [&](QComboBox*& field, QRect r, const QString& hint, const QStringList& items,
                        int chosen) {
        field = new QComboBox(GroupBox1);
        field->setGeometry(s.rect(r));
        field->setToolTip(hint);
        field->addItems(items);
        field->setCurrentIndex(chosen);
    };
    dropDown(cbxBaudRate, {84, 66, 80, 20}, tr("ボーレート選択"),
             {QStringLiteral("115200"), QStringLiteral("625000"), QStringLiteral("1250000")}, -1);
    dropDown(cbxInterval, {84, 90, 80, 20}, tr("読み込み間隔を指定"),
             {QStringLiteral("5"), QStringLiteral("10"), QStringLiteral("20"), QStringLiteral("30"),
              QStringLiteral("40"), QStringLiteral("50"), QStringLiteral("100"),
              QStringLiteral("250"), QStringLiteral("500")},
             1);

    speID = new TSpinEdit(GroupBox1);
    speID->setGeometry(s.rect({84, 42, 80, 21}));
    speID->setToolTip(tr("ID選択"));
    speID->setRange(0, 31);
    speID->SetValue(0);

    auto memo = [&](TMemo*& field, QRect r, const QString& hint) {
        field = new TMemo(this);
        field->setGeometry(s.rect(r));
        field->setToolTip(hint);
        // Tab moves on to the next control instead of typing into the dump.
        field->setTabChangesFocus(true);
    };
    memo(memSend, {48, 408, 401, 20}, tr("実際に送信するコマンドのバイトデータ列"));
    memo(memRecv, {48, 432, 401, 20}, tr("実際に受信したコマンドのバイトデータ列"));

    StatusBar = new QStatusBar(this);
    StatusBar->setGeometry(s.rect({0, 457, 458, 19}));
    StatusBar->setSizeGripEnabled(false);

    auto gauge = [&](TColorProgressBar*& field, QRect r, TOrientation orientation) {
        field = new TColorProgressBar(this);
        field->setGeometry(s.rect(r));
        ApplyStoredProperties(*field, MainWindowGaugeProperties(orientation));
    };
    gauge(cpbPA1, {6, 136, 22, 185}, cpbBottomToTop);
    gauge(cpbPA4, {429, 136, 22, 185}, cpbBottomToTop);
    gauge(cpbPA2, {32, 326, 185, 22}, cpbLeftToRight);
    gauge(cpbPA3, {240, 326, 185, 22}, cpbLeftToRight);

    Timer = new TTimer(this);
    Timer->setInterval(10);
    // Polls may change the drawing 200 times a second; it is painted once per screen refresh.
    pacer_ = new TFramePacer(this);

    // Tab order, going round: the settings group (port, line speed, interval, ID), then the
    // memos. The icon buttons take no focus.
    setTabOrder(cbxPort, cbxBaudRate);
    setTabOrder(cbxBaudRate, cbxInterval);
    setTabOrder(cbxInterval, speID);
    setTabOrder(speID, memSend);
    setTabOrder(memSend, memRecv);

    // Handlers are attached once the stored values are in place, so loading fires none.
    connect(shpPower, &TShape::MouseDown, this,
            [this](Qt::MouseButton b, Qt::KeyboardModifiers m, int x, int y) {
                RunGuarded([&] { shpPowerMouseDown(shpPower, b, m, x, y); });
            });
    cbxPort->OnChange = [this](QObject* sender) { cbxPortChange(sender); };
    connect(cbxBaudRate, &QComboBox::activated, this,
            [this] { RunGuarded([&] { cbxBaudRateSelect(cbxBaudRate); }); });
    connect(cbxInterval, &QComboBox::activated, this,
            [this] { RunGuarded([&] { cbxIntervalChange(cbxInterval); }); });
    connect(speID, &TSpinEdit::Change, this, [this] { RunGuarded([&] { speIDChange(speID); }); });
    connect(btnRead, &TPngSpeedButton::clicked, this,
            [this] { RunGuarded([&] { btnReadClick(btnRead); }); });
    connect(btnWrite, &TPngSpeedButton::clicked, this,
            [this] { RunGuarded([&] { btnWriteClick(btnWrite); }); });
    connect(Timer, &TTimer::timeout, this, [this] { RunGuarded([&] { TimerTimer(Timer); }); });
}

void TMainForm::FormCreate(QObject*)
{
    const platform::MenuFontMetrics menu = platform::GetMenuFont();
    const int pixelsPerInch = platform::GetLogPixelsY();
    QFont f = font();
    // Japanese glyphs come from the Japanese forms, not the Chinese ones of shared characters.
    f.setFamilies({menu.faceName, QStringLiteral("Noto Sans CJK JP")});
    f.setPointSize(-platform::MulDiv(menu.height, 72, pixelsPerInch));
    setFont(f);
    // A dump in the window's font may be wider than the memos: they take the same face at
    // the size that shows every byte.
    for (TMemo* memo : {memSend, memRecv})
        memo->FitFont(widestDump(memo->font()));
    // Qt composes every widget off-screen already: the window is double-buffered.

    // In the order of core's tables, which is the order of these controls.
    const std::array<TShape*, kButtons.size()> buttonShapes{
        btnS1, btnS2, btnS3, btnS4, btnLU, btnLD, btnLR, btnLL, btnRU, btnRD, btnRR, btnRL};
    for (std::size_t i = 0; i < kButtons.size(); ++i)
        ButtonIndicators[i] = {kButtons[i].bit, buttonShapes[i]};
    const std::array<TShape*, kDiagonals.size()> diagonalShapes{
        btnLLU, btnLLD, btnLRU, btnLRD, btnRLU, btnRLD, btnRRU, btnRRD};
    for (std::size_t i = 0; i < kDiagonals.size(); ++i)
        DiagonalIndicators[i] = {kDiagonals[i], diagonalShapes[i]};
}

QString TMainForm::StatusText() const
{
    return StatusBar->currentMessage();
}

void TMainForm::setStatus(const QString& text)
{
    // An exchange that a close waits for reports nothing more.
    if (closeRequested_)
        return;
    StatusBar->showMessage(text);
}

bool TMainForm::portOpen() const
{
    return ComPort->Handle() != INVALID_HANDLE_VALUE;
}

void TMainForm::cbxPortChange(QObject*)
{
    if (cbxPort->currentIndex() > 0)
        ComPort->SetPortNo(cbxPort->PortNo());
}

void TMainForm::cbxBaudRateSelect(QObject*)
{
    setStatus(tr("Baudrate:%1が指定されました。").arg(cbxBaudRate->currentText()));
}

void TMainForm::speIDChange(QObject*)
{
    setStatus(tr("ID:%1が指定されました。").arg(speID->Value()));
}

void TMainForm::cbxIntervalChange(QObject*)
{
    const int interval = cbxInterval->currentText().toInt();
    // An enabled timer starts counting the new interval from now; the same interval
    // leaves it alone.
    if (interval != Timer->interval())
        Timer->setInterval(interval);
    setStatus(tr("読み込み間隔が%1[ms]に設定されました。").arg(Timer->interval()));
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    if (closed_) {
        event->accept();
        return;
    }
    // The running exchange ends first; its guard closes the window again afterwards.
    if (ExchangeRunning()) {
        closeRequested_ = true;
        event->ignore();
        return;
    }
    closeRequested_ = false;
    FormClose(this);
    closed_ = true;
    event->accept();
}

bool TMainForm::nativeEvent(const QByteArray& eventType, void* message, qintptr* result)
{
    // Another client can destroy the native window without asking it to close (xdotool
    // windowclose); Qt would go on without a window, polling and holding the port. That
    // ends the tool as a close does. Queued: the close drains the port, which must not run
    // inside the dispatch of a native event.
    if (eventType == "xcb_generic_event_t") {
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & ~0x80) == XCB_DESTROY_NOTIFY &&
            static_cast<const xcb_destroy_notify_event_t*>(message)->window == internalWinId())
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    }
    return QWidget::nativeEvent(eventType, message, result);
}

void TMainForm::FormClose(QObject*)
{
    Timer->stop();
    if (!portOpen())
        return;
    {
        // The drain is an exchange too: no tick or click may start another meanwhile.
        ExchangeGuard guard(*this, Exchange::Drain);
        QElapsedTimer elapsed;
        elapsed.start();
        for (int bytes = 0; bytes < kDrainLimitBytes && elapsed.elapsed() < kDrainLimitMs;
             ++bytes)
            if (ComPort->ReadByte() < 0)
                break;
    }
    ComPort->Close();
}

void TMainForm::ShowSendByteArray(std::span<const Byte> Data, int Last)
{
    memSend->setPlainText(HexDump(Data, Last));
}

void TMainForm::ShowRecvByteArray(std::span<const Byte> Data, int Last)
{
    memRecv->setPlainText(HexDump(Data, Last));
}

void TMainForm::setMonitoringControls(bool on)
{
    for (QWidget* w : {static_cast<QWidget*>(btnRead), static_cast<QWidget*>(btnWrite),
                       static_cast<QWidget*>(speID), static_cast<QWidget*>(cbxBaudRate)})
        w->setEnabled(!on);
}

void TMainForm::shpPowerMouseDown(QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int)
{
    // Switching sets the line speed, which must not change under a running exchange: the
    // click is carried out when the exchange ends.
    if (ExchangeRunning()) {
        ++switchClicksPending_;
        return;
    }
    if (!portOpen()) {
        ShowInformation(tr(kPortNotOpen));
        return;
    }
    const auto speed = LineSpeedByIndex(cbxBaudRate->currentIndex());
    if (!speed) {
        ShowInformation(tr("ボーレート設定が正しくないか、設定されていません。"));
        return;
    }
    // Switching off must work even when the port refuses the speed (an adapter pulled out):
    // the refusal is still reported, once the switch is off.
    std::exception_ptr refusal;
    try {
        ComPort->SetBitRate(speed->bitRate);
    } catch (const ECommError&) {
        if (!Monitoring)
            throw;
        refusal = std::current_exception();
    }
    Monitoring = !Monitoring;
    const FormScale s(platform::GetLogPixelsY());
    if (Monitoring) {
        try {
            Timer->start();
            RecvErrorCount = 0;
            shpLED->SetBrushColor(clRed);
            shpPower->move(s.point(kKnobLeftOn, 367));
            setMonitoringControls(true);
            setStatus(tr("データ受信中"));
            emit MonitoringStarted();
        } catch (const std::exception&) {
            ShowPlainMessage(QStringLiteral("ERROR"),
                             tr("ポート%1に接続できません").arg(cbxPort->currentText()));
        }
    } else {
        shpPower->move(s.point(kKnobLeftOff, 367));
        shpLED->SetBrushColor(clWhite);
        Timer->stop();
        setMonitoringControls(false);
        setStatus(tr("データ受信停止"));
    }
    if (refusal)
        std::rethrow_exception(refusal);
}

void TMainForm::TimerTimer(QObject*)
{
    Timer->stop();
    // A tick while the receiver is being waited for starts nothing; the running poll
    // re-arms the timer when it ends.
    if (ExchangeRunning())
        return;
    if (!portOpen()) {
        ShowInformation(tr(kPortNotOpen));
        return;
    }
    ExchangeGuard guard(*this, Exchange::Poll);
    PollResult result;
    const PollExchange poll = zub3::Poll(*ComPort, CurrentID, result);
    emit Polled(result);
    if (!poll.Answered()) {
        ++RecvErrorCount;
        setStatus(tr("データを受信できませんでした [%1]").arg(RecvErrorCount));
        if (RecvErrorCount >= kFailureLimit) {
            setStatus(tr("接続状態を見直して下さい"));
            return;
        }
        if (Monitoring)
            Timer->start();
        return;
    }
    if (const auto& data = poll.data) {
        // Through the pacer, so that a button held for a single poll is still seen.
        const auto light = [&](const TIndicatorEntry& e, TColor lit) {
            pacer_->SetBrushColor(
                e.Indicator, indicatorColor(e, pacer_->BrushColor(e.Indicator), data->buttons, lit));
        };
        for (const auto& e : ButtonIndicators)
            light(e, clGradientActiveCaption);
        for (const auto& e : DiagonalIndicators)
            light(e, clGradientInactiveCaption);
        cpbPA1->SetPosition(data->channels[0]);
        cpbPA2->SetPosition(data->channels[1]);
        cpbPA3->SetPosition(data->channels[2]);
        cpbPA4->SetPosition(data->channels[3]);
        ShowSendByteArray(poll.sent, kPollFrameSize - 1);
        ShowRecvByteArray(poll.received, kPollReplySize - 1);
    }
    if (Monitoring)
        Timer->start();
}

void TMainForm::btnReadClick(QObject*)
{
    if (ExchangeRunning())
        return;
    if (!portOpen()) {
        ShowWarning(tr(kPortNotOpen));
        return;
    }
    ExchangeGuard guard(*this, Exchange::Read);
    // A window that is closing tries no further speed and shows no result.
    const auto found = ReadSettings(
        *ComPort, kLineSpeeds,
        [this](const LineSpeed& speed) {
            setStatus(tr("受信できませんでした（%1）").arg(speed.bitRate));
            pacer_->PaintNow();  // on screen while the next speed is waited for
        },
        [this] { return closeRequested_; });
    if (closeRequested_)
        return;
    if (!found) {
        ShowWarning(tr("受信できませんでした。ZUB-3の接続状態を確認してください。"));
        return;
    }
    speID->SetValue(found->id);
    CurrentID = found->id;
    cbxBaudRate->setCurrentIndex(found->speed.index);
    LineSpeedCode = found->speed.code;
    setStatus(tr("ボーレートは %1 です").arg(found->speed.bitRate));
}

void TMainForm::btnWriteClick(QObject*)
{
    if (ExchangeRunning())
        return;
    if (!portOpen()) {
        ShowWarning(tr(kPortNotOpen));
        return;
    }
    const QString badID = tr("IDが正しくありません。");
    if (CurrentID > kMaxID) {
        ShowInformation(badID);
        return;
    }
    const auto speed = LineSpeedByIndex(cbxBaudRate->currentIndex());
    if (!speed || LineSpeedCode > 10) {
        ShowInformation(tr("正しいボーレートが選択されていません。"));
        return;
    }
    // An ID the receiver cannot take is never sent.
    const int newID = speID->Value();
    if (newID < 0 || newID > kMaxID) {
        ShowInformation(badID);
        return;
    }
    ExchangeGuard guard(*this, Exchange::Write);
    const WriteFrame frame = BuildWriteFrame(CurrentID, speed->code, newID);
    ShowSendByteArray(frame, kWriteFrameSize - 1);
    pacer_->PaintNow();  // on screen while the reply is waited for
    const WriteExchange reply = zub3::Write(*ComPort, frame);
    ShowRecvByteArray(reply.received, kWriteReplySize - 1);
    if (!reply.Answered()) {
        setStatus(tr("コマンド送信失敗。接続状態を確認してください。"));
    } else if (reply.accepted) {
        CurrentID = static_cast<Byte>(newID);
        LineSpeedCode = speed->code;
        setStatus(tr("コマンド送信成功"));
    } else {
        setStatus(tr("コマンド送信失敗"));
    }
}
