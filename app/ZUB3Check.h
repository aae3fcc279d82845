// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window: the drawing of the controller with its 20 indicators and four bar
// gauges, the power switch, the settings group, the two byte dumps and the status line.

#include "core/Protocol.h"
#include "core/Records.h"

#include <QPointer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <span>

class QCloseEvent;
class QComboBox;
class QGroupBox;
class QStatusBar;
class TTimer;
class TColorProgressBar;
class TComComboBox;
class TFramePacer;
class TCommX;
class TLabel;
class TMemo;
class TPngSpeedButton;
class TShape;
class TSpinEdit;

struct TIndicatorEntry {
    std::uint32_t Mask = 0;      // lit when every bit of it is set in the button word
    TShape* Indicator = nullptr;
};

class TMainForm : public QWidget {
    Q_OBJECT

public:
    // The window makes its own serial component unless given one, which it then owns: tests
    // give one that opens and closes without the component's pauses.
    explicit TMainForm(QWidget* parent = nullptr, TCommX* comPort = nullptr);
    ~TMainForm() override;

    // Controls, in creation order.
    TShape* Shape1;
    TShape* btnL;
    TShape* btnR;
    TShape* btnS34;
    TShape* btnS4;
    TShape* btnS3;
    TShape* Shape2;
    TShape* shpLED;
    TShape* btnRU;
    TShape* btnRR;
    TShape* btnRD;
    TShape* btnRL;
    TShape* btnLL;
    TShape* btnLU;
    TShape* btnLR;
    TShape* btnLD;
    TShape* btnS12;
    TShape* btnS2;
    TShape* btnS1;
    TShape* btnRRU;
    TShape* btnRLU;
    TShape* btnRLD;
    TShape* btnRRD;
    TShape* btnLRU;
    TShape* btnLLU;
    TShape* btnLLD;
    TShape* btnLRD;
    TShape* Shape27;
    TShape* shpPower;
    TLabel* Label1;
    TLabel* Label2;
    TLabel* Label7;
    TLabel* Label8;
    TLabel* Label9;
    TLabel* Label10;
    TLabel* Label11;
    TLabel* Label12;
    TLabel* Label13;
    TLabel* Label14;
    TLabel* Label15;
    TLabel* Label16;
    TLabel* Label17;
    TLabel* Label18;
    TLabel* Label19;
    TLabel* Label20;
    QGroupBox* GroupBox1;
    TLabel* Label3;
    TLabel* Label4;
    TLabel* Label5;
    TLabel* Label6;
    TPngSpeedButton* btnRead;
    TPngSpeedButton* btnWrite;
    TComComboBox* cbxPort;
    QComboBox* cbxBaudRate;
    QComboBox* cbxInterval;
    TSpinEdit* speID;
    TMemo* memSend;
    TMemo* memRecv;
    QStatusBar* StatusBar;
    TColorProgressBar* cpbPA1;
    TColorProgressBar* cpbPA4;
    TColorProgressBar* cpbPA2;
    TColorProgressBar* cpbPA3;
    TTimer* Timer;
    TCommX* ComPort;

    // Window state.
    bool Monitoring = false;
    std::uint8_t CurrentID = 0;
    std::uint8_t LineSpeedCode = 0;
    std::int32_t RecvErrorCount = 0;
    std::array<TIndicatorEntry, 12> ButtonIndicators{};
    std::array<TIndicatorEntry, 8> DiagonalIndicators{};

    // Handlers.
    void FormCreate(QObject* Sender);
    void FormClose(QObject* Sender);
    void cbxPortChange(QObject* Sender);
    void cbxBaudRateSelect(QObject* Sender);
    void speIDChange(QObject* Sender);
    void cbxIntervalChange(QObject* Sender);
    void shpPowerMouseDown(QObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift,
                           int X, int Y);
    void TimerTimer(QObject* Sender);
    void btnReadClick(QObject* Sender);
    void btnWriteClick(QObject* Sender);
    void ShowSendByteArray(std::span<const zub3::Byte> Data, int Last);
    void ShowRecvByteArray(std::span<const zub3::Byte> Data, int Last);

    QString StatusText() const;
    // True while a poll, a Read or a Write waits for the receiver.
    bool ExchangeRunning() const { return exchange_ != Exchange::None; }

signals:
    // After every poll of the timer, answered or not.
    void Polled(const zub3::PollResult& result);
    // The switch went on: what is counted per monitoring run starts again.
    void MonitoringStarted();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    enum class Exchange { None, Poll, Read, Write, Drain };

    void createControls();
    void setStatus(const QString& text);
    bool portOpen() const;
    void setMonitoringControls(bool on);
    // Marks an exchange as running while it lives; when it ends, the clicks on the switch
    // and a closing that came meanwhile are carried out.
    class ExchangeGuard;

    TFramePacer* pacer_ = nullptr;
    Exchange exchange_ = Exchange::None;
    int switchClicksPending_ = 0;
    bool closeRequested_ = false;
    bool closed_ = false;
};
