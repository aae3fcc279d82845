// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window against a virtual receiver registered as COM9 in a temporary registry,
// with message boxes recorded instead of shown.

#include "app/ZUB3Check.h"
#include "serial/CommX.h"
#include "sim/VirtualReceiver.h"
#include "support/QuickCommX.h"
#include "support/TempRegistry.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Shape.h"
#include "widgets/ComComboBox.h"

#include <QComboBox>
#include <QTest>

#include <memory>
#include <vector>

class WindowRig {
public:
    explicit WindowRig(zub3::sim::VirtualReceiver::Config config = {})
    {
        SetApplicationTitle("ZUB-3 Manager");
        previousHook_ = SetMessageBoxHook([this](const MessageRecord& m) { messages.push_back(m); });
        StartReceiver(std::move(config));
    }
    ~WindowRig() { SetMessageBoxHook(previousHook_); }

    void StartReceiver(zub3::sim::VirtualReceiver::Config config)
    {
        receiver = std::make_unique<zub3::sim::VirtualReceiver>(std::move(config));
        platform::registry::WriteEntry("zub3sim", platform::registry::ValueType::String, "COM9",
                                       receiver->SlavePath());
    }

    // A new window, its port COM9 chosen as a user chooses it.
    std::unique_ptr<TMainForm> OpenWindow()
    {
        auto form = std::make_unique<TMainForm>(nullptr, new QuickCommX(nullptr));
        form->cbxPort->SetPortNo(9);
        emit form->cbxPort->activated(form->cbxPort->currentIndex());
        return form;
    }

    static void Choose(QComboBox* box, const QString& text)
    {
        const int index = box->findText(text);
        box->setCurrentIndex(index);
        emit box->activated(index);
    }

    static void ClickSwitch(TMainForm& form) { QTest::mousePress(form.shpPower, Qt::LeftButton); }

    TempRegistry registry;
    std::unique_ptr<zub3::sim::VirtualReceiver> receiver;
    std::vector<MessageRecord> messages;

private:
    MessageBoxHook previousHook_;
};
