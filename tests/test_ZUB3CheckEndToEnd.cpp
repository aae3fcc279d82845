// SPDX-License-Identifier: GPL-3.0-or-later
// The main window against the virtual receiver on a pseudo-terminal: the power switch and
// the poll, Read and Write, with every status text, message box and state change.
#include "app/ZUB3Check.h"

#include "serial/CommX.h"
#include "sim/VirtualReceiver.h"
#include "support/QuickCommX.h"
#include "support/TempRegistry.h"
#include "support/Wait.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Memo.h"
#include "toolkit/Shape.h"
#include "toolkit/Timer.h"
#include "toolkit/SpinEdit.h"
#include "widgets/ColorProgressBar.h"
#include "widgets/ComComboBox.h"
#include "widgets/PngSpeedButton.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QHash>
#include <QStringList>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

using namespace platform::registry;
using namespace std::chrono_literals;
using zub3::sim::Faults;
using zub3::sim::VirtualReceiver;

namespace {

constexpr std::uint16_t kUp = 0x0001, kLeft = 0x0008;

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetApplicationTitle("ZUB-3 Manager");
        previousHook_ = SetMessageBoxHook([this](const MessageRecord& m) { messages_.push_back(m); });
    }
    void TearDown() override
    {
        form_.reset();
        SetMessageBoxHook(previousHook_);
    }

    // A receiver with this ID and speed on COM9, and the window with that port open.
    void start(int id, int bitRate, VirtualReceiver::Config config = {})
    {
        config.id = id;
        config.bitRate = bitRate;
        receiver_ = std::make_unique<VirtualReceiver>(config);
        WriteEntry("zub3sim", ValueType::String, "COM9", receiver_->SlavePath());
        form_ = std::make_unique<TMainForm>(nullptr,
                                            withPauses_ ? new TCommX(nullptr) : new QuickCommX(nullptr));
        form_->cbxPort->showPopup();
        form_->cbxPort->hidePopup();
        const int index = form_->cbxPort->findText("COM9");
        ASSERT_GE(index, 0);
        form_->cbxPort->setCurrentIndex(index);
        emit form_->cbxPort->activated(index);
        ASSERT_NE(form_->ComPort->Handle(), INVALID_HANDLE_VALUE);
    }

    void chooseSpeed(const QString& text)
    {
        const int index = form_->cbxBaudRate->findText(text);
        form_->cbxBaudRate->setCurrentIndex(index);
        emit form_->cbxBaudRate->activated(index);
    }

    void clickSwitch() { QTest::mousePress(form_->shpPower, Qt::LeftButton); }

    // For cases where only silence comes and the time-out is not what they look at.
    void shortenReplyTimeOut() { form_->ComPort->SetTimeOutReceive(200); }

    // Runs action once from inside the next exchange's wait (Receive handles events while
    // it waits), as a user's click during a poll does.
    bool duringExchange(const std::function<void()>& action)
    {
        bool done = false;
        QTimer probe;
        probe.setInterval(2);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            if (!done && form_->ExchangeRunning()) {
                done = true;
                action();
            }
        });
        probe.start();
        return WaitUntil([&] { return done; });
    }

    std::uint64_t polls() const { return receiver_->GetCounters().polls; }
    // Waits until the receiver has answered n more polls and the window has shown them.
    bool waitPolls(std::uint64_t n)
    {
        const std::uint64_t target = polls() + n;
        return WaitUntil([&] { return polls() >= target && !form_->ExchangeRunning(); });
    }

    std::vector<TShape*> litIndicators() const
    {
        std::vector<TShape*> lit;
        for (const auto& e : form_->ButtonIndicators)
            if (e.Indicator->BrushColor() != clWhite)
                lit.push_back(e.Indicator);
        for (const auto& e : form_->DiagonalIndicators)
            if (e.Indicator->BrushColor() != clWhite)
                lit.push_back(e.Indicator);
        return lit;
    }

    TempRegistry registry_;
    std::unique_ptr<VirtualReceiver> receiver_;
    std::unique_ptr<TMainForm> form_;
    std::vector<MessageRecord> messages_;
    MessageBoxHook previousHook_;
    bool withPauses_ = false;  // the component as the program has it, pauses and all
};

}  // namespace

