#pragma once
// The icons of the settings buttons as complete PNG files, built into the program:
// a magnifying glass for Read, a pencil for Write. make_icons draws them.

#include <QByteArray>

QByteArray ReadIconPng();
QByteArray WriteIconPng();
