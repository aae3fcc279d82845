// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CheckWindow.h"

#include "Version.h"
#include "app/SaveDialog.h"
#include "app/WindowSettings.h"
#include "app/ZUB3Check.h"
#include "serial/CommX.h"
#include "toolkit/Dialogs.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QTextBrowser>
#include <QVBoxLayout>

using zub3::CheckReason;

namespace {

constexpr std::chrono::milliseconds kRefreshEvery{100};
const QString kSeenStyle = QStringLiteral("background:#c8f0c8;border:1px solid #6a6;padding:2px");
const QString kWaitingStyle = QStringLiteral("background:#eee;border:1px solid #bbb;padding:2px");

// An indicator as the drawing of the controller labels it: "↑", a diagonal "↑←".
QString symbol(int indicator)
{
    QString out;
    for (const zub3::ButtonName& b : zub3::kButtons)
        if (zub3::IndicatorMask(indicator) & b.bit)
            out += QString::fromUtf8(b.symbol.data(), static_cast<qsizetype>(b.symbol.size()));
    return out;
}

void tick(QLabel* label, const QString& text, bool done)
{
    const QString shown = done ? QStringLiteral("✓ ") + text : text;
    if (label->text() == shown)
        return;
    label->setText(shown);
    label->setStyleSheet(done ? kSeenStyle : kWaitingStyle);
}

}  // namespace

CheckWindow::CheckWindow(TMainForm& form, QString settingsFile)
    : QWidget(&form, Qt::Window),
      form_(form),
      settingsFile_(std::move(settingsFile)),
      check_(LoadCheckLimits(settingsFile_))
{
    setWindowTitle(tr("ZUB-3 Manager コントローラー検査"));
    auto* ask = new QLabel(tr("すべてのボタンと斜めを押し、各チャンネル（スティック）を両端まで"
                              "動かしてから、手を離してください。見えたものから印が付きます。"),
                           this);
    ask->setWordWrap(true);

    auto* buttons = new QGroupBox(tr("ボタンと斜め"), this);
    auto* buttonGrid = new QGridLayout(buttons);
    for (int i = 0; i < zub3::kIndicatorCount; ++i) {
        auto* label = new QLabel(this);
        label->setAlignment(Qt::AlignCenter);
        label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QStringLiteral("✓ ○△")) + 8);
        ticks_[static_cast<std::size_t>(i)] = label;
        buttonGrid->addWidget(label, i / 6, i % 6);
    }

    auto* channels = new QGroupBox(tr("チャンネル"), this);
    auto* channelGrid = new QGridLayout(channels);
    const QString headers[] = {tr("現在"), tr("下端"), tr("上端")};
    for (int col = 0; col < 3; ++col)
        channelGrid->addWidget(new QLabel(headers[col], this), 0, col + 1, Qt::AlignCenter);
    for (int c = 0; c < 4; ++c) {
        channelGrid->addWidget(new QLabel(QStringLiteral("PA%1").arg(c + 1), this), c + 1, 0);
        for (int col = 0; col < 3; ++col) {
            auto* cell = new QLabel(this);
            cell->setAlignment(Qt::AlignCenter);
            cell->setMinimumWidth(cell->fontMetrics().horizontalAdvance(QStringLiteral("✓ 127")) + 8);
            channels_[static_cast<std::size_t>(c)][static_cast<std::size_t>(col)] = cell;
            channelGrid->addWidget(cell, c + 1, col + 1);
        }
    }
    state_ = new QLabel(this);

    auto* limits = new QGroupBox(tr("許容差"), this);
    auto* limitForm = new QFormLayout(limits);
    endTolerance_ = new QSpinBox(this);
    endTolerance_->setRange(0, 63);
    centreTolerance_ = new QSpinBox(this);
    centreTolerance_->setRange(0, 63);
    noiseSd_ = new QDoubleSpinBox(this);
    noiseSd_->setRange(0, 64);
    noiseSd_->setDecimals(2);
    noiseSd_->setSingleStep(0.1);
    noisePeakToPeak_ = new QSpinBox(this);
    noisePeakToPeak_->setRange(0, 16);
    limitForm->addRow(tr("両端（0 と 127 から）"), endTolerance_);
    limitForm->addRow(tr("中立（63.5 から）"), centreTolerance_);
    limitForm->addRow(tr("静止時のノイズ: 標準偏差"), noiseSd_);
    limitForm->addRow(tr("静止時のノイズ: 幅（最大 − 最小）"), noisePeakToPeak_);
    for (QSpinBox* box : {endTolerance_, centreTolerance_, noisePeakToPeak_})
        connect(box, &QSpinBox::valueChanged, this, &CheckWindow::limitsChanged);
    connect(noiseSd_, &QDoubleSpinBox::valueChanged, this, &CheckWindow::limitsChanged);

    verdict_ = new QLabel(this);
    QFont big = verdict_->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    verdict_->setFont(big);
    reportView_ = new QTextBrowser(this);
    reportView_->setMinimumHeight(160);

    auto* restart = new QPushButton(tr("やり直し"), this);
    restart->setToolTip(tr("見えたものを消去して、もう一度検査します"));
    connect(restart, &QPushButton::clicked, this, &CheckWindow::Restart);
    finish_ = new QPushButton(tr("判定"), this);
    finish_->setToolTip(tr("ここまでに見えたもので合否を判定します"));
    connect(finish_, &QPushButton::clicked, this, &CheckWindow::Finish);
    saveHtml_ = new QPushButton(tr("HTML で保存"), this);
    connect(saveHtml_, &QPushButton::clicked, this, [this] { save(Format::Html); });
    saveJson_ = new QPushButton(tr("JSON で保存"), this);
    connect(saveJson_, &QPushButton::clicked, this, [this] { save(Format::Json); });
    auto* actions = new QHBoxLayout;
    for (QPushButton* b : {restart, finish_, saveHtml_, saveJson_})
        actions->addWidget(b);
    actions->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ask);
    layout->addWidget(buttons);
    layout->addWidget(channels);
    layout->addWidget(state_);
    layout->addWidget(limits);
    layout->addWidget(verdict_);
    layout->addWidget(reportView_, 1);
    layout->addLayout(actions);

    // Room for the report beside what is asked, without scrolling its first screen.
    resize(720, 860);
    refresh_.setInterval(kRefreshEvery);
    connect(&refresh_, &QTimer::timeout, this, &CheckWindow::refresh);
    SetLimits(check_.Limits());
    Restart();
}

