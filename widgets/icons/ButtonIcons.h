// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The icons of the settings buttons as complete PNG files, built into the program:
// a magnifying glass for Read, a pencil for Write, 16 by 16, and 32 by 32 for screens with
// two device pixels to a pixel. make_icons draws them.

#include <QByteArray>

QByteArray ReadIconPng();
QByteArray WriteIconPng();
QByteArray ReadIconPng2x();
QByteArray WriteIconPng2x();
