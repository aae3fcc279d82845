// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/WindowExtras.h"

#include "Version.h"
#include "app/ButtonLog.h"
#include "app/ChartWindow.h"
#include "app/CheckWindow.h"
#include "app/Recording.h"
#include "app/SaveDialog.h"
#include "app/StickView.h"
#include "app/Translation.h"
#include "app/WindowSettings.h"
#include "app/ZUB3Check.h"
#include "platform/SerialRegistry.h"
#include "serial/CommX.h"
#include "toolkit/Dialogs.h"

#include <QAction>
#include <QEvent>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>

#include <stdexcept>
#include <utility>

WindowExtras::WindowExtras(TMainForm& form, QString settingsFile)
    : QObject(&form),
      form_(form),
      caption_(form.windowTitle()),
      settingsFile_(std::move(settingsFile)),
      chart_(new ChartWindow(&form)),
      sticks_(new StickView(&form)),
      check_(new CheckWindow(form, settingsFile_)),
      buttonLog_(new ::ButtonLog(form))
{
    connect(&form_, &TMainForm::Polled, this, [this](const zub3::PollResult& poll) {
        if (recording_)
            recording_->Add(poll);
        chart_->Add(poll);
        sticks_->Add(poll);
        check_->Add(poll);
        buttonLog_->Add(poll);
    });
    connect(&form_, &TMainForm::MonitoringStarted, sticks_, &StickView::RestartLink);
    connect(&form_, &TMainForm::MonitoringStarted, chart_, [this] {
        chart_->SetSource(QStringLiteral("COM%1  ID %2  %3 bit/s")
                              .arg(form_.ComPort->PortNo())
                              .arg(form_.CurrentID)
                              .arg(form_.ComPort->BitRate()));
    });

    // The context menu and the keys: one list, in the menu's order.
    struct Entry {
        QString text;
        QKeySequence key;
        void (WindowExtras::*run)();
    };
    const Entry entries[] = {
        {tr("記録を開始"), QKeySequence(Qt::CTRL | Qt::Key_R), &WindowExtras::toggleRecording},
        {tr("グラフ"), QKeySequence(Qt::CTRL | Qt::Key_G), &WindowExtras::showChart},
        {tr("スティックと通信品質"), QKeySequence(Qt::CTRL | Qt::Key_K), &WindowExtras::showSticks},
        {tr("ボタンの記録"), QKeySequence(Qt::CTRL | Qt::Key_B), &WindowExtras::showButtonLog},
        {tr("コントローラー検査"), QKeySequence(Qt::CTRL | Qt::Key_T), &WindowExtras::showCheck},
        {tr("ヘルプ"), QKeySequence(Qt::Key_F1), &WindowExtras::showHelp},
        // The language the next start will not use, by its own name, so that whoever needs
        // it can read it.
        {LanguageName(otherLanguage(nextLanguage())), {}, &WindowExtras::switchLanguage},
        {tr("バージョン情報"), {}, &WindowExtras::showVersion},
        {tr("終了"), QKeySequence(Qt::CTRL | Qt::Key_Q), nullptr},
    };
    for (const Entry& e : entries) {
        auto* action = new QAction(e.text, &form_);
        action->setShortcut(e.key);
        if (e.run)
            connect(action, &QAction::triggered, this, [this, run = e.run] { (this->*run)(); });
        else  // as the close button does
            connect(action, &QAction::triggered, &form_, &QWidget::close);
        form_.addAction(action);
        // The keys work in the other windows too.
        chart_->addAction(action);
        sticks_->addAction(action);
        check_->addAction(action);
        buttonLog_->addAction(action);
        if (!recordAction_)
            recordAction_ = action;
        if (e.run == &WindowExtras::switchLanguage)
            languageAction_ = action;
    }
    form_.setContextMenuPolicy(Qt::ActionsContextMenu);
    form_.installEventFilter(this);
}

WindowExtras::~WindowExtras() = default;

bool WindowExtras::eventFilter(QObject* watched, QEvent* event)
{
    // The chart goes with the window it belongs to, so that closing the window ends the
    // program; a minimised window's hide comes from the window system and leaves it.
    if (watched == &form_ && event->type() == QEvent::Hide && !event->spontaneous()) {
        chart_->close();
        sticks_->close();
        check_->close();
        buttonLog_->close();
    }
    return false;
}

void WindowExtras::StartRecording(const QString& file, bool overwrite)
{
    auto recording = std::make_unique<::Recording>(file, overwrite);
    // Queued: the poll that failed to be written ends first, and the box does not open
    // inside it.
    connect(recording.get(), &Recording::Failed, this,
            [this, file](const QString& reason) { recordingFailed(file, reason); },
            Qt::QueuedConnection);
    recording_ = std::move(recording);
    updateTitle();
}

QString WindowExtras::StopRecording()
{
    const QString summary = recording_ ? recording_->Summary() : QString();
    recording_.reset();
    updateTitle();
    return summary;
}

void WindowExtras::toggleRecording()
{
    if (recording_) {
        ShowInformation(StopRecording());
        return;
    }
    const QString file = AskSaveFile(&form_, tr("記録の保存先"), QStringLiteral("zub3"),
                                     QStringLiteral("csv"), tr("CSV ファイル (*.csv)"));
    if (file.isEmpty())
        return;
    try {
        StartRecording(file, true);  // the dialog has asked before a file is replaced
    } catch (const std::exception& e) {
        ShowWarning(tr("記録を開始できませんでした。%1").arg(QString::fromUtf8(e.what())));
    }
}