void CheckWindow::Add(const zub3::PollResult& poll)
{
    // A check is what happens while it is asked for, not what the polls saw before.
    if (Finished() || !isVisible())
        return;
    check_.Add(poll);
    if (poll.data)
        for (std::size_t c = 0; c < now_.size(); ++c)
            now_[c] = poll.data->channels[c];
    if (check_.Complete())
        Finish();
}

void CheckWindow::Restart()
{
    check_ = zub3::ControllerCheck(check_.Limits());
    report_.reset();
    judgedOn_.reset();
    now_ = {};
    verdict_->clear();
    reportView_->clear();
    refresh();
}

void CheckWindow::Finish()
{
    report_ = check_.Report();
    judgedOn_ = context();
    reportView_->setHtml(QString::fromStdString(
        zub3::CheckReportHtml(*report_, *judgedOn_, pageTexts(*report_))));
    refresh();
}

QString CheckWindow::VerdictText() const
{
    return verdict_->text();
}

QString CheckWindow::ReportText() const
{
    return reportView_->toPlainText();
}

void CheckWindow::SetLimits(const zub3::CheckLimits& limits)
{
    const QSignalBlocker blockers[] = {QSignalBlocker(endTolerance_),
                                       QSignalBlocker(centreTolerance_), QSignalBlocker(noiseSd_),
                                       QSignalBlocker(noisePeakToPeak_)};
    endTolerance_->setValue(limits.endTolerance);
    centreTolerance_->setValue(limits.centreTolerance);
    noiseSd_->setValue(limits.noiseSd);
    noisePeakToPeak_->setValue(limits.noisePeakToPeak);
    limitsChanged();
}

