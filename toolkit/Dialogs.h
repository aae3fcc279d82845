// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Modal message boxes and the default exception report, as the desktop toolkit gives them:
// centred, one "OK" button. Tests replace the modal box with a recorder through one seam.

#include "base/ExceptionReport.h"

#include <QString>

#include <exception>
#include <functional>

enum class MessageKind {
    Warning,      // caption "警告", exclamation icon
    Information,  // caption "情報", information icon
    Plain,        // caption given by the caller, no icon
    Error,        // the default exception report: the application title, error icon
};

struct MessageRecord {
    MessageKind kind;
    QString caption;
    QString text;
};

// Installs a function that receives every message instead of a modal box; an empty
// function restores the real box. Returns the previous one.
using MessageBoxHook = std::function<void(const MessageRecord&)>;
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

void ShowWarning(const QString& text);
void ShowInformation(const QString& text);
void ShowPlainMessage(const QString& caption, const QString& text);

// The application's title, the caption of the exception report and the task-bar text.
void SetApplicationTitle(const QString& title);
QString ApplicationTitle();

// The text the exception report shows: "." is appended unless the message is empty or its
// last character is "." or has a lower character code.
QString ExceptionReportText(const QString& message);
// The default exception report for an exception's UTF-8 message. A program that links the
// message boxes has it installed as its exception report (base/ExceptionReport.h).
void ShowException(const std::exception& e);
