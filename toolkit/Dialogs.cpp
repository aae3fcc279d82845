// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolkit/Dialogs.h"

#include <QApplication>
#include <QMessageBox>

namespace {

MessageBoxHook& hook()
{
    static MessageBoxHook h;
    return h;
}

// Kept apart from Qt's display name, which Qt would append to every window's caption.
QString& applicationTitle()
{
    static QString title;
    return title;
}

// A program with message boxes reports uncaught exceptions in one, as the desktop toolkit
// does; the command line, which has none, keeps its line on standard error.
[[maybe_unused]] const bool messageBoxReportInstalled = [] {
    SetExceptionReport(ShowException);
    return true;
}();

void show(const MessageRecord& m)
{
    if (hook()) {
        hook()(m);
        return;
    }
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (m.kind) {
    case MessageKind::Warning: icon = QMessageBox::Warning; break;
    case MessageKind::Information: icon = QMessageBox::Information; break;
    case MessageKind::Plain: icon = QMessageBox::NoIcon; break;
    case MessageKind::Error: icon = QMessageBox::Critical; break;
    }
    // No parent: the box is centred on the screen.
    QMessageBox box(icon, m.caption, m.text, QMessageBox::NoButton);
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.exec();
}

}  // namespace

MessageBoxHook SetMessageBoxHook(MessageBoxHook h)
{
    return std::exchange(hook(), std::move(h));
}

void ShowWarning(const QString& text)
{
    show({MessageKind::Warning, QCoreApplication::translate("Dialogs", "警告"), text});
}

void ShowInformation(const QString& text)
{
    show({MessageKind::Information, QCoreApplication::translate("Dialogs", "情報"), text});
}

void ShowPlainMessage(const QString& caption, const QString& text)
{
    show({MessageKind::Plain, caption, text});
}

void SetApplicationTitle(const QString& title)
{
    applicationTitle() = title;
    QCoreApplication::setApplicationName(title);
}

QString ApplicationTitle()
{
    return applicationTitle();
}

QString ExceptionReportText(const QString& message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

void ShowException(const std::exception& e)
{
    show({MessageKind::Error, ApplicationTitle(),
          ExceptionReportText(QString::fromUtf8(e.what()))});
}
