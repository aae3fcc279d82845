// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolkit/TerminationSignals.h"

#include "platform/TerminationSignals.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>

#include <system_error>

namespace {

class SignalCloser : public QObject {
public:
    explicit SignalCloser(QWidget* window)
        : QObject(window), window_(window), notifier_(signals_.Fd(), QSocketNotifier::Read, this)
    {
        connect(&notifier_, &QSocketNotifier::activated, this, &SignalCloser::close);
    }

private:
    void close()
    {
        signals_.Clear();
        // A message box waiting for its OK would keep the program alive: it goes as if
        // answered. The window closes once the handler that showed it has returned.
        while (QWidget* modal = QApplication::activeModalWidget())
            if (!modal->close())
                break;
        QMetaObject::invokeMethod(window_, &QWidget::close, Qt::QueuedConnection);
    }

    platform::TerminationSignals signals_;
    QWidget* const window_;
    QSocketNotifier notifier_;
};

}  // namespace

void CloseOnTerminationSignals(QWidget* window)
{
    try {
        new SignalCloser(window);
    } catch (const std::system_error&) {
        // Without a pipe the signals keep their default: the program ends.
    }
}