TEST_F(EndToEnd, SwitchRefusesWithoutPortOrLineSpeed)
{
    TMainForm form;
    QTest::mousePress(form.shpPower, Qt::RightButton);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].kind, MessageKind::Information);
    EXPECT_EQ(messages_[0].text, QStringLiteral("ポートが接続されていません。"));

    start(0, 115200);
    messages_.clear();
    clickSwitch();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].kind, MessageKind::Information);
    EXPECT_EQ(messages_[0].text,
              QStringLiteral("ボーレート設定が正しくないか、設定されていません。"));
    EXPECT_FALSE(form_->Monitoring);
    EXPECT_FALSE(form_->Timer->isActive());
}

TEST_F(EndToEnd, MonitoringShowsButtonsChannelsAndFrames)
{
    withPauses_ = true;
    start(5, 625000);
    form_->CurrentID = 5;
    chooseSpeed("625000");
    clickSwitch();
    EXPECT_TRUE(form_->Monitoring);
    EXPECT_EQ(form_->ComPort->BitRate(), 625000);
    EXPECT_TRUE(form_->Timer->isActive());
    EXPECT_EQ(form_->shpLED->BrushColor(), clRed);
    EXPECT_EQ(form_->shpPower->x(), 224);
    EXPECT_FALSE(form_->btnRead->isEnabled());
    EXPECT_FALSE(form_->btnWrite->isEnabled());
    EXPECT_FALSE(form_->speID->isEnabled());
    EXPECT_FALSE(form_->cbxBaudRate->isEnabled());
    EXPECT_TRUE(form_->cbxPort->isEnabled());
    EXPECT_TRUE(form_->cbxInterval->isEnabled());
    EXPECT_EQ(form_->StatusText(), QStringLiteral("データ受信中"));

    receiver_->Press(kUp | kLeft);
    receiver_->SetChannel(0, 64);
    receiver_->SetChannel(1, 127);
    receiver_->SetChannel(2, 0);
    receiver_->SetChannel(3, 1);
    ASSERT_TRUE(waitPolls(2));
    EXPECT_EQ(litIndicators(),
              (std::vector<TShape*>{form_->btnLU, form_->btnLL, form_->btnLLU}));
    EXPECT_EQ(form_->btnLU->BrushColor(), clGradientActiveCaption);
    EXPECT_EQ(form_->btnLLU->BrushColor(), clGradientInactiveCaption);
    EXPECT_EQ(form_->cpbPA1->Position(), 64);
    EXPECT_EQ(form_->cpbPA2->Position(), 127);
    EXPECT_EQ(form_->cpbPA3->Position(), 0);
    EXPECT_EQ(form_->cpbPA4->Position(), 1);
    EXPECT_EQ(form_->memSend->toPlainText(), "A5 7F 00 07 ");
    EXPECT_EQ(form_->memRecv->toPlainText(),
              "A5 7F 00 07 25 7F 00 07 00 00 00 09 04 00 07 0F 00 00 00 01 04 09 ");

    receiver_->Release(kUp | kLeft);
    ASSERT_TRUE(waitPolls(2));
    EXPECT_TRUE(litIndicators().empty());
    EXPECT_EQ(form_->StatusText(), QStringLiteral("データ受信中"));  // a good poll leaves it

    // Switching off keeps what was shown.
    clickSwitch();
    ASSERT_TRUE(WaitUntil([&] { return !form_->Monitoring; }));
    EXPECT_FALSE(form_->Timer->isActive());
    EXPECT_EQ(form_->shpLED->BrushColor(), clWhite);
    EXPECT_EQ(form_->shpPower->x(), 205);
    EXPECT_TRUE(form_->btnRead->isEnabled());
    EXPECT_TRUE(form_->cbxBaudRate->isEnabled());
    EXPECT_EQ(form_->StatusText(), QStringLiteral("データ受信停止"));
    EXPECT_EQ(form_->memSend->toPlainText(), "A5 7F 00 07 ");
    EXPECT_EQ(form_->cpbPA2->Position(), 127);
    EXPECT_TRUE(messages_.empty());
}

namespace {

// Counts the paint events of each widget it watches.
class PaintCounter : public QObject {
public:
    void watch(QWidget* w) { w->installEventFilter(this); }
    int count(QObject* w) const { return counts_.value(w); }
    int total() const
    {
        int n = 0;
        for (int c : counts_)
            n += c;
        return n;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++counts_[watched];
        return false;
    }

private:
    QHash<QObject*, int> counts_;
};

}  // namespace

