// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ZUB3Check.h"

#include "toolkit/DesktopMetrics.h"
#include "serial/CommX.h"
#include "support/PtyPair.h"
#include "support/QuickCommX.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Memo.h"
#include "toolkit/Shape.h"
#include "toolkit/Timer.h"
#include "toolkit/SpinEdit.h"
#include "widgets/ColorProgressBar.h"
#include "widgets/ComComboBox.h"
#include "widgets/PngSpeedButton.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <map>
#include <thread>
#include <utility>
#include <vector>

using namespace platform::registry;

namespace {

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetApplicationTitle("ZUB-3 Manager");
        previousHook_ = SetMessageBoxHook([this](const MessageRecord& m) { messages_.push_back(m); });
    }
    void TearDown() override { SetMessageBoxHook(previousHook_); }

    // Drops the port list down and picks the item with this text, as the user does.
    static void choosePort(TMainForm& form, const QString& text)
    {
        form.cbxPort->showPopup();
        form.cbxPort->hidePopup();
        const int index = form.cbxPort->findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        form.cbxPort->setCurrentIndex(index);
        emit form.cbxPort->activated(index);
    }

    // Shows the window and makes it the active one, as clicking on it does.
    static void activate(QWidget& window)
    {
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    static void choose(QComboBox* box, const QString& text)
    {
        const int index = box->findText(text);
        ASSERT_GE(index, 0);
        box->setCurrentIndex(index);
        emit box->activated(index);
    }

    TempRegistry registry_;
    std::vector<MessageRecord> messages_;
    MessageBoxHook previousHook_;
};

}  // namespace

