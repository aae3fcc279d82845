// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// SIGTERM, SIGINT and SIGHUP close a window as its close button does, so that what it holds
// is given back as on any close (a serial port, its lock file) and the program ends
// normally. A signal ignored when this is set up (as under nohup) stays ignored.

class QWidget;

// Lasts as long as window; once it is gone, the signals act as before again.
void CloseOnTerminationSignals(QWidget* window);