TEST_F(EndToEnd, AStillControllerCostsNoPainting)
{
    start(0, 1250000);
    chooseSpeed("1250000");
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    receiver_->Press(kUp | kLeft);
    receiver_->SetChannel(0, 64);
    clickSwitch();
    ASSERT_TRUE(waitPolls(2));
    ASSERT_EQ(litIndicators(), (std::vector<TShape*>{form_->btnLU, form_->btnLL, form_->btnLLU}));
    // A memo with the focus would repaint for its blinking cursor.
    form_->cbxPort->setFocus();
    QTest::qWait(100);  // what the first replies changed is painted

    PaintCounter painted;
    for (const auto& e : form_->ButtonIndicators)
        painted.watch(e.Indicator);
    for (const auto& e : form_->DiagonalIndicators)
        painted.watch(e.Indicator);
    for (QWidget* w : std::initializer_list<QWidget*>{form_->cpbPA1, form_->cpbPA2, form_->cpbPA3,
                                                      form_->cpbPA4, form_->memSend,
                                                      form_->memRecv})
        painted.watch(w);
    ASSERT_TRUE(waitPolls(10));
    QTest::qWait(100);
    EXPECT_EQ(painted.total(), 0);

    // What changes is painted, and only that.
    receiver_->SetChannel(0, 65);
    ASSERT_TRUE(WaitUntil([&] { return painted.count(form_->cpbPA1) > 0; }));
    EXPECT_GT(painted.count(form_->memRecv), 0);
    EXPECT_EQ(painted.count(form_->btnLU), 0);
    EXPECT_EQ(painted.count(form_->cpbPA2), 0);
    EXPECT_TRUE(messages_.empty());
}

// Remembers, for each widget it watches, what was on it at each of its paints.
class PaintRecorder : public QObject {
public:
    using Snapshot = std::function<QString()>;
    void watch(QWidget* w, Snapshot snapshot)
    {
        snapshots_[w] = std::move(snapshot);
        w->installEventFilter(this);
    }
    const QStringList& painted(QObject* w) const { return painted_[w]; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            painted_[watched].append(snapshots_[watched]());
        return false;
    }

private:
    QHash<QObject*, Snapshot> snapshots_;
    mutable QHash<QObject*, QStringList> painted_;
};

// Presses that last a single poll among channels that change on every poll, so that
// the window is always painting: each press is on screen, and so is the last state.
TEST_F(EndToEnd, EveryPressAPollSawIsPainted)
{
    const std::uint16_t masks[] = {0x0200, 0x0400, 0x0800, 0x1000, 0x0001, 0x0002,
                                   0x0004, 0x0008, 0x0010, 0x0020, 0x0040, 0x0100};
    constexpr int kPresses = 48, kSpacing = 4;  // a press on every fourth poll
    std::atomic<int> served{0};
    VirtualReceiver::Config config;
    config.playback = [&](std::chrono::nanoseconds) {
        const int k = served++;
        zub3::sim::ControllerState state;
        if (k >= kPresses * kSpacing)
            return state;  // still from here on
        for (int c = 0; c < 4; ++c)
            state.channels[static_cast<std::size_t>(c)] = static_cast<zub3::Byte>((k * (c + 1)) % 128);
        if (k % kSpacing == 1)
            state.buttons = masks[(k / kSpacing) % std::size(masks)];
        return state;
    };
    start(0, 1250000, config);
    chooseSpeed("1250000");
    const int fastest = form_->cbxInterval->findText("5");
    form_->cbxInterval->setCurrentIndex(fastest);
    emit form_->cbxInterval->activated(fastest);
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));

    PaintRecorder recorder;
    for (const auto& e : form_->ButtonIndicators)
        recorder.watch(e.Indicator, [s = e.Indicator] { return QString::number(s->BrushColor()); });
    clickSwitch();
    ASSERT_TRUE(WaitUntil([&] { return served >= kPresses * kSpacing + 10; }, 20s));
    clickSwitch();
    ASSERT_TRUE(WaitUntil([&] { return !form_->Monitoring; }));

    const QString white = QString::number(clWhite);
    // The last frame has been painted: every indicator shows the controller at rest.
    EXPECT_TRUE(WaitUntil([&] {
        return std::all_of(form_->ButtonIndicators.begin(), form_->ButtonIndicators.end(),
                           [&](const auto& e) {
                               const QStringList& painted = recorder.painted(e.Indicator);
                               return !painted.isEmpty() && painted.last() == white;
                           });
    }));
    for (const auto& e : form_->ButtonIndicators) {
        const QStringList& painted = recorder.painted(e.Indicator);
        int shownPresses = 0;
        for (qsizetype i = 0; i < painted.size(); ++i)
            shownPresses += painted[i] != white && (i == 0 || painted[i - 1] == white);
        EXPECT_EQ(shownPresses, kPresses / static_cast<int>(std::size(masks)))
            << "mask " << e.Mask;
        ASSERT_FALSE(painted.isEmpty());
        EXPECT_EQ(painted.last(), white);
    }
}