TEST_F(MainFormTest, ControlsAsDesignedAndTheInitialState)
{
    TMainForm form;
    EXPECT_EQ(form.windowTitle(), "ZUB-3 Manager Ver.1.1.0 Rev.20101007");
    EXPECT_EQ(form.size(), QSize(458, 476));
    EXPECT_EQ(form.GroupBox1->title(), QStringLiteral("\u3000設定\u3000"));
    EXPECT_EQ(form.GroupBox1->geometry(), QRect(112, 8, 233, 121));

    // Creation order is painting order: later shapes and labels lie over earlier ones.
    const QObjectList& children = form.children();
    const auto at = [&](QObject* o) { return children.indexOf(o); };
    EXPECT_LT(at(form.Shape1), at(form.btnL));
    EXPECT_LT(at(form.btnR), at(form.btnS4));
    EXPECT_LT(at(form.btnLD), at(form.btnLRD));
    EXPECT_LT(at(form.Shape27), at(form.shpPower));
    EXPECT_LT(at(form.shpPower), at(form.Label1));
    EXPECT_LT(at(form.Label20), at(form.GroupBox1));

    struct Geometry {
        QWidget* w;
        QRect r;
    };
    for (const auto& [w, r] : std::vector<Geometry>{
             {form.Shape1, {291, 364, 26, 25}},   {form.btnL, {32, 136, 185, 185}},
             {form.btnS4, {377, 24, 41, 41}},     {form.shpLED, {295, 368, 18, 17}},
             {form.btnRU, {320, 144, 25, 65}},    {form.btnLD, {112, 248, 25, 65}},
             {form.btnLRD, {160, 264, 41, 41}},   {form.shpPower, {205, 367, 20, 19}},
             {form.btnRead, {174, 16, 25, 25}},   {form.btnWrite, {200, 16, 25, 25}},
             {form.cbxPort, {84, 18, 80, 20}},    {form.speID, {84, 42, 80, 21}},
             {form.memSend, {48, 408, 401, 20}},  {form.memRecv, {48, 432, 401, 20}},
             {form.StatusBar, {0, 457, 458, 19}}, {form.cpbPA1, {6, 136, 22, 185}},
             {form.cpbPA4, {429, 136, 22, 185}},  {form.cpbPA2, {32, 326, 185, 22}},
             {form.cpbPA3, {240, 326, 185, 22}}})
        EXPECT_EQ(w->geometry(), r) << w->metaObject()->className();
    EXPECT_EQ(form.btnL->Shape(), stRoundRect);
    EXPECT_EQ(form.btnS1->Shape(), stCircle);
    EXPECT_EQ(form.btnRU->Shape(), stRectangle);
    EXPECT_EQ(form.Shape27->BrushColor(), clAppWorkSpace);

    // Labels keep their place and fit their caption in the window's font.
    EXPECT_EQ(form.Label1->pos(), QPoint(174, 369));
    EXPECT_EQ(form.Label20->pos(), QPoint(378, 222));
    EXPECT_EQ(form.Label4->size(), form.Label4->sizeHint());
    EXPECT_EQ(form.Label16->text(), QStringLiteral("↑"));
    EXPECT_TRUE(form.Label16->Transparent());
    EXPECT_FALSE(form.Label1->Transparent());
    EXPECT_EQ(form.Label1->Color(), clWhite);
    EXPECT_EQ(form.Label4->text(), QStringLiteral("ボーレート"));

    EXPECT_EQ(form.shpPower->toolTip(), QStringLiteral("ZPTからのデータ受信を開始・停止する"));
    EXPECT_EQ(form.GroupBox1->toolTip(), "8bit, 1stopbit, Even");
    EXPECT_TRUE(form.Label3->toolTip().isEmpty());  // shows the group's hint
    EXPECT_EQ(form.btnRead->Hint(), QStringLiteral("ZUB-3から設定値を読み込みます。"));
    EXPECT_EQ(form.cbxPort->toolTip(), QStringLiteral("COMポート選択"));
    EXPECT_EQ(form.memRecv->toolTip(), QStringLiteral("実際に受信したコマンドのバイトデータ列"));
    EXPECT_TRUE(form.cpbPA1->toolTip().isEmpty());

    EXPECT_FALSE(form.Timer->isActive());
    EXPECT_EQ(form.Timer->interval(), 10);
    EXPECT_EQ(form.cbxPort->currentIndex(), -1);
    EXPECT_EQ(form.cbxPort->PortNo(), -1);
    EXPECT_EQ(form.cbxBaudRate->currentIndex(), -1);
    EXPECT_EQ(form.cbxBaudRate->count(), 3);
    EXPECT_EQ(form.cbxInterval->currentText(), "10");
    EXPECT_EQ(form.cbxInterval->count(), 9);
    EXPECT_EQ(form.speID->Value(), 0);
    EXPECT_EQ(form.speID->MaxValue(), 31);
    EXPECT_EQ(form.shpLED->BrushColor(), clWhite);
    for (const auto& e : form.ButtonIndicators)
        EXPECT_EQ(e.Indicator->BrushColor(), clWhite);
    for (TColorProgressBar* g : {form.cpbPA1, form.cpbPA2, form.cpbPA3, form.cpbPA4}) {
        EXPECT_EQ(g->Position(), 50);
        EXPECT_EQ(g->Max(), 127);
        EXPECT_EQ(g->SigColor(), clTeal);
    }
    EXPECT_EQ(form.cpbPA1->Orientation(), cpbBottomToTop);
    EXPECT_EQ(form.cpbPA3->Orientation(), cpbLeftToRight);
    EXPECT_TRUE(form.memSend->toPlainText().isEmpty());
    EXPECT_TRUE(form.StatusText().isEmpty());
    EXPECT_EQ(form.ComPort->Handle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(form.ComPort->BitRate(), 115200);
    EXPECT_EQ(form.ComPort->ParityBit(), cpbEven);
    EXPECT_EQ(form.ComPort->FlowCtrl(), cfcNone);
    EXPECT_EQ(form.ComPort->TimeOutReceive(), 500);
    EXPECT_FALSE(form.btnRead->PngImage().isEmpty());
    EXPECT_FALSE(form.Monitoring);
    EXPECT_EQ(form.CurrentID, 0);
    EXPECT_TRUE(messages_.empty());
}

TEST_F(MainFormTest, FontAndIndicatorTablesFromFormCreate)
{
    TMainForm form;
    const auto menu = platform::GetMenuFont();
    EXPECT_EQ(form.font().families().value(0), menu.faceName);
    EXPECT_EQ(form.font().families().value(1), "Noto Sans CJK JP");
    EXPECT_EQ(form.font().pointSize(),
              -platform::MulDiv(menu.height, 72, platform::GetLogPixelsY()));
    EXPECT_EQ(platform::MulDiv(-12, 72, 96), -9);

    const std::vector<std::pair<std::uint32_t, TShape*>> buttons{
        {0x0200, form.btnS1}, {0x0400, form.btnS2}, {0x0800, form.btnS3}, {0x1000, form.btnS4},
        {0x0001, form.btnLU}, {0x0002, form.btnLD}, {0x0004, form.btnLR}, {0x0008, form.btnLL},
        {0x0010, form.btnRU}, {0x0020, form.btnRD}, {0x0040, form.btnRR}, {0x0100, form.btnRL}};
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        EXPECT_EQ(form.ButtonIndicators[i].Mask, buttons[i].first) << i;
        EXPECT_EQ(form.ButtonIndicators[i].Indicator, buttons[i].second) << i;
    }
    const std::vector<std::pair<std::uint32_t, TShape*>> diagonals{
        {0x0009, form.btnLLU}, {0x000A, form.btnLLD}, {0x0005, form.btnLRU},
        {0x0006, form.btnLRD}, {0x0110, form.btnRLU}, {0x0120, form.btnRLD},
        {0x0050, form.btnRRU}, {0x0060, form.btnRRD}};
    for (std::size_t i = 0; i < diagonals.size(); ++i) {
        EXPECT_EQ(form.DiagonalIndicators[i].Mask, diagonals[i].first) << i;
        EXPECT_EQ(form.DiagonalIndicators[i].Indicator, diagonals[i].second) << i;
    }
}

