// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/PortNotices.h"

#include "app/Notices.h"
#include "app/ZUB3Check.h"
#include "platform/Comm.h"
#include "platform/SerialRegistry.h"

#include <QStatusBar>
#include <QThread>

#include <cstdio>

namespace registry = platform::registry;

PortNotices::PortNotices(TMainForm& form) : QObject(&form), form_(form)
{
    // Problems found before the window was there, then each new one as the list is read.
    if (const auto told = registry::PortsFileProblems(); !told.empty())
        showProblems(static_cast<int>(told.size()), QString::fromStdString(told.front().message));
    registry::SetPortsFileSink([this](const registry::PortsFileProblem& p) {
        std::fprintf(stderr, "ZUB3Manager: %s\n", p.message.c_str());
        QMetaObject::invokeMethod(
            this, [this, m = QString::fromStdString(p.message)] { showProblems(1, m); },
            Qt::QueuedConnection);
    });
    platform::win::SetConnectingWatcher([this](const std::string& address, bool connecting) {
        if (QThread::currentThread() != thread())
            return;
        if (connecting) {
            connecting_ = tr("%1 に接続しています…").arg(QString::fromStdString(address));
            form_.StatusBar->showMessage(connecting_);
        } else if (form_.StatusText() == connecting_) {
            form_.StatusBar->clearMessage();
        }
    });
}

PortNotices::~PortNotices()
{
    platform::win::SetConnectingWatcher(nullptr);
    registry::SetPortsFileSink(nullptr);
}

void PortNotices::showProblems(int count, const QString& first)
{
    QString text = tr("ポート設定ファイルの問題: %1").arg(first);
    if (count > 1)
        text += tr("（ほか %1 件）").arg(count - 1);
    // Each problem is on standard error already, as the ports file is read.
    ShowNotice(form_, text, false);
}