// The frame Write sends is on screen before its reply comes, even right after a paint.
TEST_F(EndToEnd, WritePaintsTheFrameBeforeItWaits)
{
    start(0, 115200);
    chooseSpeed("115200");
    form_->speID->SetValue(3);
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    QTest::qWait(50);
    form_->repaint();  // a frame just painted: the next is not due for a while
    PaintRecorder recorder;
    recorder.watch(form_->memSend, [this] {
        return form_->memSend->toPlainText() + "|" + form_->memRecv->toPlainText();
    });
    form_->btnWrite->click();
    ASSERT_EQ(form_->StatusText(), QStringLiteral("コマンド送信成功"));
    const QStringList& painted = recorder.painted(form_->memSend);
    ASSERT_TRUE(WaitUntil([&] { return !painted.isEmpty(); }));
    EXPECT_EQ(painted.first().toStdString(), "C0 00 00 0A 00 03 |");
}

TEST_F(EndToEnd, FaultyRepliesLeaveTheScreenUnchanged)
{
    start(0, 115200);
    chooseSpeed("115200");
    receiver_->Press(kUp);
    receiver_->SetChannel(0, 30);
    clickSwitch();
    ASSERT_TRUE(waitPolls(2));
    const QString recv = form_->memRecv->toPlainText();
    ASSERT_EQ(litIndicators(), std::vector<TShape*>{form_->btnLU});

    receiver_->Release(kUp);
    receiver_->SetChannel(0, 90);
    for (auto fault : {&Faults::badChecksum, &Faults::badHeader}) {
        SCOPED_TRACE(fault == &Faults::badChecksum ? "bad checksum" : "bad header");
        Faults f;
        f.*fault = true;
        receiver_->SetFaults(f);
        ASSERT_TRUE(waitPolls(3));
        EXPECT_EQ(litIndicators(), std::vector<TShape*>{form_->btnLU});
        EXPECT_EQ(form_->cpbPA1->Position(), 30);
        EXPECT_EQ(form_->memRecv->toPlainText(), recv);
        EXPECT_EQ(form_->RecvErrorCount, 0);
        EXPECT_EQ(form_->StatusText(), QStringLiteral("データ受信中"));
        EXPECT_TRUE(form_->Timer->isActive() || form_->ExchangeRunning());
    }
    receiver_->SetFaults({});
    ASSERT_TRUE(waitPolls(2));
    EXPECT_TRUE(litIndicators().empty());
    EXPECT_EQ(form_->cpbPA1->Position(), 90);
}