TEST_F(MainFormTest, GaugesRecordTheStoredPositionBeforeTheirMax)
{
    TMainForm form;
    // 50 was taken while Max was still 100, so it is in range and the first sample.
    EXPECT_EQ(form.cpbPA2->property("Position").toDouble(), 50.0);
    form.cpbPA2->SetPosition(200);
    EXPECT_EQ(form.cpbPA2->Position(), 127);
}

TEST_F(MainFormTest, SettingsHandlersReport)
{
    TMainForm form;
    form.speID->SetValue(5);
    EXPECT_EQ(form.StatusText(), QStringLiteral("ID:5が指定されました。"));
    EXPECT_EQ(form.CurrentID, 0);

    choose(form.cbxBaudRate, "625000");
    EXPECT_EQ(form.StatusText(), QStringLiteral("Baudrate:625000が指定されました。"));
    EXPECT_EQ(form.ComPort->BitRate(), 115200);
    form.cbxBaudRate->setCurrentIndex(2);  // by program: no report
    EXPECT_EQ(form.StatusText(), QStringLiteral("Baudrate:625000が指定されました。"));

    choose(form.cbxInterval, "250");
    EXPECT_EQ(form.Timer->interval(), 250);
    EXPECT_EQ(form.StatusText(), QStringLiteral("読み込み間隔が250[ms]に設定されました。"));
}

TEST_F(MainFormTest, IntervalChangeRestartsOnlyForANewInterval)
{
    TMainForm form;
    choose(form.cbxInterval, "500");
    form.Timer->start();
    QTest::qWait(200);
    choose(form.cbxInterval, "500");  // the same: the timer goes on counting
    EXPECT_LE(form.Timer->remainingTime(), 300);
    EXPECT_EQ(form.StatusText(), QStringLiteral("読み込み間隔が500[ms]に設定されました。"));

    choose(form.cbxInterval, "250");
    QTest::qWait(200);
    choose(form.cbxInterval, "500");  // restarts counting from now
    EXPECT_GT(form.Timer->remainingTime(), 250);
    form.Timer->stop();
}

TEST_F(MainFormTest, AnOrdinaryTopLevelWindowOfFixedSize)
{
    TMainForm form;
    EXPECT_EQ(form.windowType(), Qt::Window);
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_EQ(form.windowIconText(), "ZUB-3 Manager");  // the task-bar entry
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_EQ(form.windowHandle()->transientParent(), nullptr);
}

TEST_F(MainFormTest, TabGoesRoundTheControlsAndNeverIntoTheDumps)
{
    TMainForm form;
    activate(form);
    form.cbxPort->setFocus(Qt::TabFocusReason);
    const std::vector<QWidget*> forward{form.cbxBaudRate, form.cbxInterval, form.speID,
                                        form.memSend,     form.memRecv,     form.cbxPort};
    for (QWidget* next : forward) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->metaObject()->className();
    }
    const std::vector<QWidget*> backward{form.memRecv, form.memSend,     form.speID,
                                         form.cbxInterval, form.cbxBaudRate, form.cbxPort};
    for (QWidget* previous : backward) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
        EXPECT_EQ(QApplication::focusWidget(), previous) << previous->metaObject()->className();
    }
    EXPECT_TRUE(form.memSend->toPlainText().isEmpty());
    EXPECT_TRUE(form.memRecv->toPlainText().isEmpty());
}