void WindowExtras::recordingFailed(const QString& file, const QString& reason)
{
    if (!recording_ || recording_->File() != file)
        return;
    StopRecording();
    ShowWarning(tr("記録を停止しました。%1 に書き込めません: %2").arg(file, reason));
}

void WindowExtras::updateTitle()
{
    form_.setWindowTitle(recording_ ? tr("%1  [記録中: %2]")
                                          .arg(caption_, QFileInfo(recording_->File()).fileName())
                                    : caption_);
    recordAction_->setText(recording_ ? tr("記録を停止") : tr("記録を開始"));
}

void WindowExtras::showChart()
{
    bringUp(*chart_);
}

void WindowExtras::showSticks()
{
    bringUp(*sticks_);
}

void WindowExtras::bringUp(QWidget& window)
{
    window.show();
    window.raise();
    window.activateWindow();
}

void WindowExtras::showCheck()
{
    bringUp(*check_);
}

void WindowExtras::showButtonLog()
{
    bringUp(*buttonLog_);
}

QString WindowExtras::HelpText()
{
    return tr("<h3>ZUB-3 Manager</h3>"
              "<p><b>はじめに</b></p>"
              "<ol>"
              "<li>「ポート」で ZUB-3 をつないだポートを選びます。</li>"
              "<li>読込ボタン（虫めがね）で ZUB-3 の ID とボーレートを読み込みます。</li>"
              "<li>スイッチを ON にすると、読込間隔ごとに ZPT の状態を受信します。"
              "もう一度押すと止まります。</li>"
              "</ol>"
              "<p><b>表示</b></p>"
              "<ul>"
              "<li>ZPT の図: 押されているボタンに色が付きます。丸は十字の斜め"
              "（隣り合う二つを同時に押したとき）です。</li>"
              "<li>四本のバー: アナログチャンネル PA1〜PA4 の値（0〜127）。</li>"
              "<li>Send / Recv: 最後に送った・受け取ったバイト列（16 進）。</li>"
              "<li>下の行: 操作の結果と、受信できなかった回数。</li>"
              "</ul>"
              "<p>右クリックで次の操作のメニューが開きます。</p>"
              "<table>"
              "<tr><td>Ctrl+R</td><td>記録の開始・停止</td></tr>"
              "<tr><td>Ctrl+G</td><td>グラフ（チャンネルとボタンの推移）を開く</td></tr>"
              "<tr><td>Ctrl+K</td><td>スティックの可動範囲・中立と通信品質</td></tr>"
              "<tr><td>Ctrl+B</td><td>ボタンを押した・離した時刻の一覧を開く</td></tr>"
              "<tr><td>Ctrl+T</td><td>コントローラー検査（全ボタン・両端・静止の合否判定）</td></tr>"
              "<tr><td>F1</td><td>このヘルプ</td></tr>"
              "<tr><td>Ctrl+Q</td><td>終了</td></tr>"
              "</table>"
              "<p><b>設定</b>（ポート、ボーレート、読込間隔、ID）は閉じるときに %1 に保存され、"
              "次の起動で使われます。使わずに起動するには <code>ZUB3Manager --fresh</code>。</p>"
              "<p><b>記録</b>は zub3ctl monitor --format csv と同じ CSV で、既定では %2 に"
              "保存されます。zub3sim --replay で再生できます。</p>"
              "<p><b>ネットワーク上のポート</b>（RFC 2217、例えば ser2net）は "
              "%3 に <code>COM60 rfc2217://ホスト:ポート</code> "
              "の行を書くと、ポート一覧に COM60 として現れます。</p>")
            .arg(DefaultSettingsFile().toHtmlEscaped(),
                 QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                     .toHtmlEscaped(),
                 QString::fromStdString(platform::registry::CurrentLocation().portsFile.string())
                     .toHtmlEscaped());
}

void WindowExtras::showHelp()
{
    QMessageBox box(QMessageBox::NoIcon, tr("ヘルプ"), HelpText(), QMessageBox::Ok, &form_);
    box.setTextFormat(Qt::RichText);
    box.exec();
}

void WindowExtras::showVersion()
{
    QMessageBox::about(&form_, tr("バージョン情報"),
                       tr("ZUB-3 Manager %1\nライセンス: GPL-3.0-or-later\nQt %2")
                           .arg(QString::fromLatin1(zub3::kVersion), QString::fromLatin1(qVersion())));
}

QString WindowExtras::nextLanguage() const
{
    const QString stored = StoredLanguage(settingsFile_);
    return stored.isEmpty() ? CurrentLanguage() : stored;
}

QString WindowExtras::otherLanguage(const QString& language)
{
    return language == QStringLiteral("en") ? QStringLiteral("ja") : QStringLiteral("en");
}

void WindowExtras::switchLanguage()
{
    // The window's texts are set as it is built: the choice takes effect at the next start,
    // and the entry then offers the way back.
    const QString chosen = otherLanguage(nextLanguage());
    if (!StoreLanguage(settingsFile_, chosen)) {
        ShowWarning(tr("設定ファイル %1 を読めないので、言語の選択を保存できません。").arg(settingsFile_));
        return;
    }
    languageAction_->setText(LanguageName(otherLanguage(chosen)));
    ShowInformation(tr("次の起動から%1で表示します").arg(LanguageName(chosen)));
}