TEST_F(EndToEnd, TenFailedPollsEndPollingWhileTheSwitchShowsOn)
{
    start(0, 1250000);
    shortenReplyTimeOut();
    chooseSpeed("1250000");
    clickSwitch();
    Faults silent;
    silent.noReply = true;
    Faults shortReply;
    shortReply.shortReply = 21;

    // Failures need not follow each other: good polls in between do not reset the count.
    receiver_->SetFaults(silent);
    ASSERT_TRUE(WaitUntil([&] { return form_->RecvErrorCount >= 5; }));
    receiver_->SetFaults({});
    ASSERT_TRUE(waitPolls(3));
    EXPECT_EQ(form_->RecvErrorCount, 5);
    EXPECT_EQ(form_->StatusText(), QStringLiteral("データを受信できませんでした [5]"));
    receiver_->SetFaults(shortReply);
    ASSERT_TRUE(
        WaitUntil([&] { return form_->RecvErrorCount >= 10 && !form_->ExchangeRunning(); }));
    QTest::qWait(100);
    EXPECT_EQ(form_->RecvErrorCount, 10);
    EXPECT_EQ(form_->StatusText(), QStringLiteral("接続状態を見直して下さい"));
    EXPECT_FALSE(form_->Timer->isActive());
    EXPECT_TRUE(form_->Monitoring);
    EXPECT_EQ(form_->shpLED->BrushColor(), clRed);
    EXPECT_FALSE(form_->btnRead->isEnabled());

    // One click switches off, a second starts again with the count at 0.
    receiver_->SetFaults({});
    clickSwitch();
    EXPECT_FALSE(form_->Monitoring);
    clickSwitch();
    EXPECT_TRUE(form_->Monitoring);
    EXPECT_EQ(form_->RecvErrorCount, 0);
    EXPECT_TRUE(waitPolls(1));
}

TEST_F(EndToEnd, PortClosedWhileMonitoring)
{
    start(0, 115200);
    chooseSpeed("115200");
    clickSwitch();
    ASSERT_TRUE(waitPolls(1));
    // The user chooses "OFF": the next tick finds the port closed.
    form_->cbxPort->setCurrentIndex(0);
    emit form_->cbxPort->activated(0);
    ASSERT_TRUE(WaitUntil([&] { return !messages_.empty(); }));
    EXPECT_EQ(messages_[0].kind, MessageKind::Information);
    EXPECT_EQ(messages_[0].text, QStringLiteral("ポートが接続されていません。"));
    EXPECT_FALSE(form_->Timer->isActive());
    EXPECT_TRUE(form_->Monitoring);
    // The switch cannot switch off without a port.
    clickSwitch();
    EXPECT_EQ(messages_.size(), 2u);
    EXPECT_TRUE(form_->Monitoring);
    EXPECT_EQ(form_->shpLED->BrushColor(), clRed);
}

TEST_F(EndToEnd, SwitchClickedDuringAPollTakesEffectWhenItEnds)
{
    start(0, 115200);
    Faults slow;
    slow.delay = std::chrono::milliseconds(300);
    receiver_->SetFaults(slow);
    chooseSpeed("115200");
    clickSwitch();
    bool stillWaiting = false;
    ASSERT_TRUE(duringExchange([&] {
        clickSwitch();
        stillWaiting = form_->ExchangeRunning() && form_->Monitoring;
    }));
    EXPECT_TRUE(stillWaiting);
    ASSERT_TRUE(WaitUntil([&] { return !form_->Monitoring; }));
    const auto before = receiver_->GetCounters().polls;
    // The poll finished and showed its result; no further poll follows.
    EXPECT_EQ(form_->memSend->toPlainText(), "A0 7F 00 07 ");
    QTest::qWait(200);
    EXPECT_EQ(receiver_->GetCounters().polls, before);
    EXPECT_EQ(form_->StatusText(), QStringLiteral("データ受信停止"));
    EXPECT_FALSE(form_->Timer->isActive());
}

