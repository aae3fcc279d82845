// SPDX-License-Identifier: GPL-3.0-or-later
#include "widgets/ComComboBox.h"

#include "platform/SerialRegistry.h"
#include "serial/CommX.h"
#include "support/PtyPair.h"
#include "support/QuickCommX.h"
#include "toolkit/Dialogs.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QMetaProperty>
#include <QTest>
#include <QTextDocument>

#include <filesystem>
#include <fstream>
#include <vector>

using namespace platform::registry;

namespace {

QStringList items(const QComboBox& box)
{
    QStringList out;
    for (int i = 0; i < box.count(); ++i)
        out << box.itemText(i);
    return out;
}

// Drops the list down as the user does and closes it again without choosing.
void dropDown(TComComboBox& box)
{
    box.showPopup();
    box.hidePopup();
}

// The selector as the window configures it: off item, bound component, auto connect.
void bind(TComComboBox& box, TCommX& port)
{
    box.SetOffText("OFF");
    box.SetComPort(&port);
    box.SetAutoConnect(true);
}

class ComComboBoxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetApplicationTitle("ZUB-3 Manager");
        previousHook_ = SetMessageBoxHook([this](const MessageRecord& m) { seen_.push_back(m); });
    }
    void TearDown() override { SetMessageBoxHook(previousHook_); }

    TempRegistry registry_;
    std::vector<MessageRecord> seen_;
    MessageBoxHook previousHook_;
};

}  // namespace

TEST_F(ComComboBoxTest, AbsentRegistryGivesAnEmptyListWithoutOffItem)
{
    TComComboBox box;
    box.SetOffText("OFF");
    dropDown(box);
    EXPECT_EQ(box.count(), 0);
    EXPECT_EQ(box.PortNo(), -1);
}

TEST_F(ComComboBoxTest, NoPortsGivesTheOffItemOnlyAfterADropDown)
{
    registry_.CreateKey();
    TComComboBox box;
    box.SetOffText("OFF");
    box.RefreshPortList();  // what applying PortNo at start-up does, before OffText
    EXPECT_EQ(items(box), QStringList{"OFF"});

    TComComboBox startUp;
    startUp.addItems({"COM1", "COM3", "COM4"});
    startUp.SetPortNo(-1);
    startUp.SetOffText("OFF");
    EXPECT_EQ(startUp.count(), 0);
    EXPECT_EQ(startUp.currentIndex(), -1);
    EXPECT_EQ(startUp.PortNo(), -1);
    EXPECT_FALSE(startUp.IsOpen());
    dropDown(startUp);
    EXPECT_EQ(items(startUp), QStringList{"OFF"});
}

TEST_F(ComComboBoxTest, ListsStringValuesByPortNumber)
{
    WriteEntry("dev12", ValueType::String, "COM12", "/dev/null");
    WriteEntry("dev3", ValueType::String, "COM3", "/dev/null");
    WriteEntry("devx", ValueType::String, "COMX", "/dev/null");
    WriteEntry("dev10", ValueType::String, "COM10", "/dev/null");
    WriteEntry("dword", ValueType::DWord, "COM2", "/dev/null");
    WriteEntry("expand", ValueType::ExpandString, "COM4", "/dev/null");
    WriteEntry("bt", ValueType::String, "COM-bt", "/dev/null");
    TComComboBox box;
    box.SetOffText("OFF");
    box.SetPortNo(-1);
    // Unnumbered names go last, in registry order; value names never show.
    EXPECT_EQ(items(box), (QStringList{"OFF", "COM3", "COM10", "COM12", "COM-bt", "COMX"}));
    EXPECT_EQ(box.itemData(1, Qt::ToolTipRole).toString(), "/dev/null");

    box.setCurrentIndex(0);
    EXPECT_EQ(box.PortNo(), 0);
    box.setCurrentIndex(2);
    EXPECT_EQ(box.PortNo(), 10);
    box.setCurrentIndex(4);
    EXPECT_EQ(box.PortNo(), -1);

    EXPECT_EQ(ComparePortNumbers("COM2", "COM10"), -1);
    EXPECT_EQ(ComparePortNumbers("COM10", "COM2"), 1);
    EXPECT_EQ(ComparePortNumbers("COM7", "XYZ7"), 0);
}

