// SPDX-License-Identifier: GPL-3.0-or-later
#include "toolkit/SpinEdit.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>

#include <algorithm>

namespace {

// Focus that leaves or comes back with the window's activation (another window, a message
// box of the window's own), not a move to another control.
bool windowActivation(const QFocusEvent* event)
{
    return event->reason() == Qt::ActiveWindowFocusReason ||
           event->reason() == Qt::PopupFocusReason;
}

}  // namespace

TSpinEdit::TSpinEdit(QWidget* parent) : QSpinBox(parent)
{
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    // Typing reaches the line edit's signal; the spin box changes its text with that
    // signal blocked and reports through its own.
    connect(lineEdit(), &QLineEdit::textChanged, this, &TSpinEdit::textMayHaveChanged);
    connect(this, &QSpinBox::textChanged, this, &TSpinEdit::textMayHaveChanged);
    lastText_ = lineEdit()->text();
}

void TSpinEdit::textMayHaveChanged()
{
    if (lineEdit()->text() == lastText_)
        return;
    lastText_ = lineEdit()->text();
    emit Change();
}

int TSpinEdit::Value() const
{
    bool ok = false;
    const int v = lineEdit()->text().trimmed().toInt(&ok);
    return ok ? v : 0;
}

void TSpinEdit::SetValue(int value)
{
    setValue(value);
}

QValidator::State TSpinEdit::validate(QString& input, int&) const
{
    // Any number may stand while the user types; it is brought into range on leaving.
    const QString t = input.trimmed();
    if (t.isEmpty() || t == QLatin1String("-"))
        return QValidator::Intermediate;
    bool ok = false;
    const int v = t.toInt(&ok);
    if (!ok)
        return QValidator::Invalid;
    return v >= minimum() && v <= maximum() ? QValidator::Acceptable : QValidator::Intermediate;
}

void TSpinEdit::fixup(QString& input) const
{
    bool ok = false;
    const int v = input.trimmed().toInt(&ok);
    input = QString::number(ok ? std::clamp(v, minimum(), maximum()) : minimum());
}

QAbstractSpinBox::StepEnabled TSpinEdit::stepEnabled() const
{
    // The text as it stands decides, not the last value Qt accepted: an arrow on a number
    // out of range brings it into range.
    StepEnabled steps = StepNone;
    if (Value() != maximum())
        steps |= StepUpEnabled;
    if (Value() != minimum())
        steps |= StepDownEnabled;
    return steps;
}

void TSpinEdit::keyPressEvent(QKeyEvent* event)
{
    // Qt's spin box reads and corrects the text on Enter; here Enter leaves it alone.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        QWidget::keyPressEvent(event);
        return;
    }
    QSpinBox::keyPressEvent(event);
}

// Qt's spin box corrects the text when the focus leaves, and rewrites it from its value when
// the focus comes back; with the window's activation neither may happen.
void TSpinEdit::focusInEvent(QFocusEvent* event)
{
    if (windowActivation(event)) {
        QWidget::focusInEvent(event);
        return;
    }
    QSpinBox::focusInEvent(event);
}

void TSpinEdit::focusOutEvent(QFocusEvent* event)
{
    if (windowActivation(event)) {
        QWidget::focusOutEvent(event);
        return;
    }
    QSpinBox::focusOutEvent(event);
}

void TSpinEdit::changeEvent(QEvent* event)
{
    // Qt's spin box corrects pending text when its window is deactivated.
    if (event->type() == QEvent::ActivationChange) {
        QWidget::changeEvent(event);
        return;
    }
    QSpinBox::changeEvent(event);
}