TEST_F(EndToEnd, WindowClosedDuringAPollWaitsForItThenDrainsAndCloses)
{
    start(0, 115200);
    Faults slow;
    slow.delay = std::chrono::milliseconds(300);
    receiver_->SetFaults(slow);
    chooseSpeed("115200");
    form_->show();
    clickSwitch();
    bool closedAtOnce = true;
    ASSERT_TRUE(duringExchange([&] { closedAtOnce = form_->close(); }));
    EXPECT_FALSE(closedAtOnce);  // put off until the poll has ended
    ASSERT_TRUE(WaitUntil([&] { return form_->isHidden(); }));
    EXPECT_EQ(form_->ComPort->Handle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(form_->memSend->toPlainText(), "A0 7F 00 07 ");
    EXPECT_TRUE(messages_.empty());
}

TEST_F(EndToEnd, ReadFindsIdAndLineSpeed)
{
    start(7, 625000);
    form_->btnRead->click();
    EXPECT_EQ(form_->speID->Value(), 7);
    EXPECT_EQ(form_->cbxBaudRate->currentText(), "625000");
    EXPECT_EQ(form_->CurrentID, 7);
    EXPECT_EQ(form_->LineSpeedCode, 1);
    EXPECT_EQ(form_->ComPort->BitRate(), 625000);
    EXPECT_EQ(form_->StatusText(), QStringLiteral("ボーレートは 625000 です"));
    EXPECT_TRUE(form_->memSend->toPlainText().isEmpty());
    EXPECT_TRUE(messages_.empty());
}

TEST_F(EndToEnd, ReadReportsEachSilentSpeed)
{
    start(7, 625000);
    shortenReplyTimeOut();
    QStringList statuses;
    QObject::connect(form_->StatusBar, &QStatusBar::messageChanged,
                     [&](const QString& text) { statuses << text; });
    form_->btnRead->click();
    ASSERT_FALSE(statuses.isEmpty());
    EXPECT_EQ(statuses.first(), QStringLiteral("受信できませんでした（115200）"));
    EXPECT_EQ(statuses.last(), QStringLiteral("ボーレートは 625000 です"));
    // The spin edit's report comes between them.
    EXPECT_TRUE(statuses.contains(QStringLiteral("ID:7が指定されました。")));
}

TEST_F(EndToEnd, ReadWithNoAnswerAnywhere)
{
    start(0, 115200);
    shortenReplyTimeOut();
    Faults silent;
    silent.noReply = true;
    receiver_->SetFaults(silent);
    QStringList statuses;
    QObject::connect(form_->StatusBar, &QStatusBar::messageChanged,
                     [&](const QString& text) { statuses << text; });
    form_->btnRead->click();
    EXPECT_EQ(statuses, (QStringList{QStringLiteral("受信できませんでした（115200）"),
                                     QStringLiteral("受信できませんでした（625000）"),
                                     QStringLiteral("受信できませんでした（1250000）")}));
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].kind, MessageKind::Warning);
    EXPECT_EQ(messages_[0].text,
              QStringLiteral("受信できませんでした。ZUB-3の接続状態を確認してください。"));
    EXPECT_EQ(form_->ComPort->BitRate(), 1250000);
    EXPECT_EQ(form_->cbxBaudRate->currentIndex(), -1);
    EXPECT_EQ(form_->CurrentID, 0);
}

TEST_F(EndToEnd, ReadAndWriteWithoutPortWarn)
{
    TMainForm form;
    form.btnRead->click();
    form.btnWrite->click();
    ASSERT_EQ(messages_.size(), 2u);
    for (const auto& m : messages_) {
        EXPECT_EQ(m.kind, MessageKind::Warning);
        EXPECT_EQ(m.text, QStringLiteral("ポートが接続されていません。"));
    }
}

TEST_F(EndToEnd, WriteGivesTheReceiverANewIdAndSpeed)
{
    start(0, 115200);
    // At start no line speed is chosen.
    form_->btnWrite->click();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].kind, MessageKind::Information);
    EXPECT_EQ(messages_[0].text, QStringLiteral("正しいボーレートが選択されていません。"));

    chooseSpeed("625000");
    form_->speID->SetValue(17);
    form_->btnWrite->click();
    EXPECT_EQ(form_->memSend->toPlainText(), "C0 00 00 01 01 01 ");
    EXPECT_EQ(form_->memRecv->toPlainText(), "C0 00 00 01 01 01 40 00 ");
    EXPECT_EQ(form_->StatusText(), QStringLiteral("コマンド送信成功"));
    EXPECT_EQ(form_->CurrentID, 17);
    EXPECT_EQ(form_->LineSpeedCode, 1);
    EXPECT_EQ(form_->ComPort->BitRate(), 115200);  // the port stays at its speed
    ASSERT_TRUE(WaitUntil([&] { return receiver_->ID() == 17 && receiver_->BitRate() == 625000; }));

    // At the new speed the receiver answers polls for its new ID.
    clickSwitch();
    ASSERT_TRUE(waitPolls(1));
    EXPECT_EQ(form_->memSend->toPlainText(), "B1 7F 00 07 ");
}