// A USB adapter as sysfs shows it, beside a port that is only a device path.
TEST_F(ComComboBoxTest, TooltipsNameTheDeviceAndTheUsbAdapterBehindIt)
{
    const std::filesystem::path root = registry_.Root();
    const std::filesystem::path usb = root / "devices/usb1/1-2";
    std::filesystem::create_directories(usb / "1-2:1.0/ttyUSB0");
    for (const auto& [file, text] : {std::pair{"idVendor", "0403"}, {"product", "FT232R USB UART"},
                                     {"manufacturer", "FTDI"}, {"serial", "A50285BI"}})
        std::ofstream(usb / file) << text << "\n";
    std::filesystem::create_directories(root / "sys/ttyUSB0");
    std::filesystem::create_directory_symlink(usb / "1-2:1.0/ttyUSB0", root / "sys/ttyUSB0/device");
    std::filesystem::create_directories(root / "dev/serial/by-id");
    std::ofstream(root / "dev/ttyUSB0").flush();
    std::filesystem::create_symlink("../../ttyUSB0", root / "dev/serial/by-id/usb-FTDI_A50285BI-if00-port0");
    SetLocation({root / "run", root / "sys", root / "dev", {}});
    WriteEntry("pty", ValueType::String, "COM51", "/dev/null");

    TComComboBox box;
    box.RefreshPortList();
    ASSERT_EQ(items(box), (QStringList{"COM11", "COM51"}));
    EXPECT_EQ(box.itemData(0, Qt::ToolTipRole).toString(),
              QString::fromStdString((root / "dev/ttyUSB0").string() +
                                     ": FT232R USB UART, FTDI, serial A50285BI\n" +
                                     (root / "dev/serial/by-id/usb-FTDI_A50285BI-if00-port0").string()));
    EXPECT_EQ(box.itemData(1, Qt::ToolTipRole).toString(), "/dev/null");

    // The adapter names itself: what looks like markup is shown as it is, never as markup
    // (which could make the tooltip load a file such as /dev/zero as an image).
    std::ofstream(usb / "product") << "<b>FT232R</b> & UART\n";
    box.RefreshPortList();
    const QString tip = box.itemData(0, Qt::ToolTipRole).toString();
    QTextDocument shown;
    if (Qt::mightBeRichText(tip))  // as a tooltip label decides
        shown.setHtml(tip);
    else
        shown.setPlainText(tip);
    EXPECT_EQ(shown.toPlainText().toStdString(),
              (root / "dev/ttyUSB0").string() + ": <b>FT232R</b> & UART, FTDI, serial A50285BI\n" +
                  (root / "dev/serial/by-id/usb-FTDI_A50285BI-if00-port0").string());
}

TEST_F(ComComboBoxTest, WritingPortNoSelectsWithoutEventsOrOpening)
{
    WriteEntry("a", ValueType::String, "COM3", "/dev/null");
    WriteEntry("b", ValueType::String, "COM7", "/dev/null");
    QuickCommX port(nullptr);
    TComComboBox box;
    bind(box, port);
    int changes = 0;
    box.OnChange = [&](QObject*) { ++changes; };

    box.SetPortNo(7);
    EXPECT_EQ(box.currentText(), "COM7");
    EXPECT_EQ(box.PortNo(), 7);
    for (int missing : {5, 0, -1}) {
        box.SetPortNo(missing);
        EXPECT_EQ(box.currentIndex(), -1) << missing;
        EXPECT_EQ(box.PortNo(), -1);
    }
    EXPECT_EQ(changes, 0);
    EXPECT_FALSE(box.IsOpen());
}

TEST_F(ComComboBoxTest, ChoosingPortsOpensAndClosesTheBoundComponent)
{
    PtyPair pty;
    WriteEntry("pty", ValueType::String, "COM9", pty.SlavePath());
    TCommX port(nullptr);  // with its pauses: reopening takes them
    port.SetTimeOutReceive(50);
    TComComboBox box;
    bind(box, port);
    std::vector<QString> order;
    box.OnChange = [&](QObject*) {
        order.push_back(QStringLiteral("change open=%1").arg(box.IsOpen()));
    };

    dropDown(box);
    ASSERT_EQ(items(box), (QStringList{"OFF", "COM9"}));
    box.setCurrentIndex(0);
    QTest::keyClick(&box, Qt::Key_Down);  // the user moves to COM9
    EXPECT_EQ(port.PortNo(), 9);
    EXPECT_TRUE(box.IsOpen());
    EXPECT_NE(port.Handle(), INVALID_HANDLE_VALUE);

    // Choosing the open port again closes it (with its pauses) and opens it anew.
    QElapsedTimer t;
    t.start();
    emit box.activated(1);
    EXPECT_GE(t.elapsed(), 600 + 150);
    EXPECT_TRUE(box.IsOpen());

    QTest::keyClick(&box, Qt::Key_Up);  // "OFF"
    EXPECT_FALSE(box.IsOpen());
    EXPECT_EQ(box.PortNo(), 0);
    // The handler runs before the connect step.
    ASSERT_EQ(order.size(), 3u);
    EXPECT_EQ(order[0], "change open=0");
    EXPECT_EQ(order[1], "change open=1");
    EXPECT_EQ(order[2], "change open=1");

    box.SetAutoConnect(false);
    QTest::keyClick(&box, Qt::Key_Down);
    EXPECT_FALSE(box.IsOpen());
}

