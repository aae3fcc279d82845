// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/ComComboBox.h"

#include "platform/PortAccess.h"
#include "platform/SerialRegistry.h"
#include "serial/CommX.h"
#include "toolkit/Dialogs.h"

#include <QTextDocument>
#include <QThread>

#include <algorithm>
#include <array>
#include <limits>
#include <vector>

namespace {

// The number after a port name's first three characters, whatever they are; -1 for none.
int numberInName(const QString& name)
{
    return platform::registry::PortNumber("COM" + name.mid(3).toStdString());
}

// The number the port opens by: a board's UART, listed by its path, opens by the number
// this process gives the path.
int portNumber(const QString& name)
{
    if (name.startsWith(QLatin1Char('/')))
        return platform::registry::OpenNumber(name.toStdString());
    return numberInName(name);
}

// A tooltip that looks like markup is shown as markup, images loaded from any file it
// names; an adapter names itself in sysfs, so its description is shown as text.
QString plainToolTip(const QString& text)
{
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpaceNoWrap) : text;
}

// Ports known by path after the COM ports.
long long sortKey(const QString& name)
{
    const int n = numberInName(name);
    return n < 0 ? std::numeric_limits<long long>::max() : n;
}

}  // namespace

int ComparePortNumbers(const QString& a, const QString& b)
{
    const long long ka = sortKey(a), kb = sortKey(b);
    return ka > kb ? 1 : ka < kb ? -1 : 0;
}

TComComboBox::TComComboBox(QWidget* parent) : QComboBox(parent)
{
    // activated comes from the mouse in the list and the arrow keys on the closed control,
    // never from a selection made by the program.
    connect(this, &QComboBox::activated, this, &TComComboBox::userChoseItem);
}

int TComComboBox::PortNo() const
{
    if (currentIndex() < 0 || count() == 0)
        return -1;
    if (currentText() == offText_)
        return 0;
    return portNumber(currentText());
}

void TComComboBox::SetPortNo(int portNo)
{
    RefreshPortList();
    int match = -1;
    for (int i = 0; i < count() && match < 0; ++i)
        if (portNo >= 0 && portNumber(itemText(i)) == portNo)
            match = i;
    if (match >= 0)
        setCurrentIndex(match);
}

bool TComComboBox::IsOpen() const
{
    return comPort_ && comPort_->Handle() != INVALID_HANDLE_VALUE;
}

void TComComboBox::RefreshPortList()
{
    clear();
    const auto values = platform::registry::ReadSerialComm();
    if (!values)
        return;  // clear() has left nothing selected
    struct Port {
        QString name;
        QString description;
    };
    std::vector<Port> ports;
    for (const auto& v : *values)
        if (v.type == platform::registry::ValueType::String)
            ports.push_back({QString::fromStdString(v.data),
                             QString::fromStdString(platform::ports::DescriptionText(
                                 platform::ports::DescribePort(v.devicePath)))});
    if (ports.size() >= 2)
        std::stable_sort(ports.begin(), ports.end(), [](const Port& a, const Port& b) {
            return ComparePortNumbers(a.name, b.name) < 0;
        });
    for (const auto& p : ports) {
        addItem(p.name);
        // Tells two adapters apart by the device behind each name and what it says it is.
        setItemData(count() - 1, plainToolTip(p.description), Qt::ToolTipRole);
    }
    if (!offText_.isEmpty())
        insertItem(0, offText_);
    // Adding items has made one of them current; only the open port may be.
    showOpenPort();
}

void TComComboBox::showOpenPort()
{
    int open = -1;
    if (IsOpen()) {
        const int portNo = comPort_->PortNo();
        for (int i = 0; i < count() && open < 0; ++i)
            if (itemText(i) != offText_ && portNumber(itemText(i)) == portNo)
                open = i;
    }
    setCurrentIndex(open);
}

void TComComboBox::showPopup()
{
    if (OnDropDown)
        RunGuarded([&] { OnDropDown(this); });
    RefreshPortList();
    QComboBox::showPopup();
}

void TComComboBox::userChoseItem()
{
    // A failure of the handler skips the connect step; neither may leave the event loop.
    RunGuarded([&] {
        try {
            if (OnChange)
                OnChange(this);
            connectStep();
        } catch (...) {
            // A port that could not be opened must not look chosen.
            showOpenPort();
            throw;
        }
    });
}

void TComComboBox::connectStep()
{
    if (!autoConnect_ || !comPort_ || currentIndex() < 0)
        return;
    if (currentText() == offText_ || PortNo() == 0) {
        DisconnectPort();
        return;
    }
    const int portNo = PortNo();
    DisconnectPort();
    comPort_->SetPortNo(portNo);
    ConnectPort();
}

void TComComboBox::DisconnectPort()
{
    if (!IsOpen())
        return;
    comPort_->PurgeSend();
    comPort_->PurgeReceive();
    std::array<char, 200> scratch{};
    for (int pending = comPort_->SendPending(); pending > 0; pending = comPort_->SendPending())
        comPort_->Receive(scratch.data(), std::min<int>(pending, scratch.size()));
    comPort_->Close();
    // Gives the device time to settle before it is opened again.
    QThread::msleep(150);
}

void TComComboBox::ConnectPort()
{
    if (!IsOpen())
        comPort_->Open();
}