TEST_F(MainFormTest, TypedIdStaysUntilTheFocusMovesToAnotherControl)
{
    TMainForm form;
    activate(form);
    QWidget other;
    // The window's message boxes are modal windows of their own: they take the activation
    // and give it back.
    SetMessageBoxHook([&](const MessageRecord& m) {
        messages_.push_back(m);
        activate(other);
        other.hide();
        activate(form);
    });
    form.speID->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(form.speID, "40");
    ASSERT_EQ(form.speID->text(), "40");
    const QString typed = QStringLiteral("ID:40が指定されました。");
    EXPECT_EQ(form.StatusText(), typed);

    QTest::keyClick(form.speID, Qt::Key_Return);
    EXPECT_EQ(form.speID->text(), "40");
    form.btnWrite->click();  // port closed: a warning box
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, QStringLiteral("ポートが接続されていません。"));
    EXPECT_EQ(form.speID->text(), "40");
    activate(other);  // the user switches to another program and back
    activate(form);
    EXPECT_EQ(form.speID->text(), "40");
    EXPECT_EQ(form.speID->Value(), 40);
    EXPECT_EQ(form.StatusText(), typed);

    // Moving on to another control brings the value into range, and so do the arrows.
    QTest::keyClick(form.speID, Qt::Key_Tab);
    EXPECT_EQ(form.speID->text(), "31");
    EXPECT_EQ(form.StatusText(), QStringLiteral("ID:31が指定されました。"));
    form.speID->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(form.speID, "-7");
    QTest::keyClick(form.speID, Qt::Key_Up);
    EXPECT_EQ(form.speID->text(), "0");
    QTest::keyClick(form.speID, Qt::Key_Up);
    EXPECT_EQ(form.speID->text(), "1");
}

TEST_F(MainFormTest, ControlsInTheGroupBoxShowItsBackground)
{
    TMainForm form;
    const QImage shot = form.grab().toImage().convertToFormat(QImage::Format_RGB32);
    // The commonest colour of a control's rectangle is its background.
    const auto background = [&](const QWidget* w) {
        const QRect r(w->mapTo(&form, QPoint(0, 0)), w->size());
        std::map<QRgb, int> counts;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                ++counts[shot.pixel(x, y)];
        return std::max_element(counts.begin(), counts.end(), [](auto a, auto b) {
                   return a.second < b.second;
               })->first;
    };
    const QRgb group = shot.pixel(form.GroupBox1->mapTo(&form, QPoint(70, 30)));
    for (const QWidget* w : std::vector<const QWidget*>{form.Label3, form.Label4, form.Label5,
                                                        form.Label6, form.btnRead, form.btnWrite})
        EXPECT_EQ(background(w), group) << w->metaObject()->className();
    EXPECT_EQ(background(form.Label7), shot.pixel(40, 400));  // on the window
    EXPECT_EQ(background(form.Label1), qRgb(255, 255, 255));  // a colour of its own
}

TEST_F(MainFormTest, ChoosingPortsOpensAndClosesTheComponent)
{
    PtyPair pty;
    WriteEntry("pty", ValueType::String, "COM8", pty.SlavePath());
    TMainForm form(nullptr, new QuickCommX(nullptr));
    choosePort(form, "COM8");
    EXPECT_NE(form.ComPort->Handle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(form.ComPort->PortNo(), 8);
    choosePort(form, "OFF");
    EXPECT_EQ(form.ComPort->Handle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(form.ComPort->PortNo(), 8);  // "OFF" leaves the number alone
    EXPECT_TRUE(messages_.empty());
}

TEST_F(MainFormTest, UnopenablePortShowsTheDefaultReport)
{
    WriteEntry("gone", ValueType::String, "COM4", "/nonexistent/ttyUSB0");
    TMainForm form;
    choosePort(form, "COM4");
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].kind, MessageKind::Error);
    EXPECT_EQ(messages_[0].caption, "ZUB-3 Manager");
    EXPECT_EQ(messages_[0].text, QStringLiteral("ポートをオープンできませんでした\n/nonexistent/ttyUSB0 "
                                                "はもう存在しません。アダプターを接続し直すか、別のポートを選んでください."));
    EXPECT_EQ(form.ComPort->Handle(), INVALID_HANDLE_VALUE);
}

TEST_F(MainFormTest, AVirtualPortWhoseProgramEndedIsReportedByItsOwnDevice)
{
    PtyPair pty;
    auto registration = std::make_unique<Registration>(7, pty.SlavePath(), "sim");
    TMainForm form(nullptr, new QuickCommX(nullptr));
    choosePort(form, "COM7");
    choose(form.cbxBaudRate, "115200");
    registration.reset();
    pty.CloseMaster();
    QTest::mousePress(form.shpPower, Qt::LeftButton);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text,
              QStringLiteral("通信速度の設定でエラーが発生しました\n") +
                  QString::fromStdString(pty.SlavePath()) +
                  QStringLiteral(" はもう存在しません。アダプターを接続し直すか、別のポートを選んでください."));
}

