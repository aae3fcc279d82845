// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ButtonLog.h"

#include "app/SaveDialog.h"
#include "app/ZUB3Check.h"
#include "core/Records.h"
#include "toolkit/Dialogs.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

namespace {

// Enough for an hour of busy pressing; the oldest go first.
constexpr std::size_t kMaxEntries = 20000;

// A button by the symbol drawn on it; a diagonal by the two directions it joins ("↑←").
QString indicatorName(std::uint32_t mask)
{
    QString name;
    for (const auto& b : zub3::kButtons)
        if (mask & b.bit)
            name += QString::fromUtf8(b.symbol.data(), static_cast<qsizetype>(b.symbol.size()));
    return name;
}

}  // namespace

ButtonLog::ButtonLog(TMainForm& form) : QWidget(&form, Qt::Window)
{
    setWindowTitle(tr("ボタンの記録"));
    for (const TIndicatorEntry& e : form.ButtonIndicators)
        indicators_.push_back({e.Mask, indicatorName(e.Mask)});
    for (const TIndicatorEntry& e : form.DiagonalIndicators)
        indicators_.push_back({e.Mask, indicatorName(e.Mask)});

    list_ = new QListWidget(this);
    list_->setUniformItemSizes(true);
    auto* clear = new QPushButton(tr("クリア"), this);
    auto* save = new QPushButton(tr("保存..."), this);
    connect(clear, &QPushButton::clicked, this, &ButtonLog::Clear);
    connect(save, &QPushButton::clicked, this, &ButtonLog::save);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(clear);
    buttons->addWidget(save);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    layout->addLayout(buttons);
    resize(280, 360);
}

void ButtonLog::Add(const zub3::PollResult& poll)
{
    if (!poll.data)
        return;
    const std::uint16_t now = poll.data->buttons;
    // The first answer only sets where things stand: a button already down was pressed
    // at a time nobody saw.
    const std::uint16_t before = buttons_.value_or(now);
    buttons_ = now;
    if (now == before)
        return;
    for (std::size_t i = 0; i < indicators_.size(); ++i) {
        const std::uint32_t mask = indicators_[i].mask;
        const bool was = (before & mask) == mask, is = (now & mask) == mask;
        if (was == is)
            continue;
        entries_.push_back({poll.sentWallMs, is, static_cast<int>(i)});
        list_->addItem(line(entries_.back()));
    }
    while (entries_.size() > kMaxEntries) {
        entries_.pop_front();
        delete list_->takeItem(0);
    }
    list_->scrollToBottom();
}

void ButtonLog::Clear()
{
    entries_.clear();
    list_->clear();
}

QString ButtonLog::line(const Entry& e) const
{
    return QStringLiteral("%1  %2  %3")
        .arg(QDateTime::fromMSecsSinceEpoch(e.wallMs).toString(QStringLiteral("HH:mm:ss.zzz")),
             e.pressed ? tr("押した") : tr("離した"), indicators_[e.indicator].name);
}

QStringList ButtonLog::Lines() const
{
    QStringList lines;
    for (const Entry& e : entries_)
        lines << line(e);
    return lines;
}

bool ButtonLog::Save(const QString& file) const
{
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    // Times as the recordings carry them, in UTC: a spreadsheet reads them as times.
    QByteArray text = "time,event,indicator\n";
    for (const Entry& e : entries_)
        text += QByteArray::fromStdString(zub3::WallClock(e.wallMs)) +
                (e.pressed ? ",press," : ",release,") + indicators_[e.indicator].name.toUtf8() +
                '\n';
    out.write(text);
    return out.commit();
}

void ButtonLog::save()
{
    const QString file = AskSaveFile(this, tr("ボタンの記録の保存先"), QStringLiteral("zub3-buttons"),
                                     QStringLiteral("csv"), tr("CSV ファイル (*.csv)"));
    if (!file.isEmpty() && !Save(file))
        ShowWarning(tr("%1 に書き込めません。").arg(file));
}
