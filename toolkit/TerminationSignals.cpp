// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolkit/TerminationSignals.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace {

constexpr std::array kSignals{SIGTERM, SIGINT, SIGHUP};

// The handler only writes a byte here; the event loop reads it and does the work, which a
// signal handler may not.
int g_pipe[2] = {-1, -1};

extern "C" void onSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);  // full: one is enough
    errno = saved;
}

class SignalCloser : public QObject {
public:
    explicit SignalCloser(QWidget* window)
        : QObject(window), window_(window),
          notifier_(g_pipe[0], QSocketNotifier::Read, this)
    {
        connect(&notifier_, &QSocketNotifier::activated, this, &SignalCloser::close);
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (std::size_t i = 0; i < kSignals.size(); ++i) {
            installed_[i] = false;
            if (::sigaction(kSignals[i], nullptr, &previous_[i]) != 0 ||
                previous_[i].sa_handler == SIG_IGN)
                continue;
            installed_[i] = ::sigaction(kSignals[i], &action, nullptr) == 0;
        }
    }

    ~SignalCloser() override
    {
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            if (installed_[i])
                ::sigaction(kSignals[i], &previous_[i], nullptr);
    }

private:
    void close()
    {
        char bytes[64];
        while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
        }
        // A message box waiting for its OK would keep the program alive: it goes as if
        // answered. The window closes once the handler that showed it has returned.
        while (QWidget* modal = QApplication::activeModalWidget())
            if (!modal->close())
                break;
        QMetaObject::invokeMethod(window_, &QWidget::close, Qt::QueuedConnection);
    }

    QWidget* const window_;
    QSocketNotifier notifier_;
    std::array<struct sigaction, kSignals.size()> previous_{};
    std::array<bool, kSignals.size()> installed_{};
};

}  // namespace

void CloseOnTerminationSignals(QWidget* window)
{
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;  // without a pipe the signals keep their default: the program ends
    new SignalCloser(window);
}