TEST_F(EndToEnd, WriteShowsTheFrameBeforeTheReply)
{
    start(0, 115200);
    Faults slow;
    slow.delay = std::chrono::milliseconds(300);
    receiver_->SetFaults(slow);
    chooseSpeed("115200");
    form_->speID->SetValue(3);
    QString shownWhileWaiting;
    QTimer::singleShot(100, [&] { shownWhileWaiting = form_->memSend->toPlainText(); });
    form_->btnWrite->click();
    EXPECT_EQ(shownWhileWaiting, "C0 00 00 0A 00 03 ");
}

TEST_F(EndToEnd, FailedWriteReplies)
{
    // The receiver takes a write whatever its reply, so these keep its ID and speed.
    start(0, 115200);
    chooseSpeed("115200");
    form_->speID->SetValue(1);
    form_->speID->SetValue(0);
    Faults f;
    f.badHeader = true;
    receiver_->SetFaults(f);
    form_->btnWrite->click();
    EXPECT_EQ(form_->StatusText(), QStringLiteral("コマンド送信失敗"));
    EXPECT_EQ(form_->CurrentID, 0);

    f = {};
    f.shortReply = 7;
    receiver_->SetFaults(f);
    form_->btnWrite->click();
    EXPECT_EQ(form_->StatusText(), QStringLiteral("コマンド送信失敗。接続状態を確認してください。"));
    // The part of the reply that did not come shows as zeros.
    EXPECT_EQ(form_->memRecv->toPlainText(), "C0 00 00 0A 00 00 40 00 ");
    EXPECT_EQ(form_->CurrentID, 0);
}

TEST_F(EndToEnd, WriteNeverSendsAnIdOutOfRange)
{
    start(0, 115200);
    // Typed, not yet brought into range by leaving the spin edit.
    form_->speID->selectAll();
    QTest::keyClicks(form_->speID, "40");
    EXPECT_EQ(form_->speID->Value(), 40);
    form_->btnWrite->click();  // the line speed is checked first
    chooseSpeed("115200");
    form_->btnWrite->click();
    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_EQ(messages_[0].text, QStringLiteral("正しいボーレートが選択されていません。"));
    EXPECT_EQ(messages_[1].kind, MessageKind::Information);
    EXPECT_EQ(messages_[1].text, QStringLiteral("IDが正しくありません。"));
    EXPECT_TRUE(form_->memSend->toPlainText().isEmpty());
    QTest::qWait(100);
    EXPECT_EQ(receiver_->GetCounters().writes, 0u);
    EXPECT_EQ(form_->CurrentID, 0);
}

TEST_F(EndToEnd, UnpluggedAdapterEndsPollingAndThePortStillCloses)
{
    start(0, 115200);
    chooseSpeed("115200");
    clickSwitch();
    ASSERT_TRUE(waitPolls(2));
    receiver_.reset();  // the far end goes away, as when the adapter is pulled out
    ASSERT_TRUE(WaitUntil([&] { return form_->RecvErrorCount >= 10; }));
    EXPECT_EQ(form_->StatusText(), QStringLiteral("接続状態を見直して下さい"));
    EXPECT_FALSE(form_->Timer->isActive());
    EXPECT_EQ(form_->ComPort->ReadByte(), -1);
    form_->show();
    EXPECT_TRUE(form_->close());
    EXPECT_EQ(form_->ComPort->Handle(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(messages_.empty());
}

TEST_F(EndToEnd, SwitchGoesOffAfterAnUnplugThoughThePortRefusesTheSpeed)
{
    start(0, 115200);
    chooseSpeed("115200");
    clickSwitch();
    ASSERT_TRUE(waitPolls(1));
    const QString device = QString::fromStdString(receiver_->SlavePath());
    receiver_.reset();  // the adapter is pulled out
    ASSERT_TRUE(WaitUntil([&] { return form_->RecvErrorCount >= 10; }));

    // The vanished device refuses the speed: reported as ever, with the reason, and the
    // switch goes off.
    clickSwitch();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].kind, MessageKind::Error);
    EXPECT_TRUE(messages_[0].text.startsWith(QStringLiteral("通信速度の設定でエラーが発生しました\n") +
                                             device + QStringLiteral(" はもう存在しません")))
        << messages_[0].text.toStdString();
    EXPECT_FALSE(form_->Monitoring);
    EXPECT_FALSE(form_->Timer->isActive());
    EXPECT_EQ(form_->shpLED->BrushColor(), clWhite);
    EXPECT_EQ(form_->shpPower->x(), 205);
    EXPECT_TRUE(form_->btnRead->isEnabled());
    EXPECT_TRUE(form_->btnWrite->isEnabled());
    EXPECT_TRUE(form_->speID->isEnabled());
    EXPECT_TRUE(form_->cbxBaudRate->isEnabled());
    EXPECT_EQ(form_->StatusText(), QStringLiteral("データ受信停止"));

    // Switching on still stops at the refusal.
    clickSwitch();
    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_EQ(messages_[1].kind, MessageKind::Error);
    EXPECT_FALSE(form_->Monitoring);
    EXPECT_FALSE(form_->Timer->isActive());
    EXPECT_EQ(form_->shpLED->BrushColor(), clWhite);
}