void CheckWindow::limitsChanged()
{
    const zub3::CheckLimits limits{endTolerance_->value(), centreTolerance_->value(),
                                   noiseSd_->value(), noisePeakToPeak_->value()};
    if (limits == check_.Limits())
        return;
    check_.SetLimits(limits);
    if (!StoreCheckLimits(settingsFile_, limits) && !storeFailed_) {
        storeFailed_ = true;  // said once, not at every step of a spin box
        ShowWarning(tr("許容差を %1 に保存できません。この実行の間だけ使います。").arg(settingsFile_));
    }
    // A verdict already given is given again under the new limits, on what was seen.
    if (Finished()) {
        report_ = check_.Report();
        reportView_->setHtml(QString::fromStdString(
            zub3::CheckReportHtml(*report_, *judgedOn_, pageTexts(*report_))));
    }
    refresh();
}

void CheckWindow::refresh()
{
    for (int i = 0; i < zub3::kIndicatorCount; ++i)
        tick(ticks_[static_cast<std::size_t>(i)], symbol(i), check_.Seen(i));
    const bool polled = check_.Polls() > 0;
    for (int c = 0; c < 4; ++c) {
        auto& row = channels_[static_cast<std::size_t>(c)];
        row[0]->setText(polled ? QString::number(now_[static_cast<std::size_t>(c)])
                               : QStringLiteral("-"));
        tick(row[1], QStringLiteral("0"), check_.LowReached(c));
        tick(row[2], QStringLiteral("127"), check_.HighReached(c));
    }
    if (Finished())
        state_->setText(tr("判定しました。やり直すと、もう一度検査します。"));
    else if (!polled)
        state_->setText(tr("スイッチを入れると検査が始まります。"));
    else if (check_.Resting())
        state_->setText(tr("静止しています。残りを操作してください。"));
    else
        state_->setText(tr("検査中: ポーリング %1 回").arg(check_.Polls()));
    if (report_) {
        verdict_->setText(report_->pass ? tr("合格 (PASS)") : tr("不合格 (FAIL)"));
        verdict_->setStyleSheet(report_->pass ? QStringLiteral("color:#070")
                                              : QStringLiteral("color:#b00"));
    }
    finish_->setEnabled(!Finished());
    saveHtml_->setEnabled(Finished());
    saveJson_->setEnabled(Finished());
}

zub3::CheckContext CheckWindow::context() const
{
    zub3::CheckContext c{"ZUB3Manager", zub3::kVersion, {}, form_.CurrentID, 0};
    if (form_.ComPort->Handle() != INVALID_HANDLE_VALUE)
        c.port = "COM" + std::to_string(form_.ComPort->PortNo());
    if (const auto speed = zub3::LineSpeedByIndex(form_.cbxBaudRate->currentIndex()))
        c.bitRate = speed->bitRate;
    return c;
}

QString CheckWindow::reasonText(const CheckReason& r) const
{
    using K = CheckReason::Kind;
    // Buttons and diagonals by the symbols the window draws them with.
    QString s = QString::fromStdString(r.subject);
    for (int i = 0; i < zub3::kIndicatorCount; ++i)
        if (zub3::IndicatorName(i) == r.subject)
            s = symbol(i);
    const QString value = QString::number(r.value, 'f', r.kind == K::NoisySd ? 2 : r.kind == K::OffCentre ? 1 : 0);
    const QString limit = QString::number(r.limit, 'f', r.kind == K::NoisySd ? 2 : 0);
    switch (r.kind) {
    case K::NoAnswer: return tr("受信機が一度も応答しませんでした");
    case K::NotSeen: return tr("%1 が一度も押されませんでした").arg(s);
    case K::HeldAtEnd: return tr("%1 が手を離した後も押されたままです").arg(s);
    case K::LowEnd: return tr("%1 は %2 までしか下がりません（0 から %3 以内）").arg(s, value, limit);
    case K::HighEnd: return tr("%1 は %2 までしか上がりません（127 から %3 以内）").arg(s, value, limit);
    case K::AboveRange: return tr("%1 が 127 を超えました（%2）").arg(s, value);
    case K::NotSettled:
        return r.value < 0 ? tr("%1 が静止しませんでした（最後の静止が 1 秒に足りません）").arg(s)
                           : tr("%1 が静止しませんでした（最後の 1 秒に %2 動きました）").arg(s, value);
    case K::OffCentre: return tr("%1 の中立は %2 で、63.5 から %3 以内にありません").arg(s, value, limit);
    case K::NoisySd: return tr("%1 の静止時のノイズ: 標準偏差 %2（上限 %3）").arg(s, value, limit);
    case K::NoisyPeakToPeak: return tr("%1 の静止時のノイズ: 幅 %2（上限 %3）").arg(s, value, limit);
    }
    return {};
}