TEST_F(ComComboBoxTest, UnopenablePortShowsTheDefaultReport)
{
    WriteEntry("gone", ValueType::String, "COM4", "/nonexistent/ttyUSB9");
    QuickCommX port(nullptr);
    TComComboBox box;
    bind(box, port);
    dropDown(box);
    box.setCurrentIndex(1);
    emit box.activated(1);

    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(seen_[0].kind, MessageKind::Error);
    EXPECT_EQ(seen_[0].caption, "ZUB-3 Manager");
    EXPECT_EQ(seen_[0].text, QStringLiteral("ポートをオープンできませんでした\n/nonexistent/ttyUSB9 "
                                            "はもう存在しません。アダプターを接続し直すか、別のポートを選んでください."));
    // Nothing is open, so nothing is shown as chosen.
    EXPECT_EQ(box.currentIndex(), -1);
    EXPECT_EQ(box.PortNo(), -1);
    EXPECT_FALSE(box.IsOpen());
}

TEST_F(ComComboBoxTest, FailingHandlerSkipsTheConnectStep)
{
    PtyPair pty;
    WriteEntry("pty", ValueType::String, "COM9", pty.SlavePath());
    QuickCommX port(nullptr);
    TComComboBox box;
    bind(box, port);
    box.OnChange = [](QObject*) { throw ECommError("Bitrate configuration error."); };
    dropDown(box);
    box.setCurrentIndex(1);
    emit box.activated(1);

    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(seen_[0].text, "Bitrate configuration error.");
    EXPECT_FALSE(box.IsOpen());
    EXPECT_EQ(box.currentIndex(), -1);
}

TEST_F(ComComboBoxTest, RebuildingShowsTheOpenPortOrNothing)
{
    PtyPair pty;
    WriteEntry("a", ValueType::String, "COM3", "/dev/null");
    WriteEntry("pty", ValueType::String, "COM9", pty.SlavePath());
    QuickCommX port(nullptr);
    port.SetTimeOutReceive(50);
    TComComboBox box;
    bind(box, port);
    int changes = 0;
    box.OnChange = [&](QObject*) { ++changes; };

    // Closed port: a rebuild selects nothing, although adding items made one current.
    dropDown(box);
    EXPECT_EQ(box.currentIndex(), -1);
    EXPECT_EQ(box.PortNo(), -1);

    box.setCurrentIndex(2);
    emit box.activated(2);
    ASSERT_TRUE(box.IsOpen());
    changes = 0;
    const HANDLE handle = port.Handle();

    // Every way of rebuilding shows the open port again, without an event or a re-open.
    QElapsedTimer t;
    t.start();
    dropDown(box);
    EXPECT_EQ(box.currentText(), "COM9");
    box.RefreshPortList();
    EXPECT_EQ(box.PortNo(), 9);
    box.SetPortNo(5);  // not listed: the open port stays shown
    EXPECT_EQ(box.PortNo(), 9);
    box.SetPortNo(3);  // a listed number is selected, still without opening it
    EXPECT_EQ(box.PortNo(), 3);
    EXPECT_LT(t.elapsed(), 150);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(port.Handle(), handle);
    EXPECT_EQ(port.PortNo(), 9);

    // An open port that is no longer listed is not replaced by another one.
    std::filesystem::remove(registry_.Root() / "run" / "pty.port");
    dropDown(box);
    EXPECT_EQ(items(box), (QStringList{"OFF", "COM3"}));
    EXPECT_EQ(box.currentIndex(), -1);
    EXPECT_TRUE(box.IsOpen());
}

TEST_F(ComComboBoxTest, PublishesItsPropertiesInOrder)
{
    TComComboBox box;
    const QMetaObject* meta = box.metaObject();
    QStringList names;
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i)
        names << meta->property(i).name();
    EXPECT_EQ(names, (QStringList{"PortNo", "OffText", "ComPort", "AutoConnect", "IsOpen"}));

    QuickCommX port(nullptr);
    EXPECT_TRUE(box.setProperty("ComPort", QVariant::fromValue(&port)));
    EXPECT_EQ(box.ComPort(), &port);
    EXPECT_EQ(box.property("ComPort").value<TCommX*>(), &port);
}
