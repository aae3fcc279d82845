// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the serial ports have to say outside any call of the window, in its status line:
// the problems of the ports file (once each) and the wait while a network port connects.

#include <QObject>
#include <QString>

class TMainForm;

class PortNotices : public QObject {
    Q_OBJECT

public:
    explicit PortNotices(TMainForm& form);
    ~PortNotices() override;

private:
    void showProblems(int count, const QString& first);

    TMainForm& form_;
    QString connecting_;  // the status text while a port connects
};
