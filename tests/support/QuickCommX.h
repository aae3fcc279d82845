// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The serial component without the pauses of Open and Close, for tests that open and close
// ports for what happens between: a program keeps them (one test of the component and one
// of the window still take them).

#include "serial/CommX.h"

class QuickCommX : public TCommX {
public:
    using TCommX::TCommX;

protected:
    void Pause(int) override {}
};
