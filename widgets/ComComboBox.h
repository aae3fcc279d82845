// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A drop-down list of the machine's serial ports, rebuilt from the serial-port registry
// each time it drops down, that opens the chosen port on a bound serial component.

#include <QComboBox>
#include <QString>

#include <functional>

class TCommX;
Q_MOC_INCLUDE("serial/CommX.h")

// 1 when a's port number is greater, -1 when smaller, 0 when equal. A name without a
// number after its first three characters counts as greater than every numbered one.
int ComparePortNumbers(const QString& a, const QString& b);

class TComComboBox : public QComboBox {
    Q_OBJECT
    Q_PROPERTY(int PortNo READ PortNo WRITE SetPortNo)
    Q_PROPERTY(QString OffText READ OffText WRITE SetOffText)
    Q_PROPERTY(TCommX* ComPort READ ComPort WRITE SetComPort)
    Q_PROPERTY(bool AutoConnect READ AutoConnect WRITE SetAutoConnect)
    Q_PROPERTY(bool IsOpen READ IsOpen)

public:
    explicit TComComboBox(QWidget* parent = nullptr);

    // -1: nothing shown or not a number; 0: the off item; else the shown port's number.
    int PortNo() const;
    // Rebuilds the list and selects the matching port, without a change event and without
    // opening anything; no match leaves the selection of the rebuild.
    void SetPortNo(int portNo);
    QString OffText() const { return offText_; }
    void SetOffText(const QString& text) { offText_ = text; }
    TCommX* ComPort() const { return comPort_; }
    void SetComPort(TCommX* port) { comPort_ = port; }
    bool AutoConnect() const { return autoConnect_; }
    void SetAutoConnect(bool on) { autoConnect_ = on; }
    bool IsOpen() const;

    // Rebuilds the list from the registry; the item of the port the bound component has
    // open stays selected, else nothing is.
    void RefreshPortList();

    // Handlers: OnDropDown before the list is rebuilt on dropping down; OnChange when the
    // user chooses an item, before the port is connected.
    std::function<void(QObject* Sender)> OnDropDown;
    std::function<void(QObject* Sender)> OnChange;

    void showPopup() override;

private:
    void userChoseItem();
    void connectStep();
    void DisconnectPort();
    void ConnectPort();
    // Selects the item of the port the bound component has open, or nothing, without a
    // change event: the box never shows a port that is not the open one.
    void showOpenPort();

    QString offText_;
    TCommX* comPort_ = nullptr;  // not owned; outlives this control
    bool autoConnect_ = false;
};