zub3::CheckPageTexts CheckWindow::pageTexts(const zub3::CheckReport& report) const
{
    const auto t = [](const QString& text) { return text.toStdString(); };
    zub3::CheckPageTexts p;
    p.title = t(tr("ZUB-3 コントローラー検査"));
    p.verdictPass = t(tr("合格 (PASS)"));
    p.verdictFail = t(tr("不合格 (FAIL)"));
    p.reasonsHeading = t(tr("理由"));
    for (const CheckReason& r : report.reasons)
        p.reasons.push_back(t(reasonText(r)));
    p.tool = t(tr("ツール"));
    p.port = t(tr("ポート"));
    p.receiver = t(tr("受信機"));
    p.started = t(tr("開始日時"));
    p.duration = t(tr("時間"));
    p.limits = t(tr("許容差（両端 / 中立 / 標準偏差 / 幅）"));
    p.indicators = t(tr("ボタンと斜め"));
    p.indicator = t(tr("ボタン"));
    p.seen = t(tr("確認"));
    p.notSeen = t(tr("未確認"));
    p.presses = t(tr("押した回数"));
    p.onePoll = t(tr("1 回のポーリングだけの押下"));
    p.channels = t(tr("チャンネル"));
    p.channel = t(tr("チャンネル"));
    p.lowest = t(tr("最小"));
    p.highest = t(tr("最大"));
    p.rest = t(tr("中立"));
    p.sd = t(tr("標準偏差"));
    p.peakToPeak = t(tr("幅"));
    p.notSettled = t(tr("静止せず"));
    p.link = t(tr("通信"));
    p.polls = t(tr("ポーリング"));
    p.accepted = t(tr("受信"));
    p.missed = t(tr("応答なし"));
    p.shortReply = t(tr("短い応答"));
    p.badHeader = t(tr("ヘッダ不一致"));
    p.badChecksum = t(tr("チェックサム不一致"));
    p.plots = t(tr("チャンネルの推移"));
    return p;
}

bool CheckWindow::SaveReport(const QString& file, Format format)
{
    if (!report_)
        return false;
    const std::string text = format == Format::Html
                                 ? zub3::CheckReportHtml(*report_, *judgedOn_, pageTexts(*report_))
                                 : zub3::CheckReportJson(*report_, *judgedOn_);
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !out.commit()) {
        ShowWarning(tr("検査の結果を %1 に保存できません: %2").arg(file, out.errorString()));
        return false;
    }
    return true;
}

void CheckWindow::save(Format format)
{
    const bool html = format == Format::Html;
    const QString file =
        AskSaveFile(this, tr("検査の結果の保存先"), QStringLiteral("zub3-check"),
                    html ? QStringLiteral("html") : QStringLiteral("json"),
                    html ? tr("HTML ファイル (*.html)") : tr("JSON ファイル (*.json)"));
    if (!file.isEmpty())
        SaveReport(file, format);
}

void CheckWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // Opened again, it checks afresh; a verdict stays to be read and saved.
    if (!Finished())
        Restart();
    refresh();
    refresh_.start();
}

void CheckWindow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    refresh_.stop();
}