TEST_F(MainFormTest, ClosingDrainsOneTimeOutThenClosesThePort)
{
    PtyPair pty;
    WriteEntry("pty", ValueType::String, "COM8", pty.SlavePath());
    TMainForm form(nullptr, new QuickCommX(nullptr));
    form.show();
    choosePort(form, "COM8");
    ASSERT_NE(form.ComPort->Handle(), INVALID_HANDLE_VALUE);
    QElapsedTimer t;
    t.start();
    EXPECT_TRUE(form.close());
    EXPECT_GE(t.elapsed(), 500);
    EXPECT_EQ(form.ComPort->Handle(), INVALID_HANDLE_VALUE);

    TMainForm closedPort;
    closedPort.show();
    EXPECT_TRUE(closedPort.close());
}

TEST_F(MainFormTest, ALineThatNeverFallsSilentStillLetsTheWindowClose)
{
    PtyPair pty;
    WriteEntry("pty", ValueType::String, "COM8", pty.SlavePath());
    TMainForm form(nullptr, new QuickCommX(nullptr));
    form.show();
    choosePort(form, "COM8");
    ASSERT_NE(form.ComPort->Handle(), INVALID_HANDLE_VALUE);

    std::atomic<bool> stop{false};
    std::thread chatter([&] {
        const char byte = 0x55;
        while (!stop) {
            (void)!::write(pty.Master(), &byte, 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    QElapsedTimer t;
    t.start();
    EXPECT_TRUE(form.close());
    const qint64 took = t.elapsed();
    stop = true;
    chatter.join();
    EXPECT_EQ(form.ComPort->Handle(), INVALID_HANDLE_VALUE);
    // At most 2 s of draining and one read's time-out, then Close; generous for slow machines.
    EXPECT_LT(took, 10000);
    EXPECT_GE(took, 2000);
}

TEST(Shape, EveryPressIsAMouseDown)
{
    TShape shape;
    shape.resize(20, 19);
    std::vector<Qt::MouseButton> seen;
    QObject::connect(&shape, &TShape::MouseDown,
                     [&](Qt::MouseButton b, Qt::KeyboardModifiers, int, int) { seen.push_back(b); });
    shape.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&shape));
    // Through the window, as the desktop delivers them: a double click's second press
    // comes as a double-click event.
    QTest::mouseClick(shape.windowHandle(), Qt::RightButton, {}, QPoint(5, 5));
    QTest::mouseDClick(shape.windowHandle(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(seen, (std::vector<Qt::MouseButton>{Qt::RightButton, Qt::LeftButton, Qt::LeftButton}));
}

namespace {

// The columns in which two pictures of the same size differ: first and last, or (-1, -1).
std::pair<int, int> differingColumns(const QImage& a, const QImage& b)
{
    int first = -1;
    int last = -1;
    for (int x = 0; x < a.width(); ++x)
        for (int y = 0; y < a.height(); ++y)
            if (a.pixel(x, y) != b.pixel(x, y)) {
                if (first < 0)
                    first = x;
                last = x;
                break;
            }
    return {first, last};
}

}  // namespace

TEST_F(MainFormTest, EveryByteOfTheLongestDumpIsVisible)
{
    TMainForm form;
    // The widest of the hexadecimal digits in the window's font stands for every byte.
    const QFontMetrics metrics(form.memRecv->font());
    QChar widest = u'0';
    for (const QChar c : QStringLiteral("0123456789ABCDEF"))
        if (metrics.horizontalAdvance(c) > metrics.horizontalAdvance(widest))
            widest = c;
    const QString byte = QString(2, widest) + u' ';

    for (auto* memo : {form.memSend, form.memRecv}) {
        SCOPED_TRACE(memo == form.memSend ? "memSend" : "memRecv");
        const auto picture = [memo](const QString& text) {
            memo->setPlainText(text);
            return memo->grab().toImage();
        };
        // What the 22nd byte adds to 21, and what the first adds to an empty memo.
        const auto [lastLeft, lastRight] =
            differingColumns(picture(byte.repeated(22)), picture(byte.repeated(21)));
        const auto [firstLeft, firstRight] = differingColumns(picture(byte), picture({}));
        ASSERT_GE(firstLeft, 0);
        ASSERT_GE(lastLeft, 0) << "the 22nd byte is not shown";
        // All of it: as wide as the first (glyphs may sit a pixel apart differently), and
        // clear of the frame.
        EXPECT_NEAR(lastRight - lastLeft, firstRight - firstLeft, 1);
        EXPECT_LT(lastRight, memo->width() - 2);
        EXPECT_EQ(QFontInfo(memo->font()).family(), QFontInfo(form.font()).family());
    }
}
