// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The toolkit's default handler for an exception that no event handler caught. The front end
// decides how it reaches the user: the window shows it in a message box (toolkit/Dialogs), the
// command line writes one line on standard error. Needs no widgets, so that the serial
// component can run in a program without a display.

#include <exception>
#include <functional>
#include <utility>

using ExceptionReport = std::function<void(const std::exception&)>;

// Installs the report; an empty function restores the default, a line on standard error.
// Returns the previous one.
ExceptionReport SetExceptionReport(ExceptionReport report);

// Hands an exception to the installed report.
void ReportException(const std::exception& e);

// Runs a handler so that no exception leaves it into the event loop: what it raises goes
// to the exception report, as the toolkit's default handler does.
template <typename F>
void RunGuarded(F&& f)
{
    try {
        std::forward<F>(f)();
    } catch (const std::exception& e) {
        ReportException(e);
    }
}