TEST_F(EndToEnd, WindowClosedDuringAFailingReadEndsWithoutItsReports)
{
    start(0, 115200);
    Faults silent;
    silent.noReply = true;
    silent.anySpeed = true;  // so that it counts every speed tried
    receiver_->SetFaults(silent);
    form_->show();
    QStringList statuses;
    QObject::connect(form_->StatusBar, &QStatusBar::messageChanged,
                     [&](const QString& text) { statuses << text; });
    QElapsedTimer sinceClose;
    QTimer::singleShot(100, [&] {
        sinceClose.start();
        form_->close();
    });
    form_->btnRead->click();
    ASSERT_TRUE(WaitUntil([&] { return form_->isHidden(); }));
    // The try under way runs out (500 ms), then the drain (at most 2 s) and the closing.
    EXPECT_LT(sinceClose.elapsed(), 3500);
    EXPECT_EQ(form_->ComPort->Handle(), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(messages_.empty());
    EXPECT_TRUE(statuses.isEmpty()) << statuses.join('|').toStdString();
    EXPECT_EQ(receiver_->GetCounters().idQueries, 1u);  // no further speed was tried
}

TEST_F(EndToEnd, SwitchedOffAndOnWithinOnePollGoesOnPollingFromZero)
{
    start(0, 115200);
    shortenReplyTimeOut();
    chooseSpeed("115200");
    clickSwitch();
    Faults silent;
    silent.noReply = true;
    receiver_->SetFaults(silent);
    ASSERT_TRUE(WaitUntil([&] { return form_->RecvErrorCount >= 1 && !form_->ExchangeRunning(); }));
    ASSERT_TRUE(duringExchange([&] {
        clickSwitch();
        clickSwitch();
    }));
    receiver_->SetFaults({});
    ASSERT_TRUE(WaitUntil([&] { return form_->RecvErrorCount == 0; }));
    EXPECT_TRUE(form_->Monitoring);
    EXPECT_TRUE(waitPolls(2));
    EXPECT_EQ(form_->RecvErrorCount, 0);
}

TEST_F(EndToEnd, ReadClickedDuringAWriteStartsNothing)
{
    start(0, 115200);
    Faults slow;
    slow.delay = std::chrono::milliseconds(300);
    receiver_->SetFaults(slow);
    chooseSpeed("115200");
    QTimer::singleShot(100, [&] { form_->btnRead->click(); });
    form_->btnWrite->click();
    EXPECT_EQ(form_->StatusText(), QStringLiteral("コマンド送信成功"));
    QTest::qWait(100);
    EXPECT_EQ(receiver_->GetCounters().idQueries, 0u);
    EXPECT_EQ(form_->ComPort->BitRate(), 115200);
}

TEST_F(EndToEnd, PortClosedDuringAPollFailsThatPollOnly)
{
    start(0, 115200);
    Faults slow;
    slow.delay = std::chrono::milliseconds(300);
    receiver_->SetFaults(slow);
    chooseSpeed("115200");
    clickSwitch();
    ASSERT_TRUE(duringExchange([&] {
        form_->cbxPort->setCurrentIndex(0);  // "OFF"
        emit form_->cbxPort->activated(0);
    }));
    ASSERT_TRUE(WaitUntil([&] { return !messages_.empty(); }));
    EXPECT_EQ(form_->RecvErrorCount, 1);
    EXPECT_EQ(messages_[0].text, QStringLiteral("ポートが接続されていません。"));
    EXPECT_EQ(form_->ComPort->Handle(), INVALID_HANDLE_VALUE);
}
